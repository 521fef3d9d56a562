// Both settings editors in the real main window against qta504-sim over a
// pseudo-terminal: the frame each one sends, byte for byte in the simulator's
// log, the re-read a second after closing, and the main window's Konfig then
// holding what the controller took.
#include "app/mainwindow.h"
#include "app/wiring.h"
#include "editors/dostosujwindow.h"
#include "editors/entrybox.h"
#include "editors/konfigwindow.h"
#include "editors/markerpair.h"
#include "settings/settingsframes.h"
#include "simprocess.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace qta;

namespace {

QString bytesText(const QByteArray& b) {
    QString s;
    for (char c : b)
        s += u' ' + QString::number(std::uint8_t(c));
    return s;
}

// Milliseconds from the first followed line equal to `first` to the first
// later line that starts with `then`, or -1.
qint64 gap(const QList<SimProcess::LogLine>& lines, const QString& first, const QString& then) {
    qint64 at = -1;
    for (const SimProcess::LogLine& l : lines) {
        if (at < 0 && l.text == first)
            at = l.ms;
        else if (at >= 0 && l.text.startsWith(then))
            return l.ms - at;
    }
    return -1;
}

} // namespace

class TestEditorsSim : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldCwd_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TQTA504> main_;

    // The editor behind a menu item, once opened.
    template <class W> W* open(QAction* item) {
        item->trigger();
        QMdiSubWindow* sub = main_->windowItem(item)->window();
        return sub ? qobject_cast<W*>(sub->widget()) : nullptr;
    }
    static void type(TEntryBox* box, const QString& text) {
        box->setFocus();
        box->setText(text);
        QVERIFY(box->Exit());
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland)); }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QVERIFY(QDir().mkpath(QStringLiteral("rejestr")));
        TTable::createRejestr(QStringLiteral("rejestr/rejestr.dbf"));
        TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
        sim_ = std::make_unique<SimProcess>(dir_->filePath(QStringLiteral("qta")),
                                            dir_->filePath(QStringLiteral("sim.log")),
                                            QStringList{"--period", "500"});
        QVERIFY2(sim_->ready(), qPrintable(sim_->readyLine()));
        QFile f(QStringLiteral("rejestr/ustawienia.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[ComPort]\nPort=" + sim_->link().toUtf8() + "\n");
        f.close();
        const QString link = sim_->link();
        TComPort::setPortListProvider([link] { return QStringList{link}; });
        main_ = std::make_unique<TQTA504>();
        wireWindows(*main_);
        main_->resize(1000, 800);
        main_->show();
        main_->FormCreate();
        QTRY_VERIFY_WITH_TIMEOUT(main_->core.Flaga_Kom.Ustawienia && main_->core.Flaga_Kom.OK &&
                                     main_->Ustawienia_Konfiguracja->isEnabled(),
                                 8000);
        sim_->followLog();
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
        QDir::setCurrent(oldCwd_);
        dir_.reset();
        TComPort::setPortListProvider(nullptr);
    }

    // A change on every tab, OK: the 37 bytes in the simulator's log, the
    // configuration asked for again about a second later, and Konfig holding
    // the new values afterwards.
    void configurationRoundTrip() {
        TQTA504Core& core = main_->core;
        QCOMPARE(core.Konfig.Linia[1].Umin, 195); // what the simulator starts with
        auto* w = open<TKonfig_1>(main_->Ustawienia_Konfiguracja);
        QVERIFY(w);
        QVERIFY(main_->Ustawienia_Konfiguracja->isChecked());
        QCOMPARE(w->PageControl1->tabText(w->PageControl1->currentIndex()), QStringLiteral("Tryb"));
        QCOMPARE(w->entry(QStringLiteral("Edit15"))->text(), QStringLiteral("2,5"));
        QCOMPARE(w->entry(QStringLiteral("Edit13"))->text(), QStringLiteral("1"));

        type(w->entry(QStringLiteral("Edit1")), QStringLiteral("200"));  // Napięcia
        type(w->entry(QStringLiteral("Edit12")), QStringLiteral("15"));  // Czasy
        type(w->entry(QStringLiteral("Edit13")), QStringLiteral("0,3")); // Aparaty
        QCOMPARE(w->entry(QStringLiteral("Edit13"))->text(), QStringLiteral("0,3"));
        Q_EMIT w->TypAparatu->activated(1);
        QVERIFY(!w->Image_Rozlacznik->isHidden() && w->Image_Stycznik->isHidden());
        Q_EMIT w->WyborTrybu->activated(7); // Tryb: "Tylko linia N2"
        Q_EMIT w->Linia_Glowna->activated(2);
        for (int n = 1; n <= 3; ++n)
            w->marker(QStringLiteral("Znaczek_N%1").arg(n))->click();
        QCOMPARE(core.Konfig.Linia[1].Umin, 195); // the original is untouched

        TKonf expected = w->Konfig_Kopia;
        const QByteArray frame = configFrame(expected);
        QCOMPARE(std::uint8_t(frame[3 + 30]), std::uint8_t(218));
        QCOMPARE(std::uint8_t(frame[3 + 31]), std::uint8_t(21));
        w->Button3->click();
        QTRY_VERIFY(!main_->windowItem(main_->Ustawienia_Konfiguracja)->isOpen());
        QVERIFY(!main_->Ustawienia_Konfiguracja->isChecked());

        const QString sent = QStringLiteral("frame 2") + bytesText(frame);
        QVERIFY2(sim_->waitLog(sent), qPrintable(sim_->logLines().join(u'\n')));
        QVERIFY(sim_->waitLog(QStringLiteral("rx 2") + bytesText(frame.mid(3, 32))));
        QTRY_VERIFY_WITH_TIMEOUT(core.Konfig.Linia[1].Umin == 200, 4000);
        const qint64 reread = gap(sim_->followedLines(), sent, QStringLiteral("rx 1"));
        qInfo("configuration asked again %lld ms after the write", reread);
        QVERIFY2(reread >= 800 && reread <= 3000, qPrintable(QString::number(reread)));
        QCOMPARE(core.Konfig.Przelaczanie, 15);
        QCOMPARE(core.Konfig.Rozbrajanie, 0.3);
        QVERIFY(core.Konfig.Aparat);
        QCOMPARE(core.Konfig.Progr, 11);
        QCOMPARE(core.Konfig.Linia_Glowna, 2);
        QVERIFY(core.Konfig.Linia[1].Zrzut && core.Konfig.Linia[2].Zrzut &&
                core.Konfig.Linia[3].Zrzut);
        QCOMPARE(configPayload(core.Konfig), frame.mid(3, 32));
    }

    void customisationRoundTrip() {
        TQTA504Core& core = main_->core;
        QCOMPARE(core.Konfig.Kontrola_Opozn, 10);
        auto* w = open<TDostosuj>(main_->Ustawienia_Dostosuj);
        QVERIFY(w);
        type(w->entry(QStringLiteral("Kontrola_Edit")), QStringLiteral("300")); // refused
        QCOMPARE(w->entry(QStringLiteral("Kontrola_Edit"))->text(), QStringLiteral("10"));
        type(w->entry(QStringLiteral("Kontrola_Edit")), QStringLiteral("255"));
        type(w->entry(QStringLiteral("Podsw_Jasn_Edit")), QStringLiteral("40"));
        w->marker(QStringLiteral("Buczek"))->click(); // on -> off
        const QByteArray frame = customFrame(w->Konfig_Kopia);
        QCOMPARE(frame.mid(3, 3), QByteArray("\xb0\x00\xff", 3)); // 128 + 32 + 16; 0, 255
        w->Zastosuj->click();
        QTRY_VERIFY(!main_->Ustawienia_Dostosuj->isChecked());
        const QString sent = QStringLiteral("frame 5") + bytesText(frame);
        QVERIFY2(sim_->waitLog(sent), qPrintable(sim_->logLines().join(u'\n')));
        QTRY_VERIFY_WITH_TIMEOUT(core.Konfig.Kontrola_Opozn == 255, 4000);
        const qint64 reread = gap(sim_->followedLines(), sent, QStringLiteral("rx 4"));
        QVERIFY2(reread >= 800 && reread <= 3000, qPrintable(QString::number(reread)));
        QCOMPARE(core.Konfig.Podsw_Jasnosc, 40);
        QVERIFY(!core.Konfig.Buczek_On);
        QVERIFY(core.Konfig.Kontrola_On && core.Konfig.Podsw_On && core.Konfig.Rejestr_On);
        QCOMPARE(customPayload(core.Konfig), frame.mid(3, 8));
    }

    // "Anuluj" sends nothing and still asks again; so does OK with the link down
    // (the request then goes nowhere either).
    // Two editors closed 300 ms apart: both settings are read again, in order.
    void twoEditorsClosedTogetherAreBothReread() {
        auto* w = open<TKonfig_1>(main_->Ustawienia_Konfiguracja);
        auto* d = open<TDostosuj>(main_->Ustawienia_Dostosuj);
        QVERIFY(w && d);
        const int from = int(sim_->logLines().size());
        const auto asked = [&] {
            QStringList out;
            for (const QString& l : sim_->logLines().mid(from))
                if (l == u"rx 1" || l == u"rx 4")
                    out << l;
            return out;
        };
        w->close();
        QTest::qWait(300);
        d->close();
        QTRY_COMPARE_WITH_TIMEOUT(asked(), (QStringList{"rx 1", "rx 4"}), 4000);
        QTRY_COMPARE_WITH_TIMEOUT(main_->core.Czytaj_Parametry, 0, 2000);
        QTest::qWait(1500);
        QCOMPARE(asked().size(), 2); // each once
    }

    void nothingSent() {
        TQTA504Core& core = main_->core;
        auto* w = open<TKonfig_1>(main_->Ustawienia_Konfiguracja);
        QVERIFY(w);
        type(w->entry(QStringLiteral("Edit1")), QStringLiteral("250"));
        w->Button2->click();
        QVERIFY(!main_->Ustawienia_Konfiguracja->isChecked());
        QVERIFY(sim_->waitLog(QStringLiteral("rx 1"), 1, 3000));

        auto* d = open<TDostosuj>(main_->Ustawienia_Dostosuj);
        QVERIFY(d);
        core.Flaga_Kom.OK = false;
        d->Zastosuj->click();
        QVERIFY(!main_->Ustawienia_Dostosuj->isChecked());
        QVERIFY(core.Czytaj_Parametry != 0); // the configuration first, then this
        QTRY_COMPARE_WITH_TIMEOUT(core.Czytaj_Parametry, 0, 3000); // Timer4 served both
        for (const QString& l : sim_->logLines())
            QVERIFY2(!l.startsWith(QStringLiteral("rx 2 ")) &&
                         !l.startsWith(QStringLiteral("rx 5 ")),
                     qPrintable(l));
        QCOMPARE(core.Konfig.Linia[1].Umin, 195);
    }
};

QTEST_MAIN(TestEditorsSim)
#include "tst_editors_sim.moc"
