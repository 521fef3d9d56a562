#include "alarms/alarmengine.h"

#include "link/model.h"
#include "tables/table.h"

#include <QStringList>

#include <algorithm>

namespace qta {

namespace {
// The fault bits with an alarm of their own.
struct FaultBit {
    int bit;
    AlarmKind kind;
    const char* key;
};
constexpr std::array<FaultBit, 4> kFaultBits = {{{0, AlarmKind::OutputDead, "awaria0"},
                                                 {1, AlarmKind::NoGoodLine, "awaria1"},
                                                 {2, AlarmKind::Generator, "awaria2"},
                                                 {7, AlarmKind::SafetyBreaker, "awaria7"}}};
constexpr int kUnknownBits = 0x78; // bits 3..6
const QString kUnknownKey = QStringLiteral("awaria3-6");
const QString kLinkKey = QStringLiteral("polaczenie");
const QString kTransferKey = QStringLiteral("przelaczenie");
QString lineKey(int n) { return QStringLiteral("linia%1").arg(n); }

// The key and kind of a journal row's alarm text; false for a text this
// program does not write.
bool keyOfText(const QString& text, QString& key, AlarmKind& kind, int& line) {
    line = 0;
    for (const FaultBit& f : kFaultBits)
        if (text == alarmText(f.kind)) {
            key = QLatin1String(f.key);
            kind = f.kind;
            return true;
        }
    if (text.startsWith(QStringLiteral("Nieznana awaria"))) {
        key = kUnknownKey;
        kind = AlarmKind::UnknownFault;
        return true;
    }
    if (text == alarmText(AlarmKind::LinkLost)) {
        key = kLinkKey;
        kind = AlarmKind::LinkLost;
        return true;
    }
    if (text.startsWith(QStringLiteral("Przełączenie zasilania"))) {
        key = kTransferKey;
        kind = AlarmKind::Transfer;
        return true;
    }
    for (int program : {int(ProgN1N2N3), int(ProgN1N2G), int(ProgN1N2S)})
        for (int n = 1; n <= 3; ++n)
            if (text == alarmText(AlarmKind::LineBad, n, program)) {
                key = lineKey(n);
                kind = AlarmKind::LineBad;
                line = n;
                return true;
            }
    return false;
}
} // namespace

TAlarmEngine::TAlarmEngine(QObject* parent)
    : QObject(parent), clock_([] { return QDateTime::currentDateTime(); }),
      user_(currentUserName()) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &TAlarmEngine::tick);
    timer_.start();
}

void TAlarmEngine::setSettings(const TAlarmSettings& settings) {
    settings_ = settings;
    // An alarm switched off goes its way to normal like a cleared one.
    for (auto& [key, e] : entries_)
        if (!settings_.isEnabled(e.alarm.kind) && e.alarm.active())
            setCondition(key, e.alarm.kind, e.alarm.line, false, e.alarm.text);
    tick();
    Q_EMIT changed();
}

TAlarmEngine::Entry& TAlarmEngine::entry(const QString& key, AlarmKind kind, int line) {
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        Entry e;
        e.alarm.key = key;
        e.alarm.kind = kind;
        e.alarm.line = line;
        e.alarm.priority = alarmKindInfo(kind).priority;
        it = entries_.emplace(key, std::move(e)).first;
    }
    return it->second;
}

// ---------------------------------------------------------------- inputs

void TAlarmEngine::status(int awaria, int program, int activeLine,
                          const std::array<int, 3>& lineStates) {
    for (const FaultBit& f : kFaultBits)
        setCondition(QLatin1String(f.key), f.kind, 0, (awaria >> f.bit) & 1, alarmText(f.kind));
    setCondition(kUnknownKey, AlarmKind::UnknownFault, 0, (awaria & kUnknownBits) != 0,
                 alarmText(AlarmKind::UnknownFault, 0, 0, awaria));
    for (int n = 1; n <= 3; ++n)
        setCondition(lineKey(n), AlarmKind::LineBad, n,
                     programUsesLine(program, n) && lineStates[size_t(n - 1)] == 0,
                     alarmText(AlarmKind::LineBad, n, program));
    if (lastActiveLine_ >= 0 && activeLine != lastActiveLine_)
        notifyTransfer(activeLine, program);
    lastActiveLine_ = activeLine;
}

void TAlarmEngine::linkLost() {
    setCondition(kLinkKey, AlarmKind::LinkLost, 0, true, alarmText(AlarmKind::LinkLost));
}

void TAlarmEngine::linkUp() {
    if (entries_.count(kLinkKey))
        setCondition(kLinkKey, AlarmKind::LinkLost, 0, false, alarmText(AlarmKind::LinkLost));
}

void TAlarmEngine::linkClosed() { linkUp(); }

