// The alarms of one controller, without windows: fed by what the link decodes
// (fault bits, line states, the active line, the watchdog), it keeps one alarm
// per condition through its states, journals every transition and tells the
// windows (or a headless program) what changed.
//
// Rules:
// - An alarm is raised the moment its condition appears in a status reply.
// - Flicker: when the condition goes away, the alarm stays active for the
//   flicker delay (5 s by default); if the condition comes back meanwhile
//   nothing is journaled, so a chattering input makes one alarm, not many.
//   "Ustąpił" is journaled with the time the condition went away.
// - A transfer (the active line changed) is a notification: it is journaled
//   as "Wystąpił" and waits for acknowledgement without an active state; a
//   further transfer before that updates it rather than adding another.
// - Shelving keeps an alarm out of the count, the sound and the desktop
//   notifications for an hour; its transitions are still journaled, and it
//   comes back by itself ("Koniec wyciszenia").
// - While the link is lost no status arrives, so the other alarms keep the
//   state they had: a fault does not look cleared because the line went quiet.
// - On a restart the journal is read back: an alarm not back to normal (or
//   shelved) is restored as it was, so nothing is acknowledged by a crash.
#pragma once

#include "alarms/alarm.h"
#include "alarms/alarmjournal.h"
#include "alarms/alarmsettings.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <map>

namespace qta {

class TAlarmEngine : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    explicit TAlarmEngine(QObject* parent = nullptr);

    // Test seam: the time of every transition (local time by default).
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // Who acknowledges and shelves (the operating-system user by default).
    void setUser(const QString& user) { user_ = user; }
    QString user() const { return user_; }

    void setSettings(const TAlarmSettings& settings);
    const TAlarmSettings& settings() const { return settings_; }

    // The journal the transitions go to (none: alarms live in memory only).
    // Not owned.
    void setJournal(TAlarmJournal* journal) { journal_ = journal; }
    // The journal is another program's (opened read-only): the alarms are
    // shown as it records them, and nobody acknowledges or shelves them here.
    bool readOnly() const;
    // Brings back from the journal every alarm that was not back to normal,
    // or still shelved, when the journal was last written.
    void restore();
    // A read-only engine follows the program that writes the journal: the
    // rows appended since restore() or the last follow() are applied as
    // restore() applies them (a journal that got shorter, another file in
    // its place, is read again whole), and changed() is emitted when there
    // were any. Does nothing on a journal this engine writes. Raises ETable.
    void follow();

    // --- what the link reports ---
    // A status reply: fault bits, operating program, active-line code and the
    // two-bit states of lines 1..3 (0 = "Linia zła").
    void status(int awaria, int program, int activeLine, const std::array<int, 3>& lineStates);
    void linkLost();   // the watchdog found the line silent
    void linkUp();     // a frame arrived
    void linkClosed(); // the user disconnected: no longer a loss of link
    // Flicker and shelving deadlines; a one-second timer calls it.
    void tick();

    // --- what the operator does ---
    // Each returns an empty string when done, otherwise why not (Polish).
    // `who` is the journal's KTO as written ("jan (mqtt)", see channelUser);
    // empty: the program's own user (setUser). A remark is refused, and
    // nothing acknowledged, where TAlarmJournal::remarkProblem refuses it.
    QString acknowledge(const QString& key, const QString& remark = {}, const QString& who = {});
    // How many were acknowledged (none when the remark is refused).
    int acknowledgeAll(const QString& who = {}, const QString& remark = {});
    QString shelve(const QString& key, const QString& who = {});

    // KTO of an operator who acts through a channel other than this
    // program's own windows: "jan (mqtt)", "jan (www)". Fitted to the
    // journal's field, the channel always kept whole.
    static QString channelUser(const QString& name, const QString& channel);

    // --- what the windows show ---
    // Alarms not back to normal, and shelved ones; newest first.
    std::vector<TAlarm> listed() const;
    const TAlarm* alarm(const QString& key) const;
    // Unacknowledged and not shelved.
    int unacknowledgedCount() const;
    bool highPriorityUnacknowledged() const;

Q_SIGNALS:
    // Every transition, after it has been journaled (or queued for it).
    void transition(const qta::TAlarm& alarm, qta::AlarmTransition t);
    // The list, a state or the count changed.
    void changed();
    // restore() has brought back alarms from the journal (announced anew).
    void restored();
    // Writing the journal failed; said once until a write succeeds again.
    void journalFailed(const QString& message);

private:
    struct Entry {
        TAlarm alarm;
        bool condition = false;
        QDateTime clearingSince; // the condition went away; clears after the flicker delay
    };

    Entry& entry(const QString& key, AlarmKind kind, int line);
    void setCondition(const QString& key, AlarmKind kind, int line, bool on, const QString& text);
    void clear(Entry& e);
    void journal(Entry& e, AlarmTransition t, const QDateTime& when, const QString& who = {},
                 const QString& remark = {});
    void notifyTransfer(int activeLine, int program);
    // Journal rows in file order onto the alarms; then the alarms back to
    // normal are dropped and the active ones hold their condition.
    void applyRows(const std::vector<TAlarmJournalRow>& rows);

    Clock clock_;
    QString user_;
    TAlarmSettings settings_;
    TAlarmJournal* journal_ = nullptr;
    std::map<QString, Entry> entries_;
    int lastActiveLine_ = -1; // unknown until the first status reply
    bool journalFailing_ = false;
    int rowsRead_ = 0; // journal rows applied by restore() and follow()
    QTimer timer_;
};

} // namespace qta
