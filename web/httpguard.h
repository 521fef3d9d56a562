// What a client may send the console before Qt's HTTP parser sees it. The
// guard reads each connection's bytes first, frames requests itself, and
// answers what is over a limit or malformed with a 4xx of its own, then
// closes that connection; nothing of it reaches the parser, which keeps a
// whole request in memory. Limits:
//   - request line 2 KiB (414), headers 8 KiB and 64 lines (431),
//   - a body only with Content-Length, at most 16 KiB (413; chunked 411),
//   - a request complete within 20 s of its first byte, a connection idle
//     at most 2 minutes (408 / closed),
//   - 64 connections in all, 16 from one address (refused at accept).
// The listening servers hand out only guarded sockets, TLS or plain.
#pragma once

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

namespace qta::web {

constexpr int kMaxRequestLine = 2048;
constexpr int kMaxHeaderBytes = 8192;
constexpr int kMaxHeaderLines = 64;
constexpr qint64 kMaxBody = 16 * 1024;
constexpr int kRequestTimeoutMs = 20000;
constexpr int kIdleTimeoutMs = 120000;
constexpr int kMaxConnections = 64;
constexpr int kMaxConnectionsPerAddress = 16;

// A complete 4xx answer that closes the connection.
QByteArray errorResponse(int status, const QByteArray& reason, const QString& text);

// One connection's framing as the guard sees it.
class TRequestFramer {
public:
    enum class Verdict { More, Refuse };
    // Feeds bytes in order; Refuse with `status` and `why` set at the first
    // byte past a limit or that breaks the framing.
    Verdict feed(const char* data, qsizetype n);
    int status() const { return status_; }
    QString why() const { return why_; }
    bool midRequest() const { return started_; }
    // Requests whose last byte has been seen.
    int completed() const { return completed_; }

private:
    Verdict refuse(int status, const QString& why);
    Verdict endOfHeaders();
    QByteArray head_;
    qint64 bodyLeft_ = 0;
    bool inBody_ = false;
    bool started_ = false;
    int completed_ = 0;
    int status_ = 0;
    QString why_;
};

// Connections in all and by address.
class TConnectionLimits {
public:
    bool admit(const QHostAddress& a);
    void release(const QHostAddress& a);
    int count() const { return total_; }

private:
    int total_ = 0;
    QHash<QString, int> byAddress_;
};

class TConnectionGuard : public QObject {
    Q_OBJECT
public:
    // Made a child of `socket`; counted in `limits` until it is destroyed.
    TConnectionGuard(QTcpSocket* socket, QObject* httpServer,
                     std::shared_ptr<TConnectionLimits> limits);
    ~TConnectionGuard() override;
    static TConnectionGuard* of(QTcpSocket* socket);
    // The HTTP server answered one request: the bytes still unread in the
    // socket are the next request's, which the guard has already framed.
    void requestAnswered();
    // The connection became a WebSocket: its own limits apply from now on.
    void detach();

private:
    void onReadyRead();
    void onTimeout();
    void refuse(int status, const QString& why);
    QTcpSocket* socket_;
    QPointer<QObject> http_;
    std::shared_ptr<TConnectionLimits> limits_;
    QHostAddress address_;
    TRequestFramer framer_;
    qsizetype examined_ = 0; // unread bytes at the buffer's head already framed
    int completedSeen_ = 0;
    QTimer timer_;
};

// Hands out only admitted, guarded connections; the HTTP server binds to it
// like to its own server.
template <typename Base> class TGuardedServer : public Base {
public:
    TGuardedServer(std::shared_ptr<TConnectionLimits> limits, QObject* http)
        : Base(http), limits_(std::move(limits)), http_(http) {}
    QTcpSocket* nextPendingConnection() override {
        while (QTcpSocket* s = Base::nextPendingConnection()) {
            if (!limits_->admit(s->peerAddress())) {
                s->abort();
                s->deleteLater();
                continue;
            }
            new TConnectionGuard(s, http_, limits_); // a child of the socket
            return s;
        }
        return nullptr;
    }

private:
    std::shared_ptr<TConnectionLimits> limits_;
    QObject* http_;
};

using TGuardedTcpServer = TGuardedServer<QTcpServer>;
using TGuardedSslServer = TGuardedServer<QSslServer>;

} // namespace qta::web
