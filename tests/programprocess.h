// The real qta504 program as a child process for the end-to-end tests, and
// the table tool's view of the tables it writes.
#pragma once

#include "testpaths.h"

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <functional>

inline const QString kTablesTool = qta::test::binPath(QStringLiteral("qta504-tables"));

// Rows of a table as text fields, without the header line.
inline QList<QStringList> dumpTable(const QString& file) {
    QProcess p;
    p.start(kTablesTool, {QStringLiteral("dump"), file});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    const QStringList lines =
        QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i)
        rows << lines[i].split(u'\t');
    return rows;
}

// Whether `qta504-tables check` finds the header's row count and the file
// length in agreement; its report goes to `report`.
inline bool tableWhole(const QString& file, QString* report = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(kTablesTool, {QStringLiteral("check"), file});
    const bool done = p.waitForFinished(10000);
    if (report)
        *report = QString::fromUtf8(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline bool allZero(const QStringList& liniaRow) {
    if (liniaRow.size() != 10 || liniaRow[0].isEmpty())
        return false;
    for (qsizetype i = 1; i < liniaRow.size(); ++i)
        if (liniaRow[i] != QStringLiteral("0"))
            return false;
    return true;
}

// One run of the program in a working directory.
class Program {
public:
    // `ports`: the port list the start window scans (colon-separated). The
    // user's home is `home`, by default a folder inside `workDir`, so that no
    // run ever touches the real one. `childSetup` runs in the child between
    // fork and exec (resource limits).
    Program(const QString& workDir, const QString& ports, const QStringList& args = {},
            const QString& home = {}, const std::function<void()>& childSetup = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QTA504_PORT_LIST"), ports);
        env.insert(QStringLiteral("HOME"),
                   home.isEmpty() ? workDir + QStringLiteral("/.home") : home);
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(workDir);
        proc.setReadChannel(QProcess::StandardError);
        if (childSetup)
            proc.setChildProcessModifier(childSetup);
        clock.start();
        proc.start(qta::test::binPath(QStringLiteral("qta504")), args);
        proc.waitForStarted(5000);
    }
    ~Program() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    QString errors() {
        err += QString::fromLocal8Bit(proc.readAllStandardError());
        return err;
    }
    // The program's own lines on standard error ("qta504: ...").
    QStringList reports() {
        QStringList out;
        for (const QString& l : errors().split(u'\n', Qt::SkipEmptyParts))
            if (l.startsWith(QStringLiteral("qta504: ")))
                out << l;
        return out;
    }
    bool running() const { return proc.state() == QProcess::Running; }
    // SIGTERM, then the exit code (-1: did not end normally in time).
    int terminate() {
        proc.terminate();
        if (!proc.waitForFinished(10000) || proc.exitStatus() != QProcess::NormalExit)
            return -1;
        errors();
        return proc.exitCode();
    }

    QProcess proc;
    QElapsedTimer clock; // since the start
    QString err;
};
