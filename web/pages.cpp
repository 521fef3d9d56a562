// Pages, scripts, styles and icons, built into the program as resources.
// Only the sign-in page (and what it needs) is served without a session.
#include "web/console.h"

#include <QFile>
#include <QRegularExpression>

namespace qta::web {

namespace {
std::optional<THttpResponse> resource(const QString& name,
                                      const QString& folder = QStringLiteral(":/web/pages/")) {
    QFile f(folder + name);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    THttpResponse r;
    r.body = f.readAll();
    if (name.endsWith(u".html"))
        r.type = "text/html; charset=utf-8";
    else if (name.endsWith(u".js"))
        r.type = "text/javascript; charset=utf-8";
    else if (name.endsWith(u".css"))
        r.type = "text/css; charset=utf-8";
    else if (name.endsWith(u".svg"))
        r.type = "image/svg+xml";
    r.noStore = name.endsWith(u".html");
    return r;
}

bool publicAsset(const QString& name) {
    return name == u"style.css" || name == u"login.js" || name == u"icon.svg";
}
} // namespace

std::optional<THttpResponse> TWebConsole::page(const THttpRequest& r, const TSession* s) {
    const QString& p = r.path;
    if (p == u"/login") {
        if (!users_ || users_->empty())
            return resource(QStringLiteral("nousers.html"));
        return s ? THttpResponse::redirect("/") : resource(QStringLiteral("login.html"));
    }
    if (p == u"/favicon.ico")
        return resource(QStringLiteral("icon.svg"));
    if (p.startsWith(u"/static/")) {
        static const QRegularExpression name(QStringLiteral("^[a-z0-9-]{1,40}\\.(js|css|svg)$"));
        const QString file = p.mid(8);
        if (!name.match(file).hasMatch())
            return THttpResponse::error(404, QStringLiteral("Nie ma takiego pliku"));
        if (!s && !publicAsset(file))
            return THttpResponse::error(401, QStringLiteral("Zaloguj się"));
        if (auto f = resource(file))
            return f;
        return THttpResponse::error(404, QStringLiteral("Nie ma takiego pliku"));
    }
    if (p.startsWith(u"/art/")) {
        // The mimic windows' own pictures, from the same files.
        static const QRegularExpression name(QStringLiteral("^[a-z0-9_]{1,40}\\.svg$"));
        const QString file = p.mid(5);
        if (!name.match(file).hasMatch())
            return THttpResponse::error(404, QStringLiteral("Nie ma takiego pliku"));
        if (!s)
            return THttpResponse::error(401, QStringLiteral("Zaloguj się"));
        if (auto f = resource(file, QStringLiteral(":/web/art/")))
            return f;
        return THttpResponse::error(404, QStringLiteral("Nie ma takiego pliku"));
    }
    const QString html = p == u"/"            ? QStringLiteral("overview.html")
                         : p == u"/alarmy"    ? QStringLiteral("alarms.html")
                         : p == u"/admin"     ? QStringLiteral("admin.html")
                         : p == u"/sterownik" ? QStringLiteral("controller.html")
                                              : QString();
    if (html.isEmpty())
        return std::nullopt;
    if (!s)
        return THttpResponse::redirect("/login");
    if (html == u"admin.html" && !roleAllows(s->role, Role::Admin)) {
        THttpResponse no = THttpResponse::error(403, QStringLiteral("Brak uprawnień"));
        return no;
    }
    return resource(html);
}

} // namespace qta::web
