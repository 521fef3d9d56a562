#include "app/wiring.h"

#include "alarms/alarmsound.h"
#include "alarms/alarmwindow.h"
#include "alarms/annunciator.h"
#include "alarms/desktopnotifier.h"
#include "app/mainwindow.h"
#include "editors/demoform.h"
#include "editors/dostosujwindow.h"
#include "editors/konfigwindow.h"
#include "editors/zabezpieczenia.h"
#include "editors/zegar.h"
#include "history/chartwindow.h"
#include "history/linehistory.h"
#include "history/rejestrwindow.h"
#include "mimic/mimicwindow.h"
#include "tables/table.h"

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
    main.setWindowFactory(main.Widok_Alarmy,
                          [&main]() -> QWidget* { return new TAlarmWindow(main.core.Alarmy); });
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

    // The alarms on the desktop: notification, sound, taskbar, tray, the window.
    TAnnunciator::Hooks hooks;
    hooks.window = &main;
    hooks.openAlarmWindow = [&main] { main.showAlarmWindow(); };
    hooks.controllerId = [&main] { return main.core.Konfig.Id; };
    auto* notifier = new TDesktopNotifier(QDBusConnection::sessionBus(), &main);
    notifier->setObjectName(QStringLiteral("AlarmNotifier"));
    auto* sound = new TAlarmSound(&main);
    sound->setObjectName(QStringLiteral("AlarmSound"));
    new TAnnunciator(main.core.Alarmy, std::move(hooks), notifier, sound, &main);

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
