#include "mqtt/mqttclient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mutex>

#include <QElapsedTimer>
#include <QThread>

namespace qta::mqtt {

namespace {
constexpr int kError = 3, kWarning = 4, kInfo = 6;
constexpr int kMaxRetryMs = 60000;

void libraryInit() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString connackText(int rc) {
    switch (rc) {
    case 4:
    case 5: return QStringLiteral("broker odrzucił logowanie (zła nazwa użytkownika lub hasło)");
    case 2: return QStringLiteral("broker odrzucił identyfikator klienta");
    case 3: return QStringLiteral("broker niedostępny (odpowiedź 3)");
    default:
        return QStringLiteral("broker odrzucił połączenie: %1")
            .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
    }
}
// A failed system call of the connection, in the log's language; the
// system's own text for the rare ones.
QString systemText(int e) {
    switch (e) {
    case ECONNREFUSED: return QStringLiteral("broker nie przyjmuje połączeń (port zamknięty)");
    case ETIMEDOUT: return QStringLiteral("broker nie odpowiada (przekroczony czas)");
    case EHOSTUNREACH:
    case ENETUNREACH: return QStringLiteral("broker nieosiągalny (brak trasy w sieci)");
    case ECONNRESET:
    case EPIPE: return QStringLiteral("broker zamknął połączenie");
    default: return QStringLiteral("błąd systemu: %1").arg(QString::fromLocal8Bit(strerror(e)));
    }
}

// Why a library call failed, as the log says it.
QString failText(int rc) {
    switch (rc) {
    case MOSQ_ERR_TLS:
        return QStringLiteral("połączenie TLS odrzucone (certyfikat brokera niezaufany lub nie "
                              "pasuje do nazwy)");
    case MOSQ_ERR_ERRNO: return systemText(errno);
    case MOSQ_ERR_EAI: return QStringLiteral("nie znaleziono adresu brokera (nazwa hosta)");
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_KEEPALIVE: return QStringLiteral("połączenie z brokerem przerwane");
    default: return QString::fromUtf8(mosquitto_strerror(rc));
    }
}
} // namespace

TMqttClient::TMqttClient(const TMqttSettings& settings, const QString& clientId,
                         const QString& willTopic, Log log, QObject* parent)
    : QObject(parent), settings_(settings), clientId_(clientId), willTopic_(willTopic),
      log_(std::move(log)) {
    libraryInit();
    misc_.setInterval(1000);
    connect(&misc_, &QTimer::timeout, this, &TMqttClient::onMisc);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &TMqttClient::attempt);
}

TMqttClient::~TMqttClient() { teardown(); }

void TMqttClient::say(int level, const QString& text) {
    if (log_)
        log_(level, text);
}

void TMqttClient::start() {
    stopping_ = false;
    attempt();
}

void TMqttClient::attempt() {
    teardown();
    if (stopping_)
        return;
    ++generation_;
    mosq_ = mosquitto_new(clientId_.toUtf8().constData(), true, this);
    if (!mosq_) {
        fail(QStringLiteral("nie można utworzyć klienta MQTT"));
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &TMqttClient::onConnectCb);
    mosquitto_disconnect_callback_set(mosq_, &TMqttClient::onDisconnectCb);
    mosquitto_publish_callback_set(mosq_, &TMqttClient::onPublishCb);
    mosquitto_message_callback_set(mosq_, &TMqttClient::onMessageCb);
    const QByteArray will = willTopic_.toUtf8();
    mosquitto_will_set(mosq_, will.constData(), 7, "offline", 1, true);
    if (!settings_.user.isEmpty())
        mosquitto_username_pw_set(
            mosq_, settings_.user.toUtf8().constData(),
            settings_.password.isEmpty() ? nullptr : settings_.password.toUtf8().constData());
    if (settings_.tls()) {
        const QByteArray ca = settings_.caFile.toUtf8(), cert = settings_.certFile.toUtf8(),
                         key = settings_.keyFile.toUtf8();
        const int rc = mosquitto_tls_set(mosq_, ca.constData(), nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(QStringLiteral("ustawienia TLS odrzucone: %1")
                     .arg(QString::fromUtf8(mosquitto_strerror(rc))));
            return;
        }
    }
    connackRc_ = -1;
    const int rc = mosquitto_connect_async(mosq_, settings_.host.toUtf8().constData(),
                                           settings_.port, settings_.keepAlive);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
        fail(rc == MOSQ_ERR_SUCCESS ? QStringLiteral("brak gniazda") : failText(rc),
             rc == MOSQ_ERR_TLS ? kError : kWarning);
        return;
    }
    watch();
}

void TMqttClient::watch() {
    const int fd = mosquitto_socket(mosq_);
    readN_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    writeN_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(readN_.get(), &QSocketNotifier::activated, this, &TMqttClient::onRead);
    connect(writeN_.get(), &QSocketNotifier::activated, this, &TMqttClient::onWrite);
    misc_.start();
    updateWrite();
}

void TMqttClient::teardown() {
    readN_.reset();
    writeN_.reset();
    misc_.stop();
    if (mosq_) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    if (connected_) {
        connected_ = false;
        Q_EMIT connectedChanged(false);
    }
}

