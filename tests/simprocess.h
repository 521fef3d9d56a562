// The controller simulator as a child process for the tests that run the
// program against it: its line, its log of frames and its command input.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess {
public:
    // Starts qta504-sim with `args`, its line published as `link` and every
    // frame logged to `logPath`; waits for its "ready" line.
    SimProcess(const QString& link, const QString& logPath, QStringList args = {})
        : link_(link), logPath_(logPath) {
        args << QStringLiteral("--link") << link << QStringLiteral("--log") << logPath;
        proc_.start(QStringLiteral(QTA_BIN_DIR "/qta504-sim"), args);
        QDeadlineTimer deadline(5000);
        while (!proc_.canReadLine() && !deadline.hasExpired() &&
               proc_.state() != QProcess::NotRunning)
            proc_.waitForReadyRead(100);
        readyLine_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~SimProcess() {
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

    // One command line on the simulator's standard input ("silent on", "program 10").
    void command(const QByteArray& line) {
        proc_.write(line + '\n');
        proc_.waitForBytesWritten(1000);
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

private:
    QString link_, logPath_, readyLine_;
    QProcess proc_;
};
