// The collector qta504d run by a test with a configuration the test wrote:
// its log lines (standard error), signals, and its exit.
#pragma once

#include "testpaths.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <csignal>

namespace qta::test {

class Collector {
public:
    explicit Collector(const QString& config) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("JOURNAL_STREAM")); // plain log lines, not the journal's
        proc.setProcessEnvironment(env);
        proc.start(qta::test::binPath(QStringLiteral("qta504d")),
                   {QStringLiteral("--config"), config});
        proc.waitForStarted(5000);
    }
    ~Collector() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Everything it has logged so far.
    QString log() {
        text_ += QString::fromUtf8(proc.readAllStandardError());
        return text_;
    }
    QStringList lines() { return log().split(u'\n', Qt::SkipEmptyParts); }
    bool said(const QString& line) { return lines().contains(line); }
    int linesWith(const QString& part) {
        const QStringList l = lines();
        return int(
            std::count_if(l.begin(), l.end(), [&](const QString& x) { return x.contains(part); }));
    }
    bool saidPart(const QString& part) { return linesWith(part) > 0; }
    void signal(int sig) {
        if (proc.processId() > 0) // never 0: that would be this test's own group
            ::kill(pid_t(proc.processId()), sig);
    }
    // Waits for the exit; the exit code, -1 when it did not end normally.
    int finished(int ms = 15000) {
        if (!proc.waitForFinished(ms) || proc.exitStatus() != QProcess::NormalExit)
            return -1;
        log();
        return proc.exitCode();
    }

    QProcess proc;

private:
    QString text_;
};

} // namespace qta::test