void TAlarmEngine::setCondition(const QString& key, AlarmKind kind, int line, bool on,
                                const QString& text) {
    if (on && !settings_.isEnabled(kind))
        on = false;
    if (!on && !entries_.count(key))
        return; // nothing to clear
    Entry& e = entry(key, kind, line);
    e.condition = on;
    TAlarm& a = e.alarm;
    if (on) {
        e.clearingSince = QDateTime();
        if (a.active())
            return;
        a.state = AlarmState::ActiveUnacked;
        a.text = text;
        a.raised = clock_();
        a.cleared = QDateTime();
        journal(e, AlarmTransition::Raised, a.raised);
        return;
    }
    if (!a.active() || e.clearingSince.isValid())
        return;
    e.clearingSince = clock_();
    if (settings_.flickerSeconds <= 0)
        clear(e);
}

void TAlarmEngine::clear(Entry& e) {
    TAlarm& a = e.alarm;
    a.cleared = e.clearingSince;
    e.clearingSince = QDateTime();
    a.state = a.state == AlarmState::ActiveAcked ? AlarmState::Normal : AlarmState::ClearedUnacked;
    journal(e, AlarmTransition::Cleared, a.cleared);
}

void TAlarmEngine::notifyTransfer(int activeLine, int program) {
    if (!settings_.isEnabled(AlarmKind::Transfer))
        return;
    Entry& e = entry(kTransferKey, AlarmKind::Transfer, 0);
    TAlarm& a = e.alarm;
    a.state = AlarmState::ClearedUnacked; // a notification has no active state
    a.text = alarmText(AlarmKind::Transfer, 0, program, 0, activeLine);
    a.raised = clock_();
    a.cleared = QDateTime();
    journal(e, AlarmTransition::Raised, a.raised);
}

void TAlarmEngine::tick() {
    const QDateTime now = clock_();
    const qint64 flickerMs = qint64(settings_.flickerSeconds) * 1000;
    for (auto& [key, e] : entries_) {
        if (e.clearingSince.isValid() && e.clearingSince.msecsTo(now) >= flickerMs)
            clear(e);
        if (e.alarm.shelved() && e.alarm.shelvedUntil <= now) {
            const QDateTime ended = e.alarm.shelvedUntil;
            e.alarm.shelvedUntil = QDateTime();
            journal(e, AlarmTransition::Unshelved, ended);
        }
    }
    if (journal_ && journal_->queued() > 0) {
        try {
            journal_->flush();
            journalFailing_ = false;
        } catch (const ETable&) {
            // Reported when it first failed; tried again at the next tick.
        }
    }
}

// ---------------------------------------------------------------- operator

QString TAlarmEngine::acknowledge(const QString& key, const QString& remark, const QString& who) {
    if (readOnly())
        return QStringLiteral("Tylko do odczytu: dziennik alarmów prowadzi inny program.");
    auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.alarm.unacknowledged())
        return QStringLiteral("Ten alarm nie czeka na potwierdzenie.");
    if (const QString problem = TAlarmJournal::remarkProblem(remark); !problem.isEmpty())
        return QStringLiteral("Alarmu nie potwierdzono. ") + problem;
    TAlarm& a = it->second.alarm;
    a.state = a.state == AlarmState::ActiveUnacked ? AlarmState::ActiveAcked : AlarmState::Normal;
    a.who = who.isEmpty() ? user_ : who;
    a.remark = remark;
    journal(it->second, AlarmTransition::Acknowledged, clock_(), a.who, remark);
    return {};
}

int TAlarmEngine::acknowledgeAll(const QString& who, const QString& remark) {
    if (!TAlarmJournal::remarkProblem(remark).isEmpty())
        return 0;
    QStringList keys;
    for (const TAlarm& a : listed())
        if (a.unacknowledged())
            keys << a.key;
    // Oldest first, so the journal reads in the order they were raised.
    std::reverse(keys.begin(), keys.end());
    int n = 0;
    for (const QString& k : keys)
        n += acknowledge(k, remark, who).isEmpty() ? 1 : 0;
    return n;
}

QString TAlarmEngine::shelve(const QString& key, const QString& who) {
    if (readOnly())
        return QStringLiteral("Tylko do odczytu: dziennik alarmów prowadzi inny program.");
    auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.alarm.listed())
        return QStringLiteral("Tego alarmu nie ma na liście.");
    TAlarm& a = it->second.alarm;
    if (a.shelved())
        return QStringLiteral("Alarm jest już wyciszony do %1.")
            .arg(a.shelvedUntil.toString(QStringLiteral("HH:mm")));
    const QDateTime now = clock_();
    a.shelvedUntil = now.addMSecs(kShelveMs);
    a.who = who.isEmpty() ? user_ : who;
    a.remark.clear();
    journal(it->second, AlarmTransition::Shelved, now, a.who);
    return {};
}

