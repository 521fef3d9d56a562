// The site's activity log: who did what through the console or the command
// line (sign-ins and their failures, sign-outs, acknowledgements, users
// changed ...), one JSON object a line in `aktywnosc.jsonl`:
//
//   {"time":"2026-03-01T12:00:00.000+01:00","user":"jan","address":"192.0.2.7",
//    "action":"logowanie","object":"","result":"sukces","details":""}
//
// Appended only, one write per record under an exclusive lock of the file,
// and synced (fdatasync) before append returns, like the event log's rows.
// A new file is made 0600 (the log names users and addresses: only the
// collector reads it) and, made by root, given to the owner and group of its
// folder, so that the service that writes next can. A last line cut short by
// a crash is cut off before the next append and skipped, and named, by a
// reader. Readers go backwards from the end a block at a time, so a page of
// the newest records costs the same on a year's log as on a day's.
#pragma once

#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <vector>

namespace qta::web {

struct TActivityRecord {
    QDateTime time;  // written with its offset from UTC
    QString user;    // the console user ("jan"), or the system user of the command line
    QString address; // the client's address, or kCommandLine
    QString action;  // what was done, Polish ("logowanie", "potwierdzenie alarmu")
    QString object;  // what it was done to: "N1-szpital: awaria7", a user's name; may be empty
    QString result;  // kSuccess, kRefused or kFailed
    QString details; // anything else worth keeping (a remark, the reason of a refusal)
    bool operator==(const TActivityRecord&) const = default;
};

// The words of the record's fixed fields.
inline const QString kSuccess = QStringLiteral("sukces");
inline const QString kRefused = QStringLiteral("odmowa");
inline const QString kFailed = QStringLiteral("błąd");
inline const QString kCommandLine = QStringLiteral("wiersz poleceń");

// Fields are cut to these lengths (characters) when written; what comes
// from a client is the client's to choose, its size is not.
constexpr int kMaxShortField = 64; // user, address, action, result
constexpr int kMaxObjectField = 160;
constexpr int kMaxDetailsField = 1000;

// ISO 8601 with milliseconds and the offset spelled out ("…+00:00", not "Z").
QString isoTimeWithOffset(const QDateTime& t);

class TActivityLog {
public:
    static QString fileName() { return QStringLiteral("aktywnosc.jsonl"); }
    // Where the collector keeps it: in DataRoot=, or beside the configuration
    // file when there is none.
    static QString pathFor(const QString& dataRoot, const QString& configPath);

    explicit TActivityLog(const QString& path) : path_(path) {}
    QString path() const { return path_; }

    // Appends `r` (its time now when it has none) and syncs it. Returns why
    // it could not, empty when the record is on the disk; a failed write
    // leaves no part of the record in the file.
    QString append(const TActivityRecord& r) const;

    struct TPage {
        std::vector<TActivityRecord> records; // newest first
        bool more = false;                    // older records follow
        // Where the next older page ends: pass to readBefore().
        qint64 olderEnd = 0;
        // Lines skipped (a record cut short by a crash, a damaged line),
        // Polish; also why the file could not be read.
        QStringList problems;
        bool ok = true; // false: the file could not be read (a missing file is an empty log)
    };
    // `limit` records, newest first, after skipping the `offset` newest.
    TPage readPage(int offset, int limit) const;
    // `limit` records ending before byte `end` (a page's olderEnd).
    TPage readBefore(qint64 end, int limit) const;

    // Writes the records between `from` and `to` (either may be invalid: no
    // bound), oldest first, as CSV (tables/csv.h: UTF-8 with BOM, ';', RFC
    // 4180 quoting, a header row), reading the file a line at a time. Returns
    // why it failed, empty when done; `skipped` gets the lines left out.
    QString exportCsv(QIODevice* out, const QDateTime& from = {}, const QDateTime& to = {},
                      QStringList* skipped = nullptr) const;

    // One record as its line (without the line end), and back; false for a
    // line that is not a record.
    static QByteArray encode(const TActivityRecord& r);
    static bool decode(const QByteArray& line, TActivityRecord& r);

private:
    TPage page(qint64 end, int skip, int limit) const;
    QString path_;
};

} // namespace qta::web
