// The mimic windows: what every element shows for a given controller state,
// the supply-diagram tables, the charts, the program 1 link handling and the
// self-switch. The refresh is driven directly, not by the timer.
#include "core/controller.h"
#include "mimic/mimicwindow.h"
#include "recordingview.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QtTest>
#include <memory>
#include <qcustomplot.h>

using namespace qta;

namespace {

// Lines shown by each window, left to right.
QList<int> linesOf(int program) {
    switch (program) {
    case 1:
    case 2: return {1, 2, 3};
    case 3: return {1, 2};
    case 4:
    case 5: return {1, 3};
    default: return {program - 9};
    }
}

QLabel* label(QWidget* w, const QString& name) {
    auto* l = w->findChild<QLabel*>(name);
    if (!l)
        qWarning("no element %s", qPrintable(name));
    return l;
}

// "lit", "unlit", "none" (blanked) or "both" (a fault).
QString lamp(QWidget* w, const QString& name) {
    const bool lit = !label(w, name)->isHidden();
    const bool unlit = !label(w, name + QStringLiteral("_Off"))->isHidden();
    return lit && unlit ? QStringLiteral("both")
           : lit        ? QStringLiteral("lit")
           : unlit      ? QStringLiteral("unlit")
                        : QStringLiteral("none");
}

// Letters of the badges shown for line n ("" when none).
QString badges(QWidget* w, int n) {
    QString shown;
    for (const char* letter : {"A", "B", "C", "D"})
        if (!label(w, QStringLiteral("N%1_Status_%2").arg(n).arg(QLatin1String(letter)))
                 ->isHidden())
            shown += QLatin1String(letter);
    return shown;
}

// Names of the supply-diagram pictures shown.
QStringList diagram(QWidget* w) {
    static const QStringList names{
        QStringLiteral("Linie_OFF"),  QStringLiteral("Linie_Off"),  QStringLiteral("Linia_Off"),
        QStringLiteral("N1_Aktywna"), QStringLiteral("N2_Aktywna"), QStringLiteral("N3_Aktywna"),
        QStringLiteral("Aktywna_4"),  QStringLiteral("Aktywna_5"),  QStringLiteral("Aktywna_6")};
    QStringList shown;
    for (const QString& n : names)
        if (auto* l = w->findChild<QLabel*>(n); l && !l->isHidden())
            shown << n;
    return shown;
}

QString offName(int program) {
    return program == 1   ? QStringLiteral("Linie_OFF")
           : program < 10 ? QStringLiteral("Linie_Off")
                          : QStringLiteral("Linia_Off");
}

QCustomPlot* chart(QWidget* w, int n) {
    return w->findChild<QCustomPlot*>(QStringLiteral("N%1_Wykres").arg(n));
}

} // namespace

class TestMimic : public QObject {
    Q_OBJECT

    NullView view;
    std::unique_ptr<TQTA504Core> core;
    int showMains = 0;

    // A window of `program` over a live link in that program.
    std::unique_ptr<TMimicWindow> open(int program) {
        core->Aktywny_Program = program;
        core->UART_Connect = true;
        auto* w =
            static_cast<TMimicWindow*>(createMimicWindow(program, *core, [this] { ++showMains; }));
        w->Timer.stop();
        return std::unique_ptr<TMimicWindow>(w);
    }

private Q_SLOTS:
    void init() {
        core = std::make_unique<TQTA504Core>(&view);
        core->Timer2.stop();
        core->Timer3.stop();
        showMains = 0;
    }

    void factory() {
        for (int p = -1; p <= 16; ++p) {
            std::unique_ptr<QWidget> w(createMimicWindow(p, *core, {}));
            QCOMPARE(bool(w), hasMimicWindow(p));
            if (!w)
                continue;
            auto* m = qobject_cast<TMimicWindow*>(w.get());
            QVERIFY(m);
            QCOMPARE(m->program(), p);
            QCOMPARE(QString::fromLatin1(w->metaObject()->className()),
                     QStringLiteral("qta::TProg_%1").arg(p));
        }
        std::unique_ptr<QWidget> w(createMimicWindow(4, *core, {}));
        QCOMPARE(w->windowTitle(), QStringLiteral("Aktualny program: N1 + Generator"));
        QCOMPARE(w->size(), QSize(600, 461));
    }

