#include "app/wiring.h"

#include "app/mainwindow.h"
#include "mimic/mimicwindow.h"

namespace qta {

void wireWindows(TQTA504& main) {
    main.mimicFactory = [&main](int program) -> QWidget* {
        QWidget* w = createMimicWindow(program, main.core, [&main] { main.ShowMain(); });
        if (auto* m = qobject_cast<TMimicWindow*>(w))
            w->setProperty("fixedFrame", !m->sizeable());
        return w;
    };
}

} // namespace qta
