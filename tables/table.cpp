// The two local tables are plain dBase files so that any spreadsheet can open
// them. shapelib reads their header and creates them (tables/tablefile.cpp);
// this layer adds what the program needs on top of it:
//   - every Post reaches the file before it returns (row, then header count,
//     written unbuffered), so another process, or a crash right after, sees
//     the row; with syncEveryPost (the default) it reaches the disk as well;
//   - a write that fails (a full disk, a file-size limit, an I/O error) leaves
//     the header and every complete row as they were, and the row pending;
//   - a table torn by a crash or power loss (header count and file length
//     disagree) opens with the complete rows it holds, and the next append
//     continues right after them;
//   - texts are stored in the table's code page (Windows-1250 for the tables
//     the tool creates) and read back unchanged;
//   - the date-and-time field is the 8-byte 'T' type (Julian day and
//     milliseconds since midnight), which shapelib only passes through.
#include "tables/table.h"

#include "tables/codepage.h"
#include "tables/tablefile.h"
#include "tables/tablevalues.h"

#include <QFile>

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

struct TTable::Impl {
    QString path;
    File file;
    std::vector<Field> fields;
    QByteArray header; // the first 32 bytes as the file holds them
    int headerLength = 0;
    int recordLength = 0;
    int rows = 0;
    bool endMark = false;  // one 0x1A after the last row
    bool tornTail = false; // leftovers after the last row, cut before the next append
    bool unsure = false;   // a failed write could not be undone: look again first
    CodePage cp = CodePage::Cp1250;
    bool syncEveryPost = true;
    bool unsynced = false;
    int cur = -1;
    bool pending = false;
    bool pendingModified = false;
    QByteArray pendingRow;
    mutable LocalClock clock;
    mutable QByteArray block; // rows blockFirst .. blockFirst + blockRows - 1
    mutable int blockFirst = 0;
    mutable int blockRows = 0;

    bool isOpen() const { return file.isOpen(); }
    // Opened by OpenReadOnly: the file is never opened for writing, so no
    // call can change it (another program writes it meanwhile).
    bool readOnly = false;

    void requireOpen() const {
        if (!isOpen())
            throw ETable(QStringLiteral("Tabela %1 nie jest otwarta").arg(path));
    }

    void requireWritable() const {
        requireOpen();
        if (!file.writable())
            throw ETable(QStringLiteral("Tabela %1 jest tylko do odczytu").arg(path));
    }

    const Field& field(int index) const {
        requireOpen();
        if (index < 0 || index >= int(fields.size()))
            throw ETable(QStringLiteral("Tabela %1 nie ma pola numer %2").arg(path).arg(index));
        return fields[size_t(index)];
    }

    // Opens the file and replaces the state; the old state stays when it fails.
    void attach() {
        const Layout l = scanLayout(path);
        Description desc = describe(path, l);
        File nf;
        if ((readOnly || !nf.open(path, true)) && !nf.open(path, false))
            throw ETable(
                QStringLiteral("Nie można otworzyć tabeli %1: %2").arg(path, nf.errorString()));
        file = std::move(nf);
        blockRows = 0;
        fields = std::move(desc.fields);
        cp = desc.cp;
        header = l.header;
        headerLength = l.headerLength;
        recordLength = l.recordLength;
        rows = l.rows;
        endMark = l.endMark;
        tornTail = l.tornTail;
        unsure = false;
    }

    const char* row(int r) const {
        requireOpen();
        if (r < 0 || r >= rows)
            throw ETable(QStringLiteral("Tabela %1 nie ma wiersza %2 (wierszy: %3)")
                             .arg(path)
                             .arg(r)
                             .arg(rows));
        if (r < blockFirst || r >= blockFirst + blockRows)
            loadBlock(r);
        return block.constData() + qsizetype(r - blockFirst) * recordLength;
    }

