// Acknowledging alarms over MQTT (Potwierdzanie=tak). Without a broker: the
// discovery button and count sensor, the request as a table of payloads,
// the receiver against a real engine and journal. Then the real qta504d
// against qta504-sim and a mosquitto with a password file and an ACL that
// lets only the dashboard's user publish to …/alarm/ack. The dashboard
// acknowledges one alarm and then all of the controller (journal rows
// "NAME (mqtt)" with the remark); a user without the right is refused by the
// broker and nothing is journaled; a malformed payload is said once; a
// remark the journal cannot hold acknowledges nothing; a repeated request
// acknowledges nothing twice; a retained request met at a reconnection is
// ignored. Discovery carries the button and the count sensor.
#include "alarms/alarmengine.h"
#include "alarms/alarmjournal.h"
#include "collectorproc.h"
#include "mosquittoproc.h"
#include "mqtt/mqttack.h"
#include "mqtt/mqttpayload.h"
#include "simprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace qta;
using namespace qta::mqtt;
using namespace qta::test;

namespace {

constexpr int kLong = 60000;
const QString kAck = QStringLiteral("qta504/A/alarm/ack");

QJsonObject json(const QByteArray& s) { return QJsonDocument::fromJson(s).object(); }
QJsonObject json(const QString& s) { return json(s.toUtf8()); }

// The journal's rows as "STAN|KTO|UWAGI", and the acknowledgements alone.
QStringList rows(const QString& folder, bool acknowledgements = false) {
    qta::TAlarmJournal j(folder + QStringLiteral("/rejestr/alarmy.dbf"));
    QStringList out;
    try {
        j.openReadOnly();
        for (const qta::TAlarmJournalRow& r : j.readAll())
            if (!acknowledgements || r.stan == QStringLiteral("Potwierdzony"))
                out << r.alarm + u'|' + r.stan + u'|' + r.kto + u'|' + r.uwagi;
    } catch (const std::exception&) {
    }
    return out;
}

} // namespace

