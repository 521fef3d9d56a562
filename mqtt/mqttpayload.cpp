#include "mqtt/mqttpayload.h"

#include "link/eventrecord.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace qta::mqtt {

namespace {

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QJsonValue timeOrNull(const QDateTime& t) {
    return t.isValid() ? QJsonValue(isoTime(t)) : QJsonValue(QJsonValue::Null);
}

// A discovery object id: lower-case ASCII letters, digits, '_' and '-'
// only. (Also how earlier versions made the node id of a name.)
QString idPart(const QString& s) {
    QString out;
    for (const QChar c : s)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' ? c.toLower() : QChar(u'_');
    return out;
}

bool asciiWord(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// `s` in the characters of a node id: Polish letters as their ASCII letter,
// other letters with a diacritic as their base letter, anything else '_'.
QString transliterated(const QString& s) {
    static const QString from = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
    static const QString to = QStringLiteral("acelnoszzACELNOSZZ");
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        if (asciiWord(c) || c == u'-' || c == u'_') {
            out += c;
        } else if (const qsizetype i = from.indexOf(c); i >= 0) {
            out += to[i];
        } else {
            const QString base = QString(c).normalized(QString::NormalizationForm_D);
            out += !base.isEmpty() && asciiWord(base[0]) && base[0].isLetter() ? base[0] : u'_';
        }
    }
    return out;
}

bool plain(const QString& s, bool underscore) {
    if (s.isEmpty())
        return false;
    for (const QChar c : s)
        if (!asciiWord(c) && c != u'-' && !(underscore && c == u'_'))
            return false;
    return true;
}

const char* const kLineNames[3] = {"N1", "N2", "N3"};

// The entities of a controller's device: the voltages, the active line and
// the program, and a binary sensor per alarm kind.
struct TDiscovered {
    const char* component;
    QString object;
    int line = 0, phase = 0; // a voltage: N1..N3, L1..L3
    const TAlarmKindInfo* kind = nullptr;
};
const QList<TDiscovered>& discovered() {
    static const QList<TDiscovered> all = [] {
        QList<TDiscovered> out;
        for (int n = 1; n <= 3; ++n)
            for (int k = 1; k <= 3; ++k)
                out.append({"sensor", QStringLiteral("n%1_l%2").arg(n).arg(k), n, k});
        out.append({"sensor", QStringLiteral("aktywna_linia")});
        out.append({"sensor", QStringLiteral("program")});
        for (const TAlarmKindInfo& k : alarmKinds())
            out.append({"binary_sensor", idPart(QLatin1String(k.settingsKey)), 0, 0, &k});
        return out;
    }();
    return all;
}

} // namespace

QString controllerId(const QString& prefix, const QString& key) {
    // A plain prefix holds no '_', so the first '_' after "szr_" ends it; a
    // plain key does not end like a digest, so a plain id is never one that
    // carries a digest.
    static const QRegularExpression digestTail(QStringLiteral("_[0-9a-f]{8}$"));
    QString id = QStringLiteral("szr_") + transliterated(prefix) + u'_' + transliterated(key);
    if (!plain(prefix, false) || !plain(key, true) || digestTail.match(key).hasMatch()) {
        QCryptographicHash h(QCryptographicHash::Sha1);
        h.addData(prefix.toUtf8());
        h.addData(QByteArrayView("\0", 1));
        h.addData(key.toUtf8());
        id += u'_' + QString::fromLatin1(h.result().left(4).toHex());
    }
    return id;
}

