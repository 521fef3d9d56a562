// What the desktop program settles before it opens a window: its command line.
// The folder it works in is chosen by core/workfolder.h.
#pragma once

#include <QString>
#include <QStringList>

namespace qta {

struct TStartOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Help: the help text; Version: the version line; Error: what was wrong.
    QString text;
    // --work-dir: the working folder; empty when not given.
    QString workDir;
    // --demo-panel: the "Demo" menu item is shown.
    bool demoPanel = false;
};

// `arguments` as QCoreApplication::arguments() gives them, program name first.
// Needs a QCoreApplication (for the help text) but no display.
TStartOptions parseStartOptions(const QStringList& arguments);

} // namespace qta
