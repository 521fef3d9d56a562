// The pages' live view: every signed-in page holds one WebSocket, gets the
// whole site once and then only what changed: of one controller its tile,
// its list of alarms or both in one message, at most twice a second per
// controller (a change sooner
// waits for its turn, so the last state always arrives). A ping every 15 s
// lets a page tell a silent collector from a quiet one. A page that does not
// read its messages is dropped once more than kMaxQueue bytes wait for it;
// what pages send is not needed and is held to small frames and few of them.
#pragma once

#include "web/sessions.h"
#include "web/site.h"
#include "web/sitejson.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWebSocket>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAbstractHttpServer;

namespace qta::web {

class TWsHub : public QObject {
    Q_OBJECT
public:
    // The live session of a cookie's value, nullptr when there is none.
    using SessionOf = std::function<const TSession*(const QByteArray& id)>;
    explicit TWsHub(const TSite& site, QObject* parent = nullptr);
    ~TWsHub() override;

    void setSessionOf(SessionOf f) { sessionOf_ = std::move(f); }
    void attach(QAbstractHttpServer* server);
    // The set of controllers changed: follow the new one, send it whole.
    void unitsChanged();
    // A controller's tile or alarms may have changed.
    void markDirty(const QString& name);
    // Closes the pages of a session that ended.
    void endSession(const QByteArray& id);
    void closeAll();

    int clients() const { return int(clients_.size()); }
    quint64 messagesSent() const { return sent_; }
    // The whole site as the first message sends it.
    QByteArray snapshot();

    static constexpr qint64 kMaxQueue = 1024 * 1024;
    static constexpr qint64 kMinIntervalMs = 500;
    static constexpr int kMaxClients = 64;
    static constexpr int kMaxIncomingFrame = 1024;
    static constexpr int kPingMs = 15000;
    static constexpr QWebSocketProtocol::CloseCode kSessionEnded =
        QWebSocketProtocol::CloseCode(4001);

private:
    struct Client {
        std::unique_ptr<QWebSocket> ws;
        QByteArray session;
        int received = 0; // messages in this ten-second window
    };
    struct Unit {
        QByteArray tile, alarms;
        qint64 lastSentMs = -kMinIntervalMs;
        bool dirty = true;
    };
    void onNewConnection();
    void broadcast(const QByteArray& message);
    bool send(Client& c, const QByteArray& message);
    void drop(QWebSocket* ws, QWebSocketProtocol::CloseCode code, const QString& why);
    void flush();
    void schedule();
    void follow();

    const TSite& site_;
    SessionOf sessionOf_;
    QAbstractHttpServer* server_ = nullptr;
    std::vector<Client> clients_;
    std::map<QString, Unit> units_;
    std::vector<QMetaObject::Connection> follows_;
    TTileMemory memory_;
    QElapsedTimer clock_;
    QTimer flushTimer_, tickTimer_, pingTimer_, windowTimer_;
    quint64 sent_ = 0;
};

} // namespace qta::web
