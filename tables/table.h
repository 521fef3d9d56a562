// A local dBase table: open, append-only writes that reach the file at every
// Post and never damage it when they fail, and reads by row and field name
// (names matched without case).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

namespace qta {

// Error of the table layer; the message names the file and what failed.
class ETable : public std::runtime_error {
public:
    explicit ETable(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

class TTable;

// Text in Windows-1250, the code page of this installation's tables and files.
QString fromWindows1250(const QByteArray& bytes);

// One field of the current row (or of the row being appended).
class TField {
public:
    TField(TTable* table, int index) : table_(table), index_(index) {}
    // Setters work on the row being appended. Without one, setAsString on
    // UWAGI rewrites the current row's remark (see rewriteString); anything
    // else raises ETable, as do values the field cannot hold (too long, a
    // character outside the code page, a number wider than the field).
    void setAsString(const QString& v);
    void setAsInteger(qint64 v);
    void setAsDateTime(const QDateTime& v);
    QString asString() const;
    // Raises ETable when there is no current row or the value is not a number.
    qint64 asInteger() const;
    QDateTime asDateTime() const; // invalid when empty; see dateTimeValue
    int index() const { return index_; }

private:
    TTable* table_;
    int index_;
};

class TTable {
public:
    explicit TTable(const QString& fileName);
    ~TTable();
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    QString fileName() const { return fileName_; }

    // Raises ETable when the file is missing, unreadable or not a dBase table.
    // A table whose header count disagrees with its length (rows not yet
    // committed, or a crash) opens with its whole rows.
    void Open();
    // Opens the file for reading only: every write raises ETable, and
    // Refresh picks up the rows another program has appended meanwhile.
    void OpenReadOnly();
    void Close();
    bool Active() const;
    // Open, and the file cannot be written through this table.
    bool ReadOnly() const;

    // Moving on from an appended row that was given values (Last, Append,
    // setRecNo, Close) posts it first; one without values is dropped.
    void Last();   // the last row becomes current (none when empty)
    void Append(); // starts a new row at the end; it becomes current
    // Writes the new row through to the file, and with syncEveryPost on (the
    // default) commits it on the disk before returning (the order of writes
    // and syncs is in tables/tableimpl.h). A failure raises ETable and leaves
    // the file as it was and the row pending: the next Append or Post tries
    // it again.
    void Post();
    // Off: posted rows are committed at Sync or Close rather than at every
    // Post (the voltage table, written every second, commits on a timer).
    void setSyncEveryPost(bool on);
    // Commits the rows this table posted since the last commit; a table only
    // read writes nothing.
    void Sync();
    // Drops the row being appended, whatever was set in it.
    void Cancel();
    void Refresh(); // re-reads the row count from the file

    // Raises ETable when the table has no such field.
    TField FieldByName(const QString& name);
    int fieldIndex(const QString& name) const; // -1 when absent
    QStringList fieldNames() const;

    int RecordCount() const;
    int RecNo() const; // current row, 0-based; -1 when none
    void setRecNo(int row);

    // Direct reads of any row (for grids and charts).
    QString stringValue(int row, int field) const; // a 'T' date as "yyyy-MM-dd HH:mm:ss"
    // The stored local wall time, carrying that moment's UTC offset as a fixed
    // offset (cheap to make; same instant and wall time as local time).
    QDateTime dateTimeValue(int row, int field) const;
    double numberValue(int row, int field) const; // NaN when empty or not a number
    bool isNull(int row, int field) const;

    // Rewrites one text field of a posted row in place (the remarks the user
    // types in the event-log window). Nothing else of a posted row changes:
    // any field but UWAGI raises ETable.
    void rewriteString(int row, int field, const QString& value);

    // The code page name of the table ("CP1250" for the tables this project creates).
    QString codePage() const;

    // Creation, for the table tool: both refuse to overwrite an existing file.
    static void createRejestr(const QString& fileName);
    static void createLinia(const QString& fileName);
    // The alarm journal: one row per alarm transition.
    static void createAlarmy(const QString& fileName);
    // Both tables of an installation (and the alarm journal when named), or
    // none: a half-made installation would be taken for a damaged one.
    static void createPair(const QString& rejestrFile, const QString& liniaFile,
                           const QString& alarmyFile = {});

    struct Impl;

private:
    friend class TField;
    QString fileName_;
    std::unique_ptr<Impl> d;
};

} // namespace qta
