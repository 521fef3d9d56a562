// The collector qta504d publishing to real mosquitto brokers started on the
// loopback, against qta504-sim: the topics and payloads of a run (discovery,
// availability, state, events, alarms), a broker stopped for 20 s while events
// and an alarm come, the collector killed (the will says offline; after the
// restart nothing is missing and nothing acknowledged is sent again), a
// network path gone dead and back, a refused login and an untrusted
// certificate (said once, retried, no crash), and the right certificate
// taken on SIGHUP; and the desktop program publishing the controller it
// talks to when its settings say so.
#include "alarms/alarmjournal.h"
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "collectorproc.h"
#include "link/comport.h"
#include "mosquittoproc.h"
#include "simprocess.h"
#include "tables/table.h"
#include "tcprelay.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace qta::test;

namespace {

constexpr int kLong = 60000;

QJsonObject json(const QString& s) { return QJsonDocument::fromJson(s.toUtf8()).object(); }

// The values of `field` of the messages, in arrival order.
QList<int> field(const QStringList& payloads, const char* name) {
    QList<int> out;
    for (const QString& p : payloads)
        out << json(p).value(QLatin1String(name)).toInt(-1);
    return out;
}

// Every row 0..n-1 arrived, and each first arrived after the one before it
// (repeats allowed: at least once, in order).
bool allInOrder(const QList<int>& rows, int n) {
    QList<int> first;
    for (int r : rows)
        if (!first.contains(r))
            first << r;
    QList<int> want;
    for (int i = 0; i < n; ++i)
        want << i;
    return first == want;
}

// A retained message put on the broker as an earlier program would have
// left it (the subscriber's user; the password from an options file).
bool publishRetained(quint16 port, const QString& topic, const QByteArray& payload) {
    QTemporaryDir config;
    QDir().mkpath(config.filePath(QStringLiteral("pub")));
    if (!writeSecret(config.filePath(QStringLiteral("pub/mosquitto_pub")),
                     "-u sub\n-P Haslo-odbiorcy\n"))
        return false;
    QProcess pub;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.filePath(QStringLiteral("pub")));
    pub.setProcessEnvironment(env);
    pub.start(QStringLiteral("mosquitto_pub"),
              {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-r", "-t", topic, "-m",
               QString::fromUtf8(payload)});
    return pub.waitForFinished(10000) && pub.exitStatus() == QProcess::NormalExit &&
           pub.exitCode() == 0;
}

int eventRows(const QString& folder) {
    qta::TTable t(folder + QStringLiteral("/rejestr/rejestr.dbf"));
    try {
        t.OpenReadOnly();
        return t.RecordCount();
    } catch (const std::exception&) {
        return -1;
    }
}