    // Before the first refresh the window shows its design state; a refresh
    // over an all-zero state (no reply yet) shows it as such.
    void designAndZeroState_data() {
        QTest::addColumn<int>("program");
        for (int p : {1, 2, 3, 4, 5, 10, 11, 12})
            QTest::addRow("%d", p) << p;
    }
    void designAndZeroState() {
        QFETCH(int, program);
        auto w = open(program);
        // Every picture was found in the artwork and drawn at its element's size.
        for (QLabel* l : w->findChildren<QLabel*>()) {
            if (l->objectName().endsWith(QLatin1String("_U")))
                continue;
            QVERIFY2(!l->pixmap().isNull(), qPrintable(l->objectName()));
            QCOMPARE(l->pixmap().deviceIndependentSize().toSize(), l->size());
        }
        const QStringList off{offName(program)};
        QCOMPARE(diagram(w.get()), off);
        for (int n : linesOf(program))
            for (int k = 1; k <= 3; ++k)
                QCOMPARE(label(w.get(), QStringLiteral("N%1L%2_U").arg(n).arg(k))->text(),
                         QStringLiteral("230V"));

        w->TimerTimer();
        for (int n : linesOf(program)) {
            QCOMPARE(badges(w.get(), n), QStringLiteral("A"));
            for (int k = 1; k <= 3; ++k) {
                const QString e = QStringLiteral("N%1L%2").arg(n).arg(k);
                QCOMPARE(label(w.get(), e + QStringLiteral("_U"))->text(), QStringLiteral("---"));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_Min")), QStringLiteral("unlit"));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_Max")), QStringLiteral("unlit"));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_OK")), QStringLiteral("lit"));
            }
        }
        QCOMPARE(diagram(w.get()), off);
    }

    // Each panel takes everything from its own line (and its own limits), in
    // every window; every element carries its component name.
    void panelWiring_data() { designAndZeroState_data(); }
    void panelWiring() {
        QFETCH(int, program);
        for (int n = 1; n <= 3; ++n) {
            TLinia1& l = core->linia(n);
            for (int k = 1; k <= 3; ++k) {
                l.U[size_t(k)] = 90 + 60 * (n - 1) + 10 * k;
                l.Error_Min[size_t(k)] = k == n ? -1 : 0;
                l.Error_Max[size_t(k)] = k == 4 - n ? 1 : 0;
            }
            // Only phase 2 lies within the line's own limits.
            core->Konfig.Linia[size_t(n)].Umin = core->Konfig.Linia[size_t(n)].Umax = l.U[2];
        }
        core->Linia_1.Status = 3;
        core->Linia_2.Status = 1;
        core->Linia_3.Status = 2;
        auto w = open(program);
        for (int i = 0; i < 4; ++i)
            w->TimerTimer();

        const QString badgeOf[4] = {
            {}, QStringLiteral("D"), QStringLiteral("C"), QStringLiteral("B")};
        for (int n = 1; n <= 3; ++n) {
            const bool shown = linesOf(program).contains(n);
            QCOMPARE(bool(w->findChild<QLabel*>(QStringLiteral("N%1L1_U").arg(n))), shown);
            QCOMPARE(bool(chart(w.get(), n)), shown);
            if (!shown)
                continue;
            QCOMPARE(badges(w.get(), n), badgeOf[n]);
            for (int k = 1; k <= 3; ++k) {
                const QString e = QStringLiteral("N%1L%2").arg(n).arg(k);
                const int u = core->linia(n).U[size_t(k)];
                QCOMPARE(label(w.get(), e + QStringLiteral("_U"))->text(),
                         QStringLiteral("%1V").arg(u));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_Min")),
                         k == n ? QStringLiteral("lit") : QStringLiteral("unlit"));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_Max")),
                         k == 4 - n ? QStringLiteral("lit") : QStringLiteral("unlit"));
                QCOMPARE(lamp(w.get(), e + QStringLiteral("_OK")),
                         k == 2 ? QStringLiteral("lit") : QStringLiteral("unlit"));
                const QCPGraph* g = chart(w.get(), n)->graph(k - 1);
                QCOMPARE(g->data()->size(), 1);
                QCOMPARE(g->data()->begin()->value, double(u));
            }
        }
        for (QWidget* c : w->findChildren<QWidget*>())
            if (!c->objectName().isEmpty() && !c->objectName().startsWith(QLatin1String("qt_")))
                QCOMPARE(c->accessibleDescription(), c->objectName());
    }

    void readings_data() {
        QTest::addColumn<int>("volts");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("80") << 80 << "---"
                            << "poniżej 81V";
        QTest::newRow("81") << 81 << "81V"
                            << "81V";
        QTest::newRow("299") << 299 << "299V"
                             << "299V";
        QTest::newRow("300") << 300 << "+++"
                             << "300V lub więcej";
        QTest::newRow("0") << 0 << "---"
                           << "poniżej 81V";
        QTest::newRow("-5") << -5 << "---"
                            << "poniżej 81V";
    }
    void readings() {
        QFETCH(int, volts);
        QFETCH(QString, text);
        QFETCH(QString, spoken);
        core->Linia_3.U[2] = 230; // the reading changes, so its spoken name must follow
        auto w = open(5);
        w->TimerTimer();
        core->Linia_3.U[2] = volts;
        w->TimerTimer();
        QLabel* r = label(w.get(), QStringLiteral("N3L2_U"));
        QCOMPARE(r->text(), text);
        // Program 5 titles line 3 "Linia N2".
        QCOMPARE(r->accessibleName(), QStringLiteral("Napięcie N2 L2: ") + spoken);
    }

    void lamps_data() {
        QTest::addColumn<int>("errorMin");
        QTest::addColumn<int>("errorMax");
        QTest::addColumn<int>("volts");
        QTest::addColumn<QString>("vmin");
        QTest::addColumn<QString>("vmax");
        QTest::addColumn<QString>("vok");
        QTest::newRow("flags -1") << -1 << -1 << 230 << "lit"
                                  << "lit"
                                  << "lit";
        QTest::newRow("flags 1") << 1 << 1 << 230 << "lit"
                                 << "lit"
                                 << "lit";
        QTest::newRow("flags 0") << 0 << 0 << 230 << "unlit"
                                 << "unlit"
                                 << "lit";
        QTest::newRow("U = Umin") << 0 << 0 << 200 << "unlit"
                                  << "unlit"
                                  << "lit";
        QTest::newRow("U = Umax") << 0 << 0 << 250 << "unlit"
                                  << "unlit"
                                  << "lit";
        QTest::newRow("U = Umin - 1") << -1 << 0 << 199 << "lit"
                                      << "unlit"
                                      << "unlit";
        QTest::newRow("U = Umax + 1") << 0 << -1 << 251 << "unlit"
                                      << "lit"
                                      << "unlit";
    }
    void lamps() {
        QFETCH(int, errorMin);
        QFETCH(int, errorMax);
        QFETCH(int, volts);
        QFETCH(QString, vmin);
        QFETCH(QString, vmax);
        QFETCH(QString, vok);
        core->Konfig.Linia[2] = {false, false, 200, 250, 0};
        core->Linia_2.U = {0, volts, volts, volts};
        core->Linia_2.Error_Min = {0, 0, 0, errorMin};
        core->Linia_2.Error_Max = {0, 0, 0, errorMax};
        auto w = open(11);
        w->TimerTimer();
        QCOMPARE(lamp(w.get(), QStringLiteral("N2L3_Min")), vmin);
        QCOMPARE(lamp(w.get(), QStringLiteral("N2L3_Max")), vmax);
        QCOMPARE(lamp(w.get(), QStringLiteral("N2L3_OK")), vok);
        QCOMPARE(lamp(w.get(), QStringLiteral("N2L1_Min")), QStringLiteral("unlit"));
        QCOMPARE(lamp(w.get(), QStringLiteral("N2L1_OK")),
                 volts >= 200 && volts <= 250 ? QStringLiteral("lit") : QStringLiteral("unlit"));
        // The visible picture is the one whose spoken name tells the state.
        const QString shown = vmin == QLatin1String("lit") ? QStringLiteral("N2L3_Min")
                                                           : QStringLiteral("N2L3_Min_Off");
        QCOMPARE(label(w.get(), shown)->accessibleName(),
                 QStringLiteral("Lampka Vmin N2 L3: ") + (vmin == QLatin1String("lit")
                                                              ? QStringLiteral("zapalona")
                                                              : QStringLiteral("zgaszona")));
    }

    void badge_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("0") << 3 << 0 << "A"
                           << "Linia zła";
        QTest::newRow("1") << 0 << 1 << "C"
                           << "Kwalifikacja linii jako dobrej";
        QTest::newRow("2") << 0 << 2 << "B"
                           << "Kwalifikacja linii jako złej";
        QTest::newRow("3") << 0 << 3 << "D"
                           << "Linia dobra";
        QTest::newRow("other value keeps it") << 1 << 7 << "C"
                                              << "Kwalifikacja linii jako dobrej";
    }
    void badge() {
        QFETCH(int, before);
        QFETCH(int, status);
        QFETCH(QString, letter);
        QFETCH(QString, spoken);
        auto w = open(4);
        core->Linia_3.Status = std::uint8_t(before);
        w->TimerTimer();
        core->Linia_3.Status = std::uint8_t(status);
        w->TimerTimer();
        QCOMPARE(badges(w.get(), 3), letter);
        QCOMPARE(badges(w.get(), 1), QStringLiteral("A"));
        QCOMPARE(label(w.get(), QStringLiteral("N3_Status_") + letter)->accessibleName(),
                 QStringLiteral("Status generatora: ") + spoken);
    }

    // One table over the eight windows: Aktywna_Linia goes `first`, then
    // `second`; `shown` is the picture on the strip afterwards.
    void supplyDiagram_data() {
        QTest::addColumn<int>("program");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("shown");
        const QString keep3[] = {"N1_Aktywna", "N2_Aktywna", "N3_Aktywna"};
        for (int p : {1, 2}) {
            for (int a = 1; a <= 3; ++a)
                QTest::addRow("p%d: %d", p, a) << p << 0 << a << keep3[a - 1];
            QTest::addRow("p%d: 2 then 0", p) << p << 2 << 0 << offName(p);
            QTest::addRow("p%d: 3 then 4 keeps", p) << p << 3 << 4 << QStringLiteral("N3_Aktywna");
            QTest::addRow("p%d: 1 then 16 keeps", p)
                << p << 1 << 16 << QStringLiteral("N1_Aktywna");
        }
        QTest::newRow("p3: 1") << 3 << 0 << 1 << "N1_Aktywna";
        QTest::newRow("p3: 2") << 3 << 0 << 2 << "N2_Aktywna";
        QTest::newRow("p3: 2 then 3 keeps") << 3 << 2 << 3 << "N2_Aktywna";
        QTest::newRow("p3: 1 then 0") << 3 << 1 << 0 << "Linie_Off";
        QTest::newRow("p4: 2 keeps all-off") << 4 << 2 << 2 << "Linie_Off";
        QTest::newRow("p4: 3") << 4 << 0 << 3 << "N3_Aktywna";
        QTest::newRow("p4: 1 then 2 keeps") << 4 << 1 << 2 << "N1_Aktywna";
        QTest::newRow("p5: 4") << 5 << 0 << 4 << "Aktywna_4";
        QTest::newRow("p5: 6") << 5 << 0 << 6 << "Aktywna_6";
        QTest::newRow("p5: 5 then 1 keeps") << 5 << 5 << 1 << "Aktywna_5";
        QTest::newRow("p5: 4 then 3 keeps") << 5 << 4 << 3 << "Aktywna_4";
        QTest::newRow("p5: 6 then 0") << 5 << 6 << 0 << "Linie_Off";
        for (int n = 1; n <= 3; ++n) {
            const int p = 9 + n;
            const QString active = QStringLiteral("N%1_Aktywna").arg(n);
            QTest::addRow("p%d: %d", p, n) << p << 0 << n << active;
            for (int other : {0, n % 3 + 1, 4, 16})
                QTest::addRow("p%d: %d then %d", p, n, other) << p << n << other << "Linia_Off";
        }
    }
    void supplyDiagram() {
        QFETCH(int, program);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QString, shown);
        auto w = open(program);
        core->Aktywna_Linia = first;
        w->TimerTimer();
        core->Aktywna_Linia = second;
        w->TimerTimer();
        QCOMPARE(diagram(w.get()), QStringList{shown});
        QVERIFY(label(w.get(), shown)->accessibleName().startsWith(QLatin1String("Zasilanie: ")));
    }

    // A point per series every fourth refresh; from chart time 301 on the view
    // moves and what has left it is dropped.
    void chartStep() {
        core->Linia_1.U = {0, 231, 232, 233};
        core->Linia_2.U = {0, 241, 242, 243};
        auto w = open(3);
        QCustomPlot* left = chart(w.get(), 1);
        QCustomPlot* right = chart(w.get(), 2);
        QCOMPARE(left->xAxis->range(), QCPRange(0, 301));
        QCOMPARE(left->yAxis->range(), QCPRange(80, 305));
        for (int i = 0; i < 3; ++i)
            w->TimerTimer();
        QCOMPARE(left->graph(0)->data()->size(), 0);
        w->TimerTimer();
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(left->graph(k)->data()->size(), 1);
            QCOMPARE(left->graph(k)->data()->begin()->key, 1.0);
            QCOMPARE(right->graph(k)->data()->begin()->value, 241.0 + k);
        }
        for (int i = 4; i < 1204; ++i)
            w->TimerTimer();
        QCOMPARE(w->Czas, 301);
        for (QCustomPlot* c : {left, right}) {
            QCOMPARE(c->xAxis->range(), QCPRange(1, 302));
            QCOMPARE((c->graph(2)->data()->end() - 1)->key, 301.0);
        }
        for (int i = 0; i < 4; ++i)
            w->TimerTimer();
        QCOMPARE(right->xAxis->range(), QCPRange(2, 303));
        QCOMPARE(right->graph(1)->data()->size(), 301);
        QCOMPARE(right->graph(1)->data()->begin()->key, 2.0);
    }

    void axisOfCouplerWindow() {
        auto w = open(5);
        QCOMPARE(chart(w.get(), 1)->yAxis->range(), QCPRange(107, 332));
        QCOMPARE(chart(w.get(), 3)->yAxis->range(), QCPRange(80, 305));
        QCOMPARE(chart(w.get(), 3)->accessibleName(), QStringLiteral("Wykres napięć linii N2"));
    }

    // Program 1 holds its picture for ten refreshes without link, then blanks
    // what would look live, and comes back in full with the link.
    void program1LinkLoss() {
        core->Konfig.Linia[1] = {false, false, 200, 250, 0};
        core->Linia_1.U = {0, 230, 260, 190};
        core->Linia_1.Error_Max = {0, 0, -1, 0};
        core->Linia_1.Error_Min = {0, 0, 0, -1};
        core->Linia_1.Status = 3;
        core->Aktywna_Linia = 1;
        auto w = open(1);
        for (int i = 0; i < 4; ++i)
            w->TimerTimer();
        QCOMPARE(w->Czas, 1);

        core->UART_Connect = false;
        core->Aktywny_Program = 3; // no self-switch while the link is down
        core->Linia_1.U[1] = 240;
        core->Aktywna_Linia = 2;
        for (int i = 0; i < 10; ++i)
            w->TimerTimer();
        QCOMPARE(label(w.get(), "N1L1_U")->text(), QStringLiteral("230V"));
        QCOMPARE(diagram(w.get()), QStringList{"N1_Aktywna"});
        QCOMPARE(badges(w.get(), 1), QStringLiteral("D"));
        QCOMPARE(w->Czas, 1);

        w->TimerTimer(); // the 11th
        QCOMPARE(w->Licz, 11);
        for (int k = 1; k <= 3; ++k)
            QVERIFY(label(w.get(), QStringLiteral("N1L%1_U").arg(k))->isHidden());
        QCOMPARE(badges(w.get(), 1), QString());
        QCOMPARE(badges(w.get(), 2), QString());
        QCOMPARE(diagram(w.get()), QStringList());
        QCOMPARE(lamp(w.get(), "N1L1_OK"), QStringLiteral("none")); // lit before
        QCOMPARE(lamp(w.get(), "N1L2_Max"), QStringLiteral("none"));
        QCOMPARE(lamp(w.get(), "N1L2_OK"), QStringLiteral("unlit"));
        QCOMPARE(lamp(w.get(), "N1L3_Min"), QStringLiteral("lit"));
        QCOMPARE(lamp(w.get(), "N1L1_Max"), QStringLiteral("unlit"));
        QCOMPARE(chart(w.get(), 1)->graph(0)->data()->size(), 1);
        QCOMPARE(showMains, 0);

        core->UART_Connect = true;
        core->Aktywny_Program = 1;
        w->TimerTimer();
        QCOMPARE(w->Licz, 0);
        QCOMPARE(label(w.get(), "N1L1_U")->text(), QStringLiteral("240V"));
        QVERIFY(!label(w.get(), "N1L1_U")->isHidden());
        QCOMPARE(lamp(w.get(), "N1L1_OK"), QStringLiteral("lit"));
        QCOMPARE(lamp(w.get(), "N1L2_Max"), QStringLiteral("lit"));
        QCOMPARE(badges(w.get(), 1), QStringLiteral("D"));
        QCOMPARE(badges(w.get(), 3), QStringLiteral("A"));
        QCOMPARE(diagram(w.get()), QStringList{"N2_Aktywna"});
        for (int i = 0; i < 3; ++i)
            w->TimerTimer();
        // No gap: the chart resumes at the next chart second.
        QCOMPARE((chart(w.get(), 1)->graph(0)->data()->end() - 1)->key, 2.0);
        QCOMPARE((chart(w.get(), 1)->graph(0)->data()->end() - 1)->value, 240.0);
    }

    // Blanking hides the active diagram; coming back with a value the table
    // does not list shows the picture last selected, not an empty strip.
    void program1RecoveryWithUnlistedLine() {
        core->Aktywna_Linia = 3;
        auto w = open(1);
        w->TimerTimer();
        core->UART_Connect = false;
        for (int i = 0; i < 11; ++i)
            w->TimerTimer();
        QCOMPARE(diagram(w.get()), QStringList());
        core->UART_Connect = true;
        core->Aktywna_Linia = 4;
        w->TimerTimer();
        QCOMPARE(diagram(w.get()), QStringList{"N3_Aktywna"});
    }

    void selfSwitch_data() {
        QTest::addColumn<int>("program");
        QTest::addColumn<int>("active");
        QTest::addColumn<bool>("inMdi");
        QTest::addColumn<bool>("closes");
        QTest::newRow("10 finds 1, sub-window") << 10 << 1 << true << true;
        QTest::newRow("10 finds 1, alone") << 10 << 1 << false << true;
        QTest::newRow("10 finds 10") << 10 << 10 << true << false;
        QTest::newRow("12 finds 3") << 12 << 3 << true << true;
        QTest::newRow("1 finds 2") << 1 << 2 << true << true;
        QTest::newRow("3 finds 1") << 3 << 1 << true << false;
        QTest::newRow("2 finds 5") << 2 << 5 << false << false;
    }
    void selfSwitch() {
        QFETCH(int, program);
        QFETCH(int, active);
        QFETCH(bool, inMdi);
        QFETCH(bool, closes);
        core->Aktywny_Program = program;
        core->UART_Connect = true;
        QMdiArea area;
        std::unique_ptr<TMimicWindow> alone;
        QPointer<QWidget> frame;
        int calls = 0;
        bool closedBeforeShowMain = false;
        // The main window opens the next window in ShowMain; the owner of a
        // stand-alone window may even delete it there, so nothing of the
        // window may be used once ShowMain has run.
        auto showMain = [&] {
            ++calls;
            closedBeforeShowMain = frame && frame->isHidden();
            alone.reset();
        };
        auto* w = static_cast<TMimicWindow*>(createMimicWindow(program, *core, showMain));
        w->Timer.stop();
        QPointer<TMimicWindow> self = w;
        if (inMdi) {
            QMdiSubWindow* sub = area.addSubWindow(w);
            sub->setAttribute(Qt::WA_DeleteOnClose);
            frame = sub;
        } else {
            alone.reset(w);
            frame = w;
        }
        frame->show();

        core->Aktywny_Program = active;
        w->TimerTimer();
        QCOMPARE(calls, closes ? 1 : 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (closes) {
            QVERIFY(closedBeforeShowMain);
            QVERIFY(frame.isNull());
            QVERIFY(self.isNull());
        } else {
            QVERIFY(!frame->isHidden());
            QVERIFY(!self.isNull());
        }
    }

    // Refreshing an unchanged state must not repaint anything.
    void noRepaintWhenUnchanged() {
        core->Linia_1.U = {0, 230, 231, 232};
        core->Linia_1.Status = 2;
        core->Aktywna_Linia = 1;
        auto w = open(10);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->TimerTimer();
        QCoreApplication::processEvents();

        struct Counter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint)
                    ++paints;
                return false;
            }
        } counter;
        w->installEventFilter(&counter);
        for (QWidget* c : w->findChildren<QWidget*>())
            c->installEventFilter(&counter);
        w->TimerTimer(); // Tic 2 and 3: no chart step
        w->TimerTimer();
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);

        core->Linia_1.U[1] = 231;
        w->TimerTimer();
        QCoreApplication::processEvents();
        QVERIFY(counter.paints > 0);
    }
};

QTEST_MAIN(TestMimic)
#include "tst_mimic.moc"
