// Alarm acknowledgement over MQTT (Potwierdzanie=tak): JSON on
// PREFIX/NAME/alarm/ack, {"alarm": KEY | "all", "kto": TEXT, "uwagi": TEXT},
// acknowledged in the alarm engine as "TEXT (mqtt)". This is the one thing
// the collector takes from the broker, and it only ever acknowledges: no
// message reaches the controller.
//
// Every byte is the network's: a payload that is not such an object (or is
// longer than kMaxPayload) is dropped and said at most once a minute; a
// retained message is ignored (it would acknowledge again at every
// reconnection); the same payload again within kRepeatMs is a repeated
// delivery of QoS 1 and acknowledges nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace qta {
class TAlarmEngine;
}

namespace qta::mqtt {

struct TAckRequest {
    QString alarm;  // a key of the alarm list ("awaria7"), or "all"
    QString who;    // "kto" as given, white space simplified
    QString remark; // "uwagi", empty when absent
    bool all() const { return alarm == QLatin1String("all"); }
    bool operator==(const TAckRequest&) const = default;
};

constexpr int kMaxAckPayload = 2048;

// The request in `payload`; nothing, with the reason in `error` (Polish), when
// it is not one.
std::optional<TAckRequest> parseAckRequest(const QByteArray& payload, QString& error);

class TAckReceiver {
public:
    using Log = std::function<void(int level, const QString& text)>; // level as LogLevel
    static constexpr qint64 kRepeatMs = 10000;
    static constexpr qint64 kMalformedQuietMs = 60000;

    // `topic` names where the messages come from in the log lines.
    TAckReceiver(TAlarmEngine& engine, const QString& topic, Log log);

    // One message from the topic; `nowMs` a monotonic clock's reading.
    void receive(const QByteArray& payload, bool retained, qint64 nowMs);

private:
    void malformed(const QString& why, qint64 nowMs);

    TAlarmEngine& engine_;
    QString topic_;
    Log log_;
    QByteArray lastPayload_;
    qint64 lastAt_ = 0;
    qint64 malformedSaidAt_ = -1; // when a malformed payload was last said
    int malformedQuiet_ = 0;      // dropped since, not said
};

} // namespace qta::mqtt
