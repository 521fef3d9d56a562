// The state and the file work behind TTable and TField (tables/table.cpp
// and tables/tablefield.cpp); see table.cpp for what the layer promises.
#pragma once

#include "tables/codepage.h"
#include "tables/table.h"
#include "tables/tablefile.h"
#include "tables/tablevalues.h"

#include <QDate>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qta {

using namespace dbf;

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
    int committed = 0;        // rows with their row mark on the disk, from the start
    bool headerDirty = false; // the header's count is not `committed`
    bool posted = false;      // rows were posted since the last commit
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
        Layout l = scanLayout(path);
        Description desc = describe(path, l);
        findRows(path, l, desc.fields);
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
        committed = l.counted;
        headerDirty = l.headerCount != l.counted;
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
        // A zero byte is what a row torn by a power loss holds (findRows).
        if (enc.contains('\0'))
            throw ETable(QStringLiteral("Tabela %1, pole %2: znaku o kodzie 0 nie da się zapisać")
                             .arg(path, f.name));
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
    // them cut off, the end mark and the header's date and count as they were,
    // and that on the disk (the row may have been synced already). Shrinking
    // a file and rewriting bytes in blocks it already has need no free space,
    // so this works on a full disk; if it fails all the same, the next append
    // looks at the file again before writing.
    void undoAppend(qint64 end) {
        bool ok = true;
        if (endMark)
            ok = file.writeAt(end, "\x1A", 1) && file.truncate(end + 1);
        else
            ok = file.truncate(end);
        ok = file.writeAt(1, header.constData() + 1, 7) && ok;
        ok = file.sync() && ok;
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
            std::memcmp(row(before) + 1, pendingRow.constData() + 1, size_t(recordLength - 1)) ==
                0) {
            cur = before;
            return true;
        }
        if (rows > before) {
            // Not ours: keep only the rows known before the failure.
            rows = before;
            committed = std::min(committed, rows);
            tornTail = true;
        }
        return false;
    }

    // Appends the pending row: its bytes and a new end mark, one write at the
    // end of the file, with the row's own mark left as the old end mark
    // (kUncommitted) until commit() sets it. A reader that stops at the end
    // mark sees only committed rows; the table layer also takes the rows
    // after them that are whole (findRows), so the row is there for another
    // process or after the program was killed. With syncEveryPost the row is
    // committed before Post returns. A failure leaves the header and every
    // complete row as they were and the row pending, so the next Append or
    // Post tries it again.
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
            // Leftovers of a torn append go first, and for good: new rows
            // must not land on old bytes that a power loss could bring back.
            if (!file.truncate(end) || !file.sync())
                throw ETable(QStringLiteral("Nie można naprawić końca tabeli %1: %2")
                                 .arg(path, file.errorString()));
            tornTail = false;
            endMark = false;
        }
        QByteArray bytes = pendingRow;
        bytes[0] = kUncommitted;
        bytes.append('\x1A');
        if (!file.writeAt(end, bytes.constData(), bytes.size())) {
            const QString why = file.errorString();
            undoAppend(end);
            failPost(why);
        }
        const bool hadEndMark = endMark;
        ++rows;
        endMark = true;
        posted = true;
        if (syncEveryPost) {
            const QString why = commit();
            if (!why.isEmpty()) {
                --rows;
                committed = std::min(committed, rows);
                endMark = hadEndMark;
                undoAppend(end);
                failPost(why);
            }
        }
        cur = rows - 1;
        pending = false;
        pendingModified = false;
    }

    // Commits the rows posted since the last commit, in an order after which a
    // power loss at any moment leaves every committed row whole and the
    // header's count never ahead of the rows on the disk:
    //   1. a data sync: the rows' bytes are on the disk;
    //   2. each row's mark over its kUncommitted;
    //   3. a data sync: the marks are on the disk;
    //   4. the header's date and count (on the disk with the next sync; the
    //      rows past a count that lags are whole and found by findRows).
    // Returns why it failed (empty when done); what was done stays done.
    QString commit() {
        if (committed < rows) {
            if (!file.sync())
                return file.errorString();
            for (int r = committed; r < rows; ++r)
                if (!file.writeAt(headerLength + qint64(r) * recordLength, " ", 1))
                    return file.errorString();
            if (!file.sync())
                return file.errorString();
            committed = rows;
            headerDirty = true;
        }
        if (headerDirty) {
            QByteArray h = header;
            const QDate today = QDate::currentDate();
            h[1] = char(today.year() - 1900);
            h[2] = char(today.month());
            h[3] = char(today.day());
            putLe32(h.data() + 4, quint32(committed));
            if (!file.writeAt(1, h.constData() + 1, 7))
                return file.errorString();
            header = h;
            headerDirty = false;
        }
        return {};
    }

    // Commits what this table posted (a table only read writes nothing).
    void sync() {
        if (!isOpen() || !posted)
            return;
        const QString why = commit();
        if (!why.isEmpty())
            throw ETable(
                QStringLiteral("Nie udało się zapisać na dysk tabeli %1: %2").arg(path, why));
        posted = committed < rows;
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

} // namespace qta