    // Rows are read some 64 KiB at a time rather than one by one: a chart
    // refresh reads every row in order. Going backwards (a grid scrolled up)
    // fills the block towards the start.
    void loadBlock(int r) const {
        const int n = std::max(1, 65536 / recordLength);
        int first = r;
        if (blockRows > 0 && r == blockFirst - 1)
            first = std::max(0, r - n + 1);
        const int count = std::min(n, rows - first);
        blockRows = 0;
        block.resize(qsizetype(count) * recordLength);
        const qint64 offset = headerLength + qint64(first) * recordLength;
        if (!const_cast<File&>(file).readAt(offset, block.data(), block.size()))
            throw ETable(QStringLiteral("Nie można odczytać wiersza %1 tabeli %2: %3")
                             .arg(r)
                             .arg(path, file.errorString()));
        blockFirst = first;
        blockRows = count;
    }

    // The record the field accessors work on: the row being appended, else
    // the current row; nullptr when there is neither.
    const char* currentRecord() const {
        if (pending)
            return pendingRow.constData();
        if (cur < 0)
            return nullptr;
        return row(cur);
    }

    QDateTime dateTime(const Field& f, const char* rec) const {
        QDate date;
        int ms = 0;
        return fieldWallTime(f, rec, date, ms) ? clock.at(date, ms) : QDateTime();
    }

    QByteArray blankRecord() const {
        QByteArray r(recordLength, ' ');
        for (const Field& f : fields)
            if (f.type == 'T')
                std::memset(r.data() + f.offset, 0, size_t(f.width));
        return r;
    }

    // Bytes of a text for a field: in the table's code page, padded with blanks.
    QByteArray textBytes(const Field& f, const QString& v) const {
        QByteArray enc;
        QString bad;
        if (!encodeText(cp, v, enc, bad))
            throw ETable(QStringLiteral("Tabela %1, pole %2: znaku „%3” nie da się zapisać w "
                                        "stronie kodowej %4")
                             .arg(path, f.name, bad, codePageName(cp)));
        if (enc.size() > f.width)
            throw ETable(QStringLiteral("Tabela %1, pole %2: tekst za długi (%3 znaków, "
                                        "mieści się %4)")
                             .arg(path, f.name)
                             .arg(v.size())
                             .arg(f.width));
        return enc.leftJustified(f.width, ' ');
    }

    QByteArray numberBytes(const Field& f, double v, bool integral) const {
        char buf[64];
        int n = -1;
        if (std::isfinite(v) && std::fabs(v) < 1e18) {
            if (integral && f.decimals == 0)
                n = std::snprintf(buf, sizeof buf, "%*lld", f.width, static_cast<long long>(v));
            else
                n = std::snprintf(buf, sizeof buf, "%*.*f", f.width, f.decimals, v);
        }
        if (n < 0 || n > f.width)
            throw ETable(QStringLiteral("Tabela %1, pole %2: liczba %3 nie mieści się w %4 znakach")
                             .arg(path, f.name)
                             .arg(v)
                             .arg(f.width));
        return QByteArray(buf, n);
    }

