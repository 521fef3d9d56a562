// The alarm engine without windows: its states and journal rows, flicker,
// shelving, which status bits and line states raise what, restoring from the
// journal after a restart, a journal that cannot be written, the desktop
// program following another program's journal, and the [Alarmy] settings.
#include "alarms/alarmengine.h"
#include "core/controller.h"
#include "core/workfolder.h"
#include "link/model.h"
#include "tables/table.h"
#include "tables/tablefile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>

using namespace qta;

namespace {

const QDateTime kStart(QDate(2026, 12, 10), QTime(2, 0, 0));
constexpr int kBreaker = 0x80;

// An engine on a hand-moved clock with a journal in a temporary folder.
struct Rig {
    QTemporaryDir dir;
    QDateTime now = kStart;
    std::unique_ptr<TAlarmJournal> journal;
    std::unique_ptr<TAlarmEngine> engine;

    explicit Rig(int flickerSeconds = 0) {
        journal = std::make_unique<TAlarmJournal>(dir.filePath(QStringLiteral("alarmy.dbf")));
        journal->open();
        start(flickerSeconds);
    }
    // A new engine on the same journal, as after a restart.
    void start(int flickerSeconds) {
        engine = std::make_unique<TAlarmEngine>();
        engine->setClock([this] { return now; });
        engine->setUser(QStringLiteral("technik"));
        TAlarmSettings s;
        s.flickerSeconds = flickerSeconds;
        engine->setSettings(s);
        engine->setJournal(journal.get());
    }
    void restart(int flickerSeconds = 0) {
        engine.reset();
        journal->close();
        journal->open();
        start(flickerSeconds);
        engine->restore();
    }
    void status(int awaria, int program = ProgN1N2N3, int active = ActiveN1,
                std::array<int, 3> states = {3, 3, 3}) {
        engine->status(awaria, program, active, states);
    }
    void wait(int seconds) {
        now = now.addSecs(seconds);
        engine->tick();
    }
    QStringList stany() const {
        QStringList out;
        for (const TAlarmJournalRow& r : journal->readAll())
            out << r.stan;
        return out;
    }
};

QString stateName(AlarmState s) {
    switch (s) {
    case AlarmState::Normal: return QStringLiteral("normal");
    case AlarmState::ActiveUnacked: return QStringLiteral("active-unacked");
    case AlarmState::ActiveAcked: return QStringLiteral("active-acked");
    case AlarmState::ClearedUnacked: return QStringLiteral("cleared-unacked");
    }
    return {};
}

} // namespace

