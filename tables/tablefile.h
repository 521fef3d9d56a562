// The file side of the local tables: the header and layout of a dBase file
// as found on disk (including what a crash leaves behind), creating new
// tables, and positional reads and writes that either complete or leave the
// file as it was.
#pragma once

#include "tables/codepage.h"
#include "tables/tablevalues.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace qta::dbf {

// ---------------------------------------------------------------- writes

// What a test makes the next write do. error 0 lets it through; otherwise it
// fails with that errno value (ENOSPC, EIO, EFBIG ...) after writing the first
// `partial` bytes for real (a short write).
struct WriteFault {
    int error = 0;
    qint64 partial = 0;
};
// Consulted before every write of the table layer: rows, headers, remarks,
// new tables (offset -1 for a write through the library while creating) and
// data syncs (length 0). Tests only; nullptr restores plain writes.
using WriteFaultHook = std::function<WriteFault(qint64 offset, qint64 length)>;
void setWriteFaultHook(WriteFaultHook hook);

// ---------------------------------------------------------------- tracing

// One file operation of the table layer as it reaches the system, for the
// tests that rebuild what a power loss at any moment may leave on the disk.
struct IoOp {
    enum Kind { Create, Open, Write, Truncate, Sync, Rename, Remove, SyncDir };
    Kind kind = Write;
    QString path;      // absolute; the old name of a Rename, the folder of a SyncDir
    QString target;    // Rename: the new name
    qint64 offset = 0; // Write: where; Truncate: the new size
    QByteArray data;   // Write: the bytes
};
// Called after every file operation of the table layer that succeeded:
// creating, opening, writing (also the library's writes while a table is
// made), truncating, data syncs, renames, removals and folder syncs. Tests
// only; nullptr (the default) costs one test of a function per operation.
using IoTraceHook = std::function<void(const IoOp&)>;
void setIoTraceHook(IoTraceHook hook);

// One open table file, unbuffered: every read and write goes straight to the
// system at the given offset, so a failure leaves nothing behind in a buffer
// to be written later (the cause of headers garbled after a full disk when
// the library's buffered read-modify-write of the header met a failed read).
class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& o) noexcept { *this = std::move(o); }
    File& operator=(File&& o) noexcept {
        if (this != &o) {
            close();
            std::swap(fd_, o.fd_);
            std::swap(writable_, o.writable_);
            std::swap(path_, o.path_);
            error_ = o.error_;
        }
        return *this;
    }

    bool open(const QString& path, bool writable);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }

    bool readAt(qint64 offset, char* data, qint64 length);
    // All the bytes or false; a short write counts as a failure.
    bool writeAt(qint64 offset, const char* data, qint64 length);
    bool truncate(qint64 size);
    bool sync(); // the data of the file reaches the disk (fdatasync)
    qint64 size() const;
    // What the last failed call met, in words (strerror).
    QString errorString() const { return error_; }

private:
    bool fail(int err);
    int fd_ = -1;
    QString path_; // for the trace
    bool writable_ = false;
    QString error_;
};

// ---------------------------------------------------------------- layout

// Layout of a table file as found on disk.
struct Layout {
    QByteArray header; // the first 32 bytes
    int headerLength = 0;
    int recordLength = 0;
    qint64 headerCount = 0;
    qint64 fileSize = 0;
    int rows = 0;          // complete rows the table opens with
    int counted = 0;       // of them, those within the header count
    bool endMark = false;  // exactly one 0x1A after the last row
    bool tornTail = false; // bytes after the last complete row other than the end mark
};

// The mark of a row written and synced but not yet committed (see table.cpp):
// the end mark, so that a reader that stops there sees only committed rows.
constexpr char kUncommitted = 0x1A;

QString notDbase(const QString& path, const QString& why);

// Reads the header and the file length; `rows` are those within the header
// count that the file holds whole. Raises ETable.
Layout scanLayout(const QString& path);

// The field list and code page of a table, read by the library.
struct Description {
    std::vector<Field> fields;
    CodePage cp = CodePage::Cp1250;
};
Description describe(const QString& path, const Layout& layout);

// Adds the rows past the header count that were written whole (see the
// comment at its definition) and works out what follows the last row.
void findRows(const QString& path, Layout& layout, const std::vector<Field>& fields);
// Whether a row past the header count holds what the table layer writes
// (see findRows).
bool rowWhole(const char* rec, const std::vector<Field>& fields);

struct FieldDef {
    const char* name;
    char type;
    int width;
};
// Removes a file of the table layer (a table that could not be completed).
bool removeFile(const QString& path);

// Creates an empty table; refuses to overwrite. A failed create leaves no
// file; a power loss leaves either none or the whole empty table (made under
// a temporary name, synced, renamed, the folder synced).
void createTable(const QString& fileName, const std::vector<FieldDef>& fields);

// The steps of createTable, for tables made together: the whole table under a
// temporary name in the same folder (returned), synced; then its name, which
// refuses to replace a file and is durable once the folder is synced.
QString prepareTable(const QString& fileName, const std::vector<FieldDef>& fields);
void commitTable(const QString& temporary, const QString& fileName);
// A table whose making a crash cut short after its temporary copy was
// complete and synced: that copy gets the name (other leftovers of the name
// are removed). True when the table is there now.
bool finishCreate(const QString& fileName);
// Syncs a folder, so that files made, renamed or removed in it stay so.
void syncFolder(const QString& folder);

} // namespace qta::dbf