void TMqttClient::fail(const QString& why, int level) {
    const QString where = QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.port);
    // The same trouble again is no news; the retries go on quietly.
    if (why != lastSaid_) {
        lastSaid_ = why;
        say(level, QStringLiteral("MQTT %1: %2; ponawiam co %3 s do 60 s")
                       .arg(where, why)
                       .arg(retryMs_ / 1000));
    }
    teardown();
    if (stopping_)
        return;
    retry_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, kMaxRetryMs);
}

void TMqttClient::onRead() {
    if (!mosq_)
        return;
    const int rc = mosquitto_loop_read(mosq_, 16);
    if (!mosq_)
        return;
    if (connackRc_ > 0) {
        fail(connackText(connackRc_), kError);
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(failText(rc), rc == MOSQ_ERR_TLS ? kError : kWarning);
        return;
    }
    updateWrite();
}

void TMqttClient::onWrite() {
    if (!mosq_)
        return;
    const int rc = mosquitto_loop_write(mosq_, 16);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(failText(rc), rc == MOSQ_ERR_TLS ? kError : kWarning);
        return;
    }
    updateWrite();
}

void TMqttClient::onMisc() {
    if (!mosq_)
        return;
    const int rc = mosquitto_loop_misc(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(failText(rc), rc == MOSQ_ERR_TLS ? kError : kWarning);
        return;
    }
    updateWrite();
}

void TMqttClient::updateWrite() {
    if (writeN_)
        writeN_->setEnabled(mosq_ && mosquitto_want_write(mosq_));
}

int TMqttClient::publish(const QString& topic, const QByteArray& payload, int qos, bool retain) {
    if (!mosq_ || !connected_)
        return -1;
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, topic.toUtf8().constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    updateWrite();
    return mid;
}

void TMqttClient::subscribe(const QString& topic, int qos) {
    subscriptions_.append({topic.toUtf8(), qos});
}

void TMqttClient::stop(int waitMs) {
    stopping_ = true;
    retry_.stop();
    if (mosq_ && connected_) {
        const QByteArray t = willTopic_.toUtf8();
        mosquitto_publish(mosq_, nullptr, t.constData(), 7, "offline", 1, true);
        mosquitto_disconnect(mosq_);
        // The last bytes out before the socket closes: a short wait on this
        // connection alone, at the end of the run.
        QElapsedTimer clock;
        clock.start();
        while (mosq_ && mosquitto_socket(mosq_) >= 0 && clock.elapsed() < waitMs) {
            const int rc = mosquitto_loop(mosq_, 50, 16);
            if (rc != MOSQ_ERR_SUCCESS)
                break;
        }
    }
    teardown();
}

// ---------------------------------------------------------------- callbacks
// Called from inside mosquitto_loop_*: they only record; the instance is
// never destroyed there.

void TMqttClient::onConnectCb(mosquitto*, void* self, int rc) {
    auto* c = static_cast<TMqttClient*>(self);
    c->connackRc_ = rc;
    if (rc != 0)
        return;
    if (!c->lastSaid_.isEmpty() || c->retryMs_ == 1000)
        c->say(kInfo, QStringLiteral("MQTT: połączono z brokerem %1:%2")
                          .arg(c->settings_.host)
                          .arg(c->settings_.port));
    c->lastSaid_.clear();
    c->retryMs_ = 1000;
    c->connected_ = true;
    const QByteArray t = c->willTopic_.toUtf8();
    mosquitto_publish(c->mosq_, nullptr, t.constData(), 6, "online", 1, true);
    // A clean session: the subscriptions are made anew at every connection.
    for (const auto& [topic, qos] : c->subscriptions_)
        mosquitto_subscribe(c->mosq_, nullptr, topic.constData(), qos);
    // Told once the library call has returned.
    QMetaObject::invokeMethod(
        c,
        [c] {
            if (c->connected_)
                Q_EMIT c->connectedChanged(true);
        },
        Qt::QueuedConnection);
}

void TMqttClient::onDisconnectCb(mosquitto*, void* self, int) {
    auto* c = static_cast<TMqttClient*>(self);
    if (c->stopping_)
        return;
    QMetaObject::invokeMethod(
        c,
        [c, g = c->generation_] {
            if (c->mosq_ && !c->stopping_ && g == c->generation_)
                c->fail(QStringLiteral("połączenie z brokerem przerwane"));
        },
        Qt::QueuedConnection);
}

void TMqttClient::onPublishCb(mosquitto*, void* self, int mid) {
    Q_EMIT static_cast<TMqttClient*>(self)->published(mid);
}

void TMqttClient::onMessageCb(mosquitto*, void* self, const mosquitto_message* m) {
    auto* c = static_cast<TMqttClient*>(self);
    if (!m || !m->topic)
        return;
    const QString topic = QString::fromUtf8(m->topic);
    const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
    const bool retained = m->retain;
    // Handed on once the library call has returned (whoever handles it may
    // publish, or stop this connection).
    QMetaObject::invokeMethod(
        c,
        [c, g = c->generation_, topic, payload, retained] {
            if (c->mosq_ && g == c->generation_)
                Q_EMIT c->message(topic, payload, retained);
        },
        Qt::QueuedConnection);
}

} // namespace qta::mqtt
