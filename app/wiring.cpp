#include "app/wiring.h"

#include "app/mainwindow.h"
#include "history/chartwindow.h"
#include "history/linehistory.h"
#include "mimic/mimicwindow.h"

namespace qta {

void wireWindows(TQTA504& main) {
    main.mimicFactory = [&main](int program) -> QWidget* {
        QWidget* w = createMimicWindow(program, main.core, [&main] { main.ShowMain(); });
        if (auto* m = qobject_cast<TMimicWindow*>(w))
            w->setProperty("fixedFrame", !m->sizeable());
        return w;
    };

    // One history of linia.dbf for the three chart windows, kept while the program runs.
    auto* history = new TLineHistory([&main] { return main.core.Linia(); }, &main);
    const std::array<QAction*, 3> chartItems{main.Widok_N1, main.Widok_N2, main.Widok_N3};
    for (int line = 1; line <= 3; ++line)
        main.setWindowFactory(chartItems[size_t(line - 1)], [&main, history, line] {
            return createChartWindow(line, *history,
                                     [&main](const QString& m) { main.reportError(m); });
        });
}

} // namespace qta
