// What an alarm message says and how it travels, as pure functions: the
// subject and the Polish body of a batch of alarm transitions, and the MIME
// message around them (UTF-8, an RFC 2047 subject, a quoted-printable body,
// lines of at most 78 characters). Nothing here touches a socket, a file or
// the clock, so the tests check them as tables.
#pragma once

#include "alarms/alarm.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <vector>

namespace qta::email {

// One alarm transition of one controller, as the journal has it.
struct TMailEvent {
    QString controller; // the section's name
    QString identifier; // what the firmware reports; empty until read
    QDateTime time;
    QString alarm; // the alarm's text
    AlarmPriority priority = AlarmPriority::Medium;
    AlarmTransition transition = AlarmTransition::Raised;
    QString who;    // acknowledged or shelved by (KTO)
    QString remark; // with the acknowledgement
    bool operator==(const TMailEvent&) const = default;
};

// An alarm that waits for acknowledgement.
struct TWaitingAlarm {
    QString alarm;
    AlarmPriority priority = AlarmPriority::Medium;
    QString state; // stateText(): "aktywny, niepotwierdzony", ...
    QDateTime raised;
    bool operator==(const TWaitingAlarm&) const = default;
};

// A controller's alarms waiting for acknowledgement at its last transition.
struct TControllerAlarms {
    QString controller;
    QString identifier;
    QList<TWaitingAlarm> waiting; // newest first
    bool operator==(const TControllerAlarms&) const = default;
};

// What one message to one recipient holds.
struct TMailContent {
    QList<TMailEvent> events;             // in the order they happened
    QList<TControllerAlarms> controllers; // one per controller of `events`, in their order
    int omitted = 0;                      // the oldest transitions left out of a long batch
    // Held back by the hourly limit: everything since it was reached.
    bool summary = false;
    // Valid when this message reached the limit: the next one comes no
    // earlier, as one summary.
    QDateTime limitUntil;
    bool operator==(const TMailContent&) const = default;
};

// The alarm engine's view as the messages carry it: a transition of
// controller `name` (identifier `identifier`), and the alarms of `listed`
// that wait for acknowledgement.
TMailEvent mailEvent(const QString& name, const QString& identifier, const TAlarm& a,
                     AlarmTransition t, const QDateTime& now);
TControllerAlarms waitingAlarms(const QString& name, const QString& identifier,
                                const std::vector<TAlarm>& listed);

// What every message says besides its transitions.
struct TMailStyle {
    QString consoleUrl; // empty: no link
    QString hostName;   // the collector's computer
    int groupSeconds = 30;
    int perHour = 10;
};

// "[QTA-504] ROZDZIELNIA-A: Zadziałanie wyłącznika bezpieczeństwa – wystąpił":
// the most important alarm of the batch (high priority first, a raised one
// first, then the earliest) with its transitions in order, and how many
// other alarms the message holds; a summary says so and counts.
QString mailSubject(const TMailContent& c);
QString mailBody(const TMailContent& c, const TMailStyle& style);
// Whether the message carries a high-priority transition.
bool mailImportant(const TMailContent& c);

// Polish number agreement: plural(1, "zmiana", "zmiany", "zmian") ...
QString plural(int n, const QString& one, const QString& few, const QString& many);

// A header field, folded; its text as RFC 2047 encoded words (UTF-8, base64)
// when it is not plain printable ASCII.
QByteArray headerField(const QByteArray& name, const QString& text);
// The body in quoted-printable, lines ending in CRLF.
QByteArray quotedPrintable(const QString& text);
// RFC 5322: "Thu, 11 Dec 2026 04:05:06 +0100".
QByteArray mailDate(const QDateTime& t);

// The whole message, CRLF line ends, ready for the server's DATA.
QByteArray mimeMessage(const QString& from, const QString& to, const QString& subject,
                       const QString& body, const QDateTime& date, const QString& messageId,
                       bool important);

} // namespace qta::email
