#include "tables/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace qta {

namespace {

// Settings files are a few kilobytes; past this it is not a settings file
// (say a device given by mistake) and reading on would only fill memory.
constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

// The system's reason in the program's language; Qt's own text for the rare
// ones it has no errno for.
QString reasonFor(int err, const QString& fallback) {
    switch (err) {
    case EACCES:
    case EPERM: return QStringLiteral("brak dostępu");
    case ENOENT:
    case ENOTDIR: return QStringLiteral("brak pliku");
    case EISDIR: return QStringLiteral("to folder, a nie plik");
    case EIO: return QStringLiteral("błąd odczytu z nośnika");
    case ELOOP: return QStringLiteral("zapętlone dowiązania symboliczne");
    case ENAMETOOLONG: return QStringLiteral("za długa ścieżka");
    case EMFILE:
    case ENFILE: return QStringLiteral("za dużo otwartych plików");
    case ENOMEM: return QStringLiteral("brak pamięci");
    default:
        if (err != 0)
            return QString::fromLocal8Bit(std::strerror(err));
        return fallback;
    }
}

TIniFile failed(const QString& path, const QString& reason) {
    TIniFile r;
    r.status = TIniFile::Failed;
    r.reason = reason;
    r.error = QStringLiteral("nie można odczytać pliku %1: %2").arg(path, reason);
    return r;
}

} // namespace

TIniFile readIniFile(const QString& path, CSimpleIniA& ini) {
    ini.Reset();
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);

    const QFileInfo info(path);
    if (!info.exists()) {
        TIniFile r;
        r.status = TIniFile::Missing;
        r.reason = QStringLiteral("brak pliku");
        r.error = QStringLiteral("brak pliku %1").arg(path);
        return r;
    }
    if (info.isDir())
        return failed(path, reasonFor(EISDIR, {}));

    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::ReadOnly))
        return failed(path, reasonFor(errno, f.errorString()));
    QByteArray data;
    char chunk[64 * 1024];
    for (;;) {
        errno = 0;
        const qint64 n = f.read(chunk, sizeof chunk);
        if (n < 0)
            return failed(path, reasonFor(errno, f.errorString()));
        if (n == 0)
            break;
        data.append(chunk, n);
        if (data.size() > kMaxBytes)
            return failed(path, QStringLiteral("plik ma ponad %1 MB, to nie są ustawienia")
                                    .arg(kMaxBytes / (1024 * 1024)));
    }
    if (data.contains('\0'))
        return failed(path, QStringLiteral("plik zawiera bajt zerowy"));

    TIniFile r;
    r.signature = data.startsWith("\xEF\xBB\xBF");
    if (r.signature)
        data.remove(0, 3);
    const SI_Error rc = ini.LoadData(data.constData(), std::size_t(data.size()));
    if (rc < 0) {
        ini.Reset();
        return failed(path, rc == SI_NOMEM ? reasonFor(ENOMEM, {})
                                           : QStringLiteral("to nie jest plik INI"));
    }
    r.status = TIniFile::Read;
    r.text = std::move(data);
    return r;
}

int iniNumber(const char* section, const char* key, const QString& text, int def, int lo, int hi,
              QStringList& errors) {
    if (text.isEmpty())
        return def;
    bool ok = false;
    const int n = text.toInt(&ok);
    if (ok && n >= lo && n <= hi)
        return n;
    errors << QStringLiteral("[%1]: %2=%3 poza zakresem %4..%5")
                  .arg(QLatin1String(section), QLatin1String(key), text)
                  .arg(lo)
                  .arg(hi);
    return def;
}

QString iniFilePath(const QString& baseDir, const QString& text) {
    return text.isEmpty() ? text : QDir::cleanPath(QDir(baseDir).absoluteFilePath(text));
}

} // namespace qta
