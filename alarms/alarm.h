// One alarm of a controller: what condition it stands for, its priority, and
// where it is in its life (raised, acknowledged, cleared, shelved). The
// conditions and their texts are one table (alarmKinds); the engine, the
// journal, the settings and the windows all read it.
#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

namespace qta {

enum class AlarmKind {
    OutputDead,    // fault bit 0
    NoGoodLine,    // fault bit 1
    Generator,     // fault bit 2
    SafetyBreaker, // fault bit 7
    UnknownFault,  // any of fault bits 3..6
    LineBad,       // a line the program uses is reported bad
    LinkLost,      // the watchdog found the line silent
    Transfer,      // the active line changed (a notification)
};

enum class AlarmPriority { High, Medium };

// The states of an alarm: normal; active and unacknowledged; active and
// acknowledged; returned to normal but unacknowledged. Normal is reached once
// the condition has cleared and the alarm has been acknowledged.
enum class AlarmState { Normal, ActiveUnacked, ActiveAcked, ClearedUnacked };

// The transitions as the journal names them (column STAN).
enum class AlarmTransition { Raised, Acknowledged, Cleared, Shelved, Unshelved };

struct TAlarmKindInfo {
    AlarmKind kind;
    const char* settingsKey; // key in the [Alarmy] section of the settings file
    const char* label;       // what the settings dialog calls it
    AlarmPriority priority;
};

// Every kind once, in the order the settings dialog lists them.
const std::vector<TAlarmKindInfo>& alarmKinds();
const TAlarmKindInfo& alarmKindInfo(AlarmKind kind);

// Texts of the journal and the windows.
QString transitionText(AlarmTransition t); // "Wystąpił", "Potwierdzony", ...
QString priorityText(AlarmPriority p);     // "wysoki", "średni"
QString stateText(AlarmState s, bool notification);

// The alarm text of a kind. `line` (1..3) names the controller's line for
// LineBad, `program` picks how the window titles that line (generator, the
// second busbar section); `bits` are the fault bits for UnknownFault and
// `activeLine` the new active-line code for Transfer.
QString alarmText(AlarmKind kind, int line = 0, int program = 0, int bits = 0, int activeLine = 0);

// Whether the operating program supervises controller line `line` (1..3).
bool programUsesLine(int program, int line);
// How the windows title controller line `line` in `program`: "N1", "generator",
// "N2 (sekcja prawa)".
QString lineName(int program, int line);

// Shelving keeps an alarm quiet for this long; then it comes back by itself.
constexpr qint64 kShelveMs = 3600 * 1000;

struct TAlarm {
    QString key; // one alarm per condition: "awaria7", "linia2", "polaczenie", ...
    AlarmKind kind = AlarmKind::OutputDead;
    int line = 0;
    QString text;
    AlarmPriority priority = AlarmPriority::Medium;
    AlarmState state = AlarmState::Normal;
    QDateTime raised;       // when it last appeared
    QDateTime cleared;      // when its condition went away (invalid while active)
    QDateTime shelvedUntil; // invalid when not shelved
    quint64 changes = 0;    // counts the alarm's transitions
    QString who;            // who last acknowledged or shelved it (the journal's KTO)
    QString remark;         // the remark given with the last acknowledgement

    bool notification() const { return kind == AlarmKind::Transfer; }
    bool unacknowledged() const {
        return state == AlarmState::ActiveUnacked || state == AlarmState::ClearedUnacked;
    }
    bool active() const {
        return state == AlarmState::ActiveUnacked || state == AlarmState::ActiveAcked;
    }
    bool shelved() const { return shelvedUntil.isValid(); }
    // Shown in the alarm window: not back to normal, or shelved.
    bool listed() const { return state != AlarmState::Normal || shelved(); }
};

} // namespace qta
