// Positional file I/O of the table layer and the test hooks at its seam.
#include "tables/tableio.h"

#include "tables/table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

} // namespace

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

void trace(IoOp::Kind kind, const QString& path, qint64 offset, const char* data, qint64 length,
           const QString& target) {
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

bool removeFile(const QString& path) {
    if (!QFile::remove(path))
        return false;
    trace(IoOp::Remove, path);
    return true;
}

void syncFolder(const QString& folder) {
#ifndef _WIN32
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        throw ETable(QStringLiteral("Nie można zapisać na dysk zawartości folderu %1: %2")
                         .arg(QDir::toNativeSeparators(folder), why));
    }
    ::close(fd);
#endif
    trace(IoOp::SyncDir, folder);
}

} // namespace qta::dbf
