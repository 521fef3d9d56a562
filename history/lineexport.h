// Export of the rows a voltage chart shows: CZAS and the three voltages of one
// line for every row of a period, in time order (equal times in table order),
// as CSV (see csv.h) with the header CZAS;NxL1;NxL2;NxL3. A voltage the row
// does not hold is an empty cell.
//
// A year of history is tens of millions of rows and a gigabyte of text, so the
// writing runs on a worker thread and can be stopped. The rows are chosen on
// the thread that owns the index (as spans of runs, which stay true while the
// table grows); the worker reads them through a mapping of the table of its
// own. The file appears only complete: a failure or a stop leaves no file
// behind and an existing file of that name as it was.
#pragma once

#include "history/lineindex.h"
#include "history/workerjob.h"

#include <functional>

namespace qta {

class TLineExport {
public:
    enum class Outcome { Written, Stopped, Failed };

    // Rows of line 1..3 whose time lies in [t0, t1].
    TLineExport(const TLineIndex& index, int line, TWallMs t0, TWallMs t1);
    qint64 rowCount() const { return rows_; }

    // Writes the file; may run on any thread. `progress` gets the rows written
    // so far every few thousand rows and returns false to stop. On failure
    // `error` gets a Polish message naming the file and the reason.
    Outcome write(const QString& file, QString* error,
                  const std::function<bool(qint64 done)>& progress = {}) const;

private:
    QString table_;
    QByteArray layout_;
    int line_;
    std::vector<TRowSpan> spans_;
    qint64 rows_ = 0;
    qint64 needRows_ = 0; // rows the table must hold
};

// One export on a worker thread; the signals arrive on the thread that made
// the job. Destroying the job stops the export and waits for the worker.
class TLineExportJob : public TWorkerJob {
    Q_OBJECT
public:
    TLineExportJob(TLineExport what, QString file, QObject* parent = nullptr);

    // Once per job; a stop that came before makes it end at its first report.
    void start();
    qint64 rowCount() const { return what_.rowCount(); }
    QString fileName() const { return file_; }

private:
    TLineExport what_;
    QString file_;
};

// "yyyy-MM-dd hh:mm:ss" of a wall time (the milliseconds left out).
QString wallText(TWallMs t);

} // namespace qta
