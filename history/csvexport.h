// Export of a local table to CSV (see csv.h for the format): every field of
// the table as a column, the field names as the header row, the rows in
// table order, optionally only those of a period of days.
//
// The period applies to DATA in the event log and to CZAS in the voltage
// table; CZAS of the voltage table is written as "yyyy-MM-dd HH:mm:ss.zzz".
#pragma once

#include <QDate>
#include <QIODevice>
#include <QString>
#include <optional>

namespace qta {

class TTable;

// Days from `from` to `to`, both included; an open end takes everything on
// that side.
struct TExportPeriod {
    std::optional<QDate> from;
    std::optional<QDate> to;
    bool bounded() const { return from || to; }
    bool contains(const QDate& day) const;
    // The Polish reason why the period makes no sense (the end before the
    // start), or empty.
    QString problem() const;
};

// "YYYY-MM-DD" exactly (the form the table tool and the dialog take), or nothing.
std::optional<QDate> parseExportDate(const QString& text);

// Writes the CSV to an open device and returns the number of rows (without
// the header). A row whose date cannot be read is written only when the
// period is open on both sides. Raises ETable with a Polish message when the
// table cannot be read, the period is wrong or the device refuses the bytes.
qint64 exportTableCsv(TTable& table, QIODevice& out, const TExportPeriod& period);

// The same into a file, which appears only complete: a failure leaves an
// existing file of that name as it was.
qint64 exportTableCsvFile(TTable& table, const QString& fileName, const TExportPeriod& period);

} // namespace qta
