// Judges one crash state the way the program and other readers would meet it:
// every table opens through the table layer with every row readable, the rows
// a sync made durable are all there byte for byte, every row is one that was
// written whole (no row half old, half new), the table tool's check accepts
// it, the next append works and leaves a table whose header agrees with its
// length, and the program's start finds a usable folder. A sample of states is
// also read by dbfread and by the table tool as a separate process.
#pragma once

#include "crashmodel.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace crash {

struct Verdict {
    bool ok = true;
    QString why;
};

class Checker {
public:
    // `scratch`: an empty folder to lay states out in; every `sampleEvery`-th
    // table checked is also read by dbfread and by the table tool.
    Checker(const Trace& trace, const QString& scratch, const QString& toolPath, int sampleEvery);

    Verdict check(const Replay& replay, const CrashState& state);
    // Reads the sampled states with dbfread: the first disagreement with the
    // table layer, if any. `missing`: dbfread is not installed (nothing read).
    Verdict finishSamples(bool* missing);
    int toolRuns() const { return toolRuns_; }
    int dbfreadFiles() const { return int(dbfread_.size()); }

    // Lays the state out under `folder` (relative paths kept).
    void layOut(const CrashState& state, const QString& folder) const;

private:
    struct DbfreadCase {
        QString file;
        std::vector<QByteArray> rows; // what the table layer read
        int atLeast = 0;              // rows dbfread must show
        bool all = false;             // dbfread must show every row
    };
    Verdict checkTable(const Replay& replay, const CrashState& state, const QString& path,
                       const QString& file, bool sample);
    Verdict checkStart(const CrashState& state);
    Verdict runTool(const QString& file, int rows, bool mustAgree);

    const Trace& trace_;
    QString scratch_;
    QString tool_;
    int sampleEvery_ = 1;
    qint64 tablesChecked_ = 0;
    int samples_ = 0;
    int toolRuns_ = 0;
    std::vector<DbfreadCase> dbfread_;
};

// The rows (bytes after the mark) a table file holds where the table layer reads them.
std::vector<QByteArray> rawRows(const QByteArray& bytes, int rows);

} // namespace crash
