// The folder a program works in: chosen at start, prepared with empty tables
// and a settings file the first time the desktop program runs from its menu,
// and locked so that one program writes it (the desktop program opens a
// folder the collector holds read-only).
#pragma once

#include <QLockFile>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace qta {

struct TWorkFolder {
    QString path;   // absolute; empty when `error` is set
    QString error;  // Polish, why no folder can be used
    QString notice; // Polish, one line for the status bar when the folder was just prepared
};

// The user's data folder: $XDG_DATA_HOME/qta504, or ~/.local/share/qta504 when
// XDG_DATA_HOME is unset or not an absolute path.
QString dataFolder(const QProcessEnvironment& env);

// The working folder, in this order: the one named on the command line (it
// must exist; without rejestr/ it is prepared); the folder the program was
// started in when it holds rejestr/ (used exactly as it is); else the user's
// data folder, created and prepared when needed.
TWorkFolder chooseWorkFolder(const QString& explicitDir, const QString& currentDir,
                             const QProcessEnvironment& env);

// Makes `folder`/rejestr/ ready for a first run: the folder, both empty tables
// when neither exists, and the settings file when it is missing. A folder with
// only one of the two tables keeps it that way (the program then says which one
// is missing rather than starting a fresh, empty history beside the old one),
// unless rejestr.dbf waits complete under its temporary name: the tables are
// made with rejestr.dbf named last, and a crash just before leaves that.
// Returns what was created, as file names relative to `folder`; raises ETable
// (or std::runtime_error) with a Polish message when something cannot be made.
QStringList prepareWorkFolder(const QString& folder);

// How the program may use a working folder, from its lock (.qta504.lock).
struct TFolderAccess {
    enum class Mode { Write, ReadOnly, Refused };
    Mode mode = Mode::Refused;
    qint64 pid = 0; // the lock's holder, when another program holds it
    QString app;    // its application name ("qta504d" for the collector)
};

// Takes `lock`. When the collector holds it, the folder is opened read-only
// (the collector writes its tables; this program shows them); when another
// copy of this program holds it, the program does not start.
TFolderAccess lockWorkFolder(QLockFile& lock);

// The status-bar line of a read-only start.
QString readOnlyNotice(const TFolderAccess& access);

} // namespace qta
