#include "web/console.h"

#include "history/linehistory.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

static void initWebResources() { Q_INIT_RESOURCE(web); }

namespace qta::web {

namespace {
enum Level { Error = 3, Warning = 4, Notice = 5, Info = 6 }; // as the collector's LogLevel
}

TWebConsole::TWebConsole(const TSite& site, Log log, QObject* parent)
    : QObject(parent), site_(site), log_(std::move(log)), hub_(site) {
    initWebResources();
    server_.setHandler([this](const THttpRequest& r, const TReply& reply) { handle(r, reply); });
    server_.setUpgradeCheck([this](const THttpRequest& r) { return checkUpgrade(r); });
    hub_.attach(&server_);
    hub_.setSessionOf([this](const QByteArray& id) { return sessions_.find(id, false); });
    sessions_.onEnded([this](const TSession& s, EndReason why) {
        hub_.endSession(s.id);
        record(s.user, s.address, endReasonText(why), {}, kSuccess);
    });
    connect(&sweepTimer_, &QTimer::timeout, this, &TWebConsole::sweep);
    sweepTimer_.start(10000);
}

TWebConsole::~TWebConsole() { stop(); }

void TWebConsole::stop() {
    hub_.closeAll();
    if (server_.listening())
        log_(Notice, QStringLiteral("konsola: wyłączona"));
    server_.stop();
    settings_ = {};
}

void TWebConsole::apply(const TWebSettings& s) {
    if (!s.enabled) {
        if (settings_.enabled)
            stop();
        return;
    }
    const bool sameServer = s == settings_ && server_.listening();
    if (!users_ || users_->path() != s.usersFile)
        users_ = std::make_unique<TUserStore>(s.usersFile);
    activity_ = std::make_unique<TActivityLog>(QDir(s.stateDir).filePath(TActivityLog::fileName()));
    reloadUsers();
    if (sameServer)
        return;
    hub_.closeAll();
    server_.stop();
    settings_ = s;
    QString error;
    const TCertificate* tlsCert = nullptr;
    if (s.tls()) {
        if (!loadCertificate(s.certFile, s.keyFile, s.stateDir, s.listen.address, cert_, error)) {
            log_(Error, QStringLiteral("konsola: %1; konsola nie działa").arg(error));
            settings_.enabled = false;
            return;
        }
        if (cert_.made)
            log_(Notice, QStringLiteral("konsola: utworzono certyfikat %1 (klucz %2)")
                             .arg(cert_.certFile, cert_.keyFile));
        tlsCert = &cert_;
    }
    if (!server_.start(s.listen, tlsCert, error)) {
        log_(Error, QStringLiteral("konsola: %1; konsola nie działa").arg(error));
        settings_.enabled = false;
        return;
    }
    const QString where =
        QStringLiteral("%1://%2").arg(tlsCert ? "https" : "http", s.listen.text());
    log_(Notice, QStringLiteral("konsola: %1").arg(where));
    if (tlsCert)
        log_(Notice,
             QStringLiteral("konsola: odcisk SHA-256 certyfikatu %1").arg(cert_.fingerprint()));
    unitsChanged();
}

void TWebConsole::reloadUsers() {
    if (!users_)
        return;
    for (const QString& line : users_->reload())
        log_(Warning, QStringLiteral("konsola: %1").arg(line));
    sweep();
}

void TWebConsole::unitsChanged() {
    histories_.clear(); // their tables may be gone
    hub_.unitsChanged();
}

void TWebConsole::sweep() {
    sessions_.sweep(
        [this](const QString& user) { return users_ ? users_->generation(user) : QByteArray(); });
}

void TWebConsole::record(const QString& user, const QHostAddress& address, const QString& action,
                         const QString& object, const QString& result, const QString& details) {
    if (!activity_)
        return;
    TActivityRecord rec;
    rec.user = user;
    rec.address = address.toString();
    rec.action = action;
    rec.object = object;
    rec.result = result;
    rec.details = details;
    if (const QString why = activity_->append(rec); !why.isEmpty())
        log_(Error, QStringLiteral("konsola: dziennik aktywności: %1").arg(why));
}

void TWebConsole::handle(const THttpRequest& r, const TReply& reply) {
    const QString& p = r.path;
    const bool post = r.method == THttpRequest::Method::Post;
    if (r.method == THttpRequest::Method::Other) {
        THttpResponse no = THttpResponse::error(405, QStringLiteral("Niedozwolona metoda"));
        no.headers << qMakePair(QByteArray("Allow"), QByteArray("GET, HEAD, POST"));
        reply.send(no);
        return;
    }
    if (post && p == u"/api/login") {
        signIn(r, reply);
        return;
    }
    const TSession* s = session(r);
    if (!post) {
        if (std::optional<THttpResponse> answer = page(r, s)) {
            reply.send(*answer);
            return;
        }
    }
    if (!p.startsWith(u"/api/")) {
        reply.send(THttpResponse::error(post ? 405 : 404, QStringLiteral("Nie ma takiej strony")));
        return;
    }
    if (!s) {
        reply.send(THttpResponse::error(401, QStringLiteral("Zaloguj się")));
        return;
    }
    const bool admin = roleAllows(s->role, Role::Admin);
    if (post) {
        // Every change: the page's own origin and the session's token.
        if (!originMatches(r) || !tokenMatches(r, *s)) {
            record(s->user, r.peer, QStringLiteral("żądanie odrzucone"), p, kRefused,
                   QStringLiteral("brak tokenu lub obce pochodzenie"));
            reply.send(THttpResponse::error(
                403, QStringLiteral("Żądanie odrzucone (token lub pochodzenie)")));
            return;
        }
        if (p == u"/api/logout")
            reply.send(signOut(r, *s));
        else if (p == u"/api/ack" || p == u"/api/ack-all" || p == u"/api/shelve")
            reply.send(alarmAction(p.mid(5), r, *s));
        else if (p == u"/api/remark")
            reply.send(storeRemark(r, *s));
        else if (p == u"/api/sessions/end")
            reply.send(admin ? endSession(r, *s)
                             : THttpResponse::error(403, QStringLiteral("Brak uprawnień")));
        else
            reply.send(THttpResponse::error(404, QStringLiteral("Nie ma takiej funkcji")));
        return;
    }
    if (p == u"/api/session")
        reply.send(sessionInfo(*s));
    else if (p.startsWith(u"/api/controller/"))
        reply.send(controllerTile(p.mid(16)));
    else if (p == u"/api/events")
        reply.send(eventLogPage(r, *s));
    else if (p == u"/api/events.csv")
        eventLogCsv(r, reply, *s); // answered when the export is written
    else if (p == u"/api/report")
        startReport(r, reply, *s); // answered when the report is drawn
    else if (p == u"/api/chart.csv")
        chartCsv(r, reply, *s); // answered when the export is written
    else if (p == u"/api/chart")
        reply.send(chartData(r));
    else if (p == u"/api/mimic-layout")
        reply.send(mimicLayoutAnswer(r));
    else if (p == u"/api/config")
        reply.send(configuration(r));
    else if (p == u"/api/activity")
        reply.send(admin ? activityPage(r)
                         : THttpResponse::error(403, QStringLiteral("Brak uprawnień")));
    else if (p == u"/api/activity.csv")
        reply.send(admin ? activityCsv(r, *s)
                         : THttpResponse::error(403, QStringLiteral("Brak uprawnień")));
    else if (p == u"/api/sessions")
        reply.send(admin ? sessionList(*s)
                         : THttpResponse::error(403, QStringLiteral("Brak uprawnień")));
    else
        reply.send(THttpResponse::error(404, QStringLiteral("Nie ma takiej funkcji")));
}

std::optional<THttpResponse> TWebConsole::checkUpgrade(const THttpRequest& r) {
    if (!originMatches(r))
        return THttpResponse::error(403, QStringLiteral("Obce pochodzenie"));
    if (!session(r))
        return THttpResponse::error(401, QStringLiteral("Zaloguj się"));
    return std::nullopt;
}

} // namespace qta::web
