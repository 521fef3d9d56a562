// The settings editors as real windows on the offscreen platform: the shared
// editor behaviour (copy, OK, Anuluj, closing, transmit failure), the boxes
// and markers, and both editors' controls.
#include "editors/dostosujwindow.h"
#include "editors/editorwindow.h"
#include "editors/entrybox.h"
#include "editors/konfigwindow.h"
#include "editors/markerpair.h"
#include "recordingview.h"

#include "settings/settingsframes.h"
#include <QAccessible>

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace qta;

namespace {

// The smallest editor: the customisation fields and frame.
class TSampleEditor : public TEditorWindow {
public:
    explicit TSampleEditor(TQTA504Core& core) : TEditorWindow(core, 2) {
        for (const TFieldDesc& f : customFields())
            if (f.kind == TFieldDesc::Entry)
                addEntry(f, this);
        addMarker(*findField(customFields(), QStringLiteral("Buczek")),
                  QStringLiteral("Buczek_On_Image"), QStringLiteral("Buczek_Off_Image"), this);
        addOkButton(QStringLiteral("Zastosuj"), this);
        addCancelButton(QStringLiteral("Anuluj"), this);
    }
    QByteArray frameToSend() const override { return customFrame(Konfig_Kopia); }
};

struct Core {
    RecordingView view;
    TQTA504Core core{&view};
    Core() {
        core.Timer2.stop();
        core.Timer3.stop();
        core.Konfig.Podsw_Jasnosc = 80;
        core.Konfig.Kontrola_Opozn = 10;
    }
};

} // namespace

