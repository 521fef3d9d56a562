// What the collector publishes over MQTT, without a broker: topic names, the
// JSON of each message (the discovery templates checked against the state
// they read), the [mqtt] settings with the password file's permissions, and
// the replay position file and how it is checked against the tables.
#include "alarms/alarmjournal.h"
#include "core/controller.h"
#include "mqtt/mqttpayload.h"
#include "mqtt/mqttpublisher.h"
#include "mqtt/mqttsettings.h"
#include "tables/table.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace qta;
using namespace qta::mqtt;

namespace {

QJsonObject parse(const QByteArray& json) {
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(json, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject())
        qWarning() << "not a JSON object:" << json;
    return d.object();
}

// What Home Assistant reads with a value_template of the simple form
// "{{ value_json.a.b[1].c[2] }}": the path walked through the document.
QJsonValue evaluate(const QString& templ, const QJsonObject& doc) {
    static const QRegularExpression whole(QStringLiteral(R"(^\{\{ value_json\.(\S+) \}\}$)"));
    const auto m = whole.match(templ);
    if (!m.hasMatch())
        return QJsonValue::Undefined;
    QJsonValue v = doc;
    static const QRegularExpression part(QStringLiteral(R"(([a-z_]+)((?:\[\d+\])*))"));
    for (const QString& step : m.captured(1).split(u'.')) {
        const auto p = part.match(step);
        if (!p.hasMatch() || p.capturedLength() != step.size())
            return QJsonValue::Undefined;
        v = v.toObject().value(p.captured(1));
        static const QRegularExpression index(QStringLiteral(R"(\[(\d+)\])"));
        for (auto it = index.globalMatch(p.captured(2)); it.hasNext();)
            v = v.toArray().at(it.next().captured(1).toInt());
    }
    return v;
}

void writeFile(const QString& path, const QByteArray& text, QFile::Permissions perms) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    f.close();
    QVERIFY(f.setPermissions(perms));
}

} // namespace

