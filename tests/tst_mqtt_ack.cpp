// Acknowledging alarms over MQTT (Potwierdzanie=tak): the real qta504d
// against qta504-sim and a mosquitto with a password file and an ACL that
// lets only the dashboard's user publish to …/alarm/ack. The dashboard
// acknowledges one alarm and then all of the controller (journal rows
// "NAME (mqtt)" with the remark); a user without the right is refused by the
// broker and nothing is journaled; a malformed payload is said once; a
// remark the journal cannot hold acknowledges nothing; a repeated request
// acknowledges nothing twice; a retained request met at a reconnection is
// ignored. Discovery carries the button and the count sensor.
#include "alarms/alarmjournal.h"
#include "collectorproc.h"
#include "mosquittoproc.h"
#include "simprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace qta::test;

namespace {

constexpr int kLong = 60000;
const QString kAck = QStringLiteral("qta504/A/alarm/ack");

QJsonObject json(const QString& s) { return QJsonDocument::fromJson(s.toUtf8()).object(); }

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
