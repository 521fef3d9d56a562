// Fast read-only access to the rows of linia.dbf for the voltage charts: the
// file is mapped into memory and CZAS and the nine voltages are decoded
// straight from the row bytes, without the table layer's per-field work.
// Only complete rows are read; the rows below a count once seen never change
// (the table is only appended to).
#pragma once

#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

namespace qta {

// CZAS as stored: local wall time in milliseconds, counted as if it were UTC
// from the Unix epoch (Julian day and milliseconds of the day). Wall time has
// no time zone: the charts place rows by what the PC's clock showed.
using TWallMs = qint64;
constexpr TWallMs kNoTime = INT64_MIN;
// A voltage field that holds no number: left blank (the value was not there
// to write) or not a number at all. Charts draw no point for it; a stored 0
// is a real 0 V (the rows written at each start and end of the program).
constexpr int kNoVolts = -1;
constexpr qint64 kJulianUnixEpoch = 2440588;
constexpr qint64 kMsPerDay = 86400000;

class TLineFile {
public:
    TLineFile() = default;
    ~TLineFile();
    TLineFile(const TLineFile&) = delete;
    TLineFile& operator=(const TLineFile&) = delete;

    // Opens and maps the file; raises ETable when it is not a line-voltage
    // table (no 8-byte 'T' CZAS or a voltage field missing).
    void open(const QString& path);
    bool isOpen() const { return data_ != nullptr; }
    QString path() const { return path_; }

    // Opens and maps the file again (by name: it may have been replaced);
    // false when it is no longer the table that was opened (shorter than the
    // rows mapped before, or another header).
    bool remap();

    // Complete rows as the table layer counts them: the header count, plus
    // the whole rows past it (posted since the last commit, or an append torn
    // after the row was written).
    qint64 completeRows() const;
    // Rows that can be read now (those the mapping holds whole).
    qint64 mappedRows() const { return mappedRows_; }

    int headerLength() const { return headerLength_; }
    int recordLength() const { return recordLength_; }
    // The header bytes up to the field list's end (identity of the layout).
    QByteArray layout() const;

    const char* row(qint64 r) const { return data_ + headerLength_ + r * recordLength_; }
    // kNoTime when CZAS is empty or not a date and time.
    TWallMs time(qint64 r) const { return decodeTime(row(r) + czas_); }
    // Voltage k (0..8: N1L1 .. N3L3): the integer part of the number the
    // field holds, clamped to 0..65535; kNoVolts when the table layer reads
    // no number there (TTable::numberValue gives NaN).
    int volts(qint64 r, int k) const {
        return decodeVolts(row(r) + volts_[size_t(k)], width_[size_t(k)]);
    }

    static TWallMs decodeTime(const char* p);
    static int decodeVolts(const char* p, int width);

    // Where the fields lie in a row (offsets from the row mark).
    int timeOffset() const { return czas_; }
    int voltsOffset(int k) const { return volts_[size_t(k)]; }
    int voltsWidth(int k) const { return width_[size_t(k)]; }
    // True when the nine voltages are N(5) fields one after another, as the
    // program creates them: the index builder then reads them as one block.
    bool packedVolts() const { return packed_; }

private:
    void unmap();

    QString path_;
    std::unique_ptr<QFile> file_;
    const char* data_ = nullptr;
    qint64 mappedSize_ = 0;
    qint64 mappedRows_ = 0;
    int headerLength_ = 0;
    int recordLength_ = 0;
    int czas_ = 0;
    std::array<int, 9> volts_{};
    std::array<int, 9> width_{};
    bool packed_ = false;
    QByteArray layout_;
};

// Wall time <-> the chart's seconds (same epoch, no zone).
inline double wallSeconds(TWallMs t) { return double(t) / 1000.0; }

} // namespace qta
