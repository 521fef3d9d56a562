// A server a test starts on a loopback port (ser2net, mosquitto): finding
// the program, a free port, waiting until it listens, and stopping it.
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTest>

namespace qta::test {

// A program from PATH, or from the sbin folders a user's PATH may lack.
inline QString serverProgram(const QString& name) {
    QString p = QStandardPaths::findExecutable(name);
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(name,
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                            QStringLiteral("/usr/local/sbin")});
    return p;
}

// A TCP port of 127.0.0.1 that nobody listens on (at the moment of asking).
inline quint16 freePort() {
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}

// Whether something listens on 127.0.0.1:port (Linux's socket table, so that
// the question opens no connection).
inline bool listening(quint16 port) {
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QString local =
        QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && QString::fromLatin1(fields[1]) == local && fields[3] == "0A")
            return true;
    }
    return false;
}

// The server's process: started, it is waited for until it listens on
// `port` (false when it ends or does not within 10 s); stopped with SIGTERM
// (SIGKILL after 5 s). Its merged output is kept across restarts.
class ServerProcess {
public:
    ServerProcess() { proc_.setProcessChannelMode(QProcess::MergedChannels); }
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool start(const QString& program, const QStringList& args, quint16 port) {
        stop();
        proc_.start(program, args);
        if (!proc_.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && proc_.state() == QProcess::Running) {
            if (listening(port))
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    void stop() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(3000);
        }
        output_ += QString::fromLocal8Bit(proc_.readAll());
    }
    QString output() { return output_ += QString::fromLocal8Bit(proc_.readAll()); }

private:
    QProcess proc_;
    QString output_;
};

} // namespace qta::test