class TestEditors : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland)); }

    // The copy is edited, the original never; a strict box refuses letters
    // aloud and keeps them; a marker turns over with one click.
    void sharedControls() {
        Core c;
        TSampleEditor w(c.core);
        w.show();
        TEntryBox* jasn = w.entry(QStringLiteral("Podsw_Jasn_Edit"));
        QVERIFY(jasn);
        QCOMPARE(jasn->text(), QStringLiteral("80"));
        jasn->setText(QStringLiteral("abc"));
        QVERIFY(!jasn->Exit());
        QCOMPARE(c.view.errors,
                 QStringList{QStringLiteral("''abc'' is not a valid integer value")});
        QCOMPARE(jasn->text(), QStringLiteral("abc"));
        QCOMPARE(w.Konfig_Kopia.Podsw_Jasnosc, 80);
        jasn->setText(QStringLiteral("40"));
        QVERIFY(jasn->Exit());
        QCOMPARE(w.Konfig_Kopia.Podsw_Jasnosc, 40);
        QCOMPARE(c.core.Konfig.Podsw_Jasnosc, 80);

        TMarkerPair* m = w.marker(QStringLiteral("Buczek"));
        QVERIFY(m);
        QVERIFY(!m->onImage()->isVisible() && m->offImage()->isVisible());
        QTest::mouseClick(m, Qt::LeftButton);
        QVERIFY(w.Konfig_Kopia.Buczek_On && !c.core.Konfig.Buczek_On);
        QVERIFY(m->onImage()->isVisible() && !m->offImage()->isVisible());
        QCOMPARE(m->accessibleName(), QStringLiteral("Sygnalizacja dźwiękowa: włączony"));
        QCOMPARE(m->onImage()->objectName(), QStringLiteral("Buczek_On_Image"));

        // An assistive tool sees a check box and turns it over with "Toggle".
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(m);
        QVERIFY(a && a->actionInterface());
        QCOMPARE(a->role(), QAccessible::CheckBox);
        QVERIFY(a->state().checkable && a->state().checked);
        a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(!w.Konfig_Kopia.Buczek_On);
        QVERIFY(!a->state().checked);
        QVERIFY(!m->onImage()->isVisible() && m->offImage()->isVisible());
    }

    // OK with the link down, Anuluj and Esc: nothing sent, the window closes
    // and the customisation is asked for again a second later.
    void closingWithoutSending_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("OK, link down") << 0;
        QTest::newRow("Anuluj") << 1;
        QTest::newRow("Esc") << 2;
        QTest::newRow("close box") << 3;
    }
    void closingWithoutSending() {
        QFETCH(int, how);
        Core c;
        TSampleEditor w(c.core);
        int sent = 0;
        connect(&w, &TEditorWindow::frameSent, [&sent] { ++sent; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        w.entry(QStringLiteral("Kontrola_Edit"))->setFocus();
        switch (how) {
        case 0:
            QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("Zastosuj")),
                              Qt::LeftButton);
            break;
        case 1:
            QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("Anuluj")), Qt::LeftButton);
            break;
        case 2: QTest::keyClick(w.entry(QStringLiteral("Kontrola_Edit")), Qt::Key_Escape); break;
        case 3: w.close(); break;
        }
        QVERIFY(w.isClosed());
        QVERIFY(!w.isVisible());
        QCOMPARE(sent, 0);
        QCOMPARE(c.core.Czytaj_Parametry, 2);
        QVERIFY(c.core.Timer4.isActive());
        QCOMPARE(c.core.Timer4.interval(), 1000);
        QVERIFY(c.view.errors.isEmpty());
    }

    // A port that fails to transmit: the error reaches the error box, nothing
    // else is sent and the window stays open.
    void transmitFailureKeepsWindowOpen() {
        Core c;
        c.core.Flaga_Kom.OK = true; // link thought usable, port closed
        TSampleEditor w(c.core);
        w.show();
        w.OkClick();
        QCOMPARE(c.view.errors.size(), 1);
        QVERIFY2(c.view.errors[0].startsWith(QStringLiteral("COM Port Error: ")),
                 qPrintable(c.view.errors[0]));
        QVERIFY(w.isVisible());
        QVERIFY(!w.isClosed());
        QCOMPARE(c.core.Czytaj_Parametry, 0);
    }
    // Opening: the "Tryb" tab, times in their shortest form, values the lists
    // do not offer kept as read and sent back unchanged.
    void configurationOpening() {
        Core c;
        TKonf& k = c.core.Konfig;
        k.Linia[1] = {false, true, 195, 253, 8};
        k.Uzbrajanie = 2.5;
        k.Rozbrajanie = 3.0;
        k.Przerwa = 0.3;
        k.Progr = 7;
        k.Linia_Glowna = 5;
        TKonfig_1 w(c.core);
        w.show();
        QCOMPARE(w.size(), QSize(409, 392));
        QCOMPARE(w.PageControl1->tabText(w.PageControl1->currentIndex()), QStringLiteral("Tryb"));
        QCOMPARE(w.entry(QStringLiteral("Edit15"))->text(), QStringLiteral("2,5"));
        QCOMPARE(w.entry(QStringLiteral("Edit13"))->text(), QStringLiteral("3"));
        QCOMPARE(w.entry(QStringLiteral("Edit1"))->text(), QStringLiteral("195"));
        QCOMPARE(w.WyborTrybu->currentIndex(), -1);
        QCOMPARE(w.Linia_Glowna->currentIndex(), -1);
        for (QLabel* t : w.Tryb)
            QVERIFY(!t || t->isHidden());
        QVERIFY(!w.marker(QStringLiteral("Znaczek_N1"))->onImage()->isHidden());
        QVERIFY(w.marker(QStringLiteral("Znaczek_N2"))->onImage()->isHidden());
        const QByteArray f = w.frameToSend();
        QCOMPARE(int(std::uint8_t(f[3 + 30])), 7 * 8 + 5);
        QCOMPARE(int(std::uint8_t(f[3 + 29])), 3); // Przerwa 0.3 s
        QCOMPARE(f.mid(3, 32), configPayload(c.core.Konfig));

        TEntryBox* e13 = w.entry(QStringLiteral("Edit13"));
        e13->setText(QStringLiteral("3"));
        QVERIFY(e13->Exit());
        QCOMPARE(e13->text(), QStringLiteral("3,0"));

        // Picking an item stores its program; "Brak" shows no picture.
        Q_EMIT w.WyborTrybu->activated(6);
        QCOMPARE(w.Konfig_Kopia.Progr, 10);
        QVERIFY(!w.Tryb[6]->isHidden());
        Q_EMIT w.WyborTrybu->activated(0);
        QCOMPARE(w.Konfig_Kopia.Progr, 0);
        for (QLabel* t : w.Tryb)
            QVERIFY(!t || t->isHidden());
    }

    // Thresholds without a band: one question naming the line and its values;
    // "Popraw" keeps the window open and sends nothing, "Wyślij mimo to" sends
    // the frame as it stands.
    void thresholdWarning() {
        Core c;
        c.core.Flaga_Kom.OK = true;
        for (int n = 1; n <= 3; ++n)
            c.core.Konfig.Linia[size_t(n)] = {false, false, 195, 253, 8};
        TKonfig_1 w(c.core);
        w.show();
        QStringList asked;
        bool answer = false;
        w.confirm = [&](const QString& q) {
            asked << q;
            return answer;
        };
        int sent = 0;
        connect(&w, &TEditorWindow::frameSent, [&sent] { ++sent; });
        w.OkClick();
        QVERIFY(asked.isEmpty()); // all is well: no question (the closed port then fails)
        QCOMPARE(c.view.errors.size(), 1);

        TEntryBox* umin2 = w.entry(QStringLiteral("Edit4"));
        umin2->setText(QStringLiteral("260"));
        QVERIFY(umin2->Exit());
        w.OkClick();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("Linia N2")) && asked[0].contains(u"260") &&
                     asked[0].contains(u"253") && !asked[0].contains(QStringLiteral("Linia N1")),
                 qPrintable(asked[0]));
        QCOMPARE(c.view.errors.size(), 1); // "Popraw": nothing was tried
        QVERIFY(!w.isClosed());
        answer = true;
        w.OkClick();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(c.view.errors.size(), 2); // sent (to the closed port)
        QCOMPARE(sent, 0);
    }

    // The customisation window: size, tab order, names for screen readers.
    void customisationWindow() {
        Core c;
        c.core.Konfig.Kontrola_On = true;
        TDostosuj w(c.core);
        w.show();
        QCOMPARE(w.size(), QSize(280, 290));
        QStringList order;
        QWidget* at = w.Zastosuj;
        for (int i = 0; i < 6; ++i, at = at->nextInFocusChain()) {
            while (at->focusPolicy() == Qt::NoFocus || !at->isVisible())
                at = at->nextInFocusChain();
            order << at->objectName();
        }
        QCOMPARE(order, (QStringList{"Zastosuj", "Anuluj", "Kontrola_Edit", "Podsw_Czas_Edit",
                                     "Podsw_Jasn_Edit", "Buczek_Czas"}));
        QCOMPARE(w.marker(QStringLiteral("Kontrola"))->accessibleName(),
                 QStringLiteral("Kontrola napięcia wyjściowego: włączony"));
        QVERIFY(!w.marker(QStringLiteral("Kontrola"))->onImage()->isHidden());
        QCOMPARE(w.entry(QStringLiteral("Podsw_Jasn_Edit"))->accessibleDescription(),
                 QStringLiteral("Podsw_Jasn_Edit"));
        QCOMPARE(w.Anuluj->accessibleDescription(), QStringLiteral("Anuluj"));
    }

    // "Zapisz…" writes the copy, "Wczytaj…" brings an edited file back into
    // the boxes and lists, marks what now differs from the controller, names
    // what it did not take, and sends nothing.
    void backupWrittenChangedReadBack() {
        QTemporaryDir dir;
        Core c;
        c.core.Flaga_Kom.OK = true;
        c.core.Konfig.Id = QStringLiteral("QTA1v2");
        for (int n = 1; n <= 3; ++n)
            c.core.Konfig.Linia[size_t(n)] = {false, false, 195, 253, 8};
        c.core.Konfig.Uzbrajanie = 2.5;
        TKonfig_1 w(c.core);
        w.show();
        QStringList told;
        w.inform = [&told](const QString& t) { told << t; };
        int sent = 0;
        connect(&w, &TEditorWindow::frameSent, [&sent] { ++sent; });
        const QString path = dir.filePath(QStringLiteral("k.ini"));
        w.askPath = [&path](bool) { return path; };
        w.findChild<QPushButton*>(QStringLiteral("Zapisz"))->click();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(f.readAll());
        f.close();
        QVERIFY(text.contains(QStringLiteral("QTA1v2")) &&
                text.contains(QStringLiteral("N1_U_Min=195")));

        text.replace(QStringLiteral("N1_U_Min=195"), QStringLiteral("N1_U_Min=210"));
        text.replace(QStringLiteral("N2_U_Max=253"), QStringLiteral("N2_U_Max=400"));
        text.replace(QStringLiteral("T_On=2.5"), QStringLiteral("T_On=3"));
        text.replace(QStringLiteral("Zrzut_N2=0"), QStringLiteral("Zrzut_N2=1"));
        text.replace(QStringLiteral("Program=0"), QStringLiteral("Program=12"));
        text += QStringLiteral("Nieznany=1\n");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
        f.close();
        w.findChild<QPushButton*>(QStringLiteral("Wczytaj"))->click();

        QCOMPARE(w.entry(QStringLiteral("Edit1"))->text(), QStringLiteral("210"));
        QCOMPARE(w.entry(QStringLiteral("Edit15"))->text(), QStringLiteral("3,0"));
        QCOMPARE(w.entry(QStringLiteral("Edit6"))->text(), QStringLiteral("253"));
        QStringList marked;
        for (TEntryBox* b : w.entries())
            if (b->marked())
                marked << b->objectName();
        QCOMPARE(marked, (QStringList{"Edit1", "Edit15"}));
        QVERIFY(w.marker(QStringLiteral("Znaczek_N2"))->marked());
        QVERIFY(!w.marker(QStringLiteral("Znaczek_N1"))->marked());
        QVERIFY(!w.marker(QStringLiteral("Znaczek_N2"))->onImage()->isHidden());
        QCOMPARE(w.WyborTrybu->currentIndex(), 8);
        QVERIFY(!w.WyborTrybu->styleSheet().isEmpty());
        QVERIFY(w.TypAparatu->styleSheet().isEmpty());
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QStringLiteral("N2_U_Max = 400")) &&
                     told[0].contains(QStringLiteral("Nieznany")),
                 qPrintable(told[0]));
        QCOMPARE(sent, 0);
        QCOMPARE(c.core.Konfig.Linia[1].Umin, 195);

        // Typing the controller's value back removes the mark.
        TEntryBox* e1 = w.entry(QStringLiteral("Edit1"));
        e1->setText(QStringLiteral("195"));
        QVERIFY(e1->Exit());
        QVERIFY(!e1->marked());

        // A file that cannot be written is an error, nothing else happens.
        QVERIFY(!w.saveTo(dir.filePath(QStringLiteral("brak/k.ini"))));
        QCOMPARE(c.view.errors.size(), 1);
        QVERIFY2(c.view.errors[0].startsWith(QStringLiteral("Nie można zapisać pliku")),
                 qPrintable(c.view.errors[0]));
    }
};

QTEST_MAIN(TestEditors)
#include "tst_editors.moc"
