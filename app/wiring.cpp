#include "app/wiring.h"

#include "app/mainwindow.h"
#include "history/demoform.h"
#include "mimic/mimicwindow.h"
#include "settings/zabezpieczenia.h"
#include "settings/zegar.h"

namespace qta {

void wireWindows(TQTA504& main) {
    main.mimicFactory = [&main](int program) -> QWidget* {
        QWidget* w = createMimicWindow(program, main.core, [&main] { main.ShowMain(); });
        if (auto* m = qobject_cast<TMimicWindow*>(w))
            w->setProperty("fixedFrame", !m->sizeable());
        return w;
    };
    main.setWindowFactory(main.Ustawienia_Zegar,
                          [&main]() -> QWidget* { return new TZegar(main.core); });
    main.setWindowFactory(main.Ustawienia_Zabezpieczenia,
                          [&main]() -> QWidget* { return new TZabezpieczenia(main.core); });
    main.setWindowFactory(main.Ustawienia_Demo,
                          [&main]() -> QWidget* { return new TDemoForm(main.core); });
}

} // namespace qta