    QByteArray dateTimeBytes(const Field& f, const QDateTime& v) const {
        if (!v.isValid())
            return f.type == 'T' ? QByteArray(f.width, '\0') : QByteArray(f.width, ' ');
        // The tables hold the PC's local wall time.
        const QDateTime local = v.timeSpec() == Qt::LocalTime ? v : v.toLocalTime();
        if (f.type == 'T' && f.width == 8) {
            QByteArray b(8, '\0');
            putLe32(b.data(), quint32(local.date().toJulianDay()));
            putLe32(b.data() + 4, quint32(local.time().msecsSinceStartOfDay()));
            return b;
        }
        if (f.type == 'D' && f.width == 8)
            return local.date().toString(QStringLiteral("yyyyMMdd")).toLatin1();
        if (f.type == 'C')
            return textBytes(f, local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        throw ETable(QStringLiteral("Tabela %1, pole %2 (typ %3) nie przyjmuje daty")
                         .arg(path, f.name, typeName(f.type)));
    }

    // Puts the bytes of one field into the row being appended.
    void setPending(const Field& f, const QByteArray& bytes) {
        std::memcpy(pendingRow.data() + f.offset, bytes.constData(), size_t(f.width));
        pendingModified = true;
    }

    void requirePending(const Field& f) const {
        if (!pending)
            throw ETable(QStringLiteral("Tabela %1: pole %2 można ustawić tylko w dopisywanym "
                                        "wierszu (Append)")
                             .arg(path, f.name));
    }

    // Moving away from a new row that has values posts it rather than
    // dropping them; the copy uses Cancel where a row must not be kept.
    void settlePending() {
        if (pending && pendingModified)
            post();
        pending = false;
        pendingModified = false;
    }

    [[noreturn]] void failPost(const QString& why) {
        throw ETable(
            QStringLiteral("Nie udało się zapisać wiersza do tabeli %1: %2").arg(path, why));
    }

    // Puts the file back to its rows before a failed append: the bytes after
    // them cut off, the end mark and the header's date and count as they were.
    // Shrinking a file and rewriting bytes in blocks it already has need no
    // free space, so this works on a full disk; if it fails all the same, the
    // next append looks at the file again before writing.
    void undoAppend(qint64 end) {
        bool ok = true;
        if (endMark)
            ok = file.writeAt(end, "\x1A", 1) && file.truncate(end + 1);
        else
            ok = file.truncate(end);
        ok = file.writeAt(1, header.constData() + 1, 7) && ok;
        if (!ok)
            unsure = true;
    }

    // After a failed undo: the file may or may not hold the pending row.
    // Re-read its layout; a row equal to the pending one right after the
    // known rows is the pending row, written after all.
    bool recheck() {
        const int before = rows;
        const bool hadRow = pending;
        attach();
        if (hadRow && rows == before + 1 &&
            std::memcmp(row(before), pendingRow.constData(), size_t(recordLength)) == 0) {
            cur = before;
            return true;
        }
        if (rows > before) {
            // Not ours: keep only the rows known before the failure.
            rows = before;
            tornTail = true;
        }
        return false;
    }

    // Appends the pending row. Order of writes, each undone on failure:
    //   1. the row from its second byte on, and a new end mark after it
    //      (the old end mark, or the end of the file, stays as it was);
    //   2. the row's first byte over the old end mark: only now the row is
    //      a valid row of the file;
    //   3. the header's date and record count;
    //   4. a data sync (every post, or later with syncEveryPost off).
    // A failure leaves the header and every complete row as they were and the
    // row pending, so the next Append or Post tries it again.
    void post() {
        if (!pending)
            return;
        requireWritable();
        if (unsure && recheck()) {
            pending = false;
            pendingModified = false;
            return;
        }
        const qint64 end = headerLength + qint64(rows) * recordLength;
        if (tornTail) {
            // Leftovers of a torn append go first, so that the file ends
            // exactly after its rows again.
            if (!file.truncate(end))
                throw ETable(QStringLiteral("Nie można naprawić końca tabeli %1: %2")
                                 .arg(path, file.errorString()));
            tornTail = false;
            endMark = false;
        }
        QByteArray tail = pendingRow.mid(1);
        tail.append('\x1A');
        if (!file.writeAt(end + 1, tail.constData(), tail.size())) {
            const QString why = file.errorString();
            undoAppend(end);
            failPost(why);
        }
        if (!file.writeAt(end, pendingRow.constData(), 1)) {
            const QString why = file.errorString();
            undoAppend(end);
            failPost(why);
        }
        QByteArray h = header;
        const QDate today = QDate::currentDate();
        h[1] = char(today.year() - 1900);
        h[2] = char(today.month());
        h[3] = char(today.day());
        putLe32(h.data() + 4, quint32(rows + 1));
        if (!file.writeAt(1, h.constData() + 1, 7)) {
            const QString why = file.errorString();
            undoAppend(end);
            failPost(why);
        }
        unsynced = true;
        if (syncEveryPost && !file.sync()) {
            const QString why = file.errorString();
            undoAppend(end);
            failPost(why);
        }
        if (syncEveryPost)
            unsynced = false;
        header = h;
        endMark = true;
        cur = rows;
        ++rows;
        pending = false;
        pendingModified = false;
    }

    void sync() {
        if (!unsynced || !isOpen())
            return;
        if (!file.sync())
            throw ETable(QStringLiteral("Nie udało się zapisać na dysk tabeli %1: %2")
                             .arg(path, file.errorString()));
        unsynced = false;
    }

    void rewrite(int r, int index, const QString& value) {
        requireWritable();
        const Field& f = field(index);
        // Posted rows are the record of what happened; only the remarks the
        // user adds to them may change afterwards.
        if (f.type != 'C' || f.name.compare(QLatin1String("UWAGI"), Qt::CaseInsensitive) != 0)
            throw ETable(QStringLiteral("Tabela %1: w zapisanym wierszu można zmienić tylko "
                                        "UWAGI, nie pole %2")
                             .arg(path, f.name));
        const QByteArray bytes = textBytes(f, value);
        const QByteArray old(row(r) + f.offset, f.width);
        blockRows = 0; // the block may hold the old row
        const qint64 at = headerLength + qint64(r) * recordLength + f.offset;
        // The field is rewritten in place, in blocks the file already has;
        // a remark the user typed reaches the disk before this returns.
        if (!file.writeAt(at, bytes.constData(), bytes.size()) || !file.sync()) {
            const QString why = file.errorString();
            if (!file.writeAt(at, old.constData(), old.size()))
                unsure = true;
            throw ETable(QStringLiteral("Nie udało się zapisać pola %1 w tabeli %2: %3")
                             .arg(f.name, path, why));
        }
    }
};

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

void TTable::createRejestr(const QString& fileName) {
    std::vector<FieldDef> fields = {
        {"INDEKS", 'N', 5},     {"DATA", 'C', 11},   {"CZAS", 'C', 5},
        {"ZDARZENIE", 'C', 80}, {"UWAGI", 'C', 254},
    };
    static const char* const kLines[3][7] = {
        {"N1_STATUS", "N1L1_UMIN", "N1L2_UMIN", "N1L3_UMIN", "N1L1_UMAX", "N1L2_UMAX", "N1L3_UMAX"},
        {"N2_STATUS", "N2L1_UMIN", "N2L2_UMIN", "N2L3_UMIN", "N2L1_UMAX", "N2L2_UMAX", "N2L3_UMAX"},
        {"N3_STATUS", "N3L1_UMIN", "N3L2_UMIN", "N3L3_UMIN", "N3L1_UMAX", "N3L2_UMAX", "N3L3_UMAX"},
    };
    for (const auto& line : kLines) {
        fields.push_back({line[0], 'C', 30});
        for (int i = 1; i < 7; ++i)
            fields.push_back({line[i], 'C', 5});
    }
    fields.push_back({"AKTYWNA", 'C', 21});
    fields.push_back({"PROGRAM", 'C', 12});
    createTable(fileName, fields);
}

void TTable::createAlarmy(const QString& fileName) {
    createTable(fileName, {{"CZAS", 'T', 8},
                           {"ALARM", 'C', 80},
                           {"PRIORYTET", 'C', 8},
                           {"STAN", 'C', 20},
                           {"KTO", 'C', 32},
                           {"UWAGI", 'C', 254}});
}

void TTable::createPair(const QString& rejestrFile, const QString& liniaFile,
                        const QString& alarmyFile) {
    createRejestr(rejestrFile);
    try {
        createLinia(liniaFile);
    } catch (...) {
        QFile::remove(rejestrFile);
        throw;
    }
    if (alarmyFile.isEmpty())
        return;
    try {
        createAlarmy(alarmyFile);
    } catch (...) {
        QFile::remove(rejestrFile);
        QFile::remove(liniaFile);
        throw;
    }
}

void TTable::createLinia(const QString& fileName) {
    createTable(fileName, {{"CZAS", 'T', 8},
                           {"N1L1", 'N', 5},
                           {"N1L2", 'N', 5},
                           {"N1L3", 'N', 5},
                           {"N2L1", 'N', 5},
                           {"N2L2", 'N', 5},
                           {"N2L3", 'N', 5},
                           {"N3L1", 'N', 5},
                           {"N3L2", 'N', 5},
                           {"N3L3", 'N', 5}});
}

// ---------------------------------------------------------------------------

void TField::setAsString(const QString& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    if (!d.pending) {
        // Without a new row this is the user's remark on the current row;
        // rewrite() refuses every other field.
        if (d.cur >= 0) {
            d.rewrite(d.cur, index_, v);
            return;
        }
        d.requirePending(f);
    }
    if (f.type == 'C') {
        d.setPending(f, d.textBytes(f, v));
    } else if (isNumberType(f.type)) {
        const QString t = v.trimmed();
        double x = 0;
        const QByteArray a = t.toLatin1();
        if (t.isEmpty())
            d.setPending(f, QByteArray(f.width, ' '));
        else if (parseNumber(a.constData(), int(a.size()), x))
            d.setPending(f, d.numberBytes(f, x, f.decimals == 0 && x == std::floor(x)));
        else
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest liczbą").arg(d.path, f.name, v));
    } else if (isDateType(f.type)) {
        const QString t = v.trimmed();
        QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isEmpty() && !dt.isValid())
            throw ETable(
                QStringLiteral("Tabela %1, pole %2: „%3” nie jest datą").arg(d.path, f.name, v));
        d.setPending(f, d.dateTimeBytes(f, dt));
    } else {
        throw ETable(QStringLiteral("Tabela %1, pole %2: typ %3 nie jest obsługiwany")
                         .arg(d.path, f.name, typeName(f.type)));
    }
}

