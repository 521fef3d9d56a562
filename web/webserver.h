// The console's HTTP server on the collector's event loop: Qt's HTTP server
// over guarded listening sockets (web/httpguard), TLS or, on a loopback
// address only, plain. Every request becomes a THttpRequest for one
// handler, which answers at once or later (a delayed sign-in); a WebSocket
// upgrade is let through only to /ws and only when the upgrade check agrees.
#pragma once

#include "link/listenaddress.h"
#include "web/certificate.h"
#include "web/httpguard.h"
#include "web/httpmessage.h"

#include <QAbstractHttpServer>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

namespace qta::web {

// Where an answer goes: usable after the handler returned; a connection
// gone meanwhile takes nothing.
class TReply {
public:
    TReply() = default;
    TReply(QTcpSocket* socket, bool head) : socket_(socket), head_(head) {}
    void send(const THttpResponse& r) const;
    bool connected() const;

private:
    QPointer<QTcpSocket> socket_;
    bool head_ = false;
};

class TWebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Handler = std::function<void(const THttpRequest&, const TReply&)>;
    // nullopt: the upgrade goes on; otherwise the answer that refuses it.
    using UpgradeCheck = std::function<std::optional<THttpResponse>(const THttpRequest&)>;

    explicit TWebServer(QObject* parent = nullptr);
    ~TWebServer() override;

    // Listens on `listen`, with TLS when `cert` is given. A running server
    // is stopped first (its connections closed). False with `error`.
    bool start(const TListenAddress& listen, const TCertificate* cert, QString& error);
    void stop();
    bool listening() const;
    quint16 port() const;
    int connections() const { return limits_->count(); }

    void setHandler(Handler h) { handler_ = std::move(h); }
    void setUpgradeCheck(UpgradeCheck c) { upgradeCheck_ = std::move(c); }

    static THttpRequest convert(const QHttpServerRequest& request, QTcpSocket* socket);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Handler handler_;
    UpgradeCheck upgradeCheck_;
    std::shared_ptr<TConnectionLimits> limits_;
    QPointer<QTcpServer> server_;
};

} // namespace qta::web
