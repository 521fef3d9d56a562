#include "web/wshub.h"

#include "web/httpmessage.h"

#include <QAbstractHttpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

namespace qta::web {

namespace {
QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QByteArray cookieOf(const QByteArray& header, const QByteArray& name) {
    for (const QByteArray& part : header.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(name + '='))
            return p.mid(name.size() + 1);
    }
    return {};
}
} // namespace

TWsHub::TWsHub(const TSite& site, QObject* parent) : QObject(parent), site_(site) {
    clock_.start();
    flushTimer_.setSingleShot(true);
    connect(&flushTimer_, &QTimer::timeout, this, &TWsHub::flush);
    // Once a second every tile is looked at again: "lost since" and a link
    // lost without a frame to say so change with time alone.
    connect(&tickTimer_, &QTimer::timeout, this, [this] {
        if (clients_.empty())
            return;
        for (auto& [name, u] : units_)
            u.dirty = true;
        schedule();
    });
    tickTimer_.start(1000);
    connect(&pingTimer_, &QTimer::timeout, this, [this] {
        broadcast(compact(QJsonObject{{"t", "ping"}}));
    });
    pingTimer_.start(kPingMs);
    connect(&windowTimer_, &QTimer::timeout, this, [this] {
        for (Client& c : clients_)
            c.received = 0;
    });
    windowTimer_.start(10000);
}

TWsHub::~TWsHub() { closeAll(); }

void TWsHub::attach(QAbstractHttpServer* server) {
    server_ = server;
    connect(server, &QAbstractHttpServer::newWebSocketConnection, this, &TWsHub::onNewConnection);
}

void TWsHub::onNewConnection() {
    while (server_ && server_->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> ws = server_->nextPendingWebSocketConnection();
        if (!ws)
            break;
        ws->setMaxAllowedIncomingFrameSize(kMaxIncomingFrame);
        ws->setMaxAllowedIncomingMessageSize(kMaxIncomingFrame);
        const QByteArray id = cookieOf(ws->request().rawHeader("Cookie"), "qta_sesja");
        const TSession* s = sessionOf_ ? sessionOf_(id) : nullptr;
        if (!s || int(clients_.size()) >= kMaxClients) {
            ws->close(s ? QWebSocketProtocol::CloseCodeTooMuchData : kSessionEnded,
                      s ? QStringLiteral("za dużo połączeń") : QStringLiteral("brak sesji"));
            ws.release()->deleteLater();
            continue;
        }
        QWebSocket* raw = ws.get();
        connect(raw, &QWebSocket::disconnected, this,
                [this, raw] { drop(raw, QWebSocketProtocol::CloseCodeNormal, {}); });
        connect(raw, &QWebSocket::textMessageReceived, this, [this, raw](const QString&) {
            for (Client& c : clients_)
                if (c.ws.get() == raw && ++c.received > 50)
                    QTimer::singleShot(0, this, [this, raw] {
                        drop(raw, QWebSocketProtocol::CloseCodePolicyViolated,
                             QStringLiteral("za dużo wiadomości"));
                    });
        });
        connect(raw, &QWebSocket::binaryMessageReceived, this, [this, raw](const QByteArray&) {
            QTimer::singleShot(0, this, [this, raw] {
                drop(raw, QWebSocketProtocol::CloseCodeDatatypeNotSupported,
                     QStringLiteral("tylko tekst"));
            });
        });
        clients_.push_back({std::move(ws), id, 0});
        if (units_.empty() && follows_.empty())
            follow();
        send(clients_.back(), snapshot());
    }
}

void TWsHub::drop(QWebSocket* ws, QWebSocketProtocol::CloseCode code, const QString& why) {
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [ws](const Client& c) { return c.ws.get() == ws; });
    if (it == clients_.end())
        return;
    std::unique_ptr<QWebSocket> owned = std::move(it->ws);
    clients_.erase(it);
    owned->disconnect(this);
    if (owned->state() == QAbstractSocket::ConnectedState)
        owned->close(code, why);
    owned.release()->deleteLater();
}

void TWsHub::endSession(const QByteArray& id) {
    std::vector<QWebSocket*> ending;
    for (const Client& c : clients_)
        if (c.session == id)
            ending.push_back(c.ws.get());
    for (QWebSocket* ws : ending)
        drop(ws, kSessionEnded, QStringLiteral("sesja zakończona"));
}

