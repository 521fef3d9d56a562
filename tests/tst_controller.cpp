// Reply interpretation on real tables: every reply code, the status row, the
// fault texts, program changes, and a failing table reported once.
#include "core/controller.h"
#include "recordingview.h"
#include "settings/controllerfile.h"
#include "tables/table.h"
#include "testbytes.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qta;

namespace {
QByteArray status(std::array<int, 9> u, int f1, int f2, int f3, int progActive, int states,
                  int awaria) {
    return buildFrame(RxStatus, statusBytes(u, f1, f2, f3, progActive, states, awaria));
}
} // namespace

class TestController : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldCwd;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<TQTA504Core> core;

    void deliver(const QByteArray& b) {
        core->receiveBytes(b);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init() {
        oldCwd = QDir::currentPath();
        QVERIFY(dir.isValid());
        QDir::setCurrent(dir.path());
        QDir().mkpath(QStringLiteral("rejestr"));
        QFile::remove(QStringLiteral("rejestr/rejestr.dbf"));
        QFile::remove(QStringLiteral("rejestr/linia.dbf"));
        TTable::createRejestr(QStringLiteral("rejestr/rejestr.dbf"));
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
        view = std::make_unique<RecordingView>();
        core = std::make_unique<TQTA504Core>(view.get());
        core->openTables();
    }
    void cleanup() {
        core->closeAll();
        core.reset();
        QDir::setCurrent(oldCwd);
    }

    void startAndEndRows() {
        // One zero row at start; one more at the orderly end.
        QCOMPARE(core->Linia()->RecordCount(), 1);
        core->closeAll();
        TTable t(QStringLiteral("rejestr/linia.dbf"));
        t.Open();
        QCOMPARE(t.RecordCount(), 2);
        for (int row = 0; row < 2; ++row)
            for (int f = 1; f <= 9; ++f)
                QCOMPARE(t.numberValue(row, f), 0.0);
        QVERIFY(t.dateTimeValue(1, 0).isValid());
    }

    void statusReply() {
        core->Konfig.Id = QStringLiteral("ABCDEF");
        deliver(status({230, 231, 232, 65535, 0, 81, 1, 2, 300}, 0x3F, 0x09, 0xC0, 0xA3, 0xE4, 0));
        QCOMPARE(core->Linia_1.U[1], 230);
        QCOMPARE(core->Linia_2.U[1], 65535);
        QCOMPARE(core->Linia_3.U[3], 300);
        for (int k = 1; k <= 3; ++k) {
            QCOMPARE(core->Linia_1.Error_Min[k], -1);
            QCOMPARE(core->Linia_1.Error_Max[k], -1);
            QCOMPARE(core->Linia_3.Error_Min[k], 0); // bits 6, 7 ignored
            QCOMPARE(core->Linia_3.Error_Max[k], 0);
        }
        QCOMPARE(core->Linia_2.Error_Min[1], -1);
        QCOMPARE(core->Linia_2.Error_Min[2], 0);
        QCOMPARE(core->Linia_2.Error_Max[1], -1);
        QCOMPARE(core->Aktywny_Program, 10);
        QCOMPARE(core->Aktywna_Linia, 3);
        QCOMPARE(int(core->Linia_1.Status), 2); // 0xE4: bits 5-4 = 10
        QCOMPARE(int(core->Linia_2.Status), 1);
        QCOMPARE(int(core->Linia_3.Status), 0);
        QCOMPARE(view->caption, QStringLiteral("Rozłącz"));
        QCOMPARE(view->panels[0], QStringLiteral("Połączono z QTA504 - v. ABCDEF"));
        QVERIFY(core->UART_Connect);
        QCOMPARE(core->Timer2.interval(), 1500);
        QVERIFY(core->Timer2.isActive());

        TTable* t = core->Linia();
        QCOMPARE(t->RecordCount(), 2);
        const std::array<int, 9> expected = {230, 231, 232, 65535, 0, 81, 1, 2, 300};
        for (int f = 0; f < 9; ++f)
            QCOMPARE(t->numberValue(1, f + 1), double(expected[size_t(f)]));
        QVERIFY(qAbs(t->dateTimeValue(1, 0).secsTo(QDateTime::currentDateTime())) < 5);
    }

    void faultTexts_data() {
        QTest::addColumn<int>("awaria");
        QTest::addColumn<bool>("tykacz");
        QTest::addColumn<QString>("panel1");
        QTest::addColumn<QString>("panel2");
        QTest::newRow("bits 1 and 2") << 6 << true << "Awaria !"
                                      << "Brak dobrych linii zasilającychZałączenie generatora";
        QTest::newRow("bit 0 keeps its comma") << 1 << true << "Awaria !"
                                               << "Brak napięcia na linii wyjściowej, ";
        QTest::newRow("bit 3 blinks without text") << 8 << true << "Awaria !"
                                                   << "";
        QTest::newRow("blink phase off") << 0x80 << false << ""
                                         << "Zadziałanie wyłącznika bezpieczeństwa";
        QTest::newRow("no fault") << 0 << true << ""
                                  << "";
    }
    void faultTexts() {
        QFETCH(int, awaria);
        QFETCH(bool, tykacz);
        QFETCH(QString, panel1);
        QFETCH(QString, panel2);
        view->panels[1] = view->panels[2] = QStringLiteral("old");
        core->Tykacz = tykacz;
        deliver(status({}, 0, 0, 0, 0x11, 0, awaria));
        QCOMPARE(core->Konfig.Awaria, awaria);
        QCOMPARE(view->panels[1], panel1);
        QCOMPARE(view->panels[2], panel2);
    }

    void identifierShowsWithNextFrame() {
        deliver(buildFrame(RxIdentifier, bytes({'Q', 'T', 1, 255, '2', ' ', 1, 44})));
        QCOMPARE(view->panels[0], QStringLiteral("Połączono z QTA504 - v. "));
        QVERIFY(core->Flaga_Kom.Id);
        QCOMPARE(core->Konfig.QTA_Last_Rekord, 300);
        QCOMPARE(core->Konfig.Id.size(), 6);
        QCOMPARE(core->Konfig.Id.at(2).unicode(), ushort(1));
        QCOMPARE(core->Konfig.Id.at(3).unicode(), ushort(255));
        deliver(buildFrame(RxNewest, bytes({1, 44})));
        QCOMPARE(view->panels[0], QStringLiteral("Połączono z QTA504 - v. ") + core->Konfig.Id);
    }

    void configReply() {
        QByteArray p;
        for (int v : {180, 260, 5, 181, 261, 6, 182, 262, 7, 10, 20, 30, 25, 300, 900})
            p += bytes({v >> 8, v & 0xFF});
        p += bytes({0x80 | (5 << 3) | 2, 0x15, 1, 2});
        deliver(buildFrame(RxConfig, p));
        const TKonf& k = core->Konfig;
        QCOMPARE(k.Linia[1].Umin, 180);
        QCOMPARE(k.Linia[2].Umax, 261);
        QCOMPARE(k.Linia[3].Histereza, 7);
        QCOMPARE(k.Kwal_ON, 10);
        QCOMPARE(k.Kwal_OFF, 20);
        QCOMPARE(k.Przelaczanie, 30);
        QCOMPARE(k.Uzbrajanie, 2.5);
        QCOMPARE(k.Rozbrajanie, 30.0);
        QCOMPARE(k.Przerwa, 90.0);
        QVERIFY(k.Aparat);
        QCOMPARE(k.Progr, 5);
        QCOMPARE(k.Linia_Glowna, 2);
        QVERIFY(k.Linia[1].Zrzut && k.Linia[2].Zrzut && k.Linia[3].Zrzut);
        QCOMPARE(k.Czas_Zrzutu, 258);
        QVERIFY(core->Flaga_Kom.Konfig);

        p[31] = char(0x04);
        deliver(buildFrame(RxConfig, p));
        QVERIFY(!k.Linia[1].Zrzut && k.Linia[2].Zrzut && !k.Linia[3].Zrzut);
    }

    void customReply() {
        deliver(buildFrame(RxCustom, bytes({0xA8, 0, 30, 1, 0, 0, 60, 255, 0xFF, 0xFE})));
        const TKonf& k = core->Konfig;
        QVERIFY(k.Kontrola_On);
        QVERIFY(!k.PIN_On);
        QVERIFY(k.Buczek_On);
        QVERIFY(!k.Podsw_On);
        QVERIFY(k.Rejestr_On);
        QCOMPARE(k.Kontrola_Opozn, 30);
        QCOMPARE(k.Buczek_Czas, 256);
        QCOMPARE(k.Podsw_Czas, 60);
        QCOMPARE(k.Podsw_Jasnosc, 255);
        QCOMPARE(k.PIN_Numer, 65534);
        QVERIFY(core->Flaga_Kom.Ustawienia);
    }

    void newestIndexArmsDownload() {
        // The local table is empty: the whole log is due.
        deliver(buildFrame(RxNewest, bytes({0, 0})));
        QVERIFY(core->Timer5.isActive());
        QCOMPARE(core->Timer5.interval(), 500);
        core->Timer5.stop();
        // A table holding the newest record: nothing due.
        TTable* t = core->Rejestr();
        t->Append();
        t->FieldByName(QStringLiteral("INDEKS")).setAsInteger(7);
        t->Post();
        deliver(buildFrame(RxNewest, bytes({0, 7})));
        QVERIFY(!core->Timer5.isActive());
        deliver(buildFrame(RxNewest, bytes({0, 8})));
        QVERIFY(core->Timer5.isActive());
    }

    void programChange() {
        deliver(status({}, 0, 0, 0, 0xA0, 0, 0));
        QCOMPARE(view->showMains, 0); // no mimic window open: nothing opens
        view->mimicOpen = true;
        deliver(status({}, 0, 0, 0, 0x10, 0, 0));
        QCOMPARE(view->mimicCloses, 1);
        QCOMPARE(view->showMains, 1);
        deliver(status({}, 0, 0, 0, 0x13, 0, 0)); // same program, other line
        QCOMPARE(view->mimicCloses, 1);
        QCOMPARE(view->showMains, 1);
    }

    void failingTableReportedOnce() {
        core->Linia()->Close();
        for (int i = 0; i < 3; ++i)
            deliver(status({230}, 0, 0, 0, 0x10, 0, 0));
        QCOMPARE(view->errors.size(), 1);
        // The receiver was re-armed every time: the state still follows the replies.
        deliver(status({231}, 0, 0, 0, 0x10, 0, 0));
        QCOMPARE(core->Linia_1.U[1], 231);
        // After a good append, a new failure is reported again.
        core->Linia()->Open();
        deliver(status({232}, 0, 0, 0, 0x10, 0, 0));
        core->Linia()->Close();
        deliver(status({233}, 0, 0, 0, 0x10, 0, 0));
        QCOMPARE(view->errors.size(), 2);
    }

    void controllerFileFollowsCompleteReads() {
        const QString path = core->controllerFilePath();
        const auto config = [](int umin1, int prog) {
            QByteArray p;
            for (int v : {umin1, 260, 5, 181, 261, 6, 182, 262, 7, 10, 20, 30, 25, 15, 12})
                p += bytes({v >> 8, v & 0xFF});
            return buildFrame(RxConfig, p + bytes({0x80 | (prog << 3) | 2, 0x10, 0, 0}));
        };
        const QByteArray custom = buildFrame(RxCustom, bytes({0xA8, 0, 30, 0, 4, 0, 60, 45, 0, 0}));
        const QByteArray id = buildFrame(RxIdentifier, bytes({'Q', 'T', 'A', '1', 'v', '2', 0, 9}));
        // A read as the start window makes it: identifier, configuration,
        // customisation; the file appears only once all three are in.
        deliver(id);
        deliver(config(180, 1));
        QVERIFY(!QFile::exists(path));
        deliver(custom);
        TSettingsFile f = readSettingsFile(path);
        QCOMPARE(f.controllerId, QStringLiteral("QTA1v2"));
        QVERIFY(f.hasConfig && f.hasCustom);
        QVERIFY(f.missing.isEmpty() && f.unknown.isEmpty());
        QCOMPARE(f.konf.Linia[1].Umin, 180);
        QCOMPARE(f.konf.Uzbrajanie, 2.5);
        QCOMPARE(f.konf.Rozbrajanie, 1.5);
        QCOMPARE(f.konf.Przerwa, 1.2);
        QCOMPARE(f.konf.Progr, 1);
        QVERIFY(f.konf.Aparat && f.konf.Linia[1].Zrzut && !f.konf.Linia[2].Zrzut);
        QVERIFY(f.konf.Kontrola_On && f.konf.Buczek_On && f.konf.Rejestr_On && !f.konf.Podsw_On);
        QCOMPARE(f.konf.Kontrola_Opozn, 30);
        QCOMPARE(f.konf.Buczek_Czas, 4);
        QCOMPARE(f.konf.Podsw_Jasnosc, 45);
        // The configuration read back after an editor closed: rewritten.
        deliver(config(190, 3));
        f = readSettingsFile(path);
        QCOMPARE(f.konf.Linia[1].Umin, 190);
        QCOMPARE(f.konf.Progr, 3);
        QCOMPARE(f.konf.Kontrola_Opozn, 30);
        // A new read (after a lost link) half done: the file keeps the last
        // complete one rather than a mix of two controllers.
        deliver(buildFrame(RxIdentifier, bytes({'Q', 'T', 'A', '9', 'v', '9', 0, 9})));
        deliver(config(200, 10));
        f = readSettingsFile(path);
        QCOMPARE(f.controllerId, QStringLiteral("QTA1v2"));
        QCOMPARE(f.konf.Linia[1].Umin, 190);
        deliver(custom);
        f = readSettingsFile(path);
        QCOMPARE(f.controllerId, QStringLiteral("QTA9v9"));
        QCOMPARE(f.konf.Linia[1].Umin, 200);
        QCOMPARE(f.konf.Progr, 10);
        QVERIFY(view->errors.isEmpty());
        // A file that cannot be written (a folder stands in its place) is
        // reported once, however many reads fail.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        deliver(custom);
        deliver(custom);
        QCOMPARE(view->errors.size(), 1);
        QVERIFY(view->errors[0].contains(QStringLiteral("sterownik.ini")));
    }

    void twoFramesInOneRead() {
        QSignalSpy handled(core.get(), &TQTA504Core::frameHandled);
        deliver(status({240}, 0, 0, 0, 0x10, 0, 0) + buildFrame(RxNewest, bytes({1, 2})));
        QTRY_COMPARE(handled.size(), 2);
        QCOMPARE(core->Linia_1.U[1], 240);
        QCOMPARE(core->Konfig.QTA_Last_Rekord, 258);
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
