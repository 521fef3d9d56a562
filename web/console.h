// The site console: the web server, the users it signs in, their sessions,
// the activity log and the live view, put together for the collector. One
// per collector; apply() takes a new [web] (SIGHUP) without touching the
// controllers, reloadUsers() the users file.
//
// Its request handlers live in files of their own, each one job:
// signin.cpp (sign-in, sign-out, the session and anti-forgery checks),
// pages.cpp (pages, scripts, styles and icons from the resources),
// alarmactions.cpp (acknowledge, shelve), admin.cpp (activity log, sessions),
// controllerviews.cpp (a controller's event log, remarks, configuration, the
// mimic's layout), chartviews.cpp (its voltage charts and their CSV),
// reportdownload.cpp (its PDF report, drawn by a child process).
#pragma once

#include "web/activitylog.h"
#include "web/certificate.h"
#include "web/sessions.h"
#include "web/site.h"
#include "web/userstore.h"
#include "web/webserver.h"
#include "web/websettings.h"
#include "web/wshub.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace qta {
class TLineHistory;
}

namespace qta::web {

class TWebConsole : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(int level, const QString& text)>; // level as LogLevel
    TWebConsole(const TSite& site, Log log, QObject* parent = nullptr);
    ~TWebConsole() override;

    // Starts, restarts or stops the server as `s` says. The users file is
    // read again too.
    void apply(const TWebSettings& s);
    void stop();
    // Reads the users file again: sessions of users removed or changed end.
    void reloadUsers();
    // The set of controllers changed (a reload): the pages get it anew.
    void unitsChanged();

    bool running() const { return server_.listening(); }
    quint16 port() const { return server_.port(); }
    const TWebSettings& settings() const { return settings_; }
    const TCertificate& certificate() const { return cert_; }
    TSessionStore& sessions() { return sessions_; }
    TWsHub& hub() { return hub_; }

private:
    friend class TConsoleRoutes;
    void handle(const THttpRequest& r, const TReply& reply);
    std::optional<THttpResponse> checkUpgrade(const THttpRequest& r);

    // signin.cpp
    void signIn(const THttpRequest& r, const TReply& reply);
    void finishSignIn(const THttpRequest& r, const TReply& reply, const QString& user,
                      const QString& password, bool locked);
    THttpResponse signOut(const THttpRequest& r, const TSession& s);
    THttpResponse sessionInfo(const TSession& s) const;
    // The session of the request's cookie, touched; nullptr without one.
    const TSession* session(const THttpRequest& r);
    // Origin and, with a session, its token: what every POST must carry.
    bool originMatches(const THttpRequest& r) const;
    bool tokenMatches(const THttpRequest& r, const TSession& s) const;
    QByteArray sessionCookie(const QByteArray& value, bool expire) const;

    // pages.cpp
    std::optional<THttpResponse> page(const THttpRequest& r, const TSession* s);

    // alarmactions.cpp
    THttpResponse alarmAction(const QString& action, const THttpRequest& r, const TSession& s);
    THttpResponse controllerTile(const QString& name);

    // controllerviews.cpp
    THttpResponse eventLogPage(const THttpRequest& r, const TSession& s);
    void eventLogCsv(const THttpRequest& r, const TReply& reply, const TSession& s);
    THttpResponse storeRemark(const THttpRequest& r, const TSession& s);
    THttpResponse configuration(const THttpRequest& r);
    THttpResponse mimicLayoutAnswer(const THttpRequest& r);

    // reportdownload.cpp
    void startReport(const THttpRequest& r, const TReply& reply, const TSession& s);
    static constexpr int kMaxReports = 2;
    static constexpr int kReportTimeoutMs = 15 * 60 * 1000;

    // chartviews.cpp
    THttpResponse chartData(const THttpRequest& r);
    void chartCsv(const THttpRequest& r, const TReply& reply, const TSession& s);
    // The controller's line index, brought up to its table's rows; raises
    // ETable when the table is not open.
    TLineHistory* lineHistory(const QString& name);
    static constexpr qint64 kMaxCsvRows = 31LL * 86400;

    // admin.cpp
    THttpResponse activityPage(const THttpRequest& r);
    THttpResponse activityCsv(const THttpRequest& r, const TSession& s);
    THttpResponse sessionList(const TSession& s) const;
    THttpResponse endSession(const THttpRequest& r, const TSession& s);

    void record(const QString& user, const QHostAddress& address, const QString& action,
                const QString& object, const QString& result, const QString& details = {});
    void sweep();
    bool plainLoopback() const { return !settings_.tls(); }

    const TSite& site_;
    Log log_;
    TWebSettings settings_;
    TCertificate cert_;
    TWebServer server_;
    std::unique_ptr<TUserStore> users_;
    std::unique_ptr<TActivityLog> activity_;
    TSessionStore sessions_;
    TSignInLimiter limiter_;
    TWsHub hub_;
    QTimer sweepTimer_;
    QList<qint64> hashTimes_; // sign-ins checked in the last second
    QSet<QString> signingIn_; // users and addresses with a delayed attempt waiting
    // The line index of each controller whose chart was asked for.
    std::map<QString, std::unique_ptr<TLineHistory>> histories_;
    int reportsRunning_ = 0; // child processes drawing a report
};

} // namespace qta::web