void TField::setAsInteger(qint64 v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    if (isNumberType(f.type))
        d.setPending(f, d.numberBytes(f, double(v), true));
    else if (f.type == 'C')
        d.setPending(f, d.textBytes(f, QString::number(v)));
    else
        throw ETable(QStringLiteral("Tabela %1, pole %2 (typ %3) nie przyjmuje liczby")
                         .arg(d.path, f.name, typeName(f.type)));
}

void TField::setAsDateTime(const QDateTime& v) {
    TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    d.requirePending(f);
    d.setPending(f, d.dateTimeBytes(f, v));
}

QString TField::asString() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? fieldString(f, rec, d.cp) : QString();
}

qint64 TField::asInteger() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    if (!rec)
        throw ETable(QStringLiteral("Tabela %1: brak bieżącego wiersza, pole %2 nie ma wartości")
                         .arg(d.path, f.name));
    double v = 0;
    const bool number = (isNumberType(f.type) || f.type == 'C') &&
                        parseNumber(rec + f.offset, f.width, v) && std::isfinite(v) &&
                        std::fabs(v) < 9.0e18;
    if (!number)
        throw ETable(QStringLiteral("Tabela %1, wiersz %2: pole %3 nie zawiera liczby („%4”)")
                         .arg(d.path)
                         .arg(table_->RecNo())
                         .arg(f.name, fieldString(f, rec, d.cp)));
    return qint64(std::llround(v));
}

QDateTime TField::asDateTime() const {
    const TTable::Impl& d = *table_->d;
    const Field& f = d.field(index_);
    const char* rec = d.currentRecord();
    return rec ? d.dateTime(f, rec) : QDateTime();
}

} // namespace qta
