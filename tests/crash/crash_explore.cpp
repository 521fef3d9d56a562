// crash_explore: records the table layer's file operations during the
// program's write patterns, builds every state a power loss at each point may
// leave (crashmodel.h says how), and checks each one (checker.h says what).
//
//   crash_explore [--workload W] [--max-states N] [--seed S] [--sample-every K]
//                 [--trace-dir DIR] [--keep DIR]
//
// N: states drawn at a point whose combinations are more than 256 (default
// 200); K: every K-th table checked is also read by dbfread and by qta504-tables as a
// process (default 400); DIR: the traces as text, and the first violating
// state's files. One line per workload; exit 1 on any violation.
#include "checker.h"
#include "crashmodel.h"
#include "workloads.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <map>

using namespace crash;

namespace {

struct Options {
    QString workload;
    int maxStates = 200;
    quint64 seed = 1;
    int sampleEvery = 400;
    QString traceDir;
    QString keepDir;
};

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

int usage() {
    QTextStream(stderr) << "Usage: crash_explore [--workload W] [--max-states N] [--seed S] "
                           "[--sample-every K] [--trace-dir DIR] [--keep DIR]\n";
    return 2;
}

struct Result {
    qint64 states = 0;
    qint64 violations = 0;
    bool failedToRun = false;
};

Result explore(const Workload& w, const Options& o) {
    Result res;
    const QString home = QDir::currentPath();
    QTemporaryDir work;
    QString error;
    QElapsedTimer clock;
    clock.start();
    const Trace trace = w.record(work.path(), &error);
    QDir::setCurrent(home);
    if (!error.isEmpty() || trace.ops.empty()) {
        out() << w.name << ": could not record: " << (error.isEmpty() ? "no operations" : error)
              << Qt::endl;
        res.failedToRun = true;
        return res;
    }
    const qint64 recordMs = clock.restart();
    if (!o.traceDir.isEmpty()) {
        QDir().mkpath(o.traceDir);
        saveTrace(trace, o.traceDir + u'/' + w.name + QStringLiteral(".trace"));
    }

    // States are laid out in memory-backed storage where there is some.
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir scratch(QFileInfo(shm).isWritable() ? shm + QStringLiteral("/crash-XXXXXX")
                                                      : QString());
    QDir().mkpath(scratch.path() + QStringLiteral("/dbfread"));
    Checker checker(trace, scratch.path(),
                    QCoreApplication::applicationDirPath() + QStringLiteral("/qta504-tables"),
                    o.sampleEvery);
    Replay replay(trace);
    const quint64 salt = qHash(w.name);
    QString first;
    std::map<QString, qint64> kinds; // violations by what was found, numbers left out
    int exhaustive = 0;
    for (;;) {
        const int p = replay.point();
        if (replay.combinations() <= kExhaustive)
            ++exhaustive;
        const std::vector<CrashState> states =
            replay.states(o.maxStates, o.seed * 1000003ULL + quint64(p) * 7919ULL + salt);
        for (const CrashState& s : states) {
            ++res.states;
            const Verdict v = checker.check(replay, s);
            if (v.ok)
                continue;
            ++res.violations;
            QString kind = v.why;
            kind.remove(QRegularExpression(QStringLiteral(":\\s*[0-9a-f]*$|/\\S*/state/|\\d+")));
            ++kinds[kind.left(110)];
            if (first.isEmpty()) {
                first = QStringLiteral("  first violation: crash at point %1 (after %2)\n"
                                       "    kept: %3\n    found: %4")
                            .arg(p)
                            .arg(describe(trace, p - 1), s.choice, v.why);
                if (!o.keepDir.isEmpty())
                    checker.layOut(s, o.keepDir + u'/' + w.name);
            }
        }
        if (replay.done())
            break;
        replay.step();
    }
    bool noDbfread = false;
    const Verdict v = checker.finishSamples(&noDbfread);
    if (!v.ok) {
        ++res.violations;
        ++kinds[QStringLiteral("dbfread disagrees")];
        if (first.isEmpty())
            first = QStringLiteral("  first violation (dbfread sample): ") + v.why;
    }
    out() << w.name << ": " << res.states << " states checked, " << res.violations << " violations"
          << Qt::endl;
    out() << "  " << w.what << "; " << trace.ops.size() << " operations, " << replay.point() + 1
          << " crash points (" << exhaustive << " exhaustive), recorded in " << recordMs
          << " ms, checked in " << clock.elapsed() << " ms; " << checker.toolRuns()
          << " qta504-tables runs, "
          << (noDbfread ? QStringLiteral("dbfread (python3-dbfread) not installed: skipped")
                        : QStringLiteral("%1 files read by dbfread").arg(checker.dbfreadFiles()))
          << Qt::endl;
    if (!first.isEmpty())
        out() << first << Qt::endl;
    for (const auto& [kind, count] : kinds)
        out() << "  " << count << " x " << kind << Qt::endl;
    return res;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size())
            return usage();
        const QString v = args[++i];
        bool ok = true;
        if (a == u"--workload")
            o.workload = v;
        else if (a == u"--max-states")
            o.maxStates = v.toInt(&ok);
        else if (a == u"--seed")
            o.seed = v.toULongLong(&ok);
        else if (a == u"--sample-every")
            o.sampleEvery = v.toInt(&ok);
        else if (a == u"--trace-dir")
            o.traceDir = v;
        else if (a == u"--keep")
            o.keepDir = v;
        else
            return usage();
        if (!ok || o.maxStates < 1 || o.sampleEvery < 1)
            return usage();
    }
    Result total;
    int ran = 0;
    for (const Workload& w : workloads()) {
        if (!o.workload.isEmpty() && w.name != o.workload)
            continue;
        ++ran;
        const Result r = explore(w, o);
        total.states += r.states;
        total.violations += r.violations;
        total.failedToRun = total.failedToRun || r.failedToRun;
    }
    if (ran == 0) {
        QTextStream(stderr) << "crash_explore: no workload named " << o.workload << "\n";
        return 2;
    }
    out() << "total: " << total.states << " states checked, " << total.violations << " violations"
          << Qt::endl;
    return total.violations > 0 || total.failedToRun ? 1 : 0;
}
