// The local tables are plain dBase files so that any spreadsheet can open
// them. shapelib reads their header and creates them (tables/tablefile.cpp);
// this layer adds what the program needs on top of it:
//   - every Post writes the row through to the file before it returns, so
//     that another process, or a crash of the program right after, sees it;
//     with syncEveryPost (the default) it is also committed on the disk;
//   - a power loss at any moment loses no committed row and leaves no row
//     half written (the order of writes and syncs at post() and commit());
//   - a write that fails (a full disk, a file-size limit, an I/O error) leaves
//     the header and every complete row as they were, and the row pending;
//   - a table torn by a crash or power loss (header count and file length
//     disagree) opens with the whole rows it holds, and the next append
//     continues right after them;
//   - texts are stored in the table's code page (Windows-1250 for the tables
//     the tool creates) and read back unchanged;
//   - the date-and-time field is the 8-byte 'T' type (Julian day and
//     milliseconds since midnight), which shapelib only passes through.
#include "tables/table.h"

#include "tables/tableimpl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

namespace qta {

using namespace dbf;

QString fromWindows1250(const QByteArray& bytes) {
    return decodeText(CodePage::Cp1250, bytes.constData(), int(bytes.size()));
}

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------

TTable::TTable(const QString& fileName) : fileName_(fileName), d(std::make_unique<Impl>()) {
    d->path = fileName;
}

TTable::~TTable() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; Close() raised for a caller who could.
    }
}

void TTable::Open() {
    if (d->isOpen())
        return;
    d->readOnly = false;
    d->attach();
    d->cur = d->rows > 0 ? 0 : -1;
    d->pending = false;
    d->pendingModified = false;
}

void TTable::OpenReadOnly() {
    if (d->isOpen())
        return;
    d->readOnly = true;
    d->attach();
    d->cur = d->rows > 0 ? 0 : -1;
    d->pending = false;
    d->pendingModified = false;
}

void TTable::Close() {
    if (!d->isOpen())
        return;
    std::exception_ptr failed;
    try {
        d->settlePending();
    } catch (...) {
        failed = std::current_exception();
    }
    try {
        d->sync();
    } catch (...) {
        if (!failed)
            failed = std::current_exception();
    }
    d->file.close();
    d->blockRows = 0;
    d->pending = false;
    d->pendingModified = false;
    d->cur = -1;
    d->rows = 0;
    d->fields.clear();
    if (failed)
        std::rethrow_exception(failed);
}

bool TTable::Active() const { return d->isOpen(); }

bool TTable::ReadOnly() const { return d->isOpen() && !d->file.writable(); }

void TTable::Last() {
    d->requireOpen();
    d->settlePending();
    d->cur = d->rows - 1;
}

void TTable::Append() {
    d->requireWritable();
    d->settlePending();
    d->pendingRow = d->blankRecord();
    d->pending = true;
    d->pendingModified = false;
}

void TTable::Post() {
    d->requireOpen();
    d->post();
}

void TTable::Sync() {
    d->requireOpen();
    d->sync();
}

void TTable::setSyncEveryPost(bool on) { d->syncEveryPost = on; }

void TTable::Cancel() {
    d->pending = false;
    d->pendingModified = false;
}

void TTable::Refresh() {
    d->requireOpen();
    d->attach();
    if (d->cur >= d->rows)
        d->cur = d->rows - 1;
}

TField TTable::FieldByName(const QString& name) {
    d->requireOpen();
    const int i = fieldIndex(name);
    if (i < 0)
        throw ETable(QStringLiteral("Tabela %1 nie ma pola %2").arg(fileName_, name));
    return TField(this, i);
}

int TTable::fieldIndex(const QString& name) const {
    for (size_t i = 0; i < d->fields.size(); ++i)
        if (d->fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QStringList TTable::fieldNames() const {
    QStringList names;
    for (const Field& f : d->fields)
        names << f.name;
    return names;
}

int TTable::RecordCount() const {
    d->requireOpen();
    return d->rows;
}

int TTable::RecNo() const {
    if (!d->isOpen())
        return -1;
    return d->pending ? d->rows : d->cur;
}

void TTable::setRecNo(int row) {
    d->requireOpen();
    if (row < 0 || row >= d->rows)
        throw ETable(QStringLiteral("Tabela %1 nie ma wiersza %2 (wierszy: %3)")
                         .arg(fileName_)
                         .arg(row)
                         .arg(d->rows));
    d->settlePending();
    d->cur = row;
}

QString TTable::stringValue(int row, int field) const {
    const Field& f = d->field(field);
    return fieldString(f, d->row(row), d->cp);
}

QDateTime TTable::dateTimeValue(int row, int field) const {
    const Field& f = d->field(field);
    return d->dateTime(f, d->row(row));
}

double TTable::numberValue(int row, int field) const {
    const Field& f = d->field(field);
    const char* rec = d->row(row);
    double v = 0;
    if (parseNumber(rec + f.offset, f.width, v))
        return v;
    return std::numeric_limits<double>::quiet_NaN();
}

bool TTable::isNull(int row, int field) const {
    const Field& f = d->field(field);
    return fieldIsNull(f, d->row(row));
}

void TTable::rewriteString(int row, int field, const QString& value) {
    d->rewrite(row, field, value);
}

QString TTable::codePage() const { return codePageName(d->cp); }

} // namespace qta
