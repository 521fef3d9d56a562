// One connection to the MQTT broker, driven from the Qt event loop: the
// libmosquitto socket is watched by QSocketNotifiers (read; write only while
// the library has bytes to send) and a one-second timer does its keepalive.
// It publishes; the only topics it subscribes to are those its owner names
// with subscribe() (the alarm acknowledgements, when they are enabled).
//
// A connection that fails (refused login, untrusted certificate, broker gone)
// is said once in the log and tried again after 1 s, 2 s, 4 s ... up to 60 s.
// Every attempt starts from a fresh library instance, so that nothing the
// library still held from the old connection goes out again: what must not
// be lost is published again by its owner from the tables.
#pragma once

#include "mqtt/mqttsettings.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

struct mosquitto;
struct mosquitto_message;

namespace qta::mqtt {

class TMqttClient : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(int level, const QString& text)>; // level as LogLevel

    // `willTopic` gets `offline` (retained) when the connection is lost
    // without a clean end; `online` is published there at every connection.
    TMqttClient(const TMqttSettings& settings, const QString& clientId, const QString& willTopic,
                Log log, QObject* parent = nullptr);
    ~TMqttClient() override;

    void start();
    // A clean end: `offline` published, then the connection closed (waits at
    // most `waitMs` for the bytes to leave).
    void stop(int waitMs = 2000);

    bool connected() const { return connected_; }
    // The message id, or -1 when not connected or the library refused it.
    int publish(const QString& topic, const QByteArray& payload, int qos, bool retain);

    // A topic subscribed to at every connection; what arrives on it comes as
    // message(). Called before start().
    void subscribe(const QString& topic, int qos);

    // Test seam and benchmark: the current back-off delay.
    int retryDelayMs() const { return retryMs_; }

Q_SIGNALS:
    void connectedChanged(bool up);
    // The broker has taken message `mid` (PUBACK for QoS 1; sent for QoS 0).
    void published(int mid);
    // A message on a subscribed topic; `retained` when the broker sent it as
    // the topic's retained message (at a subscription), not as it came.
    void message(const QString& topic, const QByteArray& payload, bool retained);

private:
    void attempt();
    // `level` 3 for what only a change of settings mends (login, certificate).
    void fail(const QString& why, int level = 4);
    void teardown();
    void watch();
    void onRead();
    void onWrite();
    void onMisc();
    void updateWrite();
    void say(int level, const QString& text);

    static void onConnectCb(mosquitto*, void* self, int rc);
    static void onDisconnectCb(mosquitto*, void* self, int rc);
    static void onPublishCb(mosquitto*, void* self, int mid);
    static void onMessageCb(mosquitto*, void* self, const mosquitto_message* m);

    TMqttSettings settings_;
    QString clientId_, willTopic_;
    Log log_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<QSocketNotifier> readN_, writeN_;
    QTimer misc_, retry_;
    int retryMs_ = 1000;
    bool connected_ = false;
    bool stopping_ = false;
    int connackRc_ = -1;
    int generation_ = 0; // counts the attempts, so a late callback knows its own
    QString lastSaid_;   // the last failure said; repeated ones are not
    QList<QPair<QByteArray, int>> subscriptions_;
};

} // namespace qta::mqtt
