// One request as the console's handlers see it, and the answer they give:
// status, type, body and headers, written by the server with the security
// headers every answer carries.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

class QTcpSocket;

namespace qta::web {

struct THttpRequest {
    enum class Method { Get, Post, Other };
    Method method = Method::Other;
    QString path; // decoded, checked: starts with '/', no "..", no "//"
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    QHostAddress peer;
    bool tls = false;
    QByteArray header(const QByteArray& lowerName) const;
    QByteArray cookie(const QByteArray& name) const;
    // The origin this server is reached at, from Host: "https://host:port".
    QByteArray ownOrigin() const;
    bool wantsWebSocket() const;
};

struct THttpResponse {
    int status = 200;
    QByteArray type = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool noStore = true; // Cache-Control: no-store (data); static files are cacheable

    static THttpResponse json(const QJsonDocument& d, int status = 200);
    static THttpResponse json(const QJsonObject& o, int status = 200);
    // {"error": text} with `status`.
    static THttpResponse error(int status, const QString& text);
    static THttpResponse redirect(const QByteArray& to);
    // A file to save: `body` of `type` named `fileName` (ASCII).
    static THttpResponse attachment(const QByteArray& body, const QByteArray& type,
                                    const QByteArray& fileName);
    static THttpResponse csv(const QByteArray& body, const QByteArray& fileName) {
        return attachment(body, "text/csv; charset=utf-8", fileName);
    }
    // The whole answer on the wire (HTTP/1.1, with Content-Length).
    QByteArray serialize(bool head = false) const;
};

QByteArray reasonPhrase(int status);

// The security headers of every answer.
QList<QPair<QByteArray, QByteArray>> securityHeaders();

// The request target's path checked for tricks: encoded slashes, backslashes,
// dot segments, NUL, doubled slashes. Returns the decoded path, or an empty
// string when refused.
QString checkedPath(const QByteArray& encodedPath);

} // namespace qta::web
