#include "tables/tablefile.h"
#include "tables/tableio.h"

#include "tables/table.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <shapefil.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qta::dbf {

namespace {

// ---------------------------------------------------------------------------
// File access for shapelib
//
// Own hooks so that (a) the exact file name is opened whatever its extension
// (shapelib swaps the extension for ".dbf"/".DBF"), and (b) a failed write,
// seek or flush is noticed: shapelib itself ignores the result of its final
// flush, and Post must not report success for a row that never reached the
// file. Tables are touched from the user-interface thread only; the state is
// thread_local all the same.

thread_local QString tPath; // the table file during open/create
thread_local bool tIoFailed = false;
thread_local QString tShpError;

bool isDbfName(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 &&
           (std::strcmp(name + n - 4, ".dbf") == 0 || std::strcmp(name + n - 4, ".DBF") == 0);
}

SAFile hookOpen(const char* name, const char* access) {
    const QString path =
        (isDbfName(name) && !tPath.isEmpty()) ? tPath : QFile::decodeName(QByteArray(name));
    const bool truncates = std::strchr(access, 'w') != nullptr;
    const bool existed = tracing() && truncates && QFileInfo::exists(path);
#ifdef _WIN32
    FILE* f = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                      reinterpret_cast<const wchar_t*>(QString::fromLatin1(access).utf16()));
#else
    FILE* f = std::fopen(QFile::encodeName(path).constData(), access);
#endif
    if (f && tracing()) {
        if (!truncates)
            trace(IoOp::Open, path);
        else if (existed)
            trace(IoOp::Truncate, path, 0);
        else
            trace(IoOp::Create, path);
    }
    return reinterpret_cast<SAFile>(f);
}

FILE* F(SAFile f) { return reinterpret_cast<FILE*>(f); }

SAOffset hookRead(void* p, SAOffset size, SAOffset n, SAFile f) {
    return std::fread(p, size, n, F(f));
}

SAOffset hookTell(SAFile f) {
#ifdef _WIN32
    return static_cast<SAOffset>(_ftelli64(F(f)));
#else
    return static_cast<SAOffset>(ftello(F(f)));
#endif
}

SAOffset hookWrite(void* p, SAOffset size, SAOffset n, SAFile f) {
    const WriteFault fault = faultAt(-1, qint64(size * n));
    if (fault.error) {
        errno = fault.error;
        tIoFailed = true;
        return 0;
    }
    const qint64 at = tracing() ? qint64(hookTell(f)) : 0;
    const SAOffset done = std::fwrite(p, size, n, F(f));
    if (done != n)
        tIoFailed = true;
    // Written at once as far as a power loss is concerned: nothing of a new
    // table is relied on before its data sync.
    if (done > 0 && tracing())
        trace(IoOp::Write, tPath, at, static_cast<const char*>(p), qint64(done * size));
    return done;
}

SAOffset hookSeek(SAFile f, SAOffset offset, int whence) {
#ifdef _WIN32
    const int r = _fseeki64(F(f), static_cast<__int64>(offset), whence);
#else
    const int r = fseeko(F(f), static_cast<off_t>(offset), whence);
#endif
    if (r != 0)
        tIoFailed = true;
    return r == 0 ? 0 : 1;
}

int hookFlush(SAFile f) {
    const int r = std::fflush(F(f));
    if (r != 0)
        tIoFailed = true;
    return r;
}

int hookClose(SAFile f) {
    const int r = std::fclose(F(f));
    if (r != 0)
        tIoFailed = true;
    return r;
}

int hookRemove(const char* name) {
    const int r = std::remove(name);
    if (r == 0)
        trace(IoOp::Remove, QFile::decodeName(QByteArray(name)));
    return r;
}

void hookError(const char* message) { tShpError = QString::fromLocal8Bit(message); }

double hookAtof(const char* s) { return std::atof(s); }

SAHooks makeHooks() {
    SAHooks h;
    SASetupDefaultHooks(&h);
    h.FOpen = hookOpen;
    h.FRead = hookRead;
    h.FWrite = hookWrite;
    h.FSeek = hookSeek;
    h.FTell = hookTell;
    h.FFlush = hookFlush;
    h.FClose = hookClose;
    h.Remove = hookRemove;
    h.Error = hookError;
    h.Atof = hookAtof;
    return h;
}

// Starts an I/O sequence whose failure is checked afterwards.
void resetIo() {
    tIoFailed = false;
    tShpError.clear();
}

QString ioFailure() {
    return tShpError.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : tShpError;
}

} // namespace

// ---------------------------------------------------------------------------
// Layout of a table file as found on disk.

namespace {

bool knownVersion(unsigned char v) {
    // dBase II..V, FoxBASE/FoxPro and Visual FoxPro, with and without memo.
    static const unsigned char kKnown[] = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43,
                                           0x63, 0x83, 0x8B, 0x8E, 0xCB, 0xE5, 0xF5, 0xFB};
    return std::find(std::begin(kKnown), std::end(kKnown), v) != std::end(kKnown);
}

} // namespace

QString notDbase(const QString& path, const QString& why) {
    return QStringLiteral("Plik %1 nie jest tabelą dBase (%2)").arg(path, why);
}

