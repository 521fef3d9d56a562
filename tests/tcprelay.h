// A TCP relay on a free 127.0.0.1 port in front of another loopback port,
// whose line the test can cut: while cut, connections are accepted but no
// byte passes either way and nothing is closed, as when a network path goes
// dead; mended, the stalled connections are dropped and new ones pass.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <vector>

namespace qta::test {

class TcpRelay : public QObject {
public:
    explicit TcpRelay(quint16 target) : target_(target) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* in = server_.nextPendingConnection()) {
                auto* out = new QTcpSocket(this);
                in->setParent(this);
                out->connectToHost(QHostAddress::LocalHost, target_);
                pairs_.push_back({in, out});
                const auto pass = [this](QTcpSocket* from, QTcpSocket* to) {
                    if (!cut_ && from && to && to->state() == QAbstractSocket::ConnectedState)
                        to->write(from->readAll());
                };
                connect(in, &QTcpSocket::readyRead, this, [=, this] { pass(in, out); });
                connect(out, &QTcpSocket::readyRead, this, [=, this] { pass(out, in); });
                connect(out, &QTcpSocket::connected, this, [=, this] { pass(in, out); });
                connect(in, &QTcpSocket::disconnected, out, [=, this] {
                    if (!cut_)
                        out->disconnectFromHost();
                });
                connect(out, &QTcpSocket::disconnected, in, [=, this] {
                    if (!cut_)
                        in->disconnectFromHost();
                });
            }
        });
    }
    // The sockets go first, their signals cut, so that none of the lambdas
    // above runs on a relay half destroyed.
    ~TcpRelay() override {
        const auto sockets = findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly);
        for (QTcpSocket* s : sockets)
            s->disconnect();
        qDeleteAll(sockets);
    }
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    quint16 port() const { return server_.serverPort(); }
    void cut() { cut_ = true; }
    void mend() {
        for (auto& [in, out] : pairs_) {
            if (in)
                in->abort();
            if (out)
                out->abort();
        }
        pairs_.clear();
        cut_ = false;
    }

private:
    quint16 target_;
    QTcpServer server_;
    bool cut_ = false;
    std::vector<std::pair<QPointer<QTcpSocket>, QPointer<QTcpSocket>>> pairs_;
};

} // namespace qta::test
