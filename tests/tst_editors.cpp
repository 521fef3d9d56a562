// The settings editors as real windows on the offscreen platform: the shared
// editor behaviour (copy, OK, Anuluj, closing, transmit failure), the boxes
// and markers, and both editors' controls.
#include "recordingview.h"
#include "settings/editorwindow.h"
#include "settings/entrybox.h"
#include "settings/markerpair.h"
#include "settings/settingsframes.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

using namespace qta;

namespace {

// The smallest editor: the customisation fields and frame.
class TSampleEditor : public TEditorWindow {
public:
    explicit TSampleEditor(TQTA504Core& core) : TEditorWindow(core, 2) {
        for (const TFieldSpec& f : customFields())
            if (f.kind == TFieldSpec::Entry)
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
};

QTEST_MAIN(TestEditors)
#include "tst_editors.moc"
