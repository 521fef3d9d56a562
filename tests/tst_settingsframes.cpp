// The editors' frames and entry rules without windows: the bytes of the
// configuration and customisation writes, a reply read by the core and sent
// back unchanged, and how a box judges what was typed.
#include "core/controller.h"
#include "recordingview.h"
#include "settings/backupfile.h"
#include "settings/editorfields.h"
#include "settings/entryrule.h"
#include "settings/settingsframes.h"
#include "testbytes.h"

#include <QTest>
#include <functional>

using namespace qta;

namespace {

// A configuration with nothing at zero, so that a misplaced byte shows.
TKonf sampleConfig() {
    TKonf k;
    k.Linia[1] = {false, false, 195, 253, 8};
    k.Linia[2] = {false, false, 60, 300, 100};
    k.Linia[3] = {false, false, 200, 260, 5};
    k.Kwal_ON = 600;
    k.Kwal_OFF = 2;
    k.Przelaczanie = 900;
    k.Uzbrajanie = 2.5;
    k.Rozbrajanie = 0.3;
    k.Przerwa = 90.0;
    k.Progr = 1;
    k.Linia_Glowna = 1;
    return k;
}

using Change = std::function<void(TKonf&)>;

// The frame as the controller receives it, through the core's own receiver
// and reply handler: what the core then holds in Konfig.
TKonf decodedByCore(int code, const QByteArray& payload) {
    NullView view;
    TQTA504Core core(&view);
    core.Timer2.stop();
    core.Timer3.stop();
    core.receiveBytes(buildFrame(std::uint8_t(code), payload));
    core.COM_Rx_Complete();
    return core.Konfig;
}

} // namespace

class TestSettingsFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland)); }

    void configBytes_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<int>("at"); // payload byte
        QTest::addColumn<QByteArray>("expected");
        const auto none = [](TKonf&) {};
        QTest::newRow("N1 Umin high byte first") << Change(none) << 0 << bytes({0, 195});
        QTest::newRow("N2 Umax 300") << Change(none) << 8 << bytes({1, 44});
        QTest::newRow("N3 hysteresis") << Change(none) << 16 << bytes({0, 5});
        QTest::newRow("Kwal_ON 600") << Change(none) << 18 << bytes({2, 88});
        QTest::newRow("Przelaczanie 900") << Change(none) << 22 << bytes({3, 132});
        QTest::newRow("Uzbrajanie 2.5 s -> 25") << Change(none) << 24 << bytes({0, 25});
        QTest::newRow("Rozbrajanie 0.3 s -> 3") << Change(none) << 26 << bytes({0, 3});
        QTest::newRow("Przerwa 90.0 s -> 900") << Change(none) << 28 << bytes({3, 132});
        QTest::newRow("0.35 s is cut to 3")
            << Change([](TKonf& k) { k.Przerwa = 0.35; }) << 28 << bytes({0, 3});
        QTest::newRow("0.1 + 0.2 s still 3")
            << Change([](TKonf& k) { k.Przerwa = 0.1 + 0.2; }) << 28 << bytes({0, 3});
        QTest::newRow("mode: contactors, program 1, N1") << Change(none) << 30 << bytes({9});
        QTest::newRow("mode: only N2, switch-disconnectors, N2") << Change([](TKonf& k) {
            k.Progr = 11;
            k.Aparat = true;
            k.Linia_Glowna = 2;
        }) << 30 << bytes({218});
        QTest::newRow("mode: program 7 and main line 5 go back as read") << Change([](TKonf& k) {
            k.Progr = 7;
            k.Linia_Glowna = 5;
        }) << 30 << bytes({7 * 8 + 5});
        QTest::newRow("mode: a program past 15 stays out of the apparatus bit")
            << Change([](TKonf& k) { k.Progr = 16 + 3; }) << 30 << bytes({3 * 8 + 1});
        QTest::newRow("shedding none") << Change(none) << 31 << bytes({0});
        QTest::newRow("shedding all three") << Change([](TKonf& k) {
            k.Linia[1].Zrzut = k.Linia[2].Zrzut = k.Linia[3].Zrzut = true;
        }) << 31 << bytes({21});
        QTest::newRow("shedding N2 only")
            << Change([](TKonf& k) { k.Linia[2].Zrzut = true; }) << 31 << bytes({4});
    }
    void configBytes() {
        QFETCH(Change, change);
        QFETCH(int, at);
        QFETCH(QByteArray, expected);
        TKonf k = sampleConfig();
        change(k);
        const QByteArray f = configFrame(k);
        QCOMPARE(f.size(), 37);
        QCOMPARE(f.left(3), bytes({255, 2, 253}));
        QCOMPARE(f.mid(3 + at, expected.size()), expected);
        const std::uint16_t sum = payloadSum(f.mid(3, 32));
        QCOMPARE(f.right(2), bytes({sum >> 8, sum & 0xFF}));
    }

    void customBytes_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all four on -> 240") << Change([](TKonf& k) {
            k.Kontrola_On = k.Buczek_On = k.Podsw_On = k.Rejestr_On = true;
        }) << 0 << bytes({240});
        QTest::newRow("all off -> 0") << Change([](TKonf&) {}) << 0 << bytes({0});
        QTest::newRow("sound alone -> 64, not the reply's 32")
            << Change([](TKonf& k) { k.Buczek_On = true; }) << 0 << bytes({64});
        QTest::newRow("the PIN switch is not in this frame")
            << Change([](TKonf& k) { k.PIN_On = true; }) << 0 << bytes({0});
        QTest::newRow("delay 300 -> 1, 44")
            << Change([](TKonf& k) { k.Kontrola_Opozn = 300; }) << 1 << bytes({1, 44});
        QTest::newRow("delay 255 -> 0, 255")
            << Change([](TKonf& k) { k.Kontrola_Opozn = 255; }) << 1 << bytes({0, 255});
        QTest::newRow("duration, then backlight time") << Change([](TKonf& k) {
            k.Buczek_Czas = 7;
            k.Podsw_Czas = 99;
        }) << 3 << bytes({0, 7, 0, 99});
        QTest::newRow("brightness one byte")
            << Change([](TKonf& k) { k.Podsw_Jasnosc = 40; }) << 7 << bytes({40});
    }
    void customBytes() {
        QFETCH(Change, change);
        QFETCH(int, at);
        QFETCH(QByteArray, expected);
        TKonf k;
        change(k);
        const QByteArray f = customFrame(k);
        QCOMPARE(f.size(), 13);
        QCOMPARE(f.left(3), bytes({255, 5, 250}));
        QCOMPARE(f.mid(3 + at, expected.size()), expected);
        const std::uint16_t sum = payloadSum(f.mid(3, 8));
        QCOMPARE(f.right(2), bytes({sum >> 8, sum & 0xFF}));
    }

    // What the controller reports, read by the core and sent back untouched,
    // is what the controller holds.
    void roundTrip() {
        const QByteArray config =
            bytes({0, 195, 0, 253, 0, 8, 0, 60,  1, 44, 0, 120, 1, 44,  0,         60,
                   0, 0,   2, 88,  0, 0, 3, 132, 0, 3,  0, 25,  3, 132, 7 * 8 + 5, 21});
        const TKonf k = decodedByCore(RxConfig, config + bytes({0, 30}));
        QCOMPARE(configPayload(k), config);

        // Customisation reply: 128 monitoring, 64 PIN, 32 sound, 16 backlight,
        // 8 register; the write carries the same switches one place higher.
        const QByteArray reply = bytes({128 | 64 | 32 | 8, 1, 44, 0, 99, 0, 5, 40, 4, 210});
        const TKonf c = decodedByCore(RxCustom, reply);
        QCOMPARE(customPayload(c), bytes({128 | 64 | 16, 1, 44, 0, 99, 0, 5, 40}));
    }

    void entryRules_data() {
        QTest::addColumn<QString>("component");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("present");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<double>("stored");
        QTest::addColumn<QString>("shown");
        const int ok = TEntryResult::Accepted, back = TEntryResult::Reverted,
                  nan = TEntryResult::NotANumber;
        // Umin of N1
        QTest::newRow("Umin 301") << "Edit1"
                                  << "301" << 230.0 << back << 230.0 << "230";
        QTest::newRow("Umin 300") << "Edit1"
                                  << "300" << 230.0 << ok << 300.0 << "300";
        QTest::newRow("Umin 60") << "Edit1"
                                 << "60" << 230.0 << ok << 60.0 << "60";
        QTest::newRow("Umin 59") << "Edit1"
                                 << "59" << 230.0 << back << 230.0 << "230";
        QTest::newRow("hysteresis 121") << "Edit2"
                                        << "121" << 8.0 << back << 8.0 << "8";
        QTest::newRow("Przelaczanie emptied") << "Edit12"
                                              << "" << 10.0 << back << 10.0 << "10";
        QTest::newRow("Przelaczanie 900") << "Edit12"
                                          << "900" << 10.0 << ok << 900.0 << "900";
        QTest::newRow("Kwal_ON letters") << "Edit10"
                                         << "5x" << 5.0 << back << 5.0 << "5";
        // Apparatus times: comma as the regional separator, one decimal after an edit
        QTest::newRow("time 90,1") << "Edit13"
                                   << "90,1" << 1.0 << back << 1.0 << "1,0";
        QTest::newRow("time 90") << "Edit13"
                                 << "90" << 1.0 << ok << 90.0 << "90,0";
        QTest::newRow("time -0,1") << "Edit14"
                                   << "-0,1" << 0.5 << back << 0.5 << "0,5";
        QTest::newRow("time 0,35 holds what is sent") << "Edit15"
                                                      << "0,35" << 1.0 << ok << 0.3 << "0,3";
        QTest::newRow("time 2,45 is not shown as 2,5") << "Edit15"
                                                       << "2,45" << 1.0 << ok << 2.4 << "2,4";
        QTest::newRow("time with a point") << "Edit15"
                                           << "2.5" << 1.0 << back << 1.0 << "1,0";
        QTest::newRow("time emptied") << "Edit15"
                                      << "" << 2.5 << back << 2.5 << "2,5";
        // Customisation: out of range quietly back, not a number refused aloud
        QTest::newRow("delay 256") << "Kontrola_Edit"
                                   << "256" << 10.0 << back << 10.0 << "10";
        QTest::newRow("delay 255") << "Kontrola_Edit"
                                   << "255" << 10.0 << ok << 255.0 << "255";
        QTest::newRow("brightness 100") << "Podsw_Jasn_Edit"
                                        << "100" << 80.0 << back << 80.0 << "80";
        QTest::newRow("brightness 99") << "Podsw_Jasn_Edit"
                                       << "99" << 80.0 << ok << 99.0 << "99";
        QTest::newRow("brightness 0") << "Podsw_Jasn_Edit"
                                      << "0" << 80.0 << ok << 0.0 << "0";
        QTest::newRow("brightness -1") << "Podsw_Jasn_Edit"
                                       << "-1" << 80.0 << back << 80.0 << "80";
        QTest::newRow("duration abc") << "Buczek_Czas"
                                      << "abc" << 5.0 << nan << 5.0 << "abc";
        QTest::newRow("backlight emptied") << "Podsw_Czas_Edit"
                                           << "" << 30.0 << nan << 30.0 << "";
        QTest::newRow("delay too long for an integer")
            << "Kontrola_Edit"
            << "99999999999" << 10.0 << nan << 10.0 << "99999999999";
    }
    void entryRules() {
        QFETCH(QString, component);
        QFETCH(QString, typed);
        QFETCH(double, present);
        QFETCH(int, outcome);
        QFETCH(double, stored);
        QFETCH(QString, shown);
        const TFieldDesc* f = findField(configFields(), component);
        if (!f)
            f = findField(customFields(), component);
        QVERIFY(f);
        const TEntryResult r = applyEntry(f->rule, typed, present);
        QCOMPARE(int(r.outcome), outcome);
        QCOMPARE(r.value, stored);
        QCOMPARE(r.text, shown);
        if (outcome == TEntryResult::NotANumber)
            QCOMPARE(r.error, QStringLiteral("''%1'' is not a valid integer value").arg(typed));
        else
            QVERIFY(r.error.isEmpty());
    }

    // The opening shows the apparatus times in their shortest form.
    void openingForm() {
        const TEntryRule tenths{EntryKind::Tenths, 0, 90};
        QCOMPARE(entryText(tenths, 2.5, false), QStringLiteral("2,5"));
        QCOMPARE(entryText(tenths, 3.0, false), QStringLiteral("3"));
        QCOMPARE(entryText(tenths, 3.0, true), QStringLiteral("3,0"));
        QCOMPARE(entryText(tenths, 6553.5, false), QStringLiteral("6553,5")); // no grouping
        QCOMPARE(entryText({EntryKind::Integer, 0, 900}, 1234, false), QStringLiteral("1234"));
    }

    void warnings() {
        TKonf k = sampleConfig();
        QVERIFY(thresholdWarnings(k).isEmpty());
        k.Linia[2].Umin = 250;
        k.Linia[2].Umax = 250;
        k.Linia[3] = {false, false, 200, 240, 20}; // 220 >= 220: no band left
        const QStringList w = thresholdWarnings(k);
        QCOMPARE(w.size(), 2);
        QVERIFY2(w[0].startsWith(QStringLiteral("Linia N2")) && w[0].contains(u"250"),
                 qPrintable(w[0]));
        QVERIFY2(w[1].startsWith(QStringLiteral("Linia N3")) && w[1].contains(u"220"),
                 qPrintable(w[1]));
    }

    // A backup read back gives the copy it was written from; every field
    // the editors send has its key.
    void backupRoundTrip() {
        TKonf k = sampleConfig();
        k.Progr = 7; // as read from a controller: not in the list, kept
        k.Linia[2].Zrzut = true;
        const QString text = backupText(QStringLiteral("Konfiguracja"),
                                        QStringLiteral("Konfiguracja"), configFields(), k,
                                        QStringLiteral("QTA1v2"), QDateTime({2024, 5, 6}, {7, 8}));
        QVERIFY(text.contains(QStringLiteral("; Sterownik: QTA1v2")));
        QVERIFY(text.contains(QStringLiteral("; Zapisano: 2024-05-06 07:08:00")));
        QVERIFY(text.contains(QStringLiteral("\nT_D=90\n")));
        TKonf start; // the editor's copy, opened on the same controller
        start.Progr = 7;
        const TBackupLoad r =
            parseBackup(text, QStringLiteral("Konfiguracja"), configFields(), start);
        QVERIFY2(!r.hasProblems(), qPrintable(r.message()));
        QVERIFY(r.missing.isEmpty());
        QCOMPARE(configPayload(r.konf), configPayload(k));
        // 7 is taken only because the copy holds it already.
        QCOMPARE(r.konf.Progr, 7);
        QCOMPARE(
            parseBackup(text, QStringLiteral("Konfiguracja"), configFields(), TKonf{}).refused,
            QStringList{QStringLiteral("Program = 7: dozwolone: 0, 1, 2, 3, 4, 5, 10, 11, 12")});
    }

    // Values from a file are judged as typed ones; what is refused or unknown
    // is named, the rest is taken.
    void backupValuesJudged() {
        const QString text = QStringLiteral("[konfiguracja]\n"
                                            "N1_U_Min = 301\n"
                                            "N1_U_Max=abc\n"
                                            "N2_U_Min=210\n"
                                            "T_On=2,5\n"
                                            "T_Off=0.35\n"
                                            "T_D=90.1\n"
                                            "Linia_Glowna=4\n"
                                            "Zrzut_N3=1\n"
                                            "Kolor=niebieski\n"
                                            "[Inna]\nN3_U_Min=100\n");
        const TKonf start = sampleConfig();
        const TBackupLoad r =
            parseBackup(text, QStringLiteral("Konfiguracja"), configFields(), start);
        QCOMPARE(r.konf.Linia[1].Umin, 195);
        QCOMPARE(r.konf.Linia[1].Umax, 253);
        QCOMPARE(r.konf.Linia[2].Umin, 210);
        QCOMPARE(r.konf.Linia[3].Umin, 200); // other sections are not read
        QCOMPARE(r.konf.Uzbrajanie, 2.5);
        QCOMPARE(r.konf.Rozbrajanie, 0.3);
        QCOMPARE(r.konf.Przerwa, 90.0);
        QCOMPARE(r.konf.Linia_Glowna, 1);
        QVERIFY(r.konf.Linia[3].Zrzut);
        QCOMPARE(
            r.refused,
            (QStringList{QStringLiteral("N1_U_Min = 301: poza zakresem, dozwolone od 60 do 300"),
                         QStringLiteral("N1_U_Max = abc: to nie jest liczba"),
                         QStringLiteral("T_D = 90.1: poza zakresem, dozwolone od 0 do 90"),
                         QStringLiteral("Linia_Glowna = 4: dozwolone: 0, 1, 2, 3")}));
        QCOMPARE(r.unknown, QStringList{QStringLiteral("Kolor")});
        QVERIFY(r.message().contains(QStringLiteral("Kolor")));
        QVERIFY_THROWS_EXCEPTION(EBackup, parseBackup(QStringLiteral("N1_U_Min=200\n"),
                                                      QStringLiteral("Konfiguracja"),
                                                      configFields(), start));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFrames)
#include "tst_settingsframes.moc"
