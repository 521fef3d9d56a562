#include "web/activitylog.h"
#include "tables/csv.h"
#include "tables/tablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qta::web {

namespace {

constexpr qint64 kBlock = 64 * 1024;

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Closes the descriptor (and so drops its lock) on every way out.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

QString cut(const QString& s, int max) {
    return s.size() <= max ? s : s.left(max - 1) + QChar(u'…');
}

bool readAt(int fd, qint64 offset, char* data, qint64 length) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, data, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += n;
        length -= n;
    }
    return true;
}

// The length of the file up to and including its last line end (0 when it has none).
bool wholeLinesEnd(int fd, qint64 size, qint64& end) {
    qint64 pos = size;
    QByteArray block;
    while (pos > 0) {
        const qint64 from = std::max<qint64>(0, pos - kBlock);
        block.resize(pos - from);
        if (!readAt(fd, from, block.data(), block.size()))
            return false;
        const qsizetype i = block.lastIndexOf('\n');
        if (i >= 0) {
            end = from + i + 1;
            return true;
        }
        pos = from;
    }
    end = 0;
    return true;
}

QString tornText(const QString& path) {
    return QStringLiteral("dziennik aktywności %1: ostatni zapis jest niepełny (przerwany "
                          "awarią); pominięty")
        .arg(path);
}

QString damagedText(const QString& path, qint64 at) {
    return QStringLiteral("dziennik aktywności %1: uszkodzony wiersz od bajtu %2; pominięty")
        .arg(path)
        .arg(at);
}

// What a spreadsheet would take for a formula is written as text.
QString spreadsheetText(const QString& s) {
    if (!s.isEmpty() && QStringLiteral("=+-@\t\r").contains(s.front()))
        return u'\'' + s;
    return s;
}

} // namespace

QString isoTimeWithOffset(const QDateTime& t) {
    QString s = t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
    if (s.endsWith(u'Z'))
        s.replace(s.size() - 1, 1, QStringLiteral("+00:00"));
    return s;
}

QString TActivityLog::pathFor(const QString& dataRoot, const QString& configPath) {
    const QDir dir = dataRoot.isEmpty() ? QFileInfo(configPath).absoluteDir() : QDir(dataRoot);
    return dir.filePath(fileName());
}

// ---------------------------------------------------------------- records

QByteArray TActivityLog::encode(const TActivityRecord& r) {
    // Written key by key, so that every line starts with its time (a JSON
    // object of Qt's own would sort the keys).
    const std::pair<const char*, QString> fields[] = {
        {"time", isoTimeWithOffset(r.time)},          {"user", cut(r.user, kMaxShortField)},
        {"address", cut(r.address, kMaxShortField)},  {"action", cut(r.action, kMaxShortField)},
        {"object", cut(r.object, kMaxObjectField)},   {"result", cut(r.result, kMaxShortField)},
        {"details", cut(r.details, kMaxDetailsField)}};
    QByteArray line = "{";
    for (const auto& [key, value] : fields) {
        if (line.size() > 1)
            line += ',';
        // A one-string array gives the string JSON-escaped between its brackets.
        const QByteArray quoted = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        line += '"' + QByteArray(key) + "\":" + quoted.mid(1, quoted.size() - 2);
    }
    return line + '}';
}

bool TActivityLog::decode(const QByteArray& line, TActivityRecord& r) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    for (const char* key : {"time", "user", "address", "action", "object", "result", "details"})
        if (!o.value(QLatin1String(key)).isString())
            return false;
    r.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    r.user = o.value(QLatin1String("user")).toString();
    r.address = o.value(QLatin1String("address")).toString();
    r.action = o.value(QLatin1String("action")).toString();
    r.object = o.value(QLatin1String("object")).toString();
    r.result = o.value(QLatin1String("result")).toString();
    r.details = o.value(QLatin1String("details")).toString();
    return r.time.isValid();
}

// ---------------------------------------------------------------- appending