class TestMqttAck : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    // With acknowledgement on: a button whose press is a request the
    // collector takes, and a sensor reading the list's summary; off: the
    // same topics emptied, so that an earlier button goes away. None of
    // them is a topic of the other records.
    void acknowledgeDiscovery() {
        const QString node = controllerId(QStringLiteral("qta504"), QStringLiteral("A"));
        const QList<TMessage> on = mqtt::acknowledgeDiscovery(
            QStringLiteral("qta504"), QStringLiteral("A"), QStringLiteral("A"), "QTA1v2", true);
        QCOMPARE(on.size(), 2);
        QCOMPARE(on[0].topic, "homeassistant/button/" + node + "/potwierdz_wszystkie/config");
        QCOMPARE(on[1].topic, "homeassistant/sensor/" + node + "/niepotwierdzone/config");
        const QJsonObject button = json(on[0].payload), sensor = json(on[1].payload);
        QCOMPARE(button["command_topic"].toString(), QStringLiteral("qta504/A/alarm/ack"));
        QCOMPARE(button["name"].toString(), QStringLiteral("Potwierdź wszystkie alarmy"));
        QCOMPARE(button["retain"].toBool(true), false);
        QString error;
        const auto press = parseAckRequest(button["payload_press"].toString().toUtf8(), error);
        QVERIFY2(press && press->all(), qPrintable(error));
        QCOMPARE(button["device"].toObject()["identifiers"].toArray(), QJsonArray{node});
        TAlarm a;
        a.state = AlarmState::ActiveUnacked;
        const QJsonObject list = json(alarmsJson({}, {a, a}, QDateTime::currentDateTime()));
        QCOMPARE(sensor["state_topic"].toString(), QStringLiteral("qta504/A/alarms"));
        QCOMPARE(sensor["value_template"].toString(),
                 QStringLiteral("{{ value_json.summary.unacknowledged }}"));
        QCOMPARE(list["summary"].toObject()["unacknowledged"].toInt(), 2);
        QCOMPARE(sensor["json_attributes_template"].toString(),
                 QStringLiteral("{{ value_json.summary | tojson }}"));
        QCOMPARE(sensor["unique_id"].toString(), node + QStringLiteral("_niepotwierdzone"));

        const QList<TMessage> off = mqtt::acknowledgeDiscovery(
            QStringLiteral("qta504"), QStringLiteral("A"), QStringLiteral("A"), "QTA1v2", false);
        QCOMPARE(off.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(off[i].topic, on[i].topic);
            QVERIFY(off[i].payload.isEmpty());
        }
        QStringList others = formerDiscoveryTopics(QStringLiteral("A"));
        for (const TMessage& m : discoveryMessages("qta504", "A", "A", "QTA1v2"))
            others << m.topic;
        for (const TMessage& m : on)
            QVERIFY(!others.contains(m.topic));
    }

    void ackRequests_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("alarm"); // empty: refused
        QTest::addColumn<QString>("who");
        QTest::addColumn<QString>("remark");
        QTest::addColumn<QString>("error"); // a part of the reason
        QTest::newRow("one alarm") << QByteArray(R"({"alarm":"awaria7","kto":"jan"})") << "awaria7"
                                   << "jan"
                                   << ""
                                   << "";
        QTest::newRow("all, with a remark")
            << QByteArray(R"({"alarm":"all","kto":"  Jan   Kowalski ","uwagi":"wymiana"})") << "all"
            << "Jan Kowalski"
            << "wymiana"
            << "";
        QTest::newRow("remark null, other fields ignored")
            << QByteArray(R"({"alarm":"linia2","kto":"ola","uwagi":null,"x":1})") << "linia2"
            << "ola"
            << ""
            << "";
        QTest::newRow("not JSON") << QByteArray("potwierdz") << ""
                                  << ""
                                  << ""
                                  << "nie jest obiekt JSON";
        QTest::newRow("an array") << QByteArray(R"(["all"])") << ""
                                  << ""
                                  << ""
                                  << "nie jest obiekt JSON";
        QTest::newRow("no alarm") << QByteArray(R"({"kto":"jan"})") << ""
                                  << ""
                                  << ""
                                  << "„alarm”";
        QTest::newRow("alarm a number") << QByteArray(R"({"alarm":7,"kto":"jan"})") << ""
                                        << ""
                                        << ""
                                        << "„alarm”";
        QTest::newRow("no one") << QByteArray(R"({"alarm":"all","kto":"   "})") << ""
                                << ""
                                << ""
                                << "„kto”";
        QTest::newRow("a control character in the name")
            << QByteArray(R"({"alarm":"all","kto":"jan\u0007x"})") << ""
            << ""
            << ""
            << "„kto”";
        QTest::newRow("remark a number")
            << QByteArray(R"({"alarm":"all","kto":"jan","uwagi":5})") << ""
            << ""
            << ""
            << "„uwagi”";
        QTest::newRow("too long") << QByteArray(R"({"alarm":"all","kto":"jan","uwagi":")") +
                                         QByteArray(3000, 'x') + QByteArray(R"("})")
                                  << ""
                                  << ""
                                  << ""
                                  << "najwyżej 2048";
    }
    void ackRequests() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, alarm);
        QFETCH(QString, who);
        QFETCH(QString, remark);
        QFETCH(QString, error);
        QString why;
        const std::optional<TAckRequest> r = parseAckRequest(payload, why);
        if (alarm.isEmpty()) {
            QVERIFY(!r);
            QVERIFY2(why.contains(error), qPrintable(why));
        } else {
            QVERIFY2(r, qPrintable(why));
            QCOMPARE(*r, (TAckRequest{alarm, who, remark}));
        }
    }

    // The receiver against a real engine and journal: what is acknowledged
    // and in whose name, and what is not (a retained message, the same
    // payload again, a remark the journal cannot hold, malformed payloads,
    // said at most once a minute).
    void ackReceiver() {
        QTemporaryDir dir;
        TAlarmJournal journal(dir.filePath(QStringLiteral("alarmy.dbf")));
        journal.open();
        TAlarmEngine engine;
        TAlarmSettings settings;
        settings.flickerSeconds = 0;
        engine.setSettings(settings);
        engine.setJournal(&journal);
        QStringList log;
        TAckReceiver receiver(
            engine, QStringLiteral("qta504/A/alarm/ack"),
            [&](int level, const QString& t) { log << QString::number(level) + ' ' + t; });
        const auto acks = [&] {
            QStringList out;
            for (const TAlarmJournalRow& r : journal.readAll())
                if (r.stan == QStringLiteral("Potwierdzony"))
                    out << r.alarm + '|' + r.kto + '|' + r.uwagi;
            return out;
        };
        engine.status(0x84, 1, 1, {3, 3, 3}); // breaker and generator
        const QByteArray all = R"({"alarm":"all","kto":"jan","uwagi":"sprawdzone"})";

        receiver.receive(all, true, 0); // retained: nothing
        QCOMPARE(acks(), QStringList());
        QVERIFY(log.constLast().contains(QStringLiteral("retained")));
        receiver.receive(R"({"alarm":"awaria7","kto":"ola","uwagi":"zasilanie → N2"})", false, 0);
        QCOMPARE(acks(), QStringList());
        QVERIFY(log.constLast().startsWith(QStringLiteral("4 ")));
        QVERIFY(log.constLast().contains(QStringLiteral("Windows-1250")));
        receiver.receive(R"({"alarm":"awaria7","kto":"ola"})", false, 100);
        QCOMPARE(acks(), QStringList{"Zadziałanie wyłącznika bezpieczeństwa|ola (mqtt)|"});
        receiver.receive(R"({"alarm":"awaria7","kto":"ola","uwagi":"znowu"})", false, 200);
        QVERIFY(log.constLast().contains(QStringLiteral("nie czeka")));

        // The same request twice: a repeated delivery, even with a new alarm between.
        receiver.receive(all, false, 1000);
        QCOMPARE(acks().size(), 2);
        QCOMPARE(acks().constLast(), QStringLiteral("Załączenie generatora|jan (mqtt)|sprawdzone"));
        engine.status(0x80 | 0x01, 1, 1, {3, 3, 3}); // the output alarm too
        receiver.receive(all, false, 1000 + TAckReceiver::kRepeatMs - 1);
        QCOMPARE(acks().size(), 2);
        QVERIFY(log.constLast().contains(QStringLiteral("powtórzone")));
        receiver.receive(all, false, 1000 + TAckReceiver::kRepeatMs);
        QCOMPARE(acks().size(), 3);
        QCOMPARE(engine.unacknowledgedCount(), 0);

        // Malformed: said once a minute, with how many went unsaid.
        const int before = int(log.size());
        for (int i = 0; i < 5; ++i)
            receiver.receive("{", false, 20000 + i);
        QCOMPARE(log.size(), before + 1);
        QVERIFY(
            log.constLast().contains(QStringLiteral("odrzucono wiadomość z qta504/A/alarm/ack")));
        receiver.receive("[]", false, 20000 + TAckReceiver::kMalformedQuietMs);
        QCOMPARE(log.size(), before + 2);
        QVERIFY(log.constLast().contains(QStringLiteral("jeszcze 4")));
    }

    // The collector against a broker whose ACL lets the dashboard alone
    // publish requests.
    void acknowledgedFromTheDashboardOnly() {
        Mosquitto broker(
            dir_->path(),
            {"coll:Haslo-kolektora", "ha:Haslo-pulpitu", "obcy:Haslo-obcego", "sub:Haslo-odbiorcy"},
            {},
            "user coll\ntopic readwrite qta504/#\ntopic readwrite homeassistant/#\n\n"
            "user ha\ntopic read qta504/#\ntopic read homeassistant/#\n"
            "topic write qta504/+/alarm/ack\n\n"
            "user obcy\ntopic read qta504/#\n\n"
            "user sub\ntopic read qta504/#\ntopic read homeassistant/#\n");
        QVERIFY(broker.start());
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy",
                       {"qta504/#", "homeassistant/#"});
        SimProcess sim(path("qta"), path("sim.log"), {"--period", "500", "--id", "ACK01"});
        QVERIFY(sim.ready());
        writeSecret(path("collector.pw"), "Haslo-kolektora\n");
        QFile f(path("collector.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[collector]\nDataRoot=" + path("data").toUtf8() +
                "\n[mqtt]\nHost=127.0.0.1\nPort=" + QByteArray::number(broker.port()) +
                "\nClientId=tst\nUser=coll\nPasswordFile=collector.pw\nPotwierdzanie=tak\n"
                "[A]\nPort=" +
                sim.link().toUtf8() + "\n");
        f.close();
        const QString folder = path("data/A");
        const auto ha = [&](const QByteArray& payload, bool retain = false) {
            return publishAs(dir_->path(), broker.port(), "ha", "Haslo-pulpitu", kAck, payload,
                             retain);
        };
        auto coll = std::make_unique<Collector>(f.fileName());

        // Discovery: the button publishes a request to the ack topic.
        const QString button =
            QStringLiteral("homeassistant/button/szr_qta504_A/potwierdz_wszystkie/config");
        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads(button).isEmpty(), kLong);
        QCOMPARE(json(sub.payloads(button).constLast())["command_topic"].toString(), kAck);
        QTRY_VERIFY_WITH_TIMEOUT(
            !sub.payloads("homeassistant/sensor/szr_qta504_A/niepotwierdzone/config").isEmpty(),
            kLong);
        QTRY_VERIFY_WITH_TIMEOUT(broker.count(kAck + QStringLiteral(" (QoS 1)")) == 1, kLong);

        QVERIFY(sim.commandTaken("awaria 132")); // the safety breaker and the generator
        QTRY_VERIFY_WITH_TIMEOUT(rows(folder).size() == 2, kLong);

        // Without the right: the broker drops it, nothing is journaled (the
        // dashboard's request after it is the first to arrive).
        QVERIFY(publishAs(dir_->path(), broker.port(), "obcy", "Haslo-obcego", kAck,
                          R"({"alarm":"all","kto":"obcy"})"));
        QTRY_VERIFY_WITH_TIMEOUT(broker.count("Denied PUBLISH from pub-obcy") == 1, kLong);
        QVERIFY(ha("potwierdź"));
        QVERIFY(ha("{\"alarm\":"));
        QVERIFY(ha(R"({"alarm":"awaria2","kto":"Jan","uwagi":"zasilanie → N2"})"));
        QVERIFY(ha(R"({"alarm":"awaria7","kto":"Jan Kowalski","uwagi":"wymiana bezpiecznika"})"));
        QTRY_VERIFY_WITH_TIMEOUT(rows(folder, true).size() == 1, kLong);
        QCOMPARE(rows(folder, true).constFirst(),
                 QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa|Potwierdzony|Jan Kowalski "
                                "(mqtt)|wymiana bezpiecznika"));
        // Every line said before that acknowledgement has been read once its own is.
        QTRY_VERIFY_WITH_TIMEOUT(coll->saidPart(QStringLiteral("potwierdzony przez Jan Kowalski")),
                                 kLong);
        QCOMPARE(coll->linesWith("odrzucono wiadomość z qta504/A/alarm/ack"), 1);
        QCOMPARE(coll->linesWith("Windows-1250"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(
            json(sub.payloads("qta504/A/alarms").constLast())["summary"].toObject() ==
                (QJsonObject{{"unacknowledged", 1}, {"highest_priority", "średni"}}),
            kLong);

        // All of the controller, and the same request again: nothing twice.
        const QByteArray all = R"({"alarm":"all","kto":"Ola","uwagi":"sprawdzone"})";
        QVERIFY(ha(all));
        QVERIFY(ha(all));
        QTRY_VERIFY_WITH_TIMEOUT(coll->saidPart(QStringLiteral("powtórzone potwierdzenie")), kLong);
        QCOMPARE(rows(folder, true),
                 (QStringList{"Zadziałanie wyłącznika bezpieczeństwa|Potwierdzony|Jan Kowalski "
                              "(mqtt)|wymiana bezpiecznika",
                              "Załączenie generatora|Potwierdzony|Ola (mqtt)|sprawdzone"}));
        QTRY_VERIFY_WITH_TIMEOUT(
            json(sub.payloads("qta504/A/alarms").constLast())["summary"].toObject() ==
                (QJsonObject{{"unacknowledged", 0}, {"highest_priority", QJsonValue()}}),
            kLong);
        // Every journal row reached the broker with who and why.
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/alarm").size() == 4, kLong);
        QCOMPARE(json(sub.payloads("qta504/A/alarm").constLast())["user"].toString(),
                 QStringLiteral("Ola (mqtt)"));

        // A retained request waits on the broker while the collector is
        // away; met at the next connection, it acknowledges nothing.
        QVERIFY(sim.commandTaken("awaria 133")); // the output too
        QTRY_VERIFY_WITH_TIMEOUT(rows(folder).size() == 5, kLong);
        coll->signal(SIGTERM);
        QCOMPARE(coll->finished(), 0);
        QVERIFY(ha(R"({"alarm":"all","kto":"zachowany"})", true));
        coll = std::make_unique<Collector>(f.fileName());
        QTRY_VERIFY_WITH_TIMEOUT(coll->saidPart(QStringLiteral("pominięto zachowaną (retained)")),
                                 kLong);
        QCOMPARE(rows(folder, true).size(), 2);
        QVERIFY(ha({}, true)); // cleared, as the log line says to
        QVERIFY(ha(R"({"alarm":"awaria0","kto":"Ola"})"));
        QTRY_VERIFY_WITH_TIMEOUT(rows(folder, true).size() == 3, kLong);
        QVERIFY(!coll->log().contains(QStringLiteral("Haslo-kolektora")));
    }
};

QTEST_GUILESS_MAIN(TestMqttAck)
#include "tst_mqtt_ack.moc"
