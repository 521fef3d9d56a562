// When alarm messages go, and to whom, without a clock or a socket of its own
// (the time is passed in), so that the rules are tested as tables:
//
// - A recipient gets the transitions of the priorities it wants (Odbiorcy=
//   with :wysoki: high only).
// - No storm: a recipient's first transition opens a batch; everything that
//   comes within `groupMs` (30 s) joins it, and the batch goes as one message.
// - At most `perHour` messages per recipient in any hour: the message that
//   reaches the limit says so; what comes after waits, and goes as one
//   summary once the hour allows another message.
// - A batch holds at most kMaxEvents transitions; the oldest beyond that are
//   counted, not kept.
//
// The state (open batches, what was sent in the last hour, each controller's
// waiting alarms) is saved as JSON beside the queue, so a restart loses no
// batch and does not reset the limit.
#pragma once

#include "email/emailsettings.h"
#include "email/mailtext.h"

#include <QJsonObject>
#include <deque>
#include <map>

namespace qta::email {

struct TMailTimes {
    qint64 groupMs = 30 * 1000;
    qint64 hourMs = 3600 * 1000;
    qint64 retryFirstMs = 1000;     // a failed sending is tried again after this,
    qint64 retryMaxMs = 600 * 1000; // doubled at every failure up to this
};

struct TMailOut {
    QString recipient;
    TMailContent content;
};

class TMailPlanner {
public:
    static constexpr int kMaxEvents = 1000;

    TMailPlanner(const QList<TRecipient>& recipients, int perHour, const TMailTimes& times);

    // A transition at `nowMs` (milliseconds since the epoch); `alarms` the
    // controller's waiting alarms after it.
    void add(const TMailEvent& e, const TControllerAlarms& alarms, qint64 nowMs);
    // The messages due at `nowMs`, taken out of their batches and counted
    // against the limit; in the order of the recipients.
    QList<TMailOut> due(qint64 nowMs);
    // When due() next has something; -1: nothing waits.
    qint64 nextDue() const;
    bool idle() const { return nextDue() < 0; }

    QJsonObject save() const;
    // The state a save() made; recipients no longer configured are left out.
    void load(const QJsonObject& state);

private:
    struct Box {
        QList<TMailEvent> events;
        qint64 opened = 0;
        int omitted = 0;
        std::deque<qint64> sent; // within the last hour
    };
    qint64 allowedAt(const Box& b) const; // when the limit lets the next message go
    qint64 dueAt(const Box& b) const;
    void prune(Box& b, qint64 nowMs) const;

    QList<TRecipient> recipients_;
    int perHour_;
    TMailTimes times_;
    std::map<QString, Box> boxes_;                     // by address, lower case
    std::map<QString, TControllerAlarms> controllers_; // by name
};

} // namespace qta::email