QString topicLevel(const QString& name) {
    QString out = name;
    for (QChar& c : out)
        if (c == u'/' || c == u'+' || c == u'#' || c.isSpace() ||
            c.category() == QChar::Other_Control)
            c = u'_';
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QString topic(const QString& prefix, const QString& name, const char* leaf) {
    return prefix + u'/' + topicLevel(name) + u'/' + QLatin1String(leaf);
}

QString isoTime(const QDateTime& t) {
    const QDateTime local = t.toOffsetFromUtc(t.offsetFromUtc());
    QString s = local.toString(Qt::ISODateWithMs);
    // Qt writes "Z" for an offset of zero; the offset is always spelled out.
    if (s.endsWith(u'Z'))
        s.replace(s.size() - 1, 1, QStringLiteral("+00:00"));
    return s;
}

QStringList faultTexts(int faults) {
    static const char* const kBits[8] = {"Brak napięcia na linii wyjściowej",
                                         "Brak dobrych linii zasilających",
                                         "Załączenie generatora",
                                         "Nieznana awaria (bit 3)",
                                         "Nieznana awaria (bit 4)",
                                         "Nieznana awaria (bit 5)",
                                         "Nieznana awaria (bit 6)",
                                         "Zadziałanie wyłącznika bezpieczeństwa"};
    QStringList out;
    for (int b = 0; b < 8; ++b)
        if (faults & (1 << b))
            out << QString::fromUtf8(kBits[b]);
    return out;
}

QByteArray stateJson(const TSource& source, const TStateSnapshot& s) {
    QJsonArray lines;
    for (int n = 0; n < 3; ++n) {
        QJsonArray u;
        for (int k = 0; k < 3; ++k)
            u.append(s.voltages[size_t(n * 3 + k)]);
        lines.append(QJsonObject{{"name", QLatin1String(kLineNames[n])},
                                 {"voltages", u},
                                 {"state", s.lineStates[size_t(n)]},
                                 {"state_text", lineStateText(s.lineStates[size_t(n)])}});
    }
    return compact(QJsonObject{
        {"controller_id", source.controllerId},
        {"identifier", source.identifier},
        {"time", isoTime(s.time)},
        {"link", s.link ? QStringLiteral("connected") : QStringLiteral("lost")},
        {"program", QJsonObject{{"code", s.program}, {"text", programCodeText(s.program)}}},
        {"active_line",
         QJsonObject{{"code", s.activeLine}, {"text", activeLineCodeText(s.activeLine)}}},
        {"lines", lines},
        {"faults", QJsonObject{{"bits", s.faults},
                               {"texts", QJsonArray::fromStringList(faultTexts(s.faults))}}},
    });
}

QByteArray eventJson(const TSource& source, const TEventSnapshot& e) {
    QJsonArray lines;
    for (int n = 0; n < 3; ++n)
        lines.append(QJsonObject{{"name", QLatin1String(kLineNames[n])},
                                 {"state", e.lineStates[size_t(n)]}});
    return compact(QJsonObject{{"controller_id", source.controllerId},
                               {"identifier", source.identifier},
                               {"indeks", e.indeks},
                               {"row", e.row},
                               {"date", e.date.trimmed()},
                               {"time", e.time.trimmed()},
                               {"text", e.text},
                               {"lines", lines},
                               {"active", e.active},
                               {"program", e.program}});
}

QByteArray alarmJson(const TSource& source, int row, const TAlarmJournalRow& r) {
    return compact(QJsonObject{{"controller_id", source.controllerId},
                               {"identifier", source.identifier},
                               {"row", row},
                               {"time", timeOrNull(r.czas)},
                               {"alarm", r.alarm},
                               {"priority", r.priorytet},
                               {"state", r.stan},
                               {"user", r.kto},
                               {"remark", r.uwagi}});
}

QString kindName(AlarmKind kind) { return QLatin1String(alarmKindInfo(kind).settingsKey); }

QByteArray alarmsJson(const TSource& source, const std::vector<TAlarm>& listed,
                      const QDateTime& time) {
    QJsonArray alarms;
    for (const TAlarm& a : listed)
        alarms.append(QJsonObject{
            {"key", a.key},
            {"kind", kindName(a.kind)},
            {"text", a.text},
            {"priority", priorityText(a.priority)},
            {"state", stateText(a.state, a.notification())},
            {"active", a.active()},
            {"unacknowledged", a.unacknowledged()},
            // What a binary sensor shows: the condition holds, or a
            // notification still waits for acknowledgement.
            {"on", a.active() || (a.notification() && a.unacknowledged())},
            {"raised", timeOrNull(a.raised)},
            {"cleared", timeOrNull(a.cleared)},
            {"shelved_until", timeOrNull(a.shelvedUntil)},
        });
    // What waits for somebody: unacknowledged and not shelved (the count the
    // windows show), and the highest priority among them.
    int waiting = 0;
    bool high = false;
    for (const TAlarm& a : listed)
        if (a.unacknowledged() && !a.shelved()) {
            ++waiting;
            high = high || a.priority == AlarmPriority::High;
        }
    const QJsonValue highest =
        waiting == 0 ? QJsonValue(QJsonValue::Null)
                     : QJsonValue(priorityText(high ? AlarmPriority::High : AlarmPriority::Medium));
    return compact(QJsonObject{
        {"controller_id", source.controllerId},
        {"identifier", source.identifier},
        {"time", isoTime(time)},
        {"alarms", alarms},
        {"summary", QJsonObject{{"unacknowledged", waiting}, {"highest_priority", highest}}}});
}

QList<TMessage> discoveryMessages(const QString& prefix, const QString& name, const QString& key,
                                  const QString& identifier, const QString& discoveryPrefix) {
    const QString node = controllerId(prefix, key);
    const QString state = topic(prefix, name, "state");
    const QString alarms = topic(prefix, name, "alarms");
    const QJsonObject device{{"identifiers", QJsonArray{node}},
                             {"name", QStringLiteral("SZR ") + name},
                             {"model", QStringLiteral("QTA-504")},
                             {"manufacturer", QStringLiteral("QTA")},
                             {"sw_version", identifier}};
    const QString availability = topic(prefix, name, "availability");
    QList<TMessage> out;
    for (const TDiscovered& d : discovered()) {
        QJsonObject config;
        if (d.line > 0) {
            const int n = d.line, k = d.phase;
            config = {
                {"name", QStringLiteral("%1 L%2").arg(QLatin1String(kLineNames[n - 1])).arg(k)},
                {"device_class", "voltage"},
                {"unit_of_measurement", "V"},
                {"state_class", "measurement"},
                {"state_topic", state},
                {"value_template",
                 QStringLiteral("{{ value_json.lines[%1].voltages[%2] }}").arg(n - 1).arg(k - 1)}};
        } else if (!d.kind) {
            const bool line = d.object == QLatin1String("aktywna_linia");
            config = {{"name", line ? QStringLiteral("Aktywna linia") : QStringLiteral("Program")},
                      {"state_topic", state},
                      {"value_template", line ? QStringLiteral("{{ value_json.active_line.text }}")
                                              : QStringLiteral("{{ value_json.program.text }}")}};
        } else {
            config = {
                {"name", QString::fromUtf8(d.kind->label)},
                {"device_class", "problem"},
                {"state_topic", alarms},
                {"value_template",
                 QStringLiteral("{{ 'ON' if value_json.alarms | selectattr('kind', 'eq', '%1') | "
                                "selectattr('on') | list else 'OFF' }}")
                     .arg(QLatin1String(d.kind->settingsKey))}};
        }
        config.insert("unique_id", node + u'_' + d.object);
        config.insert("object_id", node + u'_' + d.object);
        config.insert("device", device);
        config.insert("availability_topic", availability);
        out.append({discoveryPrefix + u'/' + QLatin1String(d.component) + u'/' + node + u'/' +
                        d.object + QStringLiteral("/config"),
                    compact(config)});
    }
    return out;
}

QString ackTopic(const QString& prefix, const QString& name) {
    return topic(prefix, name, "alarm/ack");
}

QList<TMessage> acknowledgeDiscovery(const QString& prefix, const QString& name, const QString& key,
                                     const QString& identifier, bool enabled,
                                     const QString& discoveryPrefix) {
    const QString node = controllerId(prefix, key);
    const QJsonObject device{{"identifiers", QJsonArray{node}},
                             {"name", QStringLiteral("SZR ") + name},
                             {"model", QStringLiteral("QTA-504")},
                             {"manufacturer", QStringLiteral("QTA")},
                             {"sw_version", identifier}};
    const auto record = [&](const char* component, const char* object, QJsonObject config) {
        const QString where = discoveryPrefix + u'/' + QLatin1String(component) + u'/' + node +
                              u'/' + QLatin1String(object) + QStringLiteral("/config");
        if (!enabled)
            return TMessage{where, {}};
        config.insert("unique_id", node + u'_' + QLatin1String(object));
        config.insert("object_id", node + u'_' + QLatin1String(object));
        config.insert("device", device);
        config.insert("availability_topic", topic(prefix, name, "availability"));
        return TMessage{where, compact(config)};
    };
    const QByteArray press =
        compact(QJsonObject{{"alarm", "all"}, {"kto", "Home Assistant"}, {"uwagi", ""}});
    return {
        record("button", "potwierdz_wszystkie",
               {{"name", QStringLiteral("Potwierdź wszystkie alarmy")},
                {"command_topic", ackTopic(prefix, name)},
                {"payload_press", QString::fromUtf8(press)},
                {"qos", 1},
                {"retain", false}}),
        record("sensor", "niepotwierdzone",
               {{"name", QStringLiteral("Niepotwierdzone alarmy")},
                {"state_topic", topic(prefix, name, "alarms")},
                {"value_template", QStringLiteral("{{ value_json.summary.unacknowledged }}")},
                {"json_attributes_topic", topic(prefix, name, "alarms")},
                {"json_attributes_template", QStringLiteral("{{ value_json.summary | tojson }}")},
                {"state_class", "measurement"}}),
    };
}

QStringList formerDiscoveryTopics(const QString& name, const QString& discoveryPrefix) {
    const QString node = QStringLiteral("qta504_") + idPart(name);
    QStringList out;
    for (const TDiscovered& d : discovered())
        out << discoveryPrefix + u'/' + QLatin1String(d.component) + u'/' + node + u'/' + d.object +
                   QStringLiteral("/config");
    return out;
}

} // namespace qta::mqtt