std::vector<qta::TAlarmJournalRow> journal(const QString& folder) {
    qta::TAlarmJournal j(folder + QStringLiteral("/rejestr/alarmy.dbf"));
    try {
        j.openReadOnly();
        return j.readAll();
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

class TestMqttBroker : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path(const QString& name) const { return dir_->filePath(name); }

    // The collector's configuration: one controller A on `link` (with the
    // keys `section`), the broker on `port`, the password from a 0600 file.
    QString config(const QString& link, quint16 port, const QByteArray& password,
                   const QByteArray& extra = {}, int keepAlive = 10,
                   const QByteArray& section = {}) {
        writeSecret(path("collector.pw"), password + '\n');
        const QString file = path("collector.ini");
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write("[collector]\nDataRoot=" + path("data").toUtf8() +
                    "\n[mqtt]\nHost=127.0.0.1\nPort=" + QByteArray::number(port) +
                    "\nClientId=tst\nUser=coll\nPasswordFile=collector.pw\nKeepAlive=" +
                    QByteArray::number(keepAlive) + "\n" + extra + "[A]\nPort=" + link.toUtf8() +
                    "\n" + section);
        return file;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void publishesReplaysAndSurvivesKill() {
        Mosquitto broker(dir_->path(), {"coll:Haslo-kolektora", "sub:Haslo-odbiorcy"});
        QVERIFY(broker.start());
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy",
                       {"qta504/#", "homeassistant/#"});
        SimProcess sim(path("qta"), path("sim.log"),
                       {"--period", "500", "--id", "MQTT01", "--events", "3"});
        QVERIFY(sim.ready());
        const QString folder = path("data/A");
        const QString cfg = config(sim.link(), broker.port(), "Haslo-kolektora");
        auto coll = std::make_unique<Collector>(cfg);

        // The run: discovery, online, the state, the three events of the log.
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 3),
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads("qta504/A/state").isEmpty(), kLong);
        QCOMPARE(sub.payloads("qta504/A/availability").value(0), QStringLiteral("online"));
        const QJsonObject state = json(sub.payloads("qta504/A/state").constLast());
        QCOMPARE(state["identifier"].toString(), QStringLiteral("MQTT01"));
        QCOMPARE(state["link"].toString(), QStringLiteral("connected"));
        QCOMPARE(state["lines"].toArray().size(), 3);
        const QJsonObject ev = json(sub.payloads("qta504/A/event").constFirst());
        QCOMPARE(ev["identifier"].toString(), QStringLiteral("MQTT01"));
        QVERIFY(!ev["text"].toString().isEmpty());
        int discovery = 0;
        for (const QString& l : sub.lines())
            if (l.startsWith(QStringLiteral("homeassistant/")) && l.contains("MQTT01"))
                ++discovery;
        QCOMPARE(discovery, 9 + 2 + 8);
        // Acknowledgement is off unless asked for: nothing subscribed to.
        QCOMPARE(broker.count(QStringLiteral("alarm/ack")), 0);
        QVERIFY(json(sub.payloads("qta504/A/alarms").constLast())["alarms"].toArray().isEmpty());

        // An alarm while the broker runs: the transition and the list.
        QVERIFY(sim.commandTaken("awaria 128"));
        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads("qta504/A/alarm").isEmpty(), kLong);
        QCOMPARE(json(sub.payloads("qta504/A/alarm").constFirst())["state"].toString(),
                 QStringLiteral("Wystąpił"));
        QTRY_VERIFY_WITH_TIMEOUT(
            json(sub.payloads("qta504/A/alarms").constLast())["alarms"].toArray().size() == 1,
            kLong);

        // The broker away for 20 s: three events and the alarm's end meanwhile.
        QElapsedTimer outage;
        outage.start();
        broker.stop();
        for (int i = 0; i < 3; ++i)
            QVERIFY(sim.commandTaken("add-event 5 1 2 3 4"));
        QVERIFY(sim.commandTaken("awaria 0"));
        QTRY_VERIFY_WITH_TIMEOUT(eventRows(folder) == 6 && journal(folder).size() == 2, kLong);
        QCOMPARE(journal(folder).back().stan, QStringLiteral("Ustąpił"));
        if (outage.elapsed() < 20000)
            QTest::qWait(int(20000 - outage.elapsed()));
        QVERIFY(broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 6),
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/alarm"), "row"), 2),
                                 kLong);
        QCOMPARE(json(sub.payloads("qta504/A/alarm").constLast())["state"].toString(),
                 QStringLiteral("Ustąpił"));

        // SIGKILL: the will says offline; two events while nobody collects.
        QTRY_VERIFY_WITH_TIMEOUT(coll->log().contains("MQTT: połączono"), kLong);
        const int onlineBefore = int(sub.payloads("qta504/A/availability").count("online"));
        coll->signal(SIGKILL);
        QVERIFY(coll->proc.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").constLast() == "offline",
                                 kLong);
        QVERIFY(sim.commandTaken("add-event 5 1 2 3 4"));
        QVERIFY(sim.commandTaken("add-event 5 1 2 3 4"));
        const QString killedLog = coll->log();
        coll = std::make_unique<Collector>(cfg);
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 8),
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(
            sub.payloads("qta504/A/availability").count("online") > onlineBefore, kLong);
        // What the broker took before the kill is not sent again.
        QCOMPARE(field(sub.payloads("qta504/A/event"), "indeks").count(0), 1);

        // The password is in no log line, and SIGTERM says offline itself.
        coll->signal(SIGTERM);
        QVERIFY(coll->proc.waitForFinished(15000));
        QCOMPARE(coll->proc.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").constLast() == "offline",
                                 kLong);
        QVERIFY(!(killedLog + coll->log()).contains("Haslo-kolektora"));
    }

    // Before the controller has been read (its line is not there yet) the
    // collector is online, but no list of alarms and no discovery goes out:
    // neither could name the controller. Once it is read, both do, under the
    // identity its Id= gives; the discovery record an earlier version left
    // for the name is removed.
    void nothingNamelessBeforeTheRead() {
        Mosquitto broker(dir_->path(), {"coll:Haslo-kolektora", "sub:Haslo-odbiorcy"});
        QVERIFY(broker.start());
        const QString former = QStringLiteral("homeassistant/sensor/qta504_a/n1_l1/config");
        QVERIFY(publishRetained(broker.port(), former, "{\"unique_id\":\"qta504_a_n1_l1\"}"));
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy",
                       {"qta504/#", "homeassistant/#"});
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads(former).size() == 1, kLong);
        SimProcess sim(path("qta"), path("sim.log"), {"--period", "500", "--id", "MQTT03"});
        QVERIFY(sim.ready());
        const QString line = path("linia");
        Collector coll(config(line, broker.port(), "Haslo-kolektora", {}, 10, "Id=kotlownia-1\n"));
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").contains("online"), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads(former).size() == 2, kLong);
        QCOMPARE(sub.payloads(former).constLast(), "(null)"); // how mosquitto_sub shows no payload
        QVERIFY(QFile::link(sim.link(), line));

        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads("qta504/A/alarms").isEmpty(), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads("qta504/A/state").isEmpty(), kLong);
        // Had a list gone out before the read, it would be here first (live,
        // or as the retained one when the subscription came after it).
        for (const QString& p : sub.payloads("qta504/A/alarms")) {
            QCOMPARE(json(p)["identifier"].toString(), QStringLiteral("MQTT03"));
            QCOMPARE(json(p)["controller_id"].toString(), QStringLiteral("szr_qta504_kotlownia-1"));
        }
        const QString record =
            QStringLiteral("homeassistant/sensor/szr_qta504_kotlownia-1/n1_l1/config");
        QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads(record).isEmpty(), kLong);
        const QJsonObject device = json(sub.payloads(record).constFirst())["device"].toObject();
        QCOMPARE(device["identifiers"].toArray(), QJsonArray{"szr_qta504_kotlownia-1"});
        QCOMPARE(device["sw_version"].toString(), QStringLiteral("MQTT03"));
        QCOMPARE(json(sub.payloads("qta504/A/state").constLast())["controller_id"].toString(),
                 QStringLiteral("szr_qta504_kotlownia-1"));
    }

    // The path to the broker goes dead without a word (nothing closed): the
    // keepalive finds it on both sides, the broker says offline through the
    // will, and once the path is back the events of the cut arrive.
    void networkCut() {
        Mosquitto broker(dir_->path(), {"coll:Haslo-kolektora", "sub:Haslo-odbiorcy"});
        QVERIFY(broker.start());
        TcpRelay relay(broker.port());
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy", {"qta504/#"});
        SimProcess sim(path("qta"), path("sim.log"),
                       {"--period", "500", "--id", "MQTT02", "--events", "2"});
        QVERIFY(sim.ready());
        Collector coll(config(sim.link(), relay.port(), "Haslo-kolektora", {}, 5));
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 2),
                                 kLong);
        relay.cut();
        QVERIFY(sim.commandTaken("add-event 5 1 2 3 4"));
        QVERIFY(sim.commandTaken("add-event 5 1 2 3 4"));
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").constLast() == "offline",
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(coll.linesWith("połączenie z brokerem przerwane") == 1, kLong);
        QCOMPARE(eventRows(path("data/A")), 4);
        relay.mend();
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 4),
                                 kLong);
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").constLast() == "online",
                                 kLong);
    }

    // A wrong password: refused, said once, tried again and again, and the
    // controller is collected all the while.
    void refusedLogin() {
        Mosquitto broker(dir_->path(), {"coll:Haslo-kolektora"});
        QVERIFY(broker.start());
        SimProcess sim(path("qta"), path("sim.log"), {"--period", "500", "--events", "2"});
        QVERIFY(sim.ready());
        Collector coll(config(sim.link(), broker.port(), "zle-haslo"));
        QTRY_VERIFY_WITH_TIMEOUT(broker.count("not authorised") >= 3, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(eventRows(path("data/A")) == 2, kLong);
        QCOMPARE(coll.linesWith("odrzucił logowanie"), 1);
        QCOMPARE(coll.proc.state(), QProcess::Running);
        QVERIFY(!coll.log().contains("zle-haslo"));
    }

    // A broker whose certificate the configured CA did not sign: refused,
    // said once, retried; SIGHUP with the right CA connects.
    void untrustedCertificate() {
        QVERIFY(makeCertificates(dir_->path(), "good"));
        QVERIFY(makeCertificates(dir_->path(), "other"));
        Mosquitto broker(dir_->path(), {"coll:Haslo-kolektora", "sub:Haslo-odbiorcy"}, "good");
        QVERIFY(broker.start());
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy", {"qta504/#"},
                       path("good-ca.crt"));
        SimProcess sim(path("qta"), path("sim.log"), {"--period", "500", "--events", "1"});
        QVERIFY(sim.ready());
        const QString cfg = config(sim.link(), broker.port(), "Haslo-kolektora",
                                   "CaFile=" + path("other-ca.crt").toUtf8() + "\n");
        Collector coll(cfg);
        QTRY_VERIFY_WITH_TIMEOUT(broker.count("New connection from 127.0.0.1") >= 3, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(eventRows(path("data/A")) == 1, kLong);
        QCOMPARE(coll.linesWith("TLS"), 1);
        QVERIFY(sub.payloads("qta504/A/availability").isEmpty());
        QCOMPARE(coll.proc.state(), QProcess::Running);

        config(sim.link(), broker.port(), "Haslo-kolektora",
               "CaFile=" + path("good-ca.crt").toUtf8() + "\n");
        coll.signal(SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(sub.payloads("qta504/A/availability").contains("online"), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(allInOrder(field(sub.payloads("qta504/A/event"), "indeks"), 1),
                                 kLong);
    }

    // The desktop program with [mqtt] in its settings file publishes the
    // controller it talks to under Nazwa=, shows the connection in the status
    // bar, and says offline when it is closed; no publishing without Host=.
    void desktopProgramPublishes() {
        Mosquitto broker(dir_->path(), {"desk:Haslo-pulpitu", "sub:Haslo-odbiorcy"});
        QVERIFY(broker.start());
        Subscriber sub(dir_->path(), broker.port(), "sub", "Haslo-odbiorcy", {"qta504/#"});
        SimProcess sim(path("qta"), path("sim.log"),
                       {"--period", "500", "--id", "DESK01", "--events", "2"});
        QVERIFY(sim.ready());
        const QString folder = path("desk");
        QVERIFY(QDir().mkpath(folder + "/rejestr"));
        qta::TTable::createPair(folder + "/rejestr/rejestr.dbf", folder + "/rejestr/linia.dbf",
                                folder + "/rejestr/alarmy.dbf");
        QVERIFY(writeSecret(folder + "/rejestr/mqtt.pw", "Haslo-pulpitu\n"));
        QFile ini(folder + "/rejestr/ustawienia.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[ComPort]\nPort=" + sim.link().toUtf8() +
                  "\n[mqtt]\nHost=127.0.0.1\nPort=" + QByteArray::number(broker.port()) +
                  "\nUser=desk\nPasswordFile=mqtt.pw\nNazwa=Rozdzielnia 1\n");
        ini.close();
        const QString link = sim.link();
        qta::TComPort::setPortListProvider([link] { return QStringList{link}; });
        {
            qta::TQTA504 main;
            main.core.setDataFolder(folder);
            qta::wireWindows(main);
            main.show();
            main.FormCreate();
            QVERIFY(main.publishing() && main.publishing()->label());
            QTRY_VERIFY_WITH_TIMEOUT(
                allInOrder(field(sub.payloads("qta504/Rozdzielnia_1/event"), "indeks"), 2), kLong);
            QTRY_VERIFY_WITH_TIMEOUT(!sub.payloads("qta504/Rozdzielnia_1/state").isEmpty(), kLong);
            QCOMPARE(json(sub.payloads("qta504/Rozdzielnia_1/state").constLast())["identifier"],
                     QStringLiteral("DESK01"));
            QLabel* label = main.publishing()->label();
            QTRY_COMPARE(label->text(), QStringLiteral("MQTT: połączono"));
            QCOMPARE(label->accessibleName(),
                     QStringLiteral("Publikowanie MQTT: połączono z brokerem 127.0.0.1:%1")
                         .arg(broker.port()));
            QVERIFY(label->isVisible());
            main.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            sub.payloads("qta504/Rozdzielnia_1/availability").constLast() == "offline", kLong);
        QCOMPARE(qta::mqtt::readReplayPosition(folder + "/rejestr/mqtt.ini").eventRows, 2);

        // Without Host= the program publishes nothing and shows no indicator.
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[ComPort]\nPort=" + sim.link().toUtf8() + "\n[mqtt]\nNazwa=Rozdzielnia 1\n");
        ini.close();
        qta::TQTA504 main;
        main.core.setDataFolder(folder);
        qta::wireWindows(main);
        main.FormCreate();
        QVERIFY(!main.publishing());
        QVERIFY(!main.findChild<QLabel*>(QStringLiteral("StatusBar_MQTT")));
        main.close();
        qta::TComPort::setPortListProvider(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
    }
};

QTEST_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
