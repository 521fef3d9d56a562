#include "web/httpmessage.h"

#include <QJsonObject>
#include <QUrl>

namespace qta::web {

QByteArray THttpRequest::header(const QByteArray& lowerName) const {
    for (const auto& [k, v] : headers)
        if (k == lowerName)
            return v;
    return {};
}

QByteArray THttpRequest::cookie(const QByteArray& name) const {
    for (const auto& [k, v] : headers) {
        if (k != "cookie")
            continue;
        for (const QByteArray& part : v.split(';')) {
            const QByteArray p = part.trimmed();
            if (p.startsWith(name + '='))
                return p.mid(name.size() + 1);
        }
    }
    return {};
}

QByteArray THttpRequest::ownOrigin() const {
    const QByteArray host = header("host");
    if (host.isEmpty())
        return {};
    return (tls ? "https://" : "http://") + host;
}

bool THttpRequest::wantsWebSocket() const {
    return header("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

THttpResponse THttpResponse::json(const QJsonDocument& d, int status) {
    THttpResponse r;
    r.status = status;
    r.type = "application/json";
    r.body = d.toJson(QJsonDocument::Compact);
    return r;
}

THttpResponse THttpResponse::json(const QJsonObject& o, int status) {
    return json(QJsonDocument(o), status);
}

THttpResponse THttpResponse::error(int status, const QString& text) {
    return json(QJsonObject{{"error", text}}, status);
}

THttpResponse THttpResponse::attachment(const QByteArray& body, const QByteArray& type,
                                        const QByteArray& fileName) {
    THttpResponse out;
    out.type = type;
    out.body = body;
    out.headers << qMakePair(QByteArray("Content-Disposition"),
                             "attachment; filename=\"" + fileName + '"');
    return out;
}

THttpResponse THttpResponse::redirect(const QByteArray& to) {
    THttpResponse r;
    r.status = 303;
    r.headers << qMakePair(QByteArray("Location"), to);
    return r;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    }
    return "Status";
}

QList<QPair<QByteArray, QByteArray>> securityHeaders() {
    return {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
         "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
    };
}

QByteArray THttpResponse::serialize(bool head) const {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    const auto line = [&out](const QByteArray& k, const QByteArray& v) {
        out += k + ": " + v + "\r\n";
    };
    line("Content-Type", type);
    line("Content-Length", QByteArray::number(body.size()));
    line("Cache-Control", noStore ? QByteArray("no-store") : QByteArray("no-cache"));
    for (const auto& [k, v] : securityHeaders())
        line(k, v);
    for (const auto& [k, v] : headers)
        line(k, v);
    out += "\r\n";
    if (!head)
        out += body;
    return out;
}

QString checkedPath(const QByteArray& encodedPath) {
    if (!encodedPath.startsWith('/'))
        return {};
    const QByteArray lower = encodedPath.toLower();
    // An encoded slash, backslash, dot or NUL, or a percent that encodes
    // nothing, is never part of a path this server serves.
    for (const char* bad : {"%2f", "%5c", "%2e", "%00", "\\", "//"})
        if (lower.contains(bad))
            return {};
    const QString path = QUrl::fromPercentEncoding(encodedPath);
    if (path.contains(u'\0'))
        return {};
    for (const QString& segment : path.split(u'/'))
        if (segment == u".." || segment == u".")
            return {};
    return path;
}

} // namespace qta::web