class TestMqtt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void topics_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("level");
        QTest::newRow("plain") << "N1-szpital"
                               << "N1-szpital";
        QTest::newRow("Polish letters kept") << "Zasilanie-główne"
                                             << "Zasilanie-główne";
        QTest::newRow("slash") << "hala/2"
                               << "hala_2";
        QTest::newRow("wildcards") << "a+b#"
                                   << "a_b_";
        QTest::newRow("space") << "hala 2"
                               << "hala_2";
        QTest::newRow("empty") << ""
                               << "_";
    }
    void topics() {
        QFETCH(QString, name);
        QFETCH(QString, level);
        QCOMPARE(topicLevel(name), level);
        QCOMPARE(topic(QStringLiteral("qta504"), name, "state"),
                 QStringLiteral("qta504/") + level + QStringLiteral("/state"));
    }

    void isoTimeHasOffset() {
        const QDateTime t(QDate(2026, 12, 11), QTime(4, 5, 6, 123), Qt::UTC);
        QCOMPARE(isoTime(t), QStringLiteral("2026-12-11T04:05:06.123+00:00"));
        QCOMPARE(isoTime(t.toOffsetFromUtc(3600)), QStringLiteral("2026-12-11T05:05:06.123+01:00"));
        QVERIFY(QRegularExpression(QStringLiteral(R"([+-]\d\d:\d\d$)"))
                    .match(isoTime(QDateTime::currentDateTime()))
                    .hasMatch());
    }

    void state() {
        const TSource source{QStringLiteral("szr_qta504_A"), QStringLiteral("QTA1v2")};
        TStateSnapshot s;
        s.program = 1;
        s.activeLine = 2;
        s.voltages = {231, 232, 233, 0, 0, 0, 240, 241, 242};
        s.lineStates = {3, 0, 1};
        s.faults = 0x81;
        s.link = true;
        s.time = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
        const QJsonObject o = parse(stateJson(source, s));
        QCOMPARE(o["controller_id"].toString(), source.controllerId);
        QCOMPARE(o["identifier"].toString(), source.identifier);
        QCOMPARE(o["link"].toString(), QStringLiteral("connected"));
        QCOMPARE(o["time"].toString(), QStringLiteral("2026-01-02T03:04:05.000+00:00"));
        QCOMPARE(o["program"].toObject()["code"].toInt(), 1);
        QCOMPARE(o["program"].toObject()["text"].toString(), QStringLiteral("N1 + N2 + N3"));
        QCOMPARE(o["active_line"].toObject()["text"].toString(),
                 QStringLiteral("Aktywna linia N2"));
        const QJsonArray lines = o["lines"].toArray();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[2].toObject()["voltages"].toArray()[1].toInt(), 241);
        QCOMPARE(lines[0].toObject()["state_text"].toString(), QStringLiteral("Linia Dobra"));
        QCOMPARE(lines[1].toObject()["state_text"].toString(), QStringLiteral("Linia zła"));
        QCOMPARE(o["faults"].toObject()["bits"].toInt(), 0x81);
        QCOMPARE(o["faults"].toObject()["texts"].toArray().toVariantList(),
                 (QVariantList{QStringLiteral("Brak napięcia na linii wyjściowej"),
                               QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa")}));
        s.link = false;
        s.faults = 0;
        const QJsonObject lost = parse(stateJson(source, s));
        QCOMPARE(lost["link"].toString(), QStringLiteral("lost"));
        QVERIFY(lost["faults"].toObject()["texts"].toArray().isEmpty());
    }

    void eventAndAlarmRows() {
        TEventSnapshot e;
        e.row = 7;
        e.indeks = 499;
        e.date = QStringLiteral("2026-03-07 ");
        e.time = QStringLiteral("09:05");
        e.text = QStringLiteral("Załączenie linii N2");
        e.lineStates = {QStringLiteral("Linia Dobra"), QStringLiteral("Linia zła"), QString()};
        e.active = QStringLiteral("Aktywna linia N2");
        const TSource source{QStringLiteral("szr_qta504_A"), QStringLiteral("QTA1v2")};
        const QJsonObject ev = parse(eventJson(source, e));
        QCOMPARE(ev["controller_id"].toString(), source.controllerId);
        QCOMPARE(ev["identifier"].toString(), source.identifier);
        QCOMPARE(ev["indeks"].toInt(), 499);
        QCOMPARE(ev["row"].toInt(), 7);
        QCOMPARE(ev["date"].toString(), QStringLiteral("2026-03-07"));
        QCOMPARE(ev["text"].toString(), e.text);
        QCOMPARE(ev["lines"].toArray()[1].toObject()["state"].toString(),
                 QStringLiteral("Linia zła"));
        QCOMPARE(ev["program"].toString(), QString());

        TAlarmJournalRow r{QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC),
                           QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa"),
                           QStringLiteral("wysoki"),
                           QStringLiteral("Potwierdzony"),
                           QStringLiteral("dyżurny"),
                           QStringLiteral("sprawdzone")};
        const QJsonObject al = parse(alarmJson(source, 3, r));
        QCOMPARE(al["controller_id"].toString(), source.controllerId);
        QCOMPARE(al["row"].toInt(), 3);
        QCOMPARE(al["state"].toString(), QStringLiteral("Potwierdzony"));
        QCOMPARE(al["user"].toString(), QStringLiteral("dyżurny"));
        QCOMPARE(al["time"].toString(), QStringLiteral("2026-01-02T03:04:05.000+00:00"));
        r.czas = {};
        QVERIFY(parse(alarmJson({}, 0, r))["time"].isNull());
    }

    // "on" is what a binary sensor shows: an active condition, or a transfer
    // notification not yet acknowledged; a cleared alarm waiting for
    // acknowledgement is listed but off.
    void alarmList() {
        TAlarm breaker;
        breaker.key = QStringLiteral("awaria7");
        breaker.kind = AlarmKind::SafetyBreaker;
        breaker.priority = AlarmPriority::High;
        breaker.state = AlarmState::ActiveUnacked;
        breaker.raised = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
        TAlarm line = breaker;
        line.key = QStringLiteral("linia2");
        line.kind = AlarmKind::LineBad;
        line.state = AlarmState::ClearedUnacked;
        line.cleared = breaker.raised.addSecs(10);
        TAlarm transfer = breaker;
        transfer.key = QStringLiteral("przelaczenie");
        transfer.kind = AlarmKind::Transfer;
        transfer.state = AlarmState::ClearedUnacked;
        const QJsonObject o =
            parse(alarmsJson({QStringLiteral("szr_qta504_A"), QStringLiteral("X")},
                             {breaker, line, transfer}, breaker.raised));
        QCOMPARE(o["controller_id"].toString(), QStringLiteral("szr_qta504_A"));
        const QJsonArray a = o["alarms"].toArray();
        QCOMPARE(a.size(), 3);
        QCOMPARE(a[0].toObject()["kind"].toString(), QStringLiteral("WylacznikBezpieczenstwa"));
        QCOMPARE(a[0].toObject()["priority"].toString(), QStringLiteral("wysoki"));
        QCOMPARE(a[0].toObject()["on"].toBool(), true);
        QCOMPARE(a[1].toObject()["on"].toBool(), false);
        QCOMPARE(a[1].toObject()["unacknowledged"].toBool(), true);
        QCOMPARE(a[1].toObject()["cleared"].toString(),
                 QStringLiteral("2026-01-02T03:04:15.000+00:00"));
        QCOMPARE(a[2].toObject()["on"].toBool(), true);
        QVERIFY(a[0].toObject()["shelved_until"].isNull());
        // The summary counts what waits, shelved alarms not, as the windows do.
        QCOMPARE(o["summary"].toObject(),
                 (QJsonObject{{"unacknowledged", 3}, {"highest_priority", "wysoki"}}));
        breaker.shelvedUntil = breaker.raised.addSecs(3600);
        line.priority = transfer.priority = AlarmPriority::Medium;
        QCOMPARE(parse(alarmsJson({}, {breaker, line, transfer}, breaker.raised))["summary"],
                 (QJsonObject{{"unacknowledged", 2}, {"highest_priority", "średni"}}));
        QCOMPARE(parse(alarmsJson({}, {}, breaker.raised))["summary"],
                 (QJsonObject{{"unacknowledged", 0}, {"highest_priority", QJsonValue()}}));
    }

    // A controller's identity: readable, and never shared by two prefixes
    // and keys. Polish letters are transliterated and then a digest of the
    // exact text follows, so names differing in one letter stay apart; the
    // ids are pinned, since Home Assistant keeps its entities under them.
    void controllerIds() {
        const struct {
            const char* prefix;
            const char* key;
            const char* id;
        } cases[] = {
            {"qta504", "N1-szpital", "szr_qta504_N1-szpital"},
            {"qta504", "N1_szpital", "szr_qta504_N1_szpital"},
            {"qta504", "N1 szpital", "szr_qta504_N1_szpital_f5f5be50"},
            {"qta504", "Kotlownia", "szr_qta504_Kotlownia"},
            {"qta504", "Kotłownia", "szr_qta504_Kotlownia_044866e7"},
            {"qta504", "Kotłownia ", "szr_qta504_Kotlownia__ed92be79"},
            // A key written like a transliterated one with its digest.
            {"qta504", "Kotlownia_044866e7", "szr_qta504_Kotlownia_044866e7_2469d513"},
            {"qta504", "Laka", "szr_qta504_Laka"},
            {"qta504", "Łaka", "szr_qta504_Laka_2eac03dd"},
            {"qta504", "Łąka", "szr_qta504_Laka_54fcdb1d"},
            {"qta504", "Zażółć gęślą jaźń", "szr_qta504_Zazolc_gesla_jazn_c72361b0"},
            {"qta504", "Café", "szr_qta504_Cafe_5d6ee033"},
            {"qta504", "hala/2", "szr_qta504_hala_2_03c8e117"},
            // Two collectors under other prefixes, the same names.
            {"site2", "N1-szpital", "szr_site2_N1-szpital"},
            {"zaklad/qta504", "N1", "szr_zaklad_qta504_N1_029ba433"},
            {"a_b", "c", "szr_a_b_c_66554cd3"},
            {"a", "b_c", "szr_a_b_c"},
        };
        QSet<QString> seen;
        static const QRegularExpression nodeId(QStringLiteral("^[A-Za-z0-9_-]+$"));
        for (const auto& c : cases) {
            const QString id = controllerId(QString::fromUtf8(c.prefix), QString::fromUtf8(c.key));
            QCOMPARE(id, QString::fromUtf8(c.id));
            QVERIFY(nodeId.match(id).hasMatch());
            QVERIFY2(!seen.contains(id), c.key);
            seen.insert(id);
        }
    }

    // Every discovery record: retained topics of the Home Assistant layout,
    // one device named after the controller's identity (the firmware only
    // its sw_version), and templates that find their value in the state
    // this program publishes.
    void discovery() {
        const QString node = controllerId(QStringLiteral("qta504"), QStringLiteral("N1 szpital"));
        const QList<TMessage> msgs =
            discoveryMessages(QStringLiteral("qta504"), QStringLiteral("N1 szpital"),
                              QStringLiteral("N1 szpital"), QStringLiteral("QTA1v2"));
        QCOMPARE(msgs.size(), 9 + 2 + int(alarmKinds().size()));
        TStateSnapshot s;
        s.voltages = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        s.program = 2;
        s.activeLine = 1;
        s.time = QDateTime::currentDateTime();
        const QJsonObject state = parse(stateJson({}, s));
        QMap<QString, QJsonObject> byObject;
        const QRegularExpression shape(QStringLiteral(R"(^homeassistant/(sensor|binary_sensor)/)") +
                                       node + QStringLiteral(R"(/([a-z0-9_]+)/config$)"));
        for (const TMessage& m : msgs) {
            const auto match = shape.match(m.topic);
            QVERIFY2(match.hasMatch(), qPrintable(m.topic));
            const QJsonObject c = parse(m.payload);
            QVERIFY2(!byObject.contains(match.captured(2)), qPrintable(m.topic));
            byObject[match.captured(2)] = c;
            const QJsonObject device = c["device"].toObject();
            QCOMPARE(device["identifiers"].toArray(), QJsonArray{node});
            QCOMPARE(device["sw_version"].toString(), QStringLiteral("QTA1v2"));
            QCOMPARE(device["name"].toString(), QStringLiteral("SZR N1 szpital"));
            QCOMPARE(c["availability_topic"].toString(),
                     QStringLiteral("qta504/N1_szpital/availability"));
            QCOMPARE(c["unique_id"].toString(), node + u'_' + match.captured(2));
        }
        for (int n = 1; n <= 3; ++n)
            for (int k = 1; k <= 3; ++k) {
                const QJsonObject c = byObject.value(QStringLiteral("n%1_l%2").arg(n).arg(k));
                QCOMPARE(c["device_class"].toString(), QStringLiteral("voltage"));
                QCOMPARE(c["unit_of_measurement"].toString(), QStringLiteral("V"));
                QCOMPARE(c["state_topic"].toString(), QStringLiteral("qta504/N1_szpital/state"));
                QCOMPARE(evaluate(c["value_template"].toString(), state).toInt(), (n - 1) * 3 + k);
            }
        QCOMPARE(evaluate(byObject["program"]["value_template"].toString(), state).toString(),
                 QStringLiteral("N1 + N2 + G"));
        QCOMPARE(evaluate(byObject["aktywna_linia"]["value_template"].toString(), state).toString(),
                 QStringLiteral("Aktywna linia N1"));
        for (const TAlarmKindInfo& k : alarmKinds()) {
            const QJsonObject c = byObject.value(QString::fromLatin1(k.settingsKey).toLower());
            QCOMPARE(c["state_topic"].toString(), QStringLiteral("qta504/N1_szpital/alarms"));
            QVERIFY(c["value_template"].toString().contains(
                QStringLiteral("'%1'").arg(QLatin1String(k.settingsKey))));
        }
    }

    // Controllers with one firmware, or one name under two prefixes, are
    // apart in every discovery topic, unique_id and device; a configured Id=
    // names the device while the topics keep the name. Of the records
    // earlier versions published, which are removed, none is one of these.
    void discoveryOfMany() {
        const QString fw = QStringLiteral("QTA1v2");
        const QList<QList<TMessage>> devices{
            discoveryMessages(QStringLiteral("qta504"), QStringLiteral("A"), QStringLiteral("A"),
                              fw),
            discoveryMessages(QStringLiteral("qta504"), QStringLiteral("B"), QStringLiteral("B"),
                              fw),
            discoveryMessages(QStringLiteral("site2"), QStringLiteral("A"), QStringLiteral("A"),
                              fw),
            discoveryMessages(QStringLiteral("qta504"), QStringLiteral("C"),
                              QStringLiteral("kotlownia-1"), fw),
        };
        QSet<QString> topics, uniqueIds, deviceIds;
        for (const QList<TMessage>& d : devices) {
            const QJsonValue device = parse(d.first().payload)["device"].toObject()["identifiers"];
            QVERIFY(!deviceIds.contains(device.toArray().first().toString()));
            deviceIds.insert(device.toArray().first().toString());
            for (const TMessage& m : d) {
                QVERIFY2(!topics.contains(m.topic), qPrintable(m.topic));
                topics.insert(m.topic);
                const QString id = parse(m.payload)["unique_id"].toString();
                QVERIFY2(!uniqueIds.contains(id), qPrintable(id));
                uniqueIds.insert(id);
            }
        }
        const QJsonObject withId = parse(devices[3].first().payload);
        QCOMPARE(withId["device"].toObject()["identifiers"].toArray(),
                 QJsonArray{"szr_qta504_kotlownia-1"});
        QCOMPARE(withId["state_topic"].toString(), QStringLiteral("qta504/C/state"));

        const QStringList former = formerDiscoveryTopics(QStringLiteral("Kotłownia"));
        QCOMPARE(former.size(), devices[0].size());
        QVERIFY(
            former.contains(QStringLiteral("homeassistant/sensor/qta504_kot_ownia/n1_l1/config")));
        QVERIFY(former.contains(
            QStringLiteral("homeassistant/binary_sensor/qta504_kot_ownia/wylacznikbezpieczenstwa/"
                           "config")));
        for (const QString& name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
            for (const QString& t : formerDiscoveryTopics(name))
                QVERIFY2(!topics.contains(t), qPrintable(t));
    }

    void settings_data() {
        QTest::addColumn<QStringList>("keys"); // KEY=VALUE
        QTest::addColumn<int>("passwordMode"); // octal; 0: no file
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("error"); // a part of the first error; empty: none
        QTest::newRow("no Host") << QStringList{"Port=1"} << 0 << false << "";
        QTest::newRow("defaults") << QStringList{"Host=broker"} << 0 << true << "";
        QTest::newRow("port out of range")
            << QStringList{"Host=b", "Port=70000"} << 0 << false << "Port=70000";
        QTest::newRow("password 0600")
            << QStringList{"Host=b", "User=u", "PasswordFile=pw"} << 0600 << true << "";
        QTest::newRow("password 0400")
            << QStringList{"Host=b", "User=u", "PasswordFile=pw"} << 0400 << true << "";
        QTest::newRow("password readable by group")
            << QStringList{"Host=b", "User=u", "PasswordFile=pw"} << 0640 << false << "mogą czytać";
        QTest::newRow("password readable by all")
            << QStringList{"Host=b", "User=u", "PasswordFile=pw"} << 0644 << false << "0644";
        QTest::newRow("password file missing")
            << QStringList{"Host=b", "User=u", "PasswordFile=none"} << 0 << false << "brak pliku";
        QTest::newRow("certificate without key")
            << QStringList{"Host=b", "CaFile=pw", "CertFile=pw"} << 0600 << false << "razem";
        QTest::newRow("wildcard prefix")
            << QStringList{"Host=b", "Prefix=a/#"} << 0 << false << "Prefix";
        QTest::newRow("acknowledgement on")
            << QStringList{"Host=b", "Potwierdzanie=tak"} << 0 << true << "";
        QTest::newRow("acknowledgement off")
            << QStringList{"Host=b", "Potwierdzanie=nie"} << 0 << true << "";
        QTest::newRow("acknowledgement unclear")
            << QStringList{"Host=b", "Potwierdzanie=1"} << 0 << false << "tak lub nie";
    }
    void settings() {
        QFETCH(QStringList, keys);
        QFETCH(int, passwordMode);
        QFETCH(bool, enabled);
        QFETCH(QString, error);
        QTemporaryDir dir;
        if (passwordMode) {
            writeFile(dir.filePath("pw"), "sekret \n", QFile::ReadOwner | QFile::WriteOwner);
            QVERIFY(QFile::setPermissions(dir.filePath("pw"), QFile::Permissions()));
            QCOMPARE(
                ::chmod(QFile::encodeName(dir.filePath("pw")).constData(), mode_t(passwordMode)),
                0);
        }
        QMap<QString, QString> map;
        for (const QString& k : keys)
            map.insert(k.section(u'=', 0, 0), k.section(u'=', 1));
        QStringList errors;
        const TMqttSettings s = mqttSettings(
            [&](const char* key) { return map.value(QLatin1String(key)); }, dir.path(), errors);
        QCOMPARE(s.enabled(), enabled);
        if (error.isEmpty()) {
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
        } else {
            QVERIFY(!errors.isEmpty());
            QVERIFY2(errors.first().contains(error), qPrintable(errors.first()));
            // The secret is never in a message.
            QVERIFY(!errors.join(u' ').contains(QStringLiteral("sekret")));
        }
        if (enabled && keys.size() == 1) {
            QCOMPARE(s.port, 1883);
            QCOMPARE(s.keepAlive, 30);
            QCOMPARE(s.prefix, QStringLiteral("qta504"));
            QVERIFY(s.clientId.startsWith(QStringLiteral("qta504d-")));
            QVERIFY(!s.tls());
        }
        QCOMPARE(s.acknowledge, map.value(QStringLiteral("Potwierdzanie")) == u"tak");
        if (enabled && map.contains(QStringLiteral("PasswordFile")))
            QCOMPARE(s.password, QStringLiteral("sekret ")); // the first line, as written
    }

    // The desktop program's settings file: the section among others, files
    // beside it, its own client id and the name in the topics.
    void settingsFromTheDesktopFile() {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("ustawienia.ini"));
        QString name, id;
        QStringList errors;
        QVERIFY(!loadMqttSettings(ini, QStringLiteral("qta504-pc"), name, id, errors).enabled());
        QVERIFY(errors.isEmpty()); // no file: off, nothing to say
        writeFile(dir.filePath(QStringLiteral("mqtt.pw")), "sekret\n",
                  QFile::ReadOwner | QFile::WriteOwner);
        writeFile(ini,
                  "[ComPort]\r\nPort=/dev/ttyS0\r\n[mqtt]\r\nHost=broker.lan\r\n"
                  "PasswordFile=mqtt.pw\r\nNazwa=Hala 2\r\nId=hala-2\r\n[Alarmy]\r\nDzwiek=1\r\n",
                  QFile::ReadOwner | QFile::WriteOwner);
        const TMqttSettings s =
            loadMqttSettings(ini, QStringLiteral("qta504-pc"), name, id, errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
        QVERIFY(s.enabled());
        QCOMPARE(s.host, QStringLiteral("broker.lan"));
        QCOMPARE(s.password, QStringLiteral("sekret"));
        QCOMPARE(s.clientId, QStringLiteral("qta504-pc"));
        QCOMPARE(name, QStringLiteral("Hala 2"));
        QCOMPARE(id, QStringLiteral("hala-2"));
        writeFile(ini, "[mqtt]\nHost=broker.lan\nPort=0\n", QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!loadMqttSettings(ini, QStringLiteral("qta504-pc"), name, id, errors).enabled());
        QVERIFY(errors.join(u' ').contains(QStringLiteral("Port=0")));
        QVERIFY(id.isEmpty());
        QVERIFY(!name.isEmpty()); // the computer's name when Nazwa= is absent
        // A file that is there but cannot be read: off, and said.
        const QString folder = dir.filePath(QStringLiteral("folder.ini"));
        QVERIFY(QDir().mkdir(folder));
        errors.clear();
        QVERIFY(!loadMqttSettings(folder, QStringLiteral("qta504-pc"), name, id, errors).enabled());
        QCOMPARE(errors, QStringList{QStringLiteral("[mqtt]: nie można odczytać pliku %1: to "
                                                    "folder, a nie plik")
                                         .arg(folder)});
    }

    void replayPosition() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mqtt.ini"));
        QCOMPARE(readReplayPosition(path), TReplayPosition{});
        const TReplayPosition p{QStringLiteral("QTA1v2"), 512, 11, 7, QStringLiteral("0a1b2c3d")};
        QVERIFY(writeReplayPosition(path, p));
        QCOMPARE(readReplayPosition(path), p);
        QVERIFY(
            writeReplayPosition(path, TReplayPosition{QStringLiteral("QTA1v2"), 513, 12, 7, {}}));
        QCOMPARE(readReplayPosition(path).eventRows, 513);
    }

    // A position is kept only for the tables it was taken from: a table
    // shorter than it, or whose last acknowledged row is another one (a
    // folder restored from a backup, a journal replaced by hand), is
    // published again from its first row.
    void replayPositionCheckedAgainstTheTables_data() {
        QTest::addColumn<int>("eventRows");
        QTest::addColumn<int>("lastIndeks");
        QTest::addColumn<int>("alarmRows");
        QTest::addColumn<int>("keyOfRow"); // -1: no key in the file
        QTest::addColumn<int>("keptEvents");
        QTest::addColumn<int>("keptAlarms");
        QTest::newRow("the same tables") << 3 << 12 << 2 << 1 << 3 << 2;
        QTest::newRow("part acknowledged") << 2 << 11 << 1 << 0 << 2 << 1;
        QTest::newRow("event log shorter") << 4 << 13 << 2 << 1 << 0 << 2;
        QTest::newRow("another event at the row") << 3 << 7 << 2 << 1 << 0 << 2;
        QTest::newRow("journal shorter") << 3 << 12 << 3 << 1 << 3 << 0;
        QTest::newRow("another journal row there") << 3 << 12 << 2 << 0 << 3 << 0;
        QTest::newRow("no row key: the count holds") << 3 << 12 << 2 << -1 << 3 << 2;
    }
    void replayPositionCheckedAgainstTheTables() {
        QFETCH(int, eventRows);
        QFETCH(int, lastIndeks);
        QFETCH(int, alarmRows);
        QFETCH(int, keyOfRow);
        QFETCH(int, keptEvents);
        QFETCH(int, keptAlarms);
        QTemporaryDir dir;
        const QString rejestr = dir.filePath(QStringLiteral("rejestr"));
        QVERIFY(QDir().mkpath(rejestr));
        TTable::createPair(rejestr + QStringLiteral("/rejestr.dbf"),
                           rejestr + QStringLiteral("/linia.dbf"),
                           rejestr + QStringLiteral("/alarmy.dbf"));
        {
            TTable t(rejestr + QStringLiteral("/rejestr.dbf"));
            t.Open();
            for (int indeks : {10, 11, 12}) {
                t.Append();
                t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(indeks);
                t.FieldByName(QStringLiteral("ZDARZENIE")).setAsString(QStringLiteral("Zdarzenie"));
                t.Post();
            }
        }
        const QDateTime at(QDate(2026, 12, 1), QTime(8, 0));
        const std::vector<TAlarmJournalRow> journal{{at,
                                                     QStringLiteral("Zanik napięcia N1"),
                                                     QStringLiteral("wysoki"),
                                                     QStringLiteral("Wystąpił"),
                                                     {},
                                                     {}},
                                                    {at.addSecs(30),
                                                     QStringLiteral("Zanik napięcia N1"),
                                                     QStringLiteral("wysoki"),
                                                     QStringLiteral("Ustąpił"),
                                                     {},
                                                     {}}};
        QString key;
        {
            TAlarmJournal j(rejestr + QStringLiteral("/alarmy.dbf"));
            j.open();
            for (const TAlarmJournalRow& r : journal)
                j.append(r);
            if (keyOfRow >= 0)
                key = alarmRowKey(j.readAll().at(size_t(keyOfRow))); // as the table holds it
        }
        QVERIFY(
            writeReplayPosition(rejestr + QStringLiteral("/mqtt.ini"),
                                {QStringLiteral("QTA1"), eventRows, lastIndeks, alarmRows, key}));

        TNullView view;
        TQTA504Core core(&view);
        core.setDataFolder(dir.path());
        core.openTables();
        TMqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = 1; // nobody listens: the position is read, nothing sent
        QStringList log;
        TControllerPublisher publisher(core, QStringLiteral("A"), {}, settings,
                                       [&](int, const QString& text) { log << text; });
        publisher.start();
        QCOMPARE(publisher.position().eventRows, keptEvents);
        QCOMPARE(publisher.position().alarmRows, keptAlarms);
        if (keptEvents == eventRows && keptAlarms == alarmRows)
            QVERIFY2(!log.join(u'\n').contains(QStringLiteral("od początku")),
                     qPrintable(log.join(u'\n')));
        else
            QVERIFY2(log.join(u'\n').contains(QStringLiteral("od początku")),
                     qPrintable(log.join(u'\n')));
        publisher.stop();
        core.closeAll();
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