namespace {

void checkExists(const QString& path) {
    const QFileInfo fi(path);
    if (!fi.absoluteDir().exists())
        throw ETable(QStringLiteral("Brak folderu %1 z tabelą %2")
                         .arg(QDir::toNativeSeparators(fi.absolutePath()), path));
    if (!fi.exists())
        throw ETable(QStringLiteral("Brak pliku tabeli %1").arg(path));
    if (fi.isDir())
        throw ETable(QStringLiteral("%1 jest folderem, nie tabelą").arg(path));
}

} // namespace

// Reads the header and the file length. The rows within the header count are
// taken as the file holds them whole: the count is written only after the
// rows it counts reached the disk (see table.cpp), but after a power loss the
// file may be shorter than the count says.
Layout scanLayout(const QString& path) {
    checkExists(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ETable(QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, f.errorString()));
    Layout l;
    l.fileSize = f.size();
    const QByteArray h = f.read(32);
    l.header = h;
    if (h.size() < 32)
        throw ETable(notDbase(path, QStringLiteral("plik krótszy niż nagłówek")));
    const auto* u = reinterpret_cast<const unsigned char*>(h.constData());
    if (!knownVersion(u[0]))
        throw ETable(notDbase(
            path, QStringLiteral("nieznany znacznik 0x%1").arg(u[0], 2, 16, QLatin1Char('0'))));
    l.headerCount = le32(h.constData() + 4) & 0x7FFFFFFF;
    l.headerLength = u[8] | u[9] << 8;
    l.recordLength = u[10] | u[11] << 8;
    if (l.headerLength < 64 || l.recordLength < 2 || l.headerLength > l.fileSize)
        throw ETable(notDbase(path, QStringLiteral("niespójny nagłówek")));
    const qint64 complete = (l.fileSize - l.headerLength) / l.recordLength;
    if (complete > std::numeric_limits<int>::max())
        throw ETable(notDbase(path, QStringLiteral("za duży plik")));
    l.rows = l.counted = int(std::min(l.headerCount, complete));
    return l;
}

bool rowWhole(const char* rec, const std::vector<Field>& fields) {
    if (rec[0] != ' ' && rec[0] != '*' && rec[0] != kUncommitted)
        return false;
    for (const Field& f : fields) {
        const char* p = rec + f.offset;
        if (f.type == 'T' && f.width == 8) {
            // Empty, or a date and time: Julian day of years 1..9999, ms of a day.
            const quint32 day = le32(p);
            const quint32 ms = le32(p + 4);
            if ((day != 0 || ms != 0) && (day < 1721426 || day > 5373484 || ms >= 86400000))
                return false;
        } else if (f.type == 'C' || isNumberType(f.type) || f.type == 'D' || f.type == 'L') {
            // Text, numbers, dates and logicals are written as characters and
            // blanks; a zero byte is a part of the row that never reached the disk.
            if (std::memchr(p, 0, size_t(f.width)) != nullptr)
                return false;
        }
    }
    return true;
}

// Rows past the header count: after a crash or a power loss the count may be
// behind the rows that reached the disk, and rows posted since the last sync
// are there with the mark kUncommitted until the next one commits them. Such
// a row is taken when it is whole: a row mark (or kUncommitted) and fields as
// the table layer writes them (rowWhole). The first that is not ends the
// rows: what follows it, like a row torn by a power loss (zeros where its
// sectors never reached the disk) or a file the file system extended with
// zeros, is cut before the next append.
void findRows(const QString& path, Layout& l, const std::vector<Field>& fields) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ETable(QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, f.errorString()));
    const qint64 complete = (l.fileSize - l.headerLength) / l.recordLength;
    qint64 rows = l.counted;
    QByteArray rec(l.recordLength, '\0');
    while (rows < complete) {
        if (!f.seek(l.headerLength + rows * l.recordLength) ||
            f.read(rec.data(), l.recordLength) != l.recordLength ||
            !rowWhole(rec.constData(), fields))
            break;
        ++rows;
    }
    l.rows = int(rows);
    const qint64 end = l.headerLength + rows * qint64(l.recordLength);
    l.tornTail = false;
    l.endMark = false;
    if (l.fileSize > end) {
        char mark = 0;
        l.tornTail = l.fileSize > end + 1 || !f.seek(end) || f.read(&mark, 1) != 1 || mark != 0x1A;
        l.endMark = !l.tornTail;
    }
}

namespace {

std::vector<Field> fieldsOf(DBFHandle h) {
    std::vector<Field> out;
    const int n = DBFGetFieldCount(h);
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        char name[XBASE_FLDNAME_LEN_READ + 1] = {};
        int width = 0;
        int decimals = 0;
        DBFGetFieldInfo(h, i, name, &width, &decimals);
        Field f;
        f.name = QString::fromLatin1(name).trimmed();
        f.type = DBFGetNativeFieldType(h, i);
        f.offset = h->panFieldOffset[i];
        f.width = width;
        f.decimals = decimals;
        out.push_back(f);
    }
    return out;
}

} // namespace

