// What an administrator sees: the activity log (a page at a time, or all of
// it as CSV) and the sessions, any of which they can end.
#include "web/console.h"

#include "web/sitejson.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qta::web {

THttpResponse TWebConsole::activityPage(const THttpRequest& r) {
    const int offset = std::max(0, r.query.queryItemValue(QStringLiteral("offset")).toInt());
    int limit = r.query.queryItemValue(QStringLiteral("limit")).toInt();
    limit = limit <= 0 ? 100 : std::min(limit, 500);
    const TActivityLog::TPage page = activity_->readPage(offset, limit);
    QJsonArray rows;
    for (const TActivityRecord& a : page.records)
        rows.append(QJsonObject{{"time", isoTimeWithOffset(a.time)},
                                {"user", a.user},
                                {"address", a.address},
                                {"action", a.action},
                                {"object", a.object},
                                {"result", a.result},
                                {"details", a.details}});
    return THttpResponse::json(
        QJsonObject{{"records", rows},
                    {"more", page.more},
                    {"problems", QJsonArray::fromStringList(page.problems)}});
}

THttpResponse TWebConsole::activityCsv(const THttpRequest& r, const TSession& s) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const QString why = activity_->exportCsv(&buffer);
    record(s.user, r.peer, QStringLiteral("eksport dziennika aktywności"), {},
           why.isEmpty() ? kSuccess : kFailed, why);
    if (!why.isEmpty())
        return THttpResponse::error(500, why);
    return THttpResponse::csv(buffer.data(), "aktywnosc.csv");
}

THttpResponse TWebConsole::sessionList(const TSession& own) const {
    QJsonArray list;
    for (const TSession& s : sessions_.all())
        list.append(QJsonObject{{"handle", QString::fromLatin1(s.handle)},
                                {"user", s.user},
                                {"role", roleDisplayName(s.role)},
                                {"address", s.address.toString()},
                                {"created", isoOrEmpty(s.created)},
                                {"lastSeen", isoOrEmpty(s.lastSeen)},
                                {"own", s.id == own.id}});
    return THttpResponse::json(QJsonObject{{"sessions", list}});
}

THttpResponse TWebConsole::endSession(const THttpRequest& r, const TSession& s) {
    const QByteArray handle =
        QJsonDocument::fromJson(r.body).object().value(u"handle").toString().toLatin1();
    const TSession* target = sessions_.findByHandle(handle);
    if (!target)
        return THttpResponse::error(404, QStringLiteral("Nie ma takiej sesji"));
    const QString whose = target->user;
    const QString by = s.user;
    const QHostAddress from = r.peer;
    sessions_.end(target->id, EndReason::EndedByAdmin); // s may be the one ended
    record(by, from, QStringLiteral("zakończenie sesji"), whose, kSuccess);
    return THttpResponse::json(QJsonObject{{"ok", true}});
}

} // namespace qta::web
