// The [email] section of the collector's configuration: the mail server, how
// the collector logs in, who gets the alarm messages and from whom they come.
// Without the section or without Host= nothing is sent.
#pragma once

#include "alarms/alarm.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace qta::email {

enum class Security {
    StartTls, // SMTP, STARTTLS before anything else (the default; port 587)
    Tls,      // SMTP inside TLS from the first byte (port 465)
    None,     // no encryption: only to a server on a loopback address (port 25)
};

struct TRecipient {
    QString address;
    // The lowest priority this recipient wants: `:wysoki` High only, `:sredni`
    // or no suffix every priority.
    AlarmPriority lowest = AlarmPriority::Medium;
    bool wants(AlarmPriority p) const {
        return lowest == AlarmPriority::Medium || p == AlarmPriority::High;
    }
    bool operator==(const TRecipient&) const = default;
};

struct TEmailSettings {
    QString host; // empty: no e-mail
    int port = 587;
    Security security = Security::StartTls;
    QString user;
    QString password; // read from PasswordFile=; never logged
    QString passwordFile;
    QString caFile; // a private CA; empty: the system's
    QString from;
    QList<TRecipient> recipients;
    QString consoleUrl;   // KonsolaUrl=, put in every message as written
    int perHour = 10;     // LimitNaGodzine=: messages per recipient per hour
    int queueLimit = 500; // LimitKolejki=: messages kept for sending

    bool enabled() const { return !host.isEmpty(); }
    bool operator==(const TEmailSettings&) const = default;
};

// The settings from the section's keys (`value` returns a key's trimmed
// text, empty when absent); relative file names are taken from `baseDir`.
// Every problem is one Polish line in `errors` naming the key; with any, the
// section is off.
TEmailSettings emailSettings(const std::function<QString(const char*)>& value,
                             const QString& baseDir, QStringList& errors);

// Whether `address` is a plain mailbox (local@domain: what the envelope and
// the headers carry without quoting); when not, why not in `why`.
bool plainAddress(const QString& address, QString* why = nullptr);
// Odbiorcy=: "a@x.pl, b@y.pl:wysoki"; false with the reason in `error`.
bool parseRecipients(const QString& text, QList<TRecipient>& out, QString& error);

QString securityName(Security s); // "starttls", "tls", "none"

} // namespace qta::email
