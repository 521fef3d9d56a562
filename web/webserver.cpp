#include "web/webserver.h"

#include <QHttpServerRequest>
#include <QSslConfiguration>
#include <QSslSocket>

namespace qta::web {

namespace {
const char* kAnswered = "qta-answered";
}

void TReply::send(const THttpResponse& r) const {
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;
    socket_->write(r.serialize(head_));
}

bool TReply::connected() const {
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

TWebServer::TWebServer(QObject* parent)
    : QAbstractHttpServer(parent), limits_(std::make_shared<TConnectionLimits>()) {}

TWebServer::~TWebServer() { stop(); }

bool TWebServer::start(const TListenAddress& listen, const TCertificate* cert, QString& error) {
    stop();
    QTcpServer* server = nullptr;
    if (cert) {
        auto* ssl = new TGuardedSslServer(limits_, this);
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(cert->certificate);
        conf.setPrivateKey(cert->key);
        conf.setProtocol(QSsl::TlsV1_2OrLater);
        conf.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->setSslConfiguration(conf);
        ssl->setHandshakeTimeout(10000);
        server = ssl;
    } else {
        server = new TGuardedTcpServer(limits_, this);
    }
    server->setMaxPendingConnections(kMaxConnections);
    if (!server->listen(listen.address, listen.port)) {
        error = QStringLiteral("nie można nasłuchiwać na %1: %2")
                    .arg(listen.text(), server->errorString());
        delete server;
        return false;
    }
    bind(server);
    server_ = server;
    return true;
}

void TWebServer::stop() {
    // Its connections are its children: they close with it.
    delete server_.data();
}

bool TWebServer::listening() const { return server_ && server_->isListening(); }

quint16 TWebServer::port() const { return server_ ? server_->serverPort() : 0; }

THttpRequest TWebServer::convert(const QHttpServerRequest& request, QTcpSocket* socket) {
    THttpRequest r;
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
    case QHttpServerRequest::Method::Head: r.method = THttpRequest::Method::Get; break;
    case QHttpServerRequest::Method::Post: r.method = THttpRequest::Method::Post; break;
    default: r.method = THttpRequest::Method::Other; break;
    }
    r.path = request.url().path();
    r.query = request.query();
    for (const auto& [k, v] : request.headers())
        r.headers << qMakePair(k.toLower(), v);
    r.body = request.body();
    r.peer = socket->peerAddress();
    r.tls = qobject_cast<QSslSocket*>(socket) != nullptr;
    return r;
}

bool TWebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    TConnectionGuard* guard = TConnectionGuard::of(socket);
    if (guard)
        guard->requestAnswered();
    const THttpRequest r = convert(request, socket);
    const bool head = request.method() == QHttpServerRequest::Method::Head;
    if (r.wantsWebSocket() && request.value("connection").toLower().contains("upgrade")) {
        std::optional<THttpResponse> refusal;
        if (r.path != u"/ws")
            refusal = THttpResponse::error(404, QStringLiteral("Nie ma takiej strony"));
        else if (upgradeCheck_)
            refusal = upgradeCheck_(r);
        else
            refusal = THttpResponse::error(403, QStringLiteral("Brak dostępu"));
        if (refusal) {
            refusal->headers << qMakePair(QByteArray("Connection"), QByteArray("close"));
            socket->write(refusal->serialize());
            socket->setProperty(kAnswered, true);
            return false; // the server closes the connection
        }
        if (guard)
            guard->detach();
        return true;
    }
    if (handler_)
        handler_(r, TReply(socket, head));
    else
        TReply(socket, head).send(THttpResponse::error(503, QStringLiteral("Konsola niedostępna")));
    return true;
}

void TWebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (socket->property(kAnswered).toBool())
        return;
    TReply(socket, request.method() == QHttpServerRequest::Method::Head)
        .send(THttpResponse::error(404, QStringLiteral("Nie ma takiej strony")));
}

} // namespace qta::web