class TstAlarms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Steps: on/off (the safety breaker's bit), ack, shelve, +N (seconds pass).
    void stateMachine_data() {
        QTest::addColumn<int>("flicker");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("journal");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("unacked");
        const QString W = "Wystąpił", P = "Potwierdzony", U = "Ustąpił", S = "Wyciszony",
                      K = "Koniec wyciszenia";
        QTest::newRow("raised") << 0 << "on" << QStringList{W} << "active-unacked" << 1;
        QTest::newRow("acknowledged while active")
            << 0 << "on ack" << QStringList{W, P} << "active-acked" << 0;
        QTest::newRow("cleared unacknowledged stays")
            << 0 << "on off" << QStringList{W, U} << "cleared-unacked" << 1;
        QTest::newRow("cleared then acknowledged")
            << 0 << "on off ack" << QStringList{W, U, P} << "normal" << 0;
        QTest::newRow("acknowledged then cleared")
            << 0 << "on ack off" << QStringList{W, P, U} << "normal" << 0;
        QTest::newRow("comes back after clearing")
            << 0 << "on off on" << QStringList{W, U, W} << "active-unacked" << 1;
        QTest::newRow("nothing to acknowledge") << 0 << "ack" << QStringList{} << "none" << 0;
        QTest::newRow("second acknowledgement refused")
            << 0 << "on ack ack" << QStringList{W, P} << "active-acked" << 0;
        QTest::newRow("flicker inside the delay is one alarm")
            << 5 << "on off +2 on off +4 on off +1" << QStringList{W} << "active-unacked" << 1;
        QTest::newRow("cleared once stable for the delay")
            << 5 << "on off +2 on off +5" << QStringList{W, U} << "cleared-unacked" << 1;
        QTest::newRow("shelved: out of the count, back by itself")
            << 0 << "on shelve +3599" << QStringList{W, S} << "active-unacked" << 0;
        QTest::newRow("shelving ends after an hour")
            << 0 << "on shelve +3600" << QStringList{W, S, K} << "active-unacked" << 1;
        QTest::newRow("shelved alarm still journals its transitions")
            << 0 << "on shelve off ack" << QStringList{W, S, U, P} << "normal" << 0;
    }
    void stateMachine() {
        QFETCH(int, flicker);
        QFETCH(QString, steps);
        QFETCH(QStringList, journal);
        QFETCH(QString, state);
        QFETCH(int, unacked);
        Rig rig(flicker);
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
            if (step == u"on")
                rig.status(kBreaker);
            else if (step == u"off")
                rig.status(0);
            else if (step == u"ack")
                rig.engine->acknowledge(QStringLiteral("awaria7"), QStringLiteral("sprawdzono"));
            else if (step == u"shelve")
                QCOMPARE(rig.engine->shelve(QStringLiteral("awaria7")), QString());
            else if (step.startsWith('+'))
                rig.wait(step.mid(1).toInt());
        }
        QCOMPARE(rig.stany(), journal);
        const TAlarm* a = rig.engine->alarm(QStringLiteral("awaria7"));
        QCOMPARE(a ? stateName(a->state) : QStringLiteral("none"), state);
        QCOMPARE(rig.engine->unacknowledgedCount(), unacked);
    }

    void journalRowsCarryTimesUserAndRemark() {
        Rig rig(5);
        rig.status(kBreaker);
        rig.now = rig.now.addSecs(30);
        rig.status(0); // clears at +30 s, journaled once stable for 5 s
        rig.wait(7);
        rig.wait(60);
        QCOMPARE(
            rig.engine->acknowledge(QStringLiteral("awaria7"), QStringLiteral("Wymiana; „ok”")),
            QString());
        const std::vector<TAlarmJournalRow> rows = rig.journal->readAll();
        QCOMPARE(int(rows.size()), 3);
        QCOMPARE(rows[0], (TAlarmJournalRow{kStart, "Zadziałanie wyłącznika bezpieczeństwa",
                                            "wysoki", "Wystąpił", "", ""}));
        QCOMPARE(rows[1].czas, kStart.addSecs(30)); // when it went away, not when journaled
        QCOMPARE(rows[1].stan, QStringLiteral("Ustąpił"));
        QCOMPARE(rows[2],
                 (TAlarmJournalRow{kStart.addSecs(97), "Zadziałanie wyłącznika bezpieczeństwa",
                                   "wysoki", "Potwierdzony", "technik", "Wymiana; „ok”"}));
    }

    void refusedRemarkAcknowledgesNothing_data() {
        QTest::addColumn<QString>("remark");
        QTest::addColumn<QString>("says");
        QTest::newRow("outside the code page") << "zasilanie → N2"
                                               << "„→”";
        QTest::newRow("too long") << QString(255, 'x') << "skróć ją o 1";
    }
    void refusedRemarkAcknowledgesNothing() {
        QFETCH(QString, remark);
        QFETCH(QString, says);
        Rig rig;
        rig.status(kBreaker);
        const QString why = rig.engine->acknowledge(QStringLiteral("awaria7"), remark);
        QVERIFY2(why.contains(says), qPrintable(why));
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria7"))->state, AlarmState::ActiveUnacked);
        QCOMPARE(rig.stany(), QStringList{"Wystąpił"});
    }

    // An operator of another channel (MQTT, the browser) acknowledges and
    // shelves under a name and the channel: that is the journal's KTO, and
    // a remark the journal cannot hold acknowledges nothing, all at once too.
    void actsOnBehalfOfAChannel() {
        Rig rig;
        rig.status(kBreaker | 0x04); // breaker (high) and generator (medium)
        const QString jan = TAlarmEngine::channelUser(QStringLiteral("jan"), "mqtt");
        QCOMPARE(jan, QStringLiteral("jan (mqtt)"));
        QVERIFY(!rig.engine->acknowledgeAll(jan, QStringLiteral("→")));
        QCOMPARE(rig.engine->unacknowledgedCount(), 2);
        QCOMPARE(rig.engine->acknowledge(QStringLiteral("awaria7"), QStringLiteral("wymiana"), jan),
                 QString());
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria7"))->who, jan);
        QCOMPARE(rig.engine->shelve(QStringLiteral("awaria2"), QStringLiteral("ola (www)")),
                 QString());
        QCOMPARE(rig.engine->acknowledgeAll(jan, QStringLiteral("sprawdzone")), 1);
        QCOMPARE(rig.engine->acknowledge(QStringLiteral("awaria7")), // nothing left
                 QStringLiteral("Ten alarm nie czeka na potwierdzenie."));
        QStringList rows;
        for (const TAlarmJournalRow& r : rig.journal->readAll())
            rows << r.stan + '|' + r.kto + '|' + r.uwagi;
        QCOMPARE(rows, (QStringList{"Wystąpił||", "Wystąpił||", "Potwierdzony|jan (mqtt)|wymiana",
                                    "Wyciszony|ola (www)|", "Potwierdzony|jan (mqtt)|sprawdzone"}));
        // Without a name, the program's own user, as before.
        rig.status(0x04);
        rig.status(kBreaker);
        QCOMPARE(rig.engine->acknowledgeAll(), 1);
        QCOMPARE(rig.journal->readAll().back().kto, QStringLiteral("technik"));
    }

    void channelUserFitsTheField_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kto");
        QTest::newRow("plain") << "Jan Kowalski"
                               << "Jan Kowalski (mqtt)";
        QTest::newRow("white space") << "  Jan \t Kowalski "
                                     << "Jan Kowalski (mqtt)";
        QTest::newRow("long name shortened, channel kept")
            << "Konstanty Ildefons Gałczyński-Wielkopolski"
            << "Konstanty Ildefons Gałczy (mqtt)";
        QTest::newRow("outside the code page") << "Jan → Ola"
                                               << "Jan ? Ola (mqtt)";
    }
    void channelUserFitsTheField() {
        QFETCH(QString, name);
        QFETCH(QString, kto);
        const QString got = TAlarmEngine::channelUser(name, QStringLiteral("mqtt"));
        QCOMPARE(got, kto);
        QVERIFY(got.size() <= TAlarmJournal::kUserWidth);
        QCOMPARE(TAlarmJournal::fitUser(got), got); // the journal keeps it as it is
    }

    // Which alarms a status reply raises, with their texts and priorities.
    void conditions_data() {
        QTest::addColumn<int>("awaria");
        QTest::addColumn<int>("program");
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<QStringList>("raised"); // "text|priority", newest first not implied
        QTest::newRow("all clear") << 0 << 1 << QList<int>{3, 3, 3} << QStringList{};
        QTest::newRow("output and safety breaker")
            << 0x81 << 1 << QList<int>{3, 3, 3}
            << QStringList{"Brak napięcia na linii wyjściowej|wysoki",
                           "Zadziałanie wyłącznika bezpieczeństwa|wysoki"};
        QTest::newRow("no good line, generator")
            << 0x06 << 2 << QList<int>{3, 3, 3}
            << QStringList{"Brak dobrych linii zasilających|wysoki",
                           "Załączenie generatora|średni"};
        QTest::newRow("unknown bits are one alarm")
            << 0x28 << 1 << QList<int>{3, 3, 3}
            << QStringList{"Nieznana awaria (bity 3, 5)|średni"};
        QTest::newRow("bad line unused by the program is no alarm")
            << 0 << 3 << QList<int>{0, 3, 0} << QStringList{"Linia zła: N1|średni"};
        QTest::newRow("qualifying is not bad") << 0 << 1 << QList<int>{1, 2, 3} << QStringList{};
        QTest::newRow("generator line")
            << 0 << 4 << QList<int>{3, 0, 0} << QStringList{"Linia zła: generator|średni"};
        QTest::newRow("coupler program names the right section")
            << 0 << 5 << QList<int>{3, 3, 0} << QStringList{"Linia zła: N2 (sekcja prawa)|średni"};
        QTest::newRow("no program, no line alarm")
            << 0 << 0 << QList<int>{0, 0, 0} << QStringList{};
    }
    void conditions() {
        QFETCH(int, awaria);
        QFETCH(int, program);
        QFETCH(QList<int>, states);
        QFETCH(QStringList, raised);
        Rig rig;
        rig.status(awaria, program, ActiveN1, {states[0], states[1], states[2]});
        QStringList got;
        for (const TAlarm& a : rig.engine->listed())
            got << a.text + '|' + priorityText(a.priority);
        got.sort();
        raised.sort();
        QCOMPARE(got, raised);
    }

    void transferIsANotification() {
        Rig rig;
        rig.status(0, ProgN1N2N3, ActiveN1); // the first reply sets what is active: no transfer
        QVERIFY(rig.engine->listed().empty());
        rig.wait(10);
        rig.status(0, ProgN1N2N3, ActiveN2);
        const TAlarm* t = rig.engine->alarm(QStringLiteral("przelaczenie"));
        QVERIFY(t);
        QCOMPARE(t->text, QStringLiteral("Przełączenie zasilania: aktywna linia N2"));
        QCOMPARE(t->state, AlarmState::ClearedUnacked);
        rig.status(0, ProgN1N2N3, ActiveN2); // no change, nothing new
        rig.wait(1);
        rig.status(0, ProgN1N2N3, ActiveN1); // back before acknowledgement: the same one, updated
        QCOMPARE(rig.engine->alarm(QStringLiteral("przelaczenie"))->text,
                 QStringLiteral("Przełączenie zasilania: aktywna linia N1"));
        QCOMPARE(rig.engine->unacknowledgedCount(), 1);
        QCOMPARE(rig.engine->acknowledge(QStringLiteral("przelaczenie")), QString());
        QVERIFY(rig.engine->listed().empty());
        QCOMPARE(rig.stany(), (QStringList{"Wystąpił", "Wystąpił", "Potwierdzony"}));
    }

    void linkLostFreezesTheOthers() {
        Rig rig;
        rig.status(kBreaker);
        rig.engine->linkLost();
        rig.wait(30); // no status while lost: the breaker alarm stays active
        QVERIFY(rig.engine->alarm(QStringLiteral("awaria7"))->active());
        QVERIFY(rig.engine->alarm(QStringLiteral("polaczenie"))->active());
        rig.engine->linkUp();
        QCOMPARE(rig.engine->alarm(QStringLiteral("polaczenie"))->state,
                 AlarmState::ClearedUnacked);
        rig.status(0);
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria7"))->state, AlarmState::ClearedUnacked);
        QCOMPARE(rig.engine->acknowledgeAll(), 2);
        QVERIFY(rig.engine->listed().empty());
    }

    void disabledAlarmIsNeitherRaisedNorKept() {
        Rig rig;
        rig.status(kBreaker);
        TAlarmSettings s;
        s.flickerSeconds = 0;
        s.enabled[AlarmKind::SafetyBreaker] = false;
        rig.engine->setSettings(s); // switched off while active: it clears
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria7"))->state, AlarmState::ClearedUnacked);
        rig.engine->acknowledgeAll();
        rig.status(kBreaker);
        QVERIFY(rig.engine->listed().empty());
    }

    // What was not back to normal comes back after a restart (or a SIGKILL:
    // every row was synced when written), in the state it had.
    void restoreFromJournal() {
        Rig rig;
        rig.status(0x81, ProgN1N2, ActiveN1, {3, 0, 0}); // output, breaker, line N2 bad
        rig.wait(1);
        rig.engine->acknowledge(QStringLiteral("awaria0"));
        rig.engine->shelve(QStringLiteral("linia2"));
        rig.status(0x01, ProgN1N2, ActiveN1, {3, 0, 0}); // breaker clears, unacknowledged
        rig.engine->linkLost();
        rig.engine->linkUp();
        rig.engine->acknowledge(QStringLiteral("polaczenie")); // back to normal: not restored
        const std::vector<TAlarm> before = rig.engine->listed();

        rig.wait(600);
        rig.restart();
        const std::vector<TAlarm> after = rig.engine->listed();
        QCOMPARE(int(after.size()), int(before.size()));
        for (const TAlarm& b : before) {
            const TAlarm* a = rig.engine->alarm(b.key);
            QVERIFY2(a, qPrintable(b.key));
            QCOMPARE(stateName(a->state), stateName(b.state));
            QCOMPARE(a->text, b.text);
            QCOMPARE(a->raised, b.raised);
            QCOMPARE(a->shelvedUntil, b.shelvedUntil);
        }
        QVERIFY(!rig.engine->alarm(QStringLiteral("polaczenie")));
        QCOMPARE(rig.engine->unacknowledgedCount(), 1); // the breaker; N2 is shelved

        // The shelving runs out while the program is not running: ended at once.
        rig.wait(3600);
        rig.restart();
        QCOMPARE(rig.stany().last(), QStringLiteral("Koniec wyciszenia"));
        QVERIFY(!rig.engine->alarm(QStringLiteral("linia2"))->shelved());
        // Conditions gone in the first reply after the restart clear as usual.
        rig.status(0, ProgN1N2, ActiveN1, {3, 3, 3});
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria0"))->state, AlarmState::Normal);
    }

    // The desktop program on a collector's folder (a read-only core) follows
    // the journal the collector writes: a journal made after it opened, an
    // alarm raised there, its acknowledgement, its return to normal.
    void readOnlyCoreFollowsTheJournal() {
        QTemporaryDir dir;
        prepareWorkFolder(dir.path());
        const QString file = dir.filePath(QStringLiteral("rejestr/alarmy.dbf"));
        QVERIFY(QFile::remove(file)); // the collector has not made it yet
        TNullView view;
        TQTA504Core reader(&view);
        reader.setDataFolder(dir.path());
        reader.openTablesReadOnly();
        reader.ReadOnlyFollow.setInterval(20);
        QVERIFY(reader.Alarmy.listed().empty());

        // The writer: an engine on the same journal, as the collector's core.
        TAlarmJournal journal(file);
        journal.open();
        TAlarmEngine writer;
        TAlarmSettings settings;
        settings.flickerSeconds = 0;
        writer.setSettings(settings);
        writer.setJournal(&journal);
        writer.setUser(QStringLiteral("jan (www)"));
        writer.status(kBreaker | 0x01, ProgN1N2N3, ActiveN1, {3, 3, 3});
        QTRY_VERIFY_WITH_TIMEOUT(reader.Alarmy.alarm(QStringLiteral("awaria7")), 5000);
        QVERIFY(reader.Alarmy.readOnly());
        QCOMPARE(reader.Alarmy.unacknowledgedCount(), 2);

        QSignalSpy changed(&reader.Alarmy, &TAlarmEngine::changed);
        QVERIFY(
            writer.acknowledge(QStringLiteral("awaria7"), QStringLiteral("sprawdzone")).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(reader.Alarmy.alarm(QStringLiteral("awaria7"))->state,
                                  AlarmState::ActiveAcked, 5000);
        QVERIFY(changed.count() >= 1);
        QCOMPARE(reader.Alarmy.unacknowledgedCount(), 1);
        const TAlarm raised = *reader.Alarmy.alarm(QStringLiteral("awaria7"));
        QCOMPARE(raised.raised, writer.alarm(QStringLiteral("awaria7"))->raised);

        // Cleared after its acknowledgement: back to normal, off the list.
        writer.status(0x01, ProgN1N2N3, ActiveN1, {3, 3, 3});
        QTRY_VERIFY_WITH_TIMEOUT(!reader.Alarmy.alarm(QStringLiteral("awaria7")), 5000);
        QCOMPARE(reader.Alarmy.unacknowledgedCount(), 1);
        // Only the writer wrote: Wystąpił twice, Potwierdzony, Ustąpił.
        QCOMPARE(journal.rowCount(), 4);
        reader.closeAll();
    }

    void failedJournalWriteIsKeptAndWrittenLater() {
        Rig rig;
        QSignalSpy failed(rig.engine.get(), &TAlarmEngine::journalFailed);
        dbf::setWriteFaultHook([](qint64, qint64) { return dbf::WriteFault{ENOSPC, 0}; });
        rig.status(kBreaker);
        rig.status(0);
        dbf::setWriteFaultHook(nullptr);
        QCOMPARE(failed.count(), 1); // said once, not per row
        QVERIFY(failed.at(0).at(0).toString().contains(QStringLiteral("alarmy.dbf")));
        QCOMPARE(rig.engine->alarm(QStringLiteral("awaria7"))->state, AlarmState::ClearedUnacked);
        QCOMPARE(rig.stany(), QStringList{});
        rig.wait(1); // space is back: the next tick writes both, in order
        QCOMPARE(rig.stany(), (QStringList{"Wystąpił", "Ustąpił"}));
        QCOMPARE(rig.journal->queued(), 0);
    }

    void settingsKeepOtherSectionsAndNameBadValues() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ustawienia.ini"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[ComPort]\nPort=/dev/ttyUSB0\n\n[Alarmy]\nDzwiek=nie\nPrzelaczenie=0\n"
                "OpoznienieMigotania=abc\nLiniaZla=może\n");
        f.close();
        QStringList problems;
        TAlarmSettings s = TAlarmSettings::load(path, &problems);
        QVERIFY(!s.sound);
        QVERIFY(!s.isEnabled(AlarmKind::Transfer));
        QVERIFY(s.isEnabled(AlarmKind::LineBad));
        QCOMPARE(s.flickerSeconds, 5);
        QCOMPARE(problems.size(), 2);
        QVERIFY(problems.join('\n').contains(QStringLiteral("OpoznienieMigotania=abc")));
        QVERIFY(problems.join('\n').contains(QStringLiteral("LiniaZla=może")));

        s.flickerSeconds = 12;
        s.enabled[AlarmKind::LinkLost] = false;
        s.save(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.contains("Port=/dev/ttyUSB0"));
        QCOMPARE(TAlarmSettings::load(path), s);
        problems.clear();
        QCOMPARE(TAlarmSettings::load(dir.filePath(QStringLiteral("brak.ini")), &problems),
                 TAlarmSettings{});
        QVERIFY(problems.isEmpty()); // no file yet: the defaults, nothing to say
    }

    // A settings file that is there but cannot be used: the defaults, said
    // aloud; saving refuses and leaves the file as it was.
    void settingsFileThatCannotBeRead_data() {
        QTest::addColumn<QByteArray>("bytes"); // null: a folder in the file's place
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder") << QByteArray() << QStringLiteral("to folder, a nie plik");
        QTest::newRow("zero byte") << QByteArray("[Alarmy]\nDzwiek=0\n\0[X]\n", 23)
                                   << QStringLiteral("plik zawiera bajt zerowy");
    }
    void settingsFileThatCannotBeRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ustawienia.ini"));
        if (bytes.isNull()) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        QStringList problems;
        QCOMPARE(TAlarmSettings::load(path, &problems), TAlarmSettings{});
        QCOMPARE(problems, QStringList{reason + QStringLiteral("; przyjęto ustawienia domyślne")});
        try {
            TAlarmSettings{}.save(path);
            QFAIL("saved");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("Nie zapisano ustawień alarmów w %1: %2").arg(path, reason));
        }
        if (!bytes.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), bytes);
        }
    }
};

QTEST_GUILESS_MAIN(TstAlarms)
#include "tst_alarms.moc"
