// What one controller of the collector publishes over MQTT, and the promise
// that no event row and no alarm transition is lost on the way: the tables
// (rejestr.dbf, alarmy.dbf) are the source, and rejestr/mqtt.ini keeps how
// far the broker has acknowledged each of them (PUBACK of QoS 1). After a
// broker outage, a cut network or a restart of the collector the rows are
// read back from the table and published again from that point on, in order;
// a row may so arrive twice, never not at all. The live state is not
// replayed: the next status reply brings it.
//
// With Potwierdzanie=tak the connection subscribes to PREFIX/NAME/alarm/ack
// and acknowledges alarms asked for there (mqtt/mqttack.h); that is the one
// thing taken from the broker. Nothing else that arrives is acted upon, and
// nothing from the broker reaches the controller.
#pragma once

#include "alarms/alarmjournal.h"
#include "mqtt/mqttack.h"
#include "mqtt/mqttclient.h"
#include "mqtt/mqttpayload.h"
#include "mqtt/mqttsettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>

namespace qta {
class TQTA504Core;
}

namespace qta::mqtt {

// How far the broker has taken a controller's tables (rejestr/mqtt.ini).
struct TReplayPosition {
    QString identifier;
    int eventRows = 0;   // rows of rejestr.dbf acknowledged
    int lastIndeks = -1; // INDEKS of the last of them
    int alarmRows = 0;   // rows of alarmy.dbf acknowledged
    QString lastAlarm;   // alarmRowKey() of the last of them
    bool operator==(const TReplayPosition&) const = default;
};
// Read (all zero when missing or unreadable) and written atomically.
TReplayPosition readReplayPosition(const QString& path);
bool writeReplayPosition(const QString& path, const TReplayPosition& p);
// What identifies a journal row (a short digest of all its fields), so that a
// journal replaced by another one of at least as many rows is recognised.
QString alarmRowKey(const TAlarmJournalRow& row);

class TControllerPublisher : public QObject {
    Q_OBJECT
public:
    // `name` is the controller's level in the topics; `id` its configured
    // Id= (empty: the name), which with the prefix makes its identity,
    // controllerId().
    TControllerPublisher(TQTA504Core& core, const QString& name, const QString& id,
                         const TMqttSettings& settings, TMqttClient::Log log,
                         QObject* parent = nullptr);
    ~TControllerPublisher() override;

    // Reads the replay position and connects; the tables must be open.
    void start();
    // Saves the position, publishes `offline` and closes the connection.
    void stop();

    const TReplayPosition& position() const { return acked_; }
    const QString& controllerId() const { return controllerId_; }
    static constexpr int kWindow = 64;          // unacknowledged messages per table
    static constexpr int kStateMinGapMs = 1000; // at most one state a second
    static constexpr int kStateEarlyMs = 100;   // a reply this close to the second waits for it
    static constexpr int kStateSlackMs = 250;

Q_SIGNALS:
    // The broker connection came up (its first messages sent) or went down.
    void connectionChanged(bool up);

private:
    struct Pending {
        int mid = 0;
        int row = 0;
        int indeks = -1;
        QString key; // alarm rows: alarmRowKey()
        bool acked = false;
    };

    QString identifier() const;
    TSource source() const { return {controllerId_, identifier()}; }
    void onConnected(bool up);
    void onPublished(int mid);
    void onStatus();
    void tick();
    void publishState();
    void publishAlarmList();
    void publishDiscovery();
    void schedulePump();
    void pump();
    void pumpEvents();
    void pumpAlarms();
    void checkPosition();
    void scheduleSave();
    void save();
    QString topicOf(const char* leaf) const;

    TQTA504Core& core_;
    QString name_;
    QString key_;
    TMqttSettings settings_;
    QString controllerId_;
    TMqttClient::Log log_;
    std::unique_ptr<TMqttClient> client_;
    std::unique_ptr<TAckReceiver> ack_;
    QElapsedTimer ackClock_;
    QString positionFile_;
    TReplayPosition acked_, saved_;
    int nextEventRow_ = 0, nextAlarmRow_ = 0;
    std::deque<Pending> events_, alarms_;
    QString discoveredFor_;
    // Connected, and the connection's first messages (discovery, lists) sent.
    bool live_ = false;
    bool haveStatus_ = false;
    bool stateDirty_ = false;
    bool lastLink_ = false;
    bool pumpQueued_ = false;
    bool alarmListQueued_ = false;
    // The list waits for the controller's identifier (read, or kept in
    // mqtt.ini from an earlier run): a retained list that names no controller
    // would stand for it until the next change.
    bool alarmListHeld_ = false;
    QElapsedTimer sinceState_, sinceStatus_;
    QTimer stateTimer_, tick_, saveTimer_;
};

} // namespace qta::mqtt
