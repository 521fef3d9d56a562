// Export of a local table to CSV (see csv.h for the format): every field of
// the table as a column, the field names as the header row, the rows in
// table order, optionally only those of a period of days.
//
// The period applies to DATA in the event log and to CZAS in the voltage
// table; CZAS of the voltage table is written as "yyyy-MM-dd HH:mm:ss.zzz".
#pragma once

#include "history/workerjob.h"

#include <QDate>
#include <QIODevice>
#include <QString>
#include <functional>
#include <memory>
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
// `progress` gets the rows looked at so far and the table's row count every
// few thousand rows; returning false stops the export (EExportStopped).
using TExportProgress = std::function<bool(qint64 done, qint64 total)>;
qint64 exportTableCsv(TTable& table, QIODevice& out, const TExportPeriod& period,
                      const TExportProgress& progress = {});

// The export was stopped through its progress callback.
struct EExportStopped {};

// The same into a file, which appears only complete: a failure or a stop
// leaves an existing file of that name as it was and no new one.
qint64 exportTableCsvFile(TTable& table, const QString& fileName, const TExportPeriod& period,
                          const TExportProgress& progress = {});

// One export of a table file on a worker thread, through a table of its own
// (the rows it holds when the export starts; the window's table goes on
// growing meanwhile). The signals arrive on the thread that made the job;
// destroying the job stops the export and waits for the worker.
class TTableExportJob : public TWorkerJob {
    Q_OBJECT
public:
    TTableExportJob(QString table, QString file, TExportPeriod period, QObject* parent = nullptr);

    void start();
    QString fileName() const { return file_; }
    // Rows written, once `finished` said done.
    qint64 rows() const { return *rows_; }

private:
    QString table_, file_;
    TExportPeriod period_;
    std::shared_ptr<qint64> rows_ = std::make_shared<qint64>(0);
};

} // namespace qta
