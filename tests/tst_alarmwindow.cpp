// Alarms end to end in the program's main window on the offscreen platform,
// against the controller simulator: a fault bit set for a few seconds, the
// link lost and back, a transfer; the window "Alarmy", the status-bar count,
// the journal alarmy.dbf, acknowledging with a remark, the settings dialog,
// the sound, and the desktop notifications as a notification service on a
// private session bus receives them (ctest runs this under dbus-run-session).
#include "alarms/alarmlistmodel.h"
#include "alarms/alarmsettingsdialog.h"
#include "alarms/alarmsound.h"
#include "alarms/alarmwindow.h"
#include "alarms/desktopnotifier.h"
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "simprocess.h"
#include "tables/table.h"
#include "testpaths.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace qta;

class TestAlarmWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldCwd_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TQTA504> main_;
    std::unique_ptr<QProcess> recorder_;

    QString path(const QString& name) const { return dir_->filePath(name); }

    void writeSettings(const QByteArray& text) {
        QFile f(path(QStringLiteral("rejestr/ustawienia.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    // Connected to a simulator sending status every 200 ms, flicker delay 1 s.
    TQTA504& connected(QStringList simArgs = {}) {
        sim_ = std::make_unique<SimProcess>(
            path(QStringLiteral("qta")), path(QStringLiteral("sim.log")),
            simArgs << QStringLiteral("--period") << QStringLiteral("200"));
        [&] { QVERIFY2(sim_->ready(), qPrintable(sim_->readyLine())); }();
        writeSettings("[ComPort]\nPort=" + sim_->link().toUtf8() +
                      "\n\n[Alarmy]\nOpoznienieMigotania=1\n");
        main_ = std::make_unique<TQTA504>();
        wireWindows(*main_);
        main_->setGeometry(0, 0, 1280, 900);
        main_->show();
        main_->FormCreate();
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(main_->core.Flaga_Kom.OK && !main_->startWindow(), 8000);
        }();
        return *main_;
    }
    QList<QStringList> journal() const {
        QList<QStringList> rows;
        TTable t(path(QStringLiteral("rejestr/alarmy.dbf")));
        t.Open();
        for (int r = 0; r < t.RecordCount(); ++r) {
            QStringList row;
            for (int f = 0; f < t.fieldNames().size(); ++f)
                row << t.stringValue(r, f).trimmed();
            rows << row;
        }
        return rows;
    }
    // ALARM|STAN of every journal row.
    QStringList transitions() const {
        QStringList out;
        for (const QStringList& r : journal())
            out << r.value(1) + u'|' + r.value(3);
        return out;
    }
    // A notification service on the session bus, recording into notes.jsonl.
    bool startRecorder() {
        if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
            return false;
        recorder_ = std::make_unique<QProcess>();
        recorder_->start(qta::test::binPath(QStringLiteral("notifyrecorder")),
                         {path(QStringLiteral("notes.jsonl"))});
        return recorder_->waitForReadyRead(5000) && recorder_->readLine().trimmed() == "ready";
    }
    QList<QJsonObject> notes() const {
        QList<QJsonObject> out;
        QFile f(path(QStringLiteral("notes.jsonl")));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& l : f.readAll().split('\n'))
                if (!l.isEmpty())
                    out << QJsonDocument::fromJson(l).object();
        return out;
    }
    TAlarmWindow* alarmWindow() const {
        TWindowItem* i = main_->windowItem(main_->Widok_Alarmy);
        return i && i->window() ? qobject_cast<TAlarmWindow*>(i->window()->widget()) : nullptr;
    }

private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QVERIFY(QDir().mkpath(QStringLiteral("rejestr")));
        TTable::createPair(QStringLiteral("rejestr/rejestr.dbf"),
                           QStringLiteral("rejestr/linia.dbf"),
                           QStringLiteral("rejestr/alarmy.dbf"));
        TComPort::setPortListProvider([] { return QStringList{}; });
    }
    void cleanup() {
        if (main_)
            main_->close();
        main_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
        sim_.reset();
        recorder_.reset();
        QDir::setCurrent(oldCwd_);
        dir_.reset();
    }

    // The safety breaker trips for about 3 s: one alarm, the window opens by
    // itself, the count stays after the condition went away, and acknowledging
    // it with a remark journals the user and the remark.
    void breakerTripsAndIsAcknowledged() {
        QVERIFY2(startRecorder(), "no session bus: run under dbus-run-session");
        TQTA504& m = connected();
        auto* sound = m.findChild<TAlarmSound*>(QStringLiteral("AlarmSound"));
        QVERIFY(sound);
        sound->setIntervalMs(500);
        QVERIFY(!m.alarmCount()->isVisible());
        QVERIFY(!m.Widok_Alarmy->isChecked());

        sim_->command("awaria 128");
        QTRY_VERIFY_WITH_TIMEOUT(m.Widok_Alarmy->isChecked(), 3000); // opened by itself
        TAlarmWindow* w = alarmWindow();
        QVERIFY(w);
        QVERIFY(m.alarmCount()->isVisible());
        QCOMPARE(m.alarmCount()->accessibleName(), QStringLiteral("1 niepotwierdzony alarm"));
        const QString breaker = QStringLiteral("Zadziałanie wyłącznika bezpieczeństwa");
        QCOMPARE(transitions(), QStringList{breaker + "|Wystąpił"});
        QCOMPARE(m.statusPanel(2), breaker); // the panels keep their texts
        QVERIFY(sound->ringing());
        QTRY_VERIFY_WITH_TIMEOUT(sound->playCount() >= 2, 3000); // repeated while unacknowledged
        QTRY_COMPARE_WITH_TIMEOUT(notes().size(), 1, 3000);
        const QJsonObject first = notes()[0];
        QCOMPARE(first["method"].toString(), QStringLiteral("Notify"));
        QCOMPARE(first["summary"].toString(), QStringLiteral("QTA-504: ") + breaker);
        QVERIFY2(first["body"].toString().contains(QStringLiteral("Sterownik QTA1v2")),
                 qPrintable(first["body"].toString()));
        QCOMPARE(first["urgency"].toInt(), 2); // critical
        QCOMPARE(first["expire_timeout"].toInt(), 0);
        QCOMPARE(first["replaces_id"].toInt(), 0);

        QTest::qWait(3000);
        sim_->command("awaria 0");
        QTRY_COMPARE_WITH_TIMEOUT(transitions().size(), 2, 4000);
        QCOMPARE(transitions().last(), breaker + "|Ustąpił");
        QCOMPARE(w->model()->rowCount(), 1); // still there: not acknowledged
        QCOMPARE(w->model()->data(w->model()->index(0, TAlarmListModel::ColStan)).toString(),
                 QStringLiteral("ustąpił, niepotwierdzony"));
        QVERIFY(m.alarmCount()->isVisible());
        QVERIFY(sound->ringing()); // cleared but not acknowledged: still calling

        // A screen reader hears the row as one sentence.
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(w->list());
        QVERIFY(table && table->tableInterface());
        QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 0);
        QVERIFY(cell);
        const QString spoken = cell->text(QAccessible::Name);
        QVERIFY2(spoken.startsWith(QStringLiteral("priorytet wysoki, ") + breaker +
                                   QStringLiteral(", ustąpił, niepotwierdzony, wystąpił ")) &&
                     spoken.contains(QStringLiteral(", ustąpił 20")),
                 qPrintable(spoken));

        // A remark the journal cannot hold is refused and kept; then accepted.
        w->list()->selectRow(0);
        w->remark()->setText(QStringLiteral("bezpiecznik → wymieniony"));
        w->acknowledgeButton()->click();
        QVERIFY(w->message()->isVisible());
        QCOMPARE(w->remark()->text(), QStringLiteral("bezpiecznik → wymieniony"));
        QCOMPARE(transitions().size(), 2);
        w->remark()->setText(QStringLiteral("Bezpiecznik wymieniony; próba „OK”"));
        w->acknowledgeButton()->click();
        QVERIFY(!w->message()->isVisible());
        QCOMPARE(w->model()->rowCount(), 0);
        QVERIFY(!m.alarmCount()->isVisible());
        const QStringList last = journal().last();
        QCOMPARE(last.mid(1),
                 (QStringList{breaker, "wysoki", "Potwierdzony", currentUserName().left(32),
                              QStringLiteral("Bezpiecznik wymieniony; próba „OK”")}));
        QVERIFY(!sound->ringing());
        // One notification, replaced at each change: raised, cleared, acknowledged.
        QTRY_COMPARE_WITH_TIMEOUT(notes().size(), 3, 3000);
        for (const QJsonObject& n : notes().mid(1))
            QCOMPARE(n["replaces_id"].toInt(), first["id"].toInt());
        QVERIFY(notes()[1]["body"].toString().contains(QStringLiteral("Ustąpił")));
        QCOMPARE(notes()[2]["urgency"].toInt(), 1); // acknowledged: no longer critical
    }

    // An alarm left unacknowledged by the last run is announced again at start.
    void restoredAlarmIsAnnouncedAgain() {
        QVERIFY2(startRecorder(), "no session bus: run under dbus-run-session");
        {
            TAlarmJournal j(path(QStringLiteral("rejestr/alarmy.dbf")));
            j.open();
            j.append({QDateTime::currentDateTime().addSecs(-3600),
                      QStringLiteral("Brak dobrych linii zasilających"), QStringLiteral("wysoki"),
                      QStringLiteral("Wystąpił"), QString(), QString()});
        }
        TQTA504& m = connected();
        QVERIFY(m.Widok_Alarmy->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!notes().isEmpty(), 3000);
        QCOMPARE(notes()[0]["summary"].toString(),
                 QStringLiteral("QTA-504: Brak dobrych linii zasilających"));
        QVERIFY(notes()[0]["body"].toString().contains(
            QStringLiteral("Sprzed ponownego uruchomienia")));
        QCOMPARE(notes()[0]["urgency"].toInt(), 2);
        // The controller reports no such fault now: it clears, still unacknowledged.
        QTRY_COMPARE_WITH_TIMEOUT(m.core.Alarmy.alarm(QStringLiteral("awaria1"))->state,
                                  AlarmState::ClearedUnacked, 4000);
        QCOMPARE(m.alarmCount()->text(), QStringLiteral("Alarmy: 1"));
    }

    // Without a notification service nothing is shown and nothing fails.
    void notifierWithoutService() {
        TDesktopNotifier n(QDBusConnection::sessionBus());
        n.show(QStringLiteral("a"), QStringLiteral("QTA-504: próba"), QStringLiteral("treść"),
               true);
        QTRY_VERIFY_WITH_TIMEOUT(!n.available(), 8000);
        n.close(QStringLiteral("a"));
    }

    // The link lost and back is one alarm; a transfer is a notification;
    // "Potwierdź wszystkie" takes both.
    void linkLostAndTransfer() {
        TQTA504& m = connected();
        sim_->command("silent on");
        QTRY_VERIFY_WITH_TIMEOUT(
            transitions().contains(QStringLiteral("Brak połączenia ze sterownikiem|Wystąpił")),
            5000);
        QVERIFY(!m.Widok_Alarmy->isChecked()); // medium priority: counted, not pushed forward
        QCOMPARE(m.alarmCount()->text(), QStringLiteral("Alarmy: 1"));
        sim_->command("silent off");
        QTRY_VERIFY_WITH_TIMEOUT(
            transitions().contains(QStringLiteral("Brak połączenia ze sterownikiem|Ustąpił")),
            6000);
        QTRY_VERIFY_WITH_TIMEOUT(m.core.Flaga_Kom.Ustawienia && !m.core.Relink.running(), 5000);

        sim_->command("active 2");
        QTRY_VERIFY_WITH_TIMEOUT(transitions().contains(QStringLiteral(
                                     "Przełączenie zasilania: aktywna linia N2|Wystąpił")),
                                 3000);
        QCOMPARE(m.alarmCount()->accessibleName(), QStringLiteral("2 niepotwierdzone alarmy"));
        m.Widok_Alarmy->trigger();
        TAlarmWindow* w = alarmWindow();
        QVERIFY(w);
        QCOMPARE(w->model()->rowCount(), 2);
        // Newest first.
        QCOMPARE(w->model()->alarmAt(0)->key, QStringLiteral("przelaczenie"));
        w->acknowledgeAllButton()->click();
        QCOMPARE(w->model()->rowCount(), 0);
        QCOMPARE(transitions().mid(transitions().size() - 2),
                 (QStringList{"Brak połączenia ze sterownikiem|Potwierdzony",
                              "Przełączenie zasilania: aktywna linia N2|Potwierdzony"}));
    }

    // The dialog writes [Alarmy] beside [ComPort] and the program uses it at once.
    void settingsDialog() {
        TQTA504& m = connected();
        QTimer::singleShot(0, [] {
            auto* d = qobject_cast<TAlarmSettingsDialog*>(QApplication::activeModalWidget());
            QVERIFY(d);
            QCOMPARE(d->windowTitle(), QStringLiteral("Alarmy – ustawienia"));
            QVERIFY(d->kindBox(AlarmKind::SafetyBreaker)->isChecked());
            d->kindBox(AlarmKind::Generator)->setChecked(false);
            d->soundBox()->setChecked(false);
            d->flickerBox()->setValue(0);
            d->accept();
        });
        m.Ustawienia_Alarmy->trigger();
        QVERIFY(!m.core.Alarmy.settings().sound);
        QFile f(path(QStringLiteral("rejestr/ustawienia.ini")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString ini = QString::fromUtf8(f.readAll());
        QVERIFY(ini.contains(QStringLiteral("Port=") + sim_->link()));
        QVERIFY(ini.contains(QStringLiteral("ZalaczenieGeneratora=0")));
        QVERIFY(ini.contains(QStringLiteral("Dzwiek=0")));
        QVERIFY(ini.contains(QStringLiteral("OpoznienieMigotania=0")));
        sim_->command("awaria 4"); // the generator: switched off, nothing raised
        QTest::qWait(800);
        QVERIFY(transitions().isEmpty());
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qta::TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QTA-504"));
    TestAlarmWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_alarmwindow.moc"