void TWsHub::closeAll() {
    while (!clients_.empty())
        drop(clients_.front().ws.get(), QWebSocketProtocol::CloseCodeGoingAway,
             QStringLiteral("konsola wyłączona"));
}

bool TWsHub::send(Client& c, const QByteArray& message) {
    if (c.ws->bytesToWrite() > kMaxQueue) {
        QWebSocket* ws = c.ws.get();
        QTimer::singleShot(0, this, [this, ws] {
            drop(ws, QWebSocketProtocol::CloseCodeTooMuchData,
                 QStringLiteral("strona nie odbiera wiadomości"));
        });
        return false;
    }
    c.ws->sendTextMessage(QString::fromUtf8(message));
    ++sent_;
    return true;
}

void TWsHub::broadcast(const QByteArray& message) {
    for (Client& c : clients_)
        send(c, message);
}

void TWsHub::follow() {
    for (const auto& c : follows_)
        disconnect(c);
    follows_.clear();
    std::map<QString, Unit> kept;
    for (const TSiteUnit& u : site_.units()) {
        kept[u.name] = units_.count(u.name) ? units_[u.name] : Unit{};
        const QString name = u.name;
        follows_.push_back(
            connect(u.core, &TQTA504Core::frameHandled, this, [this, name] { markDirty(name); }));
        follows_.push_back(connect(u.core, &TQTA504Core::eventRowAppended, this,
                                   [this, name] { markDirty(name); }));
        follows_.push_back(connect(&u.core->Alarmy, &TAlarmEngine::changed, this,
                                   [this, name] { markDirty(name); }));
    }
    units_ = std::move(kept);
}

void TWsHub::unitsChanged() {
    follow();
    if (!clients_.empty())
        broadcast(snapshot());
}

void TWsHub::markDirty(const QString& name) {
    const auto it = units_.find(name);
    if (it == units_.end())
        return;
    it->second.dirty = true;
    if (!clients_.empty())
        schedule();
}

void TWsHub::schedule() {
    const qint64 now = clock_.elapsed();
    qint64 due = -1;
    for (const auto& [name, u] : units_)
        if (u.dirty) {
            const qint64 at = std::max(now, u.lastSentMs + kMinIntervalMs);
            due = due < 0 ? at : std::min(due, at);
        }
    if (due < 0)
        return;
    const int wait = int(due - now);
    if (!flushTimer_.isActive() || flushTimer_.remainingTime() > wait)
        flushTimer_.start(wait);
}

void TWsHub::flush() {
    const qint64 now = clock_.elapsed();
    for (const TSiteUnit& su : site_.units()) {
        const auto it = units_.find(su.name);
        if (it == units_.end())
            continue;
        Unit& u = it->second;
        if (!u.dirty || now < u.lastSentMs + kMinIntervalMs)
            continue;
        u.dirty = false;
        const QJsonObject tile = memory_.tile(su);
        const QByteArray tileBytes = compact(tile);
        const QJsonArray alarms = alarmsJson(su);
        const QByteArray alarmBytes = QJsonDocument(alarms).toJson(QJsonDocument::Compact);
        // One message per controller: its tile and its alarms, each only
        // when changed.
        QJsonObject m{{"t", "unit"}, {"c", su.name}};
        if (tileBytes != u.tile) {
            u.tile = tileBytes;
            m[u"tile"] = tile;
        }
        if (alarmBytes != u.alarms) {
            u.alarms = alarmBytes;
            m[u"alarms"] = alarms;
        }
        const bool sentAny = m.size() > 2;
        if (sentAny)
            broadcast(compact(m));
        if (sentAny)
            u.lastSentMs = now;
    }
    schedule();
}

QByteArray TWsHub::snapshot() {
    QJsonArray tiles;
    QJsonObject alarms;
    for (const TSiteUnit& su : site_.units()) {
        const QJsonObject tile = memory_.tile(su);
        const QJsonArray list = alarmsJson(su);
        tiles.append(tile);
        alarms[su.name] = list;
    }
    return compact(QJsonObject{{"t", "snapshot"}, {"controllers", tiles}, {"alarms", alarms}});
}

} // namespace qta::web
