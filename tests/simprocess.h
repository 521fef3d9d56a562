// The controller simulator as a child process for the tests that run the
// program against it: its line, its log of frames and its command input.
#pragma once

#include "testpaths.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

class SimProcess {
public:
    // A log line and the moment this side first saw it (see followLog).
    struct LogLine {
        qint64 ms;
        QString text;
    };

    // Starts qta504-sim with `args`, its line published as `link` and every
    // frame logged to `logPath`; waits for its "ready" line. (`args` has no
    // default: with one, SimProcess sim({"--period", "0"}) would be ambiguous.)
    SimProcess(const QString& link, const QString& logPath, QStringList args)
        : link_(link), logPath_(logPath) {
        args << QStringLiteral("--link") << link << QStringLiteral("--log") << logPath;
        proc_.start(qta::test::binPath(QStringLiteral("qta504-sim")), args);
        QDeadlineTimer deadline(15000);
        while (!proc_.canReadLine() && !deadline.hasExpired() &&
               proc_.state() != QProcess::NotRunning)
            proc_.waitForReadyRead(100);
        readyLine_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    // The same with the link and the log in a temporary folder of its own.
    explicit SimProcess(QStringList args)
        : SimProcess(std::make_unique<QTemporaryDir>(), std::move(args)) {}
    ~SimProcess() {
        follow_.stop();
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(3000))
                proc_.kill();
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const {
        return readyLine_.startsWith(QStringLiteral("qta504-sim: ready ") + link_ + u' ');
    }
    QString readyLine() const { return readyLine_; }
    QString link() const { return link_; }
    // For the tests of how the simulator itself ends.
    QProcess& process() { return proc_; }

    // One command line on the simulator's standard input ("silent on", "program 10").
    void command(const QByteArray& line) {
        proc_.write(line + '\n');
        proc_.waitForBytesWritten(1000);
    }
    // A command, and whether the simulator has taken it (logged it once more)
    // within three seconds.
    bool commandTaken(const QByteArray& line) {
        const QString seen = QStringLiteral("cmd ") + QString::fromLatin1(line.simplified());
        const int before = count(seen);
        command(line);
        return waitLog(seen, before + 1);
    }

    QStringList logLines() const {
        QFile f(logPath_);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    // Lines of frames received from the program ("rx ...", "rx-bad ...", "rx-junk ...").
    QStringList received() const {
        QStringList out;
        for (const QString& l : logLines())
            if (l.startsWith(QStringLiteral("rx")))
                out << l;
        return out;
    }
    int count(const QString& line) const { return int(logLines().count(line)); }
    // Waits, running the event loop, until `line` stands in the log `times` times.
    bool waitLog(const QString& line, int times = 1, int timeoutMs = 3000) const {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (count(line) >= times)
                return true;
            QTest::qWait(5);
        }
        return false;
    }

    // From now on the log is read every 5 ms while the event loop runs, and
    // each new line is stamped with the time since this call: that shows the
    // intervals at which the program sends.
    void followLog() {
        clock_.start();
        follow_.setInterval(5);
        QObject::connect(&follow_, &QTimer::timeout, [this] { readNewLines(); });
        follow_.start();
    }
    // The complete lines followed so far, with what has come since the last look.
    const QList<LogLine>& followedLines() {
        readNewLines();
        return followed_;
    }

private:
    SimProcess(std::unique_ptr<QTemporaryDir> dir, QStringList args)
        : SimProcess(dir->filePath(QStringLiteral("qta")), dir->filePath(QStringLiteral("sim.log")),
                     std::move(args)) {
        ownDir_ = std::move(dir);
    }

    void readNewLines() {
        QFile f(logPath_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(offset_))
            return;
        const QByteArray more = f.readAll();
        offset_ += more.size();
        tail_ += more;
        qsizetype nl;
        while ((nl = tail_.indexOf('\n')) >= 0) {
            followed_.append({clock_.elapsed(), QString::fromLocal8Bit(tail_.left(nl))});
            tail_.remove(0, nl + 1);
        }
    }

    // Removed after the process has ended (the destructor's body ends it).
    std::unique_ptr<QTemporaryDir> ownDir_;
    QString link_, logPath_, readyLine_;
    QProcess proc_;
    QElapsedTimer clock_;
    QTimer follow_;
    QList<LogLine> followed_;
    qint64 offset_ = 0;
    QByteArray tail_;
};
