#include "tables/tablefile.h"

#include "tables/table.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

WriteFaultHook& faultHook() {
    static WriteFaultHook hook;
    return hook;
}

// The fault a test asks for at this write, or none.
WriteFault faultAt(qint64 offset, qint64 length) {
    const WriteFaultHook& hook = faultHook();
    return hook ? hook(offset, length) : WriteFault{};
}

IoTraceHook& traceHook() {
    static IoTraceHook hook;
    return hook;
}

bool tracing() { return bool(traceHook()); }

void trace(IoOp::Kind kind, const QString& path, qint64 offset = 0, const char* data = nullptr,
           qint64 length = 0, const QString& target = {}) {
    const IoTraceHook& hook = traceHook();
    if (!hook)
        return;
    IoOp op;
    op.kind = kind;
    op.path = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!target.isEmpty())
        op.target = QDir::cleanPath(QFileInfo(target).absoluteFilePath());
    op.offset = offset;
    if (data)
        op.data = QByteArray(data, length);
    hook(op);
}

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

void setWriteFaultHook(WriteFaultHook hook) { faultHook() = std::move(hook); }

void setIoTraceHook(IoTraceHook hook) { traceHook() = std::move(hook); }

// ---------------------------------------------------------------------------
// Positional file I/O

File::~File() { close(); }

bool File::fail(int err) {
    error_ = QString::fromLocal8Bit(std::strerror(err));
    return false;
}

bool File::open(const QString& path, bool writable) {
    close();
    const QByteArray name = QFile::encodeName(path);
#ifdef _WIN32
    fd_ = _open(name.constData(), (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY);
#else
    fd_ = ::open(name.constData(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
#endif
    if (fd_ < 0)
        return fail(errno);
    writable_ = writable;
    path_ = path;
    trace(IoOp::Open, path);
    return true;
}

void File::close() {
    if (fd_ >= 0) {
#ifdef _WIN32
        _close(fd_);
#else
        ::close(fd_);
#endif
    }
    fd_ = -1;
    writable_ = false;
    path_.clear();
}

bool File::readAt(qint64 offset, char* data, qint64 length) {
    while (length > 0) {
#ifdef _WIN32
        const qint64 n = _lseeki64(fd_, offset, SEEK_SET) < 0
                             ? -1
                             : _read(fd_, data, unsigned(std::min<qint64>(length, 1 << 30)));
#else
        const qint64 n = ::pread(fd_, data, size_t(length), off_t(offset));
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        if (n == 0)
            return fail(EIO); // the file ends before the bytes asked for
        data += n;
        offset += n;
        length -= n;
    }
    return true;
}

bool File::writeAt(qint64 offset, const char* data, qint64 length) {
    const WriteFault fault = faultAt(offset, length);
    qint64 todo = length;
    if (fault.error)
        todo = std::clamp<qint64>(fault.partial, 0, length);
    const char* const start = data;
    const qint64 at = offset;
    // What reached the file, also of a write that failed half-way.
    const auto traced = [&] {
        if (data > start)
            trace(IoOp::Write, path_, at, start, qint64(data - start));
    };
    while (todo > 0) {
#ifdef _WIN32
        const qint64 n = _lseeki64(fd_, offset, SEEK_SET) < 0
                             ? -1
                             : _write(fd_, data, unsigned(std::min<qint64>(todo, 1 << 30)));
#else
        const qint64 n = ::pwrite(fd_, data, size_t(todo), off_t(offset));
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            traced();
            return fail(err);
        }
        data += n;
        offset += n;
        todo -= n;
    }
    traced();
    return fault.error ? fail(fault.error) : true;
}

bool File::truncate(qint64 size) {
#ifdef _WIN32
    const int r = _chsize_s(fd_, size);
#else
    int r;
    do
        r = ::ftruncate(fd_, off_t(size));
    while (r < 0 && errno == EINTR);
#endif
    if (r != 0)
        return fail(errno);
    trace(IoOp::Truncate, path_, size);
    return true;
}

bool File::sync() {
    const WriteFault fault = faultAt(-1, 0);
    if (fault.error)
        return fail(fault.error);
#ifdef _WIN32
    const int r = _commit(fd_);
#elif defined(__APPLE__)
    const int r = ::fsync(fd_);
#else
    const int r = ::fdatasync(fd_);
#endif
    if (r != 0)
        return fail(errno);
    trace(IoOp::Sync, path_);
    return true;
}

qint64 File::size() const {
#ifdef _WIN32
    const qint64 here = _lseeki64(fd_, 0, SEEK_END);
    return here;
#else
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? qint64(st.st_size) : -1;
#endif
}

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

// Reads the header and works out how many complete rows the file holds.
//
// The rows are those that fit whole into the file length; the header count is
// not trusted, since an append torn by a crash leaves it one behind (row
// written, count not) or, after a power loss, a count ahead of the rows that
// reached the disk. Rows beyond the header count are taken only if their
// first byte is a valid row mark (' ' or '*'): a file that the file system
// extended with zeros, or the end mark followed by leftovers, does not count.
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

    const qint64 data = l.fileSize - l.headerLength;
    const qint64 complete = data / l.recordLength;
    if (complete > std::numeric_limits<int>::max())
        throw ETable(notDbase(path, QStringLiteral("za duży plik")));
    qint64 rows = std::min(l.headerCount, complete);
    while (rows < complete) {
        char mark = 0;
        if (!f.seek(l.headerLength + rows * l.recordLength) || f.read(&mark, 1) != 1 ||
            (mark != ' ' && mark != '*'))
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
    return l;
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

bool removeFile(const QString& path) {
    if (!QFile::remove(path))
        return false;
    trace(IoOp::Remove, path);
    return true;
}

void createTable(const QString& fileName, const std::vector<FieldDef>& fields) {
    const QFileInfo fi(fileName);
    if (!fi.absoluteDir().exists())
        throw ETable(QStringLiteral("Brak folderu %1 na tabelę %2")
                         .arg(QDir::toNativeSeparators(fi.absolutePath()), fileName));
    if (fi.exists())
        throw ETable(
            QStringLiteral("Tabela %1 już istnieje; nie zostanie zastąpiona").arg(fileName));
    {
        // Claim the name first: the library's own create truncates whatever
        // is there, and two tools started at once must not both succeed.
        QFile claim(fileName);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2")
                             .arg(fileName, claim.errorString()));
        trace(IoOp::Create, fileName);
    }
    SAHooks hooks = makeHooks();
    resetIo();
    tPath = fileName;
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
        // A new table reaches the disk before anyone is told it exists.
        File f;
        if (!f.open(fileName, true) || !f.sync())
            why = f.errorString();
    }
    if (!why.isEmpty()) {
        removeFile(fileName);
        throw ETable(QStringLiteral("Nie można utworzyć tabeli %1: %2").arg(fileName, why));
    }
}

} // namespace qta::dbf
