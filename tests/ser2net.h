// ser2net started by a test on a loopback port, with a configuration the
// test writes, in front of a serial device (the simulator's pseudo-terminal).
#pragma once

#include "serverproc.h"

#include <QFile>
#include <QString>

namespace qta::test {

inline QString ser2netProgram() { return serverProgram(QStringLiteral("ser2net")); }

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
    }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts it (-n: in the foreground, -d: its log to standard output, -u:
    // no UUCP lock files; no pid file) and waits until it listens.
    bool start() {
        return proc_.start(ser2netProgram(),
                           {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"),
                            QStringLiteral("-c"), config_},
                           port_);
    }
    void stop() { proc_.stop(); }
    quint16 port() const { return port_; }
    QString where() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString url() const {
        return (rfc2217_ ? QStringLiteral("rfc2217://") : QStringLiteral("tcp://")) + where();
    }
    QString output() { return proc_.output(); }

private:
    QString config_;
    quint16 port_;
    bool rfc2217_;
    ServerProcess proc_;
};

} // namespace qta::test