QString TAlarmEngine::channelUser(const QString& name, const QString& channel) {
    // Too long a name is shortened; the channel stays whole.
    const QString tail = TAlarmJournal::fitUser(QStringLiteral(" (") + channel + u')');
    return TAlarmJournal::fitUser(name.simplified())
               .left(std::max<qsizetype>(0, TAlarmJournal::kUserWidth - tail.size())) +
           tail;
}

// ---------------------------------------------------------------- journal

void TAlarmEngine::journal(Entry& e, AlarmTransition t, const QDateTime& when, const QString& who,
                           const QString& remark) {
    ++e.alarm.changes;
    if (journal_) {
        try {
            journal_->append({when, e.alarm.text, priorityText(e.alarm.priority), transitionText(t),
                              who, remark});
            journalFailing_ = false;
        } catch (const ETable& err) {
            if (!journalFailing_) {
                journalFailing_ = true;
                Q_EMIT journalFailed(
                    QStringLiteral("Nie zapisano zmiany alarmu w dzienniku (%1 wierszy czeka na "
                                   "zapis): %2")
                        .arg(journal_->queued())
                        .arg(err.message()));
            }
        }
    }
    Q_EMIT transition(e.alarm, t);
    Q_EMIT changed();
}

bool TAlarmEngine::readOnly() const { return journal_ && journal_->readOnly(); }

void TAlarmEngine::restore() {
    if (!journal_)
        return;
    const std::vector<TAlarmJournalRow> rows = journal_->readAll();
    applyRows(rows);
    rowsRead_ = int(rows.size());
    Q_EMIT changed();
    Q_EMIT restored();
    tick(); // a shelving that ran out while the program was not running ends now
}

void TAlarmEngine::follow() {
    if (!readOnly())
        return;
    journal_->refresh();
    const int n = journal_->rowCount();
    if (n == rowsRead_)
        return;
    if (n < rowsRead_) { // another journal in its place: read it whole
        entries_.clear();
        rowsRead_ = 0;
    }
    applyRows(journal_->readRows(rowsRead_, n - rowsRead_));
    rowsRead_ = n;
    Q_EMIT changed();
}

void TAlarmEngine::applyRows(const std::vector<TAlarmJournalRow>& rows) {
    for (const TAlarmJournalRow& row : rows) {
        QString key;
        AlarmKind kind;
        int line;
        if (!keyOfText(row.alarm, key, kind, line))
            continue;
        TAlarm& a = entry(key, kind, line).alarm;
        if (row.stan == transitionText(AlarmTransition::Raised)) {
            a.text = row.alarm;
            a.raised = row.czas;
            a.cleared = QDateTime();
            a.state = a.notification() ? AlarmState::ClearedUnacked : AlarmState::ActiveUnacked;
        } else if (row.stan == transitionText(AlarmTransition::Acknowledged)) {
            if (a.state == AlarmState::ActiveUnacked)
                a.state = AlarmState::ActiveAcked;
            else if (a.state == AlarmState::ClearedUnacked)
                a.state = AlarmState::Normal;
        } else if (row.stan == transitionText(AlarmTransition::Cleared)) {
            a.cleared = row.czas;
            if (a.state == AlarmState::ActiveUnacked)
                a.state = AlarmState::ClearedUnacked;
            else if (a.state == AlarmState::ActiveAcked)
                a.state = AlarmState::Normal;
        } else if (row.stan == transitionText(AlarmTransition::Shelved)) {
            a.shelvedUntil = row.czas.addMSecs(kShelveMs);
        } else if (row.stan == transitionText(AlarmTransition::Unshelved)) {
            a.shelvedUntil = QDateTime();
        }
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        Entry& e = it->second;
        if (!e.alarm.listed()) {
            it = entries_.erase(it);
            continue;
        }
        // Whether a restored active condition still holds, the next status
        // reply tells; until then it stands.
        e.condition = e.alarm.active();
        ++it;
    }
}

// ---------------------------------------------------------------- view

std::vector<TAlarm> TAlarmEngine::listed() const {
    std::vector<TAlarm> out;
    for (const auto& [key, e] : entries_)
        if (e.alarm.listed())
            out.push_back(e.alarm);
    std::stable_sort(out.begin(), out.end(),
                     [](const TAlarm& a, const TAlarm& b) { return a.raised > b.raised; });
    return out;
}

const TAlarm* TAlarmEngine::alarm(const QString& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second.alarm;
}

int TAlarmEngine::unacknowledgedCount() const {
    int n = 0;
    for (const auto& [key, e] : entries_)
        n += e.alarm.unacknowledged() && !e.alarm.shelved() ? 1 : 0;
    return n;
}

bool TAlarmEngine::highPriorityUnacknowledged() const {
    for (const auto& [key, e] : entries_)
        if (e.alarm.unacknowledged() && !e.alarm.shelved() &&
            e.alarm.priority == AlarmPriority::High)
            return true;
    return false;
}

} // namespace qta
