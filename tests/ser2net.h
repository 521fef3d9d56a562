// ser2net started by a test on a loopback port, with a configuration the
// test writes, in front of a serial device (the simulator's pseudo-terminal).
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTest>

namespace qta::test {

inline QString ser2netProgram() {
    QString p = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
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

// ser2net 4 in the foreground, one connection on 127.0.0.1:port in front of a
// serial device, its configuration written here. Stopped with SIGTERM; can be
// started again on the same port.
class Ser2net {
public:
    // `rfc2217`: "telnet(rfc2217)," in front of the accepter; `params` ser2net's
    // line settings of the device
    // ("38400n81"); `port` 0: a free one.
    Ser2net(const QString& dir, const QString& device, bool rfc2217, const QString& params,
            quint16 port = 0)
        : config_(dir + QStringLiteral("/ser2net.yaml")), port_(port ? port : freePort()),
          rfc2217_(rfc2217) {
        QFile f(config_);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(QStringLiteral("%YAML 1.1\n---\n"
                                   "connection: &c1\n"
                                   "  accepter: %1tcp,127.0.0.1,%2\n"
                                   "  connector: serialdev,%3,%4,local\n")
                        .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                        .arg(port_)
                        .arg(device, params)
                        .toUtf8());
        proc_.setProcessChannelMode(QProcess::MergedChannels);
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts it (-n: in the foreground, -d: its log to standard output, -u:
    // no UUCP lock files; no pid file) and waits until it listens.
    bool start() {
        stop();
        proc_.start(ser2netProgram(), {QStringLiteral("-n"), QStringLiteral("-d"),
                                       QStringLiteral("-u"), QStringLiteral("-c"), config_});
        if (!proc_.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && proc_.state() == QProcess::Running) {
            if (listening(port_))
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
    quint16 port() const { return port_; }
    QString where() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString url() const {
        return (rfc2217_ ? QStringLiteral("rfc2217://") : QStringLiteral("tcp://")) + where();
    }
    QString output() { return output_ + QString::fromLocal8Bit(proc_.readAll()); }

private:
    QString config_;
    quint16 port_;
    bool rfc2217_;
    QProcess proc_;
    QString output_;
};

} // namespace qta::test
