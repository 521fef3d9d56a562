#include "app/wiring.h"

#include "app/mainwindow.h"
#include "history/rejestrwindow.h"
#include "history/table.h"
#include "history/demoform.h"
#include "mimic/mimicwindow.h"
#include "settings/zabezpieczenia.h"
#include "settings/zegar.h"
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
    main.setWindowFactory(main.Widok_Rejestr, [&main]() -> QWidget* {
        TTable* t = main.core.Rejestr();
        if (!t || !t->Active()) {
            main.reportError(QStringLiteral("Rejestru zdarzeń nie można pokazać: tabela "
                                            "rejestr.dbf nie jest otwarta"));
            return nullptr;
        }
        try {
            return new TRejestrForm(main.core);
        } catch (const ETable& e) {
            main.reportError(e.message());
            return nullptr;
        }
    });
    main.setWindowFactory(main.Ustawienia_Zegar,
                          [&main]() -> QWidget* { return new TZegar(main.core); });
    main.setWindowFactory(main.Ustawienia_Zabezpieczenia,
                          [&main]() -> QWidget* { return new TZabezpieczenia(main.core); });
    main.setWindowFactory(main.Ustawienia_Demo,
                          [&main]() -> QWidget* { return new TDemoForm(main.core); });
    main.setWindowFactory(main.Ustawienia_Konfiguracja,
                          [&main]() -> QWidget* { return new TKonfig_1(main.core); });
    main.setWindowFactory(main.Ustawienia_Dostosuj,
                          [&main]() -> QWidget* { return new TDostosuj(main.core); });
}

} // namespace qta
