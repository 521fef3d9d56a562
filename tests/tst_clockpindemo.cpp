// The clock window, the PIN editor and the demonstration panel as real windows
// on the offscreen platform, sending to the controller simulator; the panel's
// voltages coming back in the status frames and shown by the mimic window.
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "editors/demoform.h"
#include "editors/markerpair.h"
#include "editors/zabezpieczenia.h"
#include "editors/zegar.h"
#include "mimic/mimicwindow.h"
#include "recordingview.h"
#include "settings/pinentry.h"
#include "simprocess.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <memory>

using namespace qta;

namespace {

// The core with its port on the simulator's line and the link usable.
struct Link {
    RecordingView view;
    TQTA504Core core{&view};
    std::unique_ptr<SimProcess> sim;

    explicit Link(QStringList simArgs = {QStringLiteral("--period"), QStringLiteral("0")}) {
        core.Timer2.stop();
        core.Timer3.stop();
        sim = std::make_unique<SimProcess>(simArgs);
        if (!sim->ready())
            return;
        core.ComPort.setPort(sim->link());
        core.ComPort.Open();
        core.Flaga_Kom.OK = true;
    }
    bool ready() const { return sim->ready() && core.ComPort.Connected(); }
    // Frames from the program the simulator logged ("rx CODE payload...").
    QStringList frames() const { return sim->received(); }
};

QString fields(std::initializer_list<int> v) {
    QString s;
    for (int x : v)
        s += u' ' + QString::number(x);
    return s;
}

// Closing a window created without a parent runs its close handling.
template <class W> bool closedBy(QPointer<W>& w) { return !w || w->isHidden(); }

} // namespace

