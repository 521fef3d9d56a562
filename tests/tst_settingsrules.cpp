// The clock frame and the PIN editor's rules and frame, without windows.
#include "settings/clockframe.h"
#include "settings/pinentry.h"
#include "testbytes.h"

#include <QTest>

using namespace qta;

namespace {

// Runs a script of user actions on a fresh editor whose controller reports
// `present`; each action is one of
//   C+ / C-      the change marker switched on / off
//   S:1234       typed into the old-PIN box one key at a time (each key fires the handler)
//   N:.. R:..    the same for the new and the repeat box
//   S=12         the box's whole text replaced at once (a paste, a deletion)
void run(TPinEntry& e, const QStringList& script) {
    for (const QString& step : script) {
        if (step == u"C+" || step == u"C-") {
            e.setChange(step == u"C+");
            continue;
        }
        const QChar box = step[0];
        const QString text = step.mid(2);
        const auto change = [&](const QString& t) {
            if (box == u'S')
                e.staryChanged(t);
            else if (box == u'N')
                e.nowyChanged(t);
            else
                e.powtorzChanged(t);
        };
        if (step[1] == u'=') {
            change(text);
        } else {
            const TPinBox& b = box == u'S' ? e.StaryPIN : box == u'N' ? e.NowyPIN : e.PowtorzPIN;
            QString t = b.text;
            for (QChar c : text)
                change(t += c);
        }
    }
}

// "boxes ok | old label | repeat label": box A active, I inactive, E enabled but beige.
QString describe(const TPinEntry& e) {
    const auto box = [](const TPinBox& b) {
        return QChar(b.active() ? u'A' : b.enabled ? u'E' : u'I');
    };
    const auto label = [](const TPinLabel& l) { return l.visible ? l.text : QStringLiteral("-"); };
    return QStringLiteral("%1%2%3 %4 | %5 | %6")
        .arg(box(e.StaryPIN))
        .arg(box(e.NowyPIN))
        .arg(box(e.PowtorzPIN))
        .arg(e.OkEnabled ? QStringLiteral("ok") : QStringLiteral("no-ok"))
        .arg(label(e.StaryPIN_Label), label(e.PowtorzPIN_Label));
}

} // namespace

class TestSettingsRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clockFrames_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("5 March 2024 14:07:09") << QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 870))
                                               << bytes({255, 3, 252, 24, 3, 5, 14, 7, 9, 0, 62});
        QTest::newRow("31 December 2099 23:59:59")
            << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59))
            << bytes({255, 3, 252, 99, 12, 31, 23, 59, 59, 1, 27});
        QTest::newRow("first year") << QDateTime(QDate(2000, 1, 1), QTime(0, 0))
                                    << bytes({255, 3, 252, 0, 1, 1, 0, 0, 0, 0, 2});
        QTest::newRow("last year") << QDateTime(QDate(2255, 1, 1), QTime(0, 0))
                                   << bytes({255, 3, 252, 255, 1, 1, 0, 0, 0, 1, 1});
        // The year has one byte: these would wrap to another year, so nothing goes out.
        QTest::newRow("1999") << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)) << QByteArray();
        QTest::newRow("2256") << QDateTime(QDate(2256, 1, 1), QTime(0, 0)) << QByteArray();
    }
    void clockFrames() {
        QFETCH(QDateTime, time);
        QFETCH(QByteArray, frame);
        QCOMPARE(clockFrame(time), frame);
    }

    void pinStates_data() {
        QTest::addColumn<int>("present");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QString>("state");
        QTest::newRow("opened") << 1234 << QStringList{} << "III ok | - | -";
        QTest::newRow("change on") << 1234 << QStringList{"C+"} << "AII ok | - | -";
        // Each key before the last is a wrong PIN: "OK" goes off and stays off.
        QTest::newRow("old right, typed")
            << 1234 << QStringList{"C+", "S:1234"} << "AAE no-ok | PIN Poprawny | -";
        QTest::newRow("old right, pasted")
            << 1234 << QStringList{"C+", "S=1234"} << "AAE ok | PIN Poprawny | -";
        QTest::newRow("leading zeros typed")
            << 42 << QStringList{"C+", "S:0042"} << "AAE no-ok | PIN Poprawny | -";
        QTest::newRow("without the zeros")
            << 42 << QStringList{"C+", "S:42"} << "AAE no-ok | PIN Poprawny | -";
        QTest::newRow("a digit too many")
            << 42 << QStringList{"C+", "S:420"} << "AII no-ok | - | -";
        QTest::newRow("present PIN 0, one key")
            << 0 << QStringList{"C+", "S:0"} << "AAE ok | PIN Poprawny | -";
        QTest::newRow("old emptied: nothing else changes")
            << 1234 << QStringList{"C+", "S=1234", "S="} << "AAE ok | - | -";
        QTest::newRow("new PIN complete")
            << 1234 << QStringList{"C+", "S:1234", "N:5678"} << "AAA no-ok | PIN Poprawny | -";
        QTest::newRow("new PIN incomplete")
            << 1234 << QStringList{"C+", "S:1234", "N:567"} << "AAI no-ok | PIN Poprawny | -";
        QTest::newRow("repeat confirms") << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678"}
                                         << "AAA ok | PIN Poprawny | Nowy PIN poprawny";
        QTest::newRow("repeat differs") << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5679"}
                                        << "AAA no-ok | PIN Poprawny | Nowy PIN niezgodny";
        QTest::newRow("repeat incomplete") << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:56"}
                                           << "AAA no-ok | PIN Poprawny | Nowy PIN niezgodny";
        QTest::newRow("new changed after confirming withdraws it")
            << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678", "N=5670"}
            << "AAA no-ok | PIN Poprawny | Nowy PIN niezgodny";
        QTest::newRow("new shortened after confirming")
            << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678", "N=567"}
            << "AAI no-ok | PIN Poprawny | Nowy PIN niezgodny";
        QTest::newRow("new back to the repeat confirms again")
            << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678", "N=567", "N:8"}
            << "AAA ok | PIN Poprawny | Nowy PIN poprawny";
        QTest::newRow("wrong then right old PIN")
            << 1234 << QStringList{"C+", "S:9", "S=", "S:1234", "N:5678", "R:5678"}
            << "AAA ok | PIN Poprawny | Nowy PIN poprawny";
        QTest::newRow("old made wrong after confirming")
            << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678", "S=123"}
            << "AII no-ok | - | Nowy PIN poprawny";
        QTest::newRow("change off after a wrong PIN")
            << 1234 << QStringList{"C+", "S:9", "C-"} << "III ok | - | -";
        QTest::newRow("change off after the repeat")
            << 1234 << QStringList{"C+", "S:1234", "N:5678", "R:5678", "C-"}
            << "III ok | - | Nowy PIN niezgodny";
    }
    void pinStates() {
        QFETCH(int, present);
        QFETCH(QStringList, script);
        QFETCH(QString, state);
        TPinEntry e(false, [present] { return present; });
        run(e, script);
        QCOMPARE(describe(e), state);
        if (script.endsWith(QStringLiteral("C-"))) {
            QVERIFY(e.StaryPIN.text.isEmpty() && e.NowyPIN.text.isEmpty() &&
                    e.PowtorzPIN.text.isEmpty());
            QVERIFY(!e.ZmianaPIN);
        }
    }

    // The box that asks for the focus follows the user through the rows.
    void pinFocus() {
        TPinEntry e(false, [] { return 1234; });
        run(e, {"C+"});
        QCOMPARE(e.Focus, TPinEntry::Stary);
        run(e, {"S:1234"});
        QCOMPARE(e.Focus, TPinEntry::Nowy);
        run(e, {"N:5678"});
        QCOMPARE(e.Focus, TPinEntry::Powtorz);
    }

    // What "OK" sends, and why it sends nothing.
    void pinToSend_data() {
        QTest::addColumn<int>("present");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("pin");
        QTest::addColumn<QString>("error");
        QTest::newRow("change off: the present PIN") << 4321 << QStringList{} << 4321 << "";
        QTest::newRow("change on and off again") << 4321 << QStringList{"C+", "C-"} << 4321 << "";
        QTest::newRow("confirmed new PIN below 256")
            << 4321 << QStringList{"C+", "S:4321", "N:0042", "R:0042"} << 42 << "";
        QTest::newRow("new PIN box empty")
            << 4321 << QStringList{"C+"} << -1 << "'''' is not a valid integer value";
        // "OK" is still on after a pasted old PIN: a PIN typed once must not go out.
        QTest::newRow("new PIN not confirmed")
            << 4321 << QStringList{"C+", "S=4321", "N:9999"} << -1 << "Nowy PIN nie został";
    }
    void pinToSend() {
        QFETCH(int, present);
        QFETCH(QStringList, script);
        QFETCH(int, pin);
        QFETCH(QString, error);
        TPinEntry e(true, [present] { return present; });
        run(e, script);
        QString why;
        QCOMPARE(e.pinToSend(&why), pin);
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.startsWith(error), qPrintable(why));
    }

    void pinFrames_data() {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("pin");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("on, 1234") << true << 1234 << bytes({255, 6, 249, 1, 4, 210, 0, 215});
        QTest::newRow("off, 42") << false << 42 << bytes({255, 6, 249, 0, 0, 42, 0, 42});
        QTest::newRow("on, 9999") << true << 9999 << bytes({255, 6, 249, 1, 39, 15, 0, 55});
        QTest::newRow("off, 0") << false << 0 << bytes({255, 6, 249, 0, 0, 0, 0, 0});
    }
    void pinFrames() {
        QFETCH(bool, on);
        QFETCH(int, pin);
        QFETCH(QByteArray, frame);
        QCOMPARE(pinFrame(on, pin), frame);
    }

    void pinText() {
        for (const char* good : {"", "0", "0042", "9999"})
            QVERIFY2(isPinText(QString::fromLatin1(good)), good);
        for (const char* bad : {"12345", "12a", "-1", " 12", "1.5"})
            QVERIFY2(!isPinText(QString::fromLatin1(bad)), bad);
    }
};

QTEST_GUILESS_MAIN(TestSettingsRules)
#include "tst_settingsrules.moc"
