#include "mqtt/mqttpayload.h"

#include "link/eventrecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qta::mqtt {

namespace {

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QJsonValue timeOrNull(const QDateTime& t) {
    return t.isValid() ? QJsonValue(isoTime(t)) : QJsonValue(QJsonValue::Null);
}

// A discovery id: letters, digits, '_' and '-' only.
QString idPart(const QString& s) {
    QString out;
    for (const QChar c : s)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' ? c.toLower() : QChar(u'_');
    return out;
}

const char* const kLineNames[3] = {"N1", "N2", "N3"};

} // namespace

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

QByteArray stateJson(const TStateSnapshot& s) {
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
        {"identifier", s.identifier},
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

QByteArray eventJson(const QString& identifier, const TEventSnapshot& e) {
    QJsonArray lines;
    for (int n = 0; n < 3; ++n)
        lines.append(QJsonObject{{"name", QLatin1String(kLineNames[n])},
                                 {"state", e.lineStates[size_t(n)]}});
    return compact(QJsonObject{{"identifier", identifier},
                               {"indeks", e.indeks},
                               {"row", e.row},
                               {"date", e.date.trimmed()},
                               {"time", e.time.trimmed()},
                               {"text", e.text},
                               {"lines", lines},
                               {"active", e.active},
                               {"program", e.program}});
}

QByteArray alarmJson(const QString& identifier, int row, const TAlarmJournalRow& r) {
    return compact(QJsonObject{{"identifier", identifier},
                               {"row", row},
                               {"time", timeOrNull(r.czas)},
                               {"alarm", r.alarm},
                               {"priority", r.priorytet},
                               {"state", r.stan},
                               {"user", r.kto},
                               {"remark", r.uwagi}});
}

QString kindName(AlarmKind kind) { return QLatin1String(alarmKindInfo(kind).settingsKey); }

QByteArray alarmsJson(const QString& identifier, const std::vector<TAlarm>& listed,
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
    return compact(
        QJsonObject{{"identifier", identifier}, {"time", isoTime(time)}, {"alarms", alarms}});
}

QList<TMessage> discoveryMessages(const QString& prefix, const QString& name,
                                  const QString& identifier, const QString& discoveryPrefix) {
    const QString node = QStringLiteral("qta504_") + idPart(name);
    const QString state = topic(prefix, name, "state");
    const QString alarms = topic(prefix, name, "alarms");
    const QJsonObject device{{"identifiers", QJsonArray{identifier}},
                             {"name", QStringLiteral("SZR ") + name},
                             {"model", QStringLiteral("QTA-504")},
                             {"manufacturer", QStringLiteral("QTA")}};
    const QString availability = topic(prefix, name, "availability");
    QList<TMessage> out;
    const auto add = [&](const char* component, const QString& object, QJsonObject config) {
        config.insert("unique_id", node + u'_' + object);
        config.insert("object_id", node + u'_' + object);
        config.insert("device", device);
        config.insert("availability_topic", availability);
        out.append({discoveryPrefix + u'/' + QLatin1String(component) + u'/' + node + u'/' +
                        object + QStringLiteral("/config"),
                    compact(config)});
    };
    for (int n = 0; n < 3; ++n)
        for (int k = 0; k < 3; ++k)
            add("sensor", QStringLiteral("n%1_l%2").arg(n + 1).arg(k + 1),
                {{"name", QStringLiteral("%1 L%2").arg(QLatin1String(kLineNames[n])).arg(k + 1)},
                 {"device_class", "voltage"},
                 {"unit_of_measurement", "V"},
                 {"state_class", "measurement"},
                 {"state_topic", state},
                 {"value_template",
                  QStringLiteral("{{ value_json.lines[%1].voltages[%2] }}").arg(n).arg(k)}});
    add("sensor", QStringLiteral("aktywna_linia"),
        {{"name", QStringLiteral("Aktywna linia")},
         {"state_topic", state},
         {"value_template", QStringLiteral("{{ value_json.active_line.text }}")}});
    add("sensor", QStringLiteral("program"),
        {{"name", QStringLiteral("Program")},
         {"state_topic", state},
         {"value_template", QStringLiteral("{{ value_json.program.text }}")}});
    for (const TAlarmKindInfo& k : alarmKinds())
        add("binary_sensor", idPart(QLatin1String(k.settingsKey)),
            {{"name", QString::fromUtf8(k.label)},
             {"device_class", "problem"},
             {"state_topic", alarms},
             {"value_template",
              QStringLiteral("{{ 'ON' if value_json.alarms | selectattr('kind', 'eq', '%1') | "
                             "selectattr('on') | list else 'OFF' }}")
                  .arg(QLatin1String(k.settingsKey))}});
    return out;
}

} // namespace qta::mqtt