class TestClockPinDemo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---------------------------------------------------------------- clock

    void clockSendsOneReadingAndStaysOpen() {
        Link l;
        QVERIFY(l.ready());
        TZegar z(l.core);
        z.show();
        z.clock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 500)); };
        z.TimerTimer();
        QCOMPARE(z.Data_Label->text(),
                 QLocale::system().toString(QDate(2024, 3, 5), QLocale::ShortFormat));
        QVERIFY(z.Godz_Label->text().startsWith(QStringLiteral("14:07:09")) ||
                z.Godz_Label->text().contains(QStringLiteral("2:07:09")));
        QVERIFY(z.Data_Label->accessibleName().endsWith(z.Data_Label->text()));
        QTest::mouseClick(z.Button1, Qt::LeftButton);
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 3 24 3 5 14 7 9")));
        QVERIFY(z.isVisible());

        // A PC clock past 2255 sends nothing and says why.
        z.clock = [] { return QDateTime(QDate(2301, 1, 1), QTime(0, 0)); };
        z.Button1Click();
        QCOMPARE(l.view.errors.size(), 1);
        QVERIFY(l.view.errors[0].contains(QStringLiteral("2301")));

        // Link down: nothing at all.
        l.core.Flaga_Kom.OK = false;
        z.Button1Click();
        QTest::qWait(300);
        QCOMPARE(l.frames(), QStringList{QStringLiteral("rx 3 24 3 5 14 7 9")});
        QCOMPARE(l.view.errors.size(), 1);

        // Port closed with the flag still set: the transmit error, window open.
        l.core.Flaga_Kom.OK = true;
        l.core.ComPort.Close();
        z.clock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 10)); };
        z.Button1Click();
        QCOMPARE(l.view.errors.size(), 2);
        QVERIFY2(l.view.errors[1].startsWith(QStringLiteral("COM Port Error")),
                 qPrintable(l.view.errors[1]));
        QVERIFY(z.isVisible());

        // Esc closes, and nothing is read back afterwards.
        QTest::keyClick(z.Button1, Qt::Key_Escape);
        QVERIFY(!z.isVisible());
        QCOMPARE(l.core.Czytaj_Parametry, 0);
        QVERIFY(!l.core.Timer4.isActive());
    }

    // ---------------------------------------------------------------- PIN

    void pinChangeTypedAndSent() {
        Link l;
        QVERIFY(l.ready());
        l.core.Konfig.PIN_Numer = 42;
        l.core.Konfig.PIN_On = false;
        auto* z = new TZabezpieczenia(l.core);
        QPointer<TZabezpieczenia> guard(z);
        z->show();
        QApplication::setActiveWindow(z);
        QVERIFY(!z->StaryPIN_Edit->isEnabled() && z->Button1->isEnabled());
        QVERIFY(z->StaryPIN_Label->isHidden() && z->PowtorzPIN_Label->isHidden());

        z->Zabezpieczenie->click();
        z->ZmianaPIN->click();
        QVERIFY(z->StaryPIN_Edit->isEnabled());
        QCOMPARE(QApplication::focusWidget(), z->StaryPIN_Edit);
        QTest::keyClicks(z->StaryPIN_Edit, QStringLiteral("0042"));
        QCOMPARE(z->StaryPIN_Label->text(), QStringLiteral("PIN Poprawny"));
        QVERIFY(z->StaryPIN_Label->isVisible());
        QVERIFY(!z->Button1->isEnabled()); // the keys before the last were a wrong PIN
        QCOMPARE(QApplication::focusWidget(), z->NowyPIN_Edit);
        // Enabled but still beige until the new PIN is complete.
        QVERIFY(z->PowtorzPIN_Edit->isEnabled());
        QVERIFY(z->PowtorzPIN_Edit->styleSheet().contains(QStringLiteral("231, 218, 185")));
        // Digits only, four at most, each shown as '*'.
        QTest::keyClicks(z->NowyPIN_Edit, QStringLiteral("01x005"));
        QCOMPARE(z->NowyPIN_Edit->text(), QStringLiteral("0100"));
        QCOMPARE(z->NowyPIN_Edit->displayText(), QStringLiteral("****"));
        QCOMPARE(QApplication::focusWidget(), z->PowtorzPIN_Edit);
        QTest::keyClicks(z->PowtorzPIN_Edit, QStringLiteral("0100"));
        QCOMPARE(z->PowtorzPIN_Label->text(), QStringLiteral("Nowy PIN poprawny"));
        QVERIFY(z->Button1->isEnabled());

        // Changing the new PIN afterwards withdraws the confirmation.
        QTest::keyClick(z->NowyPIN_Edit, Qt::Key_Backspace);
        QVERIFY(!z->Button1->isEnabled());
        QCOMPARE(z->PowtorzPIN_Label->text(), QStringLiteral("Nowy PIN niezgodny"));
        QTest::keyClicks(z->NowyPIN_Edit, QStringLiteral("0"));
        QVERIFY(z->Button1->isEnabled());

        QTest::mouseClick(z->Button1, Qt::LeftButton);
        // Protection on, PIN 100: high byte 0.
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 6 1 0 100")));
        QVERIFY(closedBy(guard));
        QCOMPARE(l.core.Czytaj_Parametry, 2);
        QVERIFY(l.core.Timer4.isActive());
        QVERIFY(l.view.errors.isEmpty());
        delete guard.data();
    }

    // Without the change the present PIN goes out with the switch, link flag or not;
    // what cannot go out leaves the window open with the reason shown.
    // The three PIN rows with a Debian desktop's font at 9 and 10 points: no
    // label reaches its box, no verdict runs past the window.
    void pinRowsDoNotTouch_data() {
        QTest::addColumn<int>("points");
        QTest::newRow("9 pt") << 9;
        QTest::newRow("10 pt") << 10;
    }
    void pinRowsDoNotTouch() {
        QFETCH(int, points);
        const QFont before = QApplication::font();
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
        Link l;
        TZabezpieczenia z(l.core);
        QApplication::setFont(before);
        const char* rows[3][2] = {
            {"Label4", "StaryPIN_Edit"}, {"Label5", "NowyPIN_Edit"}, {"Label6", "PowtorzPIN_Edit"}};
        for (const auto& row : rows) {
            auto* label = z.findChild<QLabel*>(QLatin1String(row[0]));
            auto* box = z.findChild<QLineEdit*>(QLatin1String(row[1]));
            QVERIFY(label && box);
            const int textEnd = label->x() + label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(textEnd + 3 <= box->x(), qPrintable(QStringLiteral("%1 ends at %2, box at %3")
                                                             .arg(label->text())
                                                             .arg(textEnd)
                                                             .arg(box->x())));
        }
        for (const QString& verdict : {TPinEntry::kPinPoprawny, TPinEntry::kNowyNiezgodny}) {
            QVERIFY(z.PowtorzPIN_Label->x() >= z.PowtorzPIN_Edit->geometry().right() + 3);
            QVERIFY(z.PowtorzPIN_Label->x() +
                        z.PowtorzPIN_Label->fontMetrics().horizontalAdvance(verdict) <=
                    z.width());
        }
    }

    void pinOkWithoutChangeAndFailures() {
        Link l;
        QVERIFY(l.ready());
        l.core.Konfig.PIN_Numer = 1234;
        l.core.Konfig.PIN_On = true;
        l.core.Flaga_Kom.OK = false;
        {
            TZabezpieczenia z(l.core);
            z.show();
            z.Button1Click();
            QVERIFY(l.sim->waitLog(QStringLiteral("rx 6 1 4 210")));
            QVERIFY(!z.isVisible());
        }
        {
            TZabezpieczenia z(l.core);
            z.show();
            z.ZmianaPIN->click();
            z.Button1Click(); // the new-PIN box is empty
            QCOMPARE(l.view.errors.size(), 1);
            QVERIFY(l.view.errors[0].contains(QStringLiteral("is not a valid integer value")));
            // A pasted old PIN leaves OK on; a new PIN typed once must not go out.
            z.StaryPIN_Edit->setText(QStringLiteral("1234"));
            QTest::keyClicks(z.NowyPIN_Edit, QStringLiteral("5555"));
            QVERIFY(z.Button1->isEnabled());
            z.Button1Click();
            QCOMPARE(l.view.errors.size(), 2);
            QVERIFY(l.view.errors[1].startsWith(QStringLiteral("Nowy PIN nie został")));
            QVERIFY(z.isVisible());
            // Switching the change off again: first row of the table, OK on.
            z.ZmianaPIN->click();
            QVERIFY(z.StaryPIN_Edit->text().isEmpty() && !z.NowyPIN_Edit->isEnabled());
            QVERIFY(z.Button1->isEnabled());
            // The port closed: the transmit error, the window stays open.
            l.core.ComPort.Close();
            z.Button1Click();
            QCOMPARE(l.view.errors.size(), 3);
            QVERIFY(l.view.errors[2].startsWith(QStringLiteral("COM Port Error")));
            QVERIFY(z.isVisible());
        }
        QCOMPARE(l.frames(), QStringList{QStringLiteral("rx 6 1 4 210")});
    }

    // ---------------------------------------------------------------- demonstration panel

    void demoFramesAndSteps() {
        Link l;
        QVERIFY(l.ready());
        const QString nine230 = fields({230, 230, 230, 230, 230, 230, 230, 230, 230});
        auto d = std::make_unique<TDemoForm>(l.core);
        // Opening: the mode-0 frame with the initial voltages.
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 100 0") + nine230 + QStringLiteral(" 0 0")));
        for (QLabel* label : d->TrendLabel)
            QCOMPARE(label->text(), QStringLiteral("0"));

        // The first step sends what the fields showed before it, then moves them.
        // Every step goes up (direction draw 0) by the whole spread less one (0.9 V).
        d->setRandom([](int n) { return n == 100 || n <= 0 ? 0 : n - 1; });
        d->TimerTimer();
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 100 1") + nine230 + QStringLiteral(" 0 0")));
        QCOMPARE(d->fieldTexts()[0], QStringLiteral("231"));
        QCOMPARE(d->fieldTexts()[8], QStringLiteral("231"));
        QCOMPARE(d->TrendLabel[0]->text(), QStringLiteral("0"));
        QCOMPARE(d->SzumLabel[0]->text(), QLocale::system().toString(1.0, 'f', 1));

        // A field of 260 goes out as 255 (not 4), the next step leaves it at 255;
        // text that is no integer goes out as 0 and is flagged on the field.
        d->Edit[0]->setText(QStringLiteral("260"));
        d->Edit[1]->setText(QStringLiteral("23o"));
        QVERIFY(d->Edit[1]->accessibleName().contains(QStringLiteral("nie jest liczbą")));
        d->TimerTimer();
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 100 1") +
                               fields({255, 0, 231, 231, 231, 231, 231, 231, 231, 0, 0})));
        QCOMPARE(d->fieldTexts()[0], QStringLiteral("255"));
        QCOMPARE(d->fieldTexts()[1], QStringLiteral("1")); // 0 + 0.9 V

        // "230V" and the invisible "OK" put the fields back.
        d->Button3->click();
        QCOMPARE(d->fieldTexts()[0], QStringLiteral("230"));
        QVERIFY(d->Button1->isHidden());

        // Switching on runs the timer at the period; off stops it and sends mode 0.
        d->Czas->setValue(3);
        d->DemoAktywne->click();
        QVERIFY(d->Timer.isActive());
        QCOMPARE(d->Timer.interval(), 3000);
        d->DemoOFF->click();
        QVERIFY(!d->Timer.isActive());
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 100 0") + nine230 + QStringLiteral(" 0 0"), 2));

        // An assistive tool's "Toggle" acts as a click: the mode shown is the mode acted on.
        const auto toggle = [](QWidget* w) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w);
            QVERIFY(i && i->actionInterface());
            QVERIFY(i->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::toggleAction()));
            i->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        };
        toggle(d->DemoAktywne);
        QVERIFY(d->DemoAktywne->isChecked());
        QVERIFY(d->Timer.isActive());
        toggle(d->DemoOFF);
        QVERIFY(d->DemoOFF->isChecked());
        QVERIFY(!d->Timer.isActive());
        QVERIFY(l.sim->waitLog(QStringLiteral("rx 100 0") + nine230 + QStringLiteral(" 0 0"), 3));

        // Link down: the step still moves the fields but nothing goes out; closing sends nothing.
        l.core.Flaga_Kom.OK = false;
        const int before = int(l.frames().size());
        d->TimerTimer();
        QCOMPARE(d->fieldTexts()[0], QStringLiteral("231"));
        d.reset();
        QTest::qWait(300);
        QCOMPARE(int(l.frames().size()), before);
    }

    // The panel's voltages reach the controller, come back in its status frames and
    // show in the mimic window, lamps included.
    void demoVoltagesReachTheMimicWindow() {
        Link l({QStringLiteral("--period"), QStringLiteral("100")});
        QVERIFY(l.ready());
        std::unique_ptr<QWidget> mimic(createMimicWindow(1, l.core, [] {}));
        QVERIFY(mimic);
        mimic->show();
        TDemoForm d(l.core);
        for (QSlider* s : d.Szum)
            s->setValue(0); // the values stay as typed
        const std::array<int, 9> volts{231, 232, 233, 241, 242, 243, 180, 220, 254};
        for (size_t k = 0; k < 9; ++k)
            d.Edit[k]->setText(QString::number(volts[k]));
        d.DemoAktywne->click();
        const auto reading = [&](const char* name) {
            return mimic->findChild<QLabel*>(QLatin1String(name));
        };
        QTRY_COMPARE_WITH_TIMEOUT(reading("N3L3_U")->text(), QStringLiteral("254V"), 5000);
        QCOMPARE(reading("N1L1_U")->text(), QStringLiteral("231V"));
        QCOMPARE(reading("N2L2_U")->text(), QStringLiteral("242V"));
        QCOMPARE(reading("N3L1_U")->text(), QStringLiteral("180V"));
        // Under 195 V and over 253 V by the simulator's thresholds.
        QTRY_VERIFY(reading("N3L1_Min")->isVisible());
        QVERIFY(reading("N3L3_Max")->isVisible());
        QVERIFY(!reading("N3L2_Min")->isVisible() && !reading("N1L1_Min")->isVisible());
    }

    // Every control carries its component name as description and a Polish name.
    void accessibleNames() {
        RecordingView view;
        TQTA504Core core(&view);
        const auto check = [](QWidget& w, const QStringList& names) {
            for (const QString& n : names) {
                auto* c = w.findChild<QWidget*>(n);
                QVERIFY2(c, qPrintable(n));
                QCOMPARE(c->accessibleDescription(), n);
                QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(n));
            }
        };
        TZegar z(core);
        check(z, {"Label1", "Data_Label", "Godz_Label", "Button1", "Anuluj_Button"});
        QVERIFY(z.Button1->accessibleName().startsWith(QStringLiteral("Synchronizacja")));
        QVERIFY(z.Data_Label->accessibleName().contains(z.Data_Label->text()));
        TZabezpieczenia p(core);
        check(p, {"Zabezpieczenie_Image_On", "Zabezpieczenie_Image_Off", "ZmianaPIN_Image_On",
                  "ZmianaPIN_Image_Off", "StaryPIN_Edit", "NowyPIN_Edit", "PowtorzPIN_Edit",
                  "StaryPIN_Label", "PowtorzPIN_Label", "Button1", "Button2"});
        QVERIFY(p.StaryPIN_Edit->accessibleName().startsWith(QStringLiteral("Stary PIN")));
        TDemoForm d(core);
        QStringList demo{"Czas",    "DemoOFF", "DemoAktywne", "Symetria",
                         "Button1", "Button2", "Button3"};
        for (int k = 1; k <= 9; ++k)
            demo << QStringLiteral("Edit%1").arg(k);
        for (int l = 1; l <= 3; ++l)
            demo << QStringLiteral("Szum_%1").arg(l) << QStringLiteral("Trend_%1").arg(l)
                 << QStringLiteral("Label%1").arg(10 + l) << QStringLiteral("Label%1").arg(14 + l);
        check(d, demo);
        QCOMPARE(
            d.Szum[0]->accessibleName(),
            QStringLiteral("Losowość linii 1: %1 V").arg(QLocale::system().toString(1.0, 'f', 1)));
    }

    // The "Demo" item stays hidden unless the program is started with --demo-panel;
    // then it opens the panel.
    void demoItem() {
        TQTA504 m;
        wireWindows(m);
        QVERIFY(!m.Ustawienia_Demo->isVisible() && !m.Ustawienia_Demo->isEnabled());
        m.setDemoPanelAvailable(true);
        QVERIFY(m.Ustawienia_Demo->isVisible() && m.Ustawienia_Demo->isEnabled());
        for (QAction* a : {m.Ustawienia_Demo, m.Ustawienia_Zegar}) {
            a->trigger();
            QVERIFY(a->isChecked());
            QCOMPARE(m.mdiArea()->subWindowList().size(), 1);
            a->trigger();
            QVERIFY(!a->isChecked());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        m.close();
    }
};

QTEST_MAIN(TestClockPinDemo)
#include "tst_clockpindemo.moc"