QString TActivityLog::append(const TActivityRecord& in) const {
    TActivityRecord r = in;
    if (!r.time.isValid())
        r.time = QDateTime::currentDateTime();
    const QByteArray line = encode(r) + '\n';
    const auto failed = [this](const QString& why) {
        return QStringLiteral("nie zapisano w dzienniku aktywności %1: %2").arg(path_, why);
    };

    // No symbolic link is followed: root (the command line) writes in a
    // folder the service user may change. Read as well: the last line is
    // looked at before appending.
    const QByteArray native = QFile::encodeName(path_);
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    bool created = false;
    Fd fd{::open(native.constData(), kFlags)};
    if (fd.fd < 0 && errno == ENOENT) {
        fd.fd = ::open(native.constData(), kFlags | O_CREAT | O_EXCL, 0600);
        created = fd.fd >= 0;
        if (fd.fd < 0 && errno == EEXIST)
            fd.fd = ::open(native.constData(), kFlags);
    }
    if (fd.fd < 0)
        return failed(errno == ELOOP ? QStringLiteral("to dowiązanie symboliczne")
                                     : errnoText(errno));
    if (created) {
        const QString folder = QFileInfo(path_).absolutePath();
        struct stat dir {};
        if (::fchmod(fd.fd, 0600) != 0)
            return failed(errnoText(errno));
        if (::geteuid() == 0 && ::stat(QFile::encodeName(folder).constData(), &dir) == 0 &&
            ::fchown(fd.fd, dir.st_uid, dir.st_gid) != 0)
            return failed(errnoText(errno));
    }
    int rc;
    do
        rc = ::flock(fd.fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    struct stat st {};
    if (rc != 0 || ::fstat(fd.fd, &st) != 0)
        return failed(errnoText(errno));
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        return failed(QStringLiteral("to nie jest zwykły plik o jednej nazwie"));

    // A record cut short by a crash goes, so that this one starts a line.
    qint64 size = st.st_size;
    if (size > 0) {
        char last = 0;
        qint64 whole = size;
        if (!readAt(fd.fd, size - 1, &last, 1) ||
            (last != '\n' && !wholeLinesEnd(fd.fd, size, whole)))
            return failed(errnoText(errno));
        if (whole != size) {
            if (::ftruncate(fd.fd, off_t(whole)) != 0 || ::fdatasync(fd.fd) != 0)
                return failed(errnoText(errno));
            size = whole;
        }
    }
    const char* data = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            [[maybe_unused]] const int t = ::ftruncate(fd.fd, off_t(size));
            return failed(errnoText(err));
        }
        data += n;
        left -= n;
    }
    if (::fdatasync(fd.fd) != 0) {
        const int err = errno;
        // Whether it reached the disk is unknown: it is not reported as written.
        [[maybe_unused]] const int t = ::ftruncate(fd.fd, off_t(size));
        return failed(errnoText(err));
    }
    if (created) {
        try {
            dbf::syncFolder(QFileInfo(path_).absolutePath());
        } catch (const std::exception& e) {
            return failed(QString::fromUtf8(e.what()));
        }
    }
    return {};
}

// ---------------------------------------------------------------- reading

TActivityLog::TPage TActivityLog::readPage(int offset, int limit) const {
    return page(-1, std::max(0, offset), limit);
}

TActivityLog::TPage TActivityLog::readBefore(qint64 end, int limit) const {
    return page(std::max<qint64>(0, end), 0, limit);
}