Description describe(const QString& path, const Layout& layout) {
    SAHooks hooks = makeHooks();
    resetIo();
    tPath = path;
    DBFHandle h = DBFOpenLL(QFile::encodeName(path).constData(), "rb", &hooks);
    tPath.clear();
    if (!h)
        throw ETable(notDbase(path, QStringLiteral("nagłówka nie da się odczytać")));
    Description d;
    d.fields = fieldsOf(h);
    d.cp = codePageOf(DBFGetCodePage(h));
    DBFClose(h);
    int sum = 1;
    for (const Field& f : d.fields)
        sum += f.width;
    if (d.fields.empty() || sum != layout.recordLength)
        throw ETable(notDbase(path, QStringLiteral("opis pól nie zgadza się z długością wiersza")));
    return d;
}

namespace {

// Temporary copies of a table being made, newest first.
QStringList temporaries(const QString& fileName) {
    const QFileInfo fi(fileName);
    const QDir dir = fi.absoluteDir();
    QStringList out;
    for (const QString& name : dir.entryList({QStringLiteral(".%1.*.tmp").arg(fi.fileName())},
                                             QDir::Files | QDir::Hidden | QDir::System, QDir::Time))
        out << dir.filePath(name);
    return out;
}

} // namespace

QString prepareTable(const QString& fileName, const std::vector<FieldDef>& fields) {
    const QFileInfo fi(fileName);
    if (!fi.absoluteDir().exists())
        throw ETable(QStringLiteral("Brak folderu %1 na tabelę %2")
                         .arg(QDir::toNativeSeparators(fi.absolutePath()), fileName));
    if (fi.exists())
        throw ETable(
            QStringLiteral("Tabela %1 już istnieje; nie zostanie zastąpiona").arg(fileName));
    // Leftovers of an attempt a crash cut short go first.
    for (const QString& old : temporaries(fileName))
        removeFile(old);
    // Made whole under a name of its own first (hidden, never taken for a
    // table): its real name appears only for a complete, synced table.
    static int serial = 0;
    const QString temporary = fi.absoluteDir().filePath(QStringLiteral(".%1.%2-%3.tmp")
                                                            .arg(fi.fileName())
                                                            .arg(QCoreApplication::applicationPid())
                                                            .arg(++serial));
    {
        // The library's own create truncates whatever is there: the name is
        // claimed first.
        QFile claim(temporary);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2")
                             .arg(fileName, claim.errorString()));
        trace(IoOp::Create, temporary);
    }
    SAHooks hooks = makeHooks();
    resetIo();
    tPath = temporary;
    // Language driver 0xC8 (200) marks Eastern European Windows, i.e.
    // Windows-1250, in the header itself; no .cpg file is written.
    DBFHandle h = DBFCreateLL(QFile::encodeName(fileName).constData(), "LDID/200", &hooks);
    bool ok = h != nullptr;
    if (h) {
        for (const FieldDef& s : fields)
            ok = ok && DBFAddNativeFieldType(h, s.name, s.type, s.width, 0) >= 0;
        const QDate today = QDate::currentDate();
        DBFSetLastModifiedDate(h, today.year() - 1900, today.month(), today.day());
        DBFClose(h);
    }
    tPath.clear();
    QString why = (!ok || tIoFailed) ? ioFailure() : QString();
    if (why.isEmpty()) {
        // The table reaches the disk before it gets its name.
        File f;
        if (!f.open(temporary, true) || !f.sync())
            why = f.errorString();
    }
    if (!why.isEmpty()) {
        removeFile(temporary);
        throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2").arg(fileName, why));
    }
    return temporary;
}

void commitTable(const QString& temporary, const QString& fileName) {
    // Never over an existing file (another tool may have made the table meanwhile).
    if (!QFile::rename(temporary, fileName)) {
        removeFile(temporary);
        throw ETable(
            QFileInfo::exists(fileName)
                ? QStringLiteral("Tabela %1 już istnieje; nie zostanie zastąpiona").arg(fileName)
                : QStringLiteral("Nie można utworzyć tabeli %1").arg(fileName));
    }
    trace(IoOp::Rename, temporary, 0, nullptr, 0, fileName);
}

bool finishCreate(const QString& fileName) {
    if (QFileInfo::exists(fileName))
        return true;
    bool done = false;
    for (const QString& temporary : temporaries(fileName)) {
        if (!done) {
            try {
                Layout l = scanLayout(temporary);
                const Description d = describe(temporary, l);
                findRows(temporary, l, d.fields);
                if (l.rows == 0 && !l.tornTail) {
                    commitTable(temporary, fileName);
                    syncFolder(QFileInfo(fileName).absolutePath());
                    done = true;
                    continue;
                }
            } catch (const ETable&) {
                // Not complete: a leftover like the others.
            }
        }
        removeFile(temporary);
    }
    return done;
}

void createTable(const QString& fileName, const std::vector<FieldDef>& fields) {
    const QString temporary = prepareTable(fileName, fields);
    commitTable(temporary, fileName);
    try {
        syncFolder(QFileInfo(fileName).absolutePath());
    } catch (const ETable&) {
        removeFile(fileName);
        throw;
    }
}

} // namespace qta::dbf
