#include "core/workfolder.h"

#include "tables/table.h"
#include "tables/tablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace qta {

namespace {

// The settings a new installation starts with: this controller's line
// settings and no port yet, so that the start window scans the ports present.
constexpr char kDefaultSettings[] = "[ComPort]\n"
                                    "Port=\n"
                                    "BaudRate=38400\n"
                                    "StopBits=1\n"
                                    "DataBits=8\n"
                                    "Parity=None\n"
                                    "FlowControl=None\n";

bool hasRejestr(const QString& folder) {
    return QFileInfo(QDir(folder).filePath(QStringLiteral("rejestr"))).isDir();
}

TWorkFolder failed(const QString& error) {
    TWorkFolder f;
    f.error = error;
    return f;
}

// Prepares `folder` and words the result for the status bar.
TWorkFolder prepared(const QString& folder) {
    TWorkFolder f;
    f.path = folder;
    QStringList made;
    try {
        made = prepareWorkFolder(folder);
    } catch (const std::exception& e) {
        return failed(QString::fromUtf8(e.what()));
    }
    const bool tables = made.contains(QStringLiteral("rejestr/rejestr.dbf"));
    const bool settings = made.contains(QStringLiteral("rejestr/ustawienia.ini"));
    if (tables && settings)
        f.notice = QStringLiteral("Pierwsze uruchomienie w katalogu %1: utworzono puste tabele "
                                  "rejestru i domyślny plik ustawień")
                       .arg(QDir::toNativeSeparators(folder));
    else if (tables)
        f.notice = QStringLiteral("Utworzono puste tabele rejestru w katalogu %1")
                       .arg(QDir::toNativeSeparators(folder));
    else if (settings)
        f.notice = QStringLiteral("Utworzono domyślny plik ustawień w katalogu %1")
                       .arg(QDir::toNativeSeparators(folder));
    return f;
}

} // namespace

QString dataFolder(const QProcessEnvironment& env) {
    QString base = env.value(QStringLiteral("XDG_DATA_HOME"));
    // A relative XDG_DATA_HOME is invalid and is to be ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        QString home = env.value(QStringLiteral("HOME"));
        if (home.isEmpty())
            home = QDir::homePath();
        base = QDir(home).filePath(QStringLiteral(".local/share"));
    }
    return QDir::cleanPath(QDir(base).filePath(QStringLiteral("qta504")));
}

TWorkFolder chooseWorkFolder(const QString& explicitDir, const QString& currentDir,
                             const QProcessEnvironment& env) {
    if (!explicitDir.isEmpty()) {
        const QFileInfo info(QDir(currentDir).filePath(explicitDir));
        // A mistyped name must not turn into a new, empty history somewhere.
        if (!info.isDir())
            return failed(QStringLiteral("Katalog roboczy %1 nie istnieje")
                              .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
        const QString folder = QDir::cleanPath(info.absoluteFilePath());
        if (hasRejestr(folder))
            return {folder, {}, {}};
        return prepared(folder);
    }
    if (hasRejestr(currentDir))
        return {QDir::cleanPath(QDir(currentDir).absolutePath()), {}, {}};

    const QString folder = dataFolder(env);
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("Nie można utworzyć katalogu danych %1")
                          .arg(QDir::toNativeSeparators(folder)));
    return prepared(folder);
}

QStringList prepareWorkFolder(const QString& folder) {
    const QDir dir(folder);
    const QString sub = dir.filePath(QStringLiteral("rejestr"));
    if (!QDir().mkpath(sub))
        throw std::runtime_error(QStringLiteral("Nie można utworzyć katalogu %1")
                                     .arg(QDir::toNativeSeparators(sub))
                                     .toStdString());
    QStringList made;
    const QString rejestr = QDir(sub).filePath(QStringLiteral("rejestr.dbf"));
    const QString linia = QDir(sub).filePath(QStringLiteral("linia.dbf"));
    // A first start cut short by a crash after the other tables got their
    // names: rejestr.dbf, named last, is complete under its temporary name.
    if (!QFileInfo::exists(rejestr) && QFileInfo::exists(linia))
        dbf::finishCreate(rejestr);
    if (!QFileInfo::exists(rejestr) && !QFileInfo::exists(linia)) {
        // Both or neither: one table alone would be taken for a damaged folder.
        const QString alarmy = QDir(sub).filePath(QStringLiteral("alarmy.dbf"));
        TTable::createPair(rejestr, linia, QFileInfo::exists(alarmy) ? QString() : alarmy);
        made << QStringLiteral("rejestr/rejestr.dbf") << QStringLiteral("rejestr/linia.dbf");
    }
    const QString ini = QDir(sub).filePath(QStringLiteral("ustawienia.ini"));
    if (!QFileInfo::exists(ini)) {
        QSaveFile f(ini);
        const QByteArray text(kDefaultSettings);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit())
            throw std::runtime_error(QStringLiteral("Nie można zapisać pliku ustawień %1")
                                         .arg(QDir::toNativeSeparators(ini))
                                         .toStdString());
        made << QStringLiteral("rejestr/ustawienia.ini");
    }
    return made;
}

TFolderAccess lockWorkFolder(QLockFile& lock) {
    TFolderAccess a;
    if (lock.tryLock(0)) {
        a.mode = TFolderAccess::Mode::Write;
        return a;
    }
    QString host;
    if (!lock.getLockInfo(&a.pid, &host, &a.app) || a.app != QLatin1String("qta504d"))
        return a;
    if (lock.error() == QLockFile::LockFailedError) {
        a.mode = TFolderAccess::Mode::ReadOnly;
        return a;
    }
    // A folder of the collector's service user is not writable for others,
    // so the lock cannot even be tried: its file tells whether the collector
    // that wrote it still runs here (a signal to another user's process is
    // refused, to a process that is gone it finds none).
    if (host == QSysInfo::machineHostName() && a.pid > 0 &&
        (::kill(pid_t(a.pid), 0) == 0 || errno == EPERM))
        a.mode = TFolderAccess::Mode::ReadOnly;
    return a;
}

QString readOnlyNotice(const TFolderAccess& access) {
    return QStringLiteral("Tylko do odczytu: folder obsługuje kolektor qta504d (PID %1)")
        .arg(access.pid);
}

} // namespace qta
