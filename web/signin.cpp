// Sign-in, sign-out and what every request's session must show: the cookie,
// the anti-forgery token and the page's own origin.
#include "web/console.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace qta::web {

namespace {
const QByteArray kCookie = "qta_sesja";
constexpr int kMaxChecksPerSecond = 10; // Argon2id checks: some 50 ms each
const QString kWrong = QStringLiteral("Błędny login lub hasło");
const QString kSignIn = QStringLiteral("logowanie");
} // namespace

const TSession* TWebConsole::session(const THttpRequest& r) {
    const QByteArray id = r.cookie(kCookie);
    return id.isEmpty() ? nullptr : sessions_.find(id);
}

bool TWebConsole::originMatches(const THttpRequest& r) const {
    const QByteArray origin = r.header("origin");
    const QByteArray own = r.ownOrigin();
    return !origin.isEmpty() && !own.isEmpty() && origin.compare(own, Qt::CaseInsensitive) == 0;
}

bool TWebConsole::tokenMatches(const THttpRequest& r, const TSession& s) const {
    return sameSecret(r.header("x-csrf-token"), s.csrf);
}

QByteArray TWebConsole::sessionCookie(const QByteArray& value, bool expire) const {
    QByteArray c = kCookie + '=' + value + "; Path=/; HttpOnly; SameSite=Strict";
    if (expire)
        c += "; Max-Age=0";
    if (!plainLoopback())
        c += "; Secure";
    return c;
}

THttpResponse TWebConsole::sessionInfo(const TSession& s) const {
    return THttpResponse::json(QJsonObject{
        {"user", s.user},
        {"role", roleKeyword(s.role)},
        {"roleName", roleDisplayName(s.role)},
        {"csrf", QString::fromLatin1(s.csrf)},
        {"canAct", roleAllows(s.role, Role::Operator)},
        {"isAdmin", roleAllows(s.role, Role::Admin)},
    });
}

void TWebConsole::signIn(const THttpRequest& r, const TReply& reply) {
    if (!originMatches(r)) {
        reply.send(THttpResponse::error(403, QStringLiteral("Obce pochodzenie")));
        return;
    }
    if (!r.header("content-type").startsWith("application/json")) {
        reply.send(THttpResponse::error(415, QStringLiteral("Oczekiwano JSON")));
        return;
    }
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    const QString user = o.value(u"user").toString().trimmed();
    const QString password = o.value(u"password").toString();
    if (user.isEmpty() || user.size() > 64 || password.isEmpty() || password.size() > 1024) {
        reply.send(THttpResponse::error(401, kWrong));
        return;
    }
    if (!users_ || users_->empty()) {
        reply.send(THttpResponse::error(503, QStringLiteral("Brak użytkowników konsoli")));
        return;
    }
    // A stale cookie ends: every sign-in makes a new session.
    if (const QByteArray old = r.cookie(kCookie); !old.isEmpty())
        sessions_.end(old, EndReason::SignOut);
    const QString address = r.peer.toString();
    const qint64 delay = limiter_.delayMs(user, address);
    if (delay <= 0) {
        finishSignIn(r, reply, user, password, false);
        return;
    }
    // Answered later, on the event loop; a second attempt for the same name
    // or address meanwhile is refused without looking at its password.
    const QString userKey = QStringLiteral("u:") + user.toLower(),
                  addrKey = QStringLiteral("a:") + address;
    const bool locked = signingIn_.contains(userKey) || signingIn_.contains(addrKey);
    signingIn_.insert(userKey);
    signingIn_.insert(addrKey);
    QTimer::singleShot(int(delay), this, [=, this] {
        if (!locked) {
            signingIn_.remove(userKey);
            signingIn_.remove(addrKey);
        }
        finishSignIn(r, reply, user, password, locked);
    });
}

void TWebConsole::finishSignIn(const THttpRequest& r, const TReply& reply, const QString& user,
                               const QString& password, bool locked) {
    const QString address = r.peer.toString();
    TSignIn result;
    if (!locked && reply.connected() && users_) {
        QElapsedTimer t;
        t.start();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        hashTimes_.erase(std::remove_if(hashTimes_.begin(), hashTimes_.end(),
                                        [now](qint64 at) { return now - at > 1000; }),
                         hashTimes_.end());
        if (hashTimes_.size() >= kMaxChecksPerSecond) {
            reply.send(THttpResponse::error(
                429, QStringLiteral("Zbyt wiele prób logowania, spróbuj za chwilę")));
            return;
        }
        hashTimes_ << now;
        result = users_->verify(user, password);
    }
    if (!result.ok) {
        limiter_.failed(user, address);
        record(user, r.peer, kSignIn, {}, kRefused,
               locked ? QStringLiteral("próba w czasie opóźnienia") : QString());
        reply.send(THttpResponse::error(401, kWrong));
        return;
    }
    limiter_.succeeded(user, address);
    const TUser* u = users_->find(user);
    const QString name = u ? u->name : user;
    const TSession& s = sessions_.create(name, result.role, result.generation, r.peer);
    record(name, r.peer, kSignIn, {}, kSuccess);
    if (result.needsRehash)
        log_(5, QStringLiteral("konsola: hasło użytkownika %1 ma skrót o starszych parametrach; "
                               "qta504d --user passwd %1 zrobi nowy")
                    .arg(name));
    THttpResponse ok = sessionInfo(s);
    ok.headers << qMakePair(QByteArray("Set-Cookie"), sessionCookie(s.id, false));
    reply.send(ok);
}

THttpResponse TWebConsole::signOut(const THttpRequest&, const TSession& s) {
    const QByteArray id = s.id; // s goes with the session
    sessions_.end(id, EndReason::SignOut);
    THttpResponse r = THttpResponse::json(QJsonObject{{"ok", true}});
    r.headers << qMakePair(QByteArray("Set-Cookie"), sessionCookie({}, true));
    return r;
}

} // namespace qta::web
