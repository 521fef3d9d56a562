// The simulated controller's event log: a ring of 500 twelve-byte records
// (year-2000, month, day, hour, minute, event, Kod1..Kod4, index high, index low)
// and the index of the newest one, with ways to fill it for tests and demos.
#pragma once

#include "link/model.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace qta::sim {

using Record = std::array<std::uint8_t, 12>;
// The ten bytes of a record that precede its index.
using RecordData = std::array<std::uint8_t, 10>;

constexpr int kRingSize = kEventRingSize;

// Packs the line state (0..3) and phase-fault bits into a Kod1..Kod3 byte.
constexpr std::uint8_t lineByte(int state, int faults) {
    return std::uint8_t(((state & 3) << 6) | (faults & 0x3F));
}
// Packs the active-line code and the program into Kod4.
constexpr std::uint8_t kod4Byte(int active, int program) {
    return std::uint8_t(((active & 7) << 5) | (program & 0x1F));
}

RecordData recordData(const QDateTime& when, int event, int kod1, int kod2, int kod3, int kod4);

class EventRing {
public:
    EventRing(); // every slot empty, newest index 0

    const Record& record(int index) const { return slots_.at(std::size_t(index)); }
    bool isEmpty(int index) const;
    int newest() const { return newest_; }
    void setNewest(int index) { newest_ = index; }

    void set(int index, const RecordData& data);
    void clear(int index);
    // Stores a record in the slot after the newest one and makes it the newest.
    int append(const RecordData& data);

    // Records 0..count-1 written with a varied history, the rest empty; newest count-1.
    void seed(int count);
    // Every slot written, oldest just after `newest`.
    void seedWrapped(int newest);
    // Text file, one line each: "INDEX YEAR MONTH DAY HOUR MINUTE EVENT KOD1 KOD2 KOD3 KOD4",
    // "INDEX empty", "newest INDEX"; '#' starts a comment line. Without a "newest" line the
    // highest written index is the newest. On error returns false with "FILE:LINE: why".
    bool load(const QString& path, QString* error);

private:
    std::array<Record, kRingSize> slots_{};
    int newest_ = 0;
};

// A plausible history of a controller in service, oldest first, always the same for the same
// count: a start, line faults with switching to another line and back, qualification events,
// settings changes with their new values, program changes, generator and load-shedding events.
std::vector<RecordData> generateHistory(int count);

} // namespace qta::sim
