// The console's sessions: a random 256-bit identifier in a cookie, new at
// every sign-in, with its own anti-forgery token; ended at sign-out, after
// 30 minutes without a request, after 12 hours in all, and when its user is
// removed or their role or password changed. Kept in memory only: a
// restarted collector asks everyone to sign in again.
#pragma once

#include "web/users.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace qta::web {

constexpr qint64 kIdleMs = 30 * 60 * 1000;
constexpr qint64 kLifetimeMs = 12 * 3600 * 1000;
constexpr int kMaxSessions = 256;

struct TSession {
    QByteArray id;     // the cookie's value: 64 hex digits
    QByteArray handle; // what the sessions list shows and "end" names: 16 hex digits
    QByteArray csrf;   // the anti-forgery token: 64 hex digits
    QString user;
    Role role = Role::Viewer;
    QByteArray generation; // the user's at sign-in
    QHostAddress address;
    QDateTime created;
    QDateTime lastSeen;
    qint64 createdMs = 0, lastSeenMs = 0; // monotonic
};

// Why a session ended, as the activity log says it.
enum class EndReason { SignOut, Idle, Lifetime, UserChanged, EndedByAdmin, Limit };
QString endReasonText(EndReason r);

// Hex digits of `bytes` random bytes from the operating system.
QByteArray randomHex(int bytes);
// Compares in constant time for equal lengths.
bool sameSecret(const QByteArray& a, const QByteArray& b);

class TSessionStore {
public:
    using Clock = std::function<qint64()>; // milliseconds, monotonic
    using Ended = std::function<void(const TSession&, EndReason)>;
    TSessionStore();
    void setClock(Clock clock) { clock_ = std::move(clock); }
    void onEnded(Ended ended) { ended_ = std::move(ended); }

    const TSession& create(const QString& user, Role role, const QByteArray& generation,
                           const QHostAddress& address);
    // The live session of a cookie's value, touched (its idle time starts
    // again) when `touch`; nullptr when there is none or it has expired.
    const TSession* find(const QByteArray& id, bool touch = true);
    const TSession* findByHandle(const QByteArray& handle) const;
    void end(const QByteArray& id, EndReason why);
    // Ends every expired session, and those whose user is gone or changed:
    // `generationOf` gives a user's generation now, empty when removed.
    void sweep(const std::function<QByteArray(const QString&)>& generationOf);
    std::vector<TSession> all() const;
    int size() const { return int(sessions_.size()); }

private:
    std::optional<EndReason> expired(const TSession& s) const;
    Clock clock_;
    Ended ended_;
    std::map<QByteArray, TSession> sessions_;
};

// Sign-in attempts by user name and by client address: after five failures
// in a row each further attempt waits, twice as long each time (1 s, 2 s,
// 4 s … up to a minute), before it is answered. A success clears both
// counts; a quarter of an hour without a failure forgets them.
class TSignInLimiter {
public:
    using Clock = std::function<qint64()>;
    TSignInLimiter();
    void setClock(Clock clock) { clock_ = std::move(clock); }

    static constexpr int kFreeFailures = 5;
    static constexpr qint64 kMaxDelayMs = 60 * 1000;
    static constexpr qint64 kForgetMs = 15 * 60 * 1000;

    // How long an attempt now must wait before it is answered.
    qint64 delayMs(const QString& user, const QString& address);
    void failed(const QString& user, const QString& address);
    void succeeded(const QString& user, const QString& address);

private:
    struct Count {
        int failures = 0;
        qint64 lastMs = 0;
    };
    int failures(const QString& key);
    Clock clock_;
    std::map<QString, Count> counts_;
};

} // namespace qta::web
