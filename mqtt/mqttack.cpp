#include "mqtt/mqttack.h"

#include "alarms/alarmengine.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace qta::mqtt {

namespace {
constexpr int kWarning = 4, kNotice = 5, kInfo = 6;
constexpr int kMaxKey = 32, kMaxWho = 64;

bool hasControl(const QString& s) {
    for (const QChar c : s)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}
} // namespace

std::optional<TAckRequest> parseAckRequest(const QByteArray& payload, QString& error) {
    if (payload.size() > kMaxAckPayload) {
        error = QStringLiteral("wiadomość ma %1 bajtów (najwyżej %2)")
                    .arg(payload.size())
                    .arg(kMaxAckPayload);
        return std::nullopt;
    }
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("to nie jest obiekt JSON");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    const QJsonValue alarm = o.value(QLatin1String("alarm")), who = o.value(QLatin1String("kto")),
                     remark = o.value(QLatin1String("uwagi"));
    TAckRequest r;
    r.alarm = alarm.toString().trimmed();
    r.who = who.toString().simplified();
    if (!alarm.isString() || r.alarm.isEmpty() || r.alarm.size() > kMaxKey || hasControl(r.alarm)) {
        error = QStringLiteral("brak pola „alarm” (klucz alarmu lub „all”)");
        return std::nullopt;
    }
    if (!who.isString() || r.who.isEmpty() || r.who.size() > kMaxWho || hasControl(r.who)) {
        error = QStringLiteral("brak pola „kto” (kto potwierdza, najwyżej %1 znaków)").arg(kMaxWho);
        return std::nullopt;
    }
    if (!remark.isUndefined() && !remark.isNull() && !remark.isString()) {
        error = QStringLiteral("pole „uwagi” nie jest tekstem");
        return std::nullopt;
    }
    r.remark = remark.toString();
    return r;
}

TAckReceiver::TAckReceiver(TAlarmEngine& engine, const QString& topic, Log log)
    : engine_(engine), topic_(topic), log_(std::move(log)) {}

void TAckReceiver::malformed(const QString& why, qint64 nowMs) {
    if (malformedSaidAt_ >= 0 && nowMs - malformedSaidAt_ < kMalformedQuietMs) {
        ++malformedQuiet_;
        return;
    }
    QString line =
        QStringLiteral("MQTT: odrzucono wiadomość z %1: %2 (oczekiwano {\"alarm\": KLUCZ lub "
                       "\"all\", \"kto\": TEKST, \"uwagi\": TEKST})")
            .arg(topic_, why);
    if (malformedQuiet_ > 0)
        line += QStringLiteral("; od poprzedniego komunikatu odrzucono bez słowa jeszcze %1")
                    .arg(malformedQuiet_);
    log_(kWarning, line);
    malformedSaidAt_ = nowMs;
    malformedQuiet_ = 0;
}

void TAckReceiver::receive(const QByteArray& payload, bool retained, qint64 nowMs) {
    if (retained) {
        log_(kWarning, QStringLiteral("MQTT: pominięto zachowaną (retained) wiadomość z %1: "
                                      "potwierdzenie przyjmuję tylko wysłane na bieżąco; usuń ją z "
                                      "brokera (mosquitto_pub -r -n -t '%1')")
                           .arg(topic_));
        return;
    }
    QString error;
    const std::optional<TAckRequest> r = parseAckRequest(payload, error);
    if (!r) {
        malformed(error, nowMs);
        return;
    }
    if (!lastPayload_.isNull() && payload == lastPayload_ && nowMs - lastAt_ < kRepeatMs) {
        log_(kInfo, QStringLiteral("MQTT: powtórzone potwierdzenie od %1 pominięte").arg(r->who));
        return;
    }
    lastPayload_ = payload;
    lastAt_ = nowMs;
    const QString who = TAlarmEngine::channelUser(r->who, QStringLiteral("mqtt"));
    if (r->all()) {
        if (const QString problem = TAlarmJournal::remarkProblem(r->remark); !problem.isEmpty()) {
            log_(kWarning,
                 QStringLiteral("MQTT: potwierdzenie wszystkich alarmów od %1 odrzucone. %2")
                     .arg(who, problem));
            return;
        }
        const int n = engine_.acknowledgeAll(who, r->remark);
        log_(n > 0 ? kInfo : kNotice,
             QStringLiteral("MQTT: %1 potwierdza wszystkie alarmy: potwierdzono %2")
                 .arg(who)
                 .arg(n));
        return;
    }
    const TAlarm* a = engine_.alarm(r->alarm);
    const QString text = a ? a->text : r->alarm;
    const QString why = engine_.acknowledge(r->alarm, r->remark, who);
    if (why.isEmpty())
        log_(kInfo, QStringLiteral("MQTT: alarm „%1” potwierdzony przez %2").arg(text, who));
    else
        log_(TAlarmJournal::remarkProblem(r->remark).isEmpty() ? kNotice : kWarning,
             QStringLiteral("MQTT: potwierdzenie alarmu %1 od %2 odrzucone. %3")
                 .arg(r->alarm, who, why));
}

} // namespace qta::mqtt
