// The mimic as the site console draws it (mimic/mimicview) against the
// desktop's window: for every program, its elements (names, places,
// pictures) are the window's components, and for a table of controller
// states, including a lost link and values the diagram table keeps, the
// elements shown and the readings are exactly what the window shows after a
// refresh.
#include "core/controller.h"
#include "mimic/mimiclayouts.h"
#include "mimic/mimicview.h"
#include "mimic/mimicwindow.h"

#include <QLabel>
#include <QtTest>
#include <memory>
#include <qcustomplot.h>

using namespace qta;

namespace {

struct State {
    const char* what;
    std::array<std::array<int, 3>, 3> u;
    std::array<int, 3> status;
    std::array<int, 3> errMin, errMax; // bit k: phase k+1
    int active;
    bool link;
};

// Voltages around the limits 195..253 of every line; a line's phases differ.
const State kStates[] = {
    {"all good, N1 feeds",
     {{{230, 231, 232}, {229, 228, 227}, {226, 225, 224}}},
     {3, 3, 3},
     {0, 0, 0},
     {0, 0, 0},
     1,
     true},
    {"N1 low and out of the reading, N2 high, N2 feeds",
     {{{80, 120, 194}, {254, 300, 253}, {0, 195, 310}}},
     {0, 2, 1},
     {7, 0, 2},
     {0, 3, 4},
     2,
     true},
    {"third feeder, limits exact",
     {{{195, 253, 81}, {299, 196, 252}, {230, 230, 230}}},
     {1, 0, 3},
     {1, 2, 4},
     {4, 2, 1},
     3,
     true},
    {"coupler codes",
     {{{230, 230, 230}, {230, 230, 230}, {230, 230, 230}}},
     {3, 3, 3},
     {0, 0, 0},
     {0, 0, 0},
     5,
     true},
    {"a code no table lists keeps the picture",
     {{{230, 100, 230}, {0, 0, 0}, {230, 230, 230}}},
     {3, 0, 3},
     {0, 2, 0},
     {0, 0, 0},
     9,
     true},
    {"lost link",
     {{{230, 230, 230}, {180, 230, 230}, {230, 230, 260}}},
     {3, 2, 3},
     {1, 0, 0},
     {0, 0, 4},
     2,
     false},
};

const int kPrograms[] = {1, 2, 3, 4, 5, 10, 11, 12};

class NullView : public TNullView {};

} // namespace

class TestMimicView : public QObject {
    Q_OBJECT
    NullView view;

private slots:
    void elementsAreTheWindowsComponents() {
        TQTA504Core core(&view);
        for (int program : kPrograms) {
            core.Aktywny_Program = program;
            std::unique_ptr<QWidget> w(createMimicWindow(program, core, {}));
            QMap<QString, QRect> window;
            for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!c->objectName().isEmpty())
                    window.insert(c->objectName(), c->geometry());
            QMap<QString, QRect> page;
            for (const TMimicElement& e : mimicElements(*mimicLayout(program)))
                page.insert(e.name, e.rect);
            QCOMPARE(page.keys(), window.keys());
            for (auto it = page.begin(); it != page.end(); ++it)
                QVERIFY2(window.value(it.key()) == it.value(),
                         qPrintable(QStringLiteral("program %1, %2").arg(program).arg(it.key())));
        }
    }

    void shownElementsAreTheWindows_data() {
        QTest::addColumn<int>("program");
        for (int program : kPrograms)
            QTest::addRow("program %d", program) << program;
    }
    void shownElementsAreTheWindows() {
        QFETCH(int, program);
        TQTA504Core core(&view);
        core.Aktywny_Program = program;
        core.UART_Connect = true;
        for (int n = 1; n <= 3; ++n)
            core.Konfig.Linia[size_t(n)] = {false, false, 195, 253, 8};
        auto* raw = static_cast<TMimicWindow*>(createMimicWindow(program, core, {}));
        std::unique_ptr<TMimicWindow> w(raw);
        w->Timer.stop();
        int diagram = TMimicLayout::kOff;
        const TMimicLayout& layout = *mimicLayout(program);
        for (const State& s : kStates) {
            for (int n = 1; n <= 3; ++n) {
                TLinia1& line = core.linia(n);
                line.Status = std::uint8_t(s.status[size_t(n - 1)]);
                for (int k = 1; k <= 3; ++k) {
                    line.U[size_t(k)] = s.u[size_t(n - 1)][size_t(k - 1)];
                    line.Error_Min[size_t(k)] = (s.errMin[size_t(n - 1)] >> (k - 1)) & 1 ? -1 : 0;
                    line.Error_Max[size_t(k)] = (s.errMax[size_t(n - 1)] >> (k - 1)) & 1 ? -1 : 0;
                }
            }
            core.Aktywna_Linia = s.active;
            core.UART_Connect = true;
            w->TimerTimer();
            // The link then lost: the window blanks after eleven refreshes without it.
            core.UART_Connect = s.link;
            for (int i = 0; i < (s.link ? 0 : 12); ++i)
                w->TimerTimer();
            const TMimicView v = mimicView(layout, core, diagram);
            QStringList shown;
            for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!c->objectName().isEmpty() && !c->isHidden())
                    shown << c->objectName();
            shown.sort();
            QStringList page(v.shown.begin(), v.shown.end());
            page.sort();
            QVERIFY2(page == shown,
                     qPrintable(QStringLiteral("%1\n page:   %2\n window: %3")
                                    .arg(QLatin1String(s.what), page.join(' '), shown.join(' '))));
            for (auto it = v.readings.begin(); it != v.readings.end(); ++it)
                QCOMPARE(w->findChild<QLabel*>(it.key())->text(), it.value());
        }
    }
};

QTEST_MAIN(TestMimicView)
#include "tst_mimicview.moc"
