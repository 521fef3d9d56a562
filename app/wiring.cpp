#include "app/wiring.h"

#include "app/mainwindow.h"
#include "mimic/mimicwindow.h"
#include "settings/dostosujwindow.h"
#include "settings/konfigwindow.h"

namespace qta {

void wireWindows(TQTA504& main) {
    main.mimicFactory = [&main](int program) -> QWidget* {
        QWidget* w = createMimicWindow(program, main.core, [&main] { main.ShowMain(); });
        if (auto* m = qobject_cast<TMimicWindow*>(w))
            w->setProperty("fixedFrame", !m->sizeable());
        return w;
    };
    main.setWindowFactory(main.Ustawienia_Konfiguracja,
                          [&main]() -> QWidget* { return new TKonfig_1(main.core); });
    main.setWindowFactory(main.Ustawienia_Dostosuj,
                          [&main]() -> QWidget* { return new TDostosuj(main.core); });
}

} // namespace qta
