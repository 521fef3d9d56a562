// What the collector publishes over MQTT, as pure functions: the topic names
// and the UTF-8 JSON of every message (live state, an event row, an alarm
// transition, the list of alarms, the Home Assistant discovery records).
// Nothing here touches a socket or a table, so the tests check them as a table.
#pragma once

#include "alarms/alarm.h"
#include "alarms/alarmjournal.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>
#include <vector>

namespace qta::mqtt {

// A controller's name as one topic level: '/', '+', '#', control characters
// and spaces become '_' (the section name is the operator's, a topic level is
// the broker's).
QString topicLevel(const QString& name);
// PREFIX/NAME/leaf ("qta504/N1-szpital/state").
QString topic(const QString& prefix, const QString& name, const char* leaf);

// ISO 8601 with the offset from UTC ("2026-12-11T04:05:06.123+01:00").
QString isoTime(const QDateTime& t);

// Who a message is about: the controller's identity on MQTT (controllerId())
// and the identifier its firmware reports ("QTA1v2"; empty until it has been
// read). The firmware identifier names the firmware, not the controller: two
// controllers of a site usually share it.
struct TSource {
    QString controllerId;
    QString identifier;
};

// The controller's identity on MQTT, unique on the broker: made of the topic
// prefix and `key` (the configured Id=, or else the controller's name). It is
// the Home Assistant node id and device identifier, begins every unique_id,
// and is `controller_id` in every payload. Readable as
// "szr_PREFIX_KEY": Polish letters become their ASCII letter (ł→l, ą→a …),
// other accented letters their base letter, and what a node id cannot hold
// '_'. Whenever that changed anything (or the prefix holds '_', or the key
// ends like a digest), "_" and eight hex digits of a SHA-1 of the exact prefix
// and key follow, so two keys differing in one letter never share an id:
// "Kotlownia" stays as it is, "Kotłownia" is "Kotlownia_" and its digest.
QString controllerId(const QString& prefix, const QString& key);

// The key of a controller's identity: its Id= when one is given, else its name.
inline QString identityKey(const QString& name, const QString& id) {
    const QString given = id.trimmed();
    return given.isEmpty() ? name : given;
}

struct TStateSnapshot {
    int program = 0;
    int activeLine = 0;
    std::array<int, 9> voltages{}; // N1 L1..L3, N2 L1..L3, N3 L1..L3
    std::array<int, 3> lineStates{};
    int faults = 0; // the status reply's fault byte
    bool link = false;
    QDateTime time;
};
QByteArray stateJson(const TSource& source, const TStateSnapshot& s);

// The texts of the fault bits that are set, lowest bit first.
QStringList faultTexts(int faults);

// One row of rejestr.dbf as it stands in the table (texts as written there).
struct TEventSnapshot {
    int row = 0; // position in rejestr.dbf, 0-based
    int indeks = 0;
    QString date, time, text;
    std::array<QString, 3> lineStates;
    QString active, program;
};
QByteArray eventJson(const TSource& source, const TEventSnapshot& e);

// One row of alarmy.dbf.
QByteArray alarmJson(const TSource& source, int row, const TAlarmJournalRow& r);
// The alarms not back to normal (or shelved), newest first, as the engine
// lists them, and their "summary": how many wait for acknowledgement (not
// shelved) and the highest priority among those (null when none).
QByteArray alarmsJson(const TSource& source, const std::vector<TAlarm>& listed,
                      const QDateTime& time);
// The kind's stable name in messages: its settings key ("WylacznikBezpieczenstwa").
QString kindName(AlarmKind kind);

struct TMessage {
    QString topic;
    QByteArray payload;
};
// Home Assistant discovery: one device per controller (its identifier the
// controllerId(), the firmware identifier its `sw_version`), a sensor per
// voltage, the active line and the program, a binary sensor per alarm kind;
// all retained, under `discoveryPrefix`/<component>/<controllerId>/<object>/config.
// `name` is the controller's name in the topics, `key` its Id= or name.
QList<TMessage> discoveryMessages(const QString& prefix, const QString& name, const QString& key,
                                  const QString& identifier,
                                  const QString& discoveryPrefix = QStringLiteral("homeassistant"));
// PREFIX/NAME/alarm/ack, where acknowledgements come (mqtt/mqttack.h).
QString ackTopic(const QString& prefix, const QString& name);
// Discovery of acknowledgement, `enabled` with Potwierdzanie=tak: a button
// "Potwierdź wszystkie alarmy" that publishes {"alarm":"all",...} to the
// ack topic, and a sensor with the count of alarms waiting for
// acknowledgement (its attributes: that count and the highest priority
// among them, from the list's "summary"). Not enabled: the same topics with
// empty payloads, which remove what an earlier run published.
QList<TMessage>
acknowledgeDiscovery(const QString& prefix, const QString& name, const QString& key,
                     const QString& identifier, bool enabled,
                     const QString& discoveryPrefix = QStringLiteral("homeassistant"));
// The discovery topics earlier versions used for a controller of this name
// (node "qta504_" and the name in lower-case ASCII, whatever the prefix, the
// device identified by the firmware identifier): publishing an empty retained
// message to each removes those records and their entities. They can never
// be a controllerId()'s topics.
QStringList formerDiscoveryTopics(const QString& name,
                                  const QString& discoveryPrefix = QStringLiteral("homeassistant"));

} // namespace qta::mqtt
