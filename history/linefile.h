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
    // Voltage k (0..8: N1L1 .. N3L3), 0 when the field holds no number,
    // 65535 at most.
    int volts(qint64 r, int k) const {
        return decodeVolts(row(r) + volts_[size_t(k)], width_[size_t(k)]);
    }

    static TWallMs decodeTime(const char* p);
    static int decodeVolts(const char* p, int width);

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
    QByteArray layout_;
};

// Wall time <-> the chart's seconds (same epoch, no zone).
inline double wallSeconds(TWallMs t) { return double(t) / 1000.0; }

} // namespace qta
