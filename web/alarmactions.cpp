// What an operator does to alarms from a page: acknowledge one (with an
// optional remark), acknowledge all of one controller, shelve one for an
// hour. Each goes to the controller's alarm engine in the user's name with
// the channel "www", and to the activity log.
#include "web/console.h"

#include "alarms/alarmengine.h"
#include "web/sitejson.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace qta::web {

namespace {
std::optional<TSiteUnit> unitNamed(const TSite& site, const QString& name) {
    for (const TSiteUnit& u : site.units())
        if (u.name == name)
            return u;
    return std::nullopt;
}
} // namespace

THttpResponse TWebConsole::controllerTile(const QString& name) {
    const auto u = unitNamed(site_, name);
    if (!u)
        return THttpResponse::error(404, QStringLiteral("Nie ma sterownika %1").arg(name.left(64)));
    TTileMemory memory;
    QJsonObject o = memory.tile(*u);
    o[u"alarms"] = alarmsJson(*u);
    return THttpResponse::json(o);
}

THttpResponse TWebConsole::alarmAction(const QString& action, const THttpRequest& r,
                                       const TSession& s) {
    const QString what = action == u"ack"       ? QStringLiteral("potwierdzenie alarmu")
                         : action == u"ack-all" ? QStringLiteral("potwierdzenie wszystkich alarmów")
                                                : QStringLiteral("wyciszenie alarmu na 1 h");
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    const QString controller = o.value(u"controller").toString();
    const QString key = o.value(u"key").toString().left(64);
    const QString remark = o.value(u"remark").toString();
    const QString object = action == u"ack-all" ? controller.left(64)
                                                : controller.left(64) + QStringLiteral(": ") + key;
    if (!roleAllows(s.role, Role::Operator)) {
        record(s.user, r.peer, what, object, kRefused,
               QStringLiteral("rola %1").arg(roleKeyword(s.role)));
        return THttpResponse::error(403, QStringLiteral("Brak uprawnień"));
    }
    const auto u = unitNamed(site_, controller);
    if (!u)
        return THttpResponse::error(
            404, QStringLiteral("Nie ma sterownika %1").arg(controller.left(64)));
    TAlarmEngine& engine = u->core->Alarmy;
    const QString who = TAlarmEngine::channelUser(s.user, QStringLiteral("www"));
    QString problem;
    int count = 0;
    if (action == u"ack-all") {
        if (const QString p = TAlarmJournal::remarkProblem(remark); !p.isEmpty())
            problem = p;
        else
            count = engine.acknowledgeAll(who, remark);
    } else {
        if (!engine.alarm(key))
            return THttpResponse::error(404, QStringLiteral("Nie ma takiego alarmu"));
        problem = action == u"ack" ? engine.acknowledge(key, remark, who) : engine.shelve(key, who);
        count = problem.isEmpty() ? 1 : 0;
    }
    record(s.user, r.peer, what, object, problem.isEmpty() ? kSuccess : kRefused,
           problem.isEmpty() ? remark : problem);
    hub_.markDirty(controller);
    if (!problem.isEmpty())
        return THttpResponse::error(409, problem);
    return THttpResponse::json(QJsonObject{{"ok", true}, {"count", count}});
}

} // namespace qta::web
