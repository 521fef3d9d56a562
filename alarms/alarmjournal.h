// The alarm journal rejestr/alarmy.dbf: one row per alarm transition, written
// through the table layer and synced at every row like the event log. A row
// that cannot be written (a full disk) is kept in order and written before
// the next one, so a failure delays rows but loses none while the program runs.
#pragma once

#include <QDateTime>
#include <QString>
#include <deque>
#include <memory>
#include <vector>

namespace qta {

class TTable;

struct TAlarmJournalRow {
    QDateTime czas;
    QString alarm;     // the alarm's text
    QString priorytet; // "wysoki" / "średni"
    QString stan;  // "Wystąpił", "Potwierdzony", "Ustąpił", "Wyciszony", "Koniec wyciszenia"
    QString kto;   // the operating-system user who acknowledged or shelved
    QString uwagi; // the remark typed when acknowledging
    bool operator==(const TAlarmJournalRow&) const = default;
};

class TAlarmJournal {
public:
    explicit TAlarmJournal(const QString& fileName);
    ~TAlarmJournal();

    QString fileName() const { return fileName_; }
    // Opens the table, creating an empty one when the file is missing.
    // Raises ETable.
    void open();
    // Opens an existing table for reading only (another program writes it):
    // readAll works, append takes nothing. Raises ETable.
    void openReadOnly();
    void close();
    bool isOpen() const;
    bool readOnly() const;
    // Read-only: takes in the rows the writer has appended since. Raises ETable.
    void refresh();

    // Every row of the table, in file order. Raises ETable.
    std::vector<TAlarmJournalRow> readAll() const;
    // Rows `first` .. `first + count - 1` (fewer at the end). Raises ETable.
    std::vector<TAlarmJournalRow> readRows(int first, int count) const;
    // Rows in the table (the queued ones not counted).
    int rowCount() const;

    // Writes the rows still queued, then `row`. Raises ETable on failure;
    // the row stays queued for the next append or flush.
    void append(const TAlarmJournalRow& row);
    // Writes the queued rows; raises ETable on failure.
    void flush();
    int queued() const { return int(queue_.size()); }

    // Why `text` cannot be stored as a remark (empty when it can), in Polish.
    static QString remarkProblem(const QString& text);
    // The user name as the KTO field can hold it.
    static QString fitUser(const QString& user);
    static constexpr int kUserWidth = 32; // characters of KTO

private:
    QString fileName_;
    std::unique_ptr<TTable> table_;
    std::deque<TAlarmJournalRow> queue_;
};

// The name of the operating-system user running the program.
QString currentUserName();

} // namespace qta