TActivityLog::TPage TActivityLog::page(qint64 end, int skip, int limit) const {
    TPage p;
    Fd fd{::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0) {
        if (errno != ENOENT) {
            p.ok = false;
            p.problems << QStringLiteral("nie można odczytać dziennika aktywności %1: %2")
                              .arg(path_, errnoText(errno));
        }
        return p;
    }
    const qint64 size = st.st_size;
    if (end < 0 || end > size)
        end = size;
    if (end > 0 && end < size) {
        // A position from a page before: it must be where a line starts.
        char before = 0;
        if (!readAt(fd.fd, end - 1, &before, 1) || before != '\n') {
            p.ok = false;
            p.problems << QStringLiteral("dziennik aktywności %1: pozycja %2 nie jest początkiem "
                                         "wiersza")
                              .arg(path_)
                              .arg(end);
            return p;
        }
    }

    // buf holds the file's bytes [bufStart, e): the lines still to go, read a
    // block at a time from the back.
    QByteArray buf;
    qint64 bufStart = end;
    qint64 e = end;
    while (e > 0 && int(p.records.size()) < limit) {
        char lastByte = 0;
        if (e - 1 >= bufStart)
            lastByte = buf.at(e - 1 - bufStart);
        else if (!readAt(fd.fd, e - 1, &lastByte, 1))
            break;
        const bool torn = lastByte != '\n';
        const qint64 contentEnd = torn ? e : e - 1;
        qint64 start = -1;
        for (;;) {
            const qint64 searchTo = contentEnd - 1 - bufStart; // last index to look at
            const qsizetype i = searchTo >= 0 ? buf.lastIndexOf('\n', searchTo) : -1;
            if (i >= 0) {
                start = bufStart + i + 1;
                break;
            }
            if (bufStart == 0) {
                start = 0;
                break;
            }
            const qint64 from = std::max<qint64>(0, bufStart - kBlock);
            QByteArray block(bufStart - from, '\0');
            if (!readAt(fd.fd, from, block.data(), block.size())) {
                p.ok = false;
                p.problems << QStringLiteral("nie można odczytać dziennika aktywności %1: %2")
                                  .arg(path_, errnoText(errno));
                return p;
            }
            buf.prepend(block);
            bufStart = from;
        }
        const QByteArray line = buf.mid(start - bufStart, contentEnd - start);
        buf.truncate(start - bufStart);
        e = start;
        TActivityRecord r;
        if (torn) {
            p.problems << tornText(path_);
        } else if (line.trimmed().isEmpty()) {
            continue;
        } else if (!decode(line, r)) {
            p.problems << damagedText(path_, start);
        } else if (skip > 0) {
            --skip;
        } else {
            p.records.push_back(r);
        }
    }
    p.olderEnd = e;
    p.more = e > 0;
    return p;
}

// ---------------------------------------------------------------- CSV

QString TActivityLog::exportCsv(QIODevice* out, const QDateTime& from, const QDateTime& to,
                                QStringList* skipped) const {
    QFile in(path_);
    const bool missing = !in.exists();
    if (!missing && !in.open(QIODevice::ReadOnly))
        return QStringLiteral("nie można odczytać dziennika aktywności %1: %2")
            .arg(path_, in.errorString());
    TCsvWriter csv(out);
    const auto refused = [out] {
        return QStringLiteral("nie można zapisać pliku CSV: %1").arg(out->errorString());
    };
    if (!csv.writeRow({QStringLiteral("Czas"), QStringLiteral("Strefa"),
                       QStringLiteral("Użytkownik"), QStringLiteral("Adres"),
                       QStringLiteral("Działanie"), QStringLiteral("Obiekt"),
                       QStringLiteral("Wynik"), QStringLiteral("Szczegóły")}))
        return refused();
    qint64 at = 0;
    while (!missing && !in.atEnd()) {
        const QByteArray line = in.readLine();
        if (line.isEmpty() && in.error() != QFileDevice::NoError)
            return QStringLiteral("nie można odczytać dziennika aktywności %1: %2")
                .arg(path_, in.errorString());
        const qint64 start = at;
        at += line.size();
        TActivityRecord r;
        if (!line.endsWith('\n')) {
            if (skipped)
                *skipped << tornText(path_);
            break;
        }
        if (line.trimmed().isEmpty())
            continue;
        if (!decode(line.chopped(1), r)) {
            if (skipped)
                *skipped << damagedText(path_, start);
            continue;
        }
        if ((from.isValid() && r.time < from) || (to.isValid() && r.time > to))
            continue;
        const QDateTime wall = r.time.toOffsetFromUtc(r.time.offsetFromUtc());
        const QString offset = QStringLiteral("UTC") + isoTimeWithOffset(r.time).right(6);
        if (!csv.writeRow({wall.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), offset,
                           spreadsheetText(r.user), spreadsheetText(r.address),
                           spreadsheetText(r.action), spreadsheetText(r.object),
                           spreadsheetText(r.result), spreadsheetText(r.details)}))
            return refused();
    }
    return {};
}

} // namespace qta::web
