#include "email/mailplan.h"

#include <QJsonArray>
#include <algorithm>

namespace qta::email {

namespace {

QString boxKey(const QString& address) { return address.toLower(); }

QJsonValue timeJson(const QDateTime& t) {
    return t.isValid() ? QJsonValue(double(t.toMSecsSinceEpoch())) : QJsonValue();
}
QDateTime timeOf(const QJsonValue& v) {
    return v.isDouble() ? QDateTime::fromMSecsSinceEpoch(qint64(v.toDouble())) : QDateTime();
}
AlarmPriority priorityOf(const QJsonValue& v) {
    return v.toInt() == int(AlarmPriority::High) ? AlarmPriority::High : AlarmPriority::Medium;
}

QJsonObject eventJson(const TMailEvent& e) {
    return {{"controller", e.controller},
            {"identifier", e.identifier},
            {"time", timeJson(e.time)},
            {"alarm", e.alarm},
            {"priority", int(e.priority)},
            {"transition", int(e.transition)},
            {"who", e.who},
            {"remark", e.remark}};
}
TMailEvent eventOf(const QJsonObject& o) {
    TMailEvent e;
    e.controller = o["controller"].toString();
    e.identifier = o["identifier"].toString();
    e.time = timeOf(o["time"]);
    e.alarm = o["alarm"].toString();
    e.priority = priorityOf(o["priority"]);
    e.transition = AlarmTransition(std::clamp(o["transition"].toInt(), int(AlarmTransition::Raised),
                                              int(AlarmTransition::Unshelved)));
    e.who = o["who"].toString();
    e.remark = o["remark"].toString();
    return e;
}

QJsonObject alarmsJson(const TControllerAlarms& a) {
    QJsonArray waiting;
    for (const TWaitingAlarm& w : a.waiting)
        waiting.append(QJsonObject{{"alarm", w.alarm},
                                   {"priority", int(w.priority)},
                                   {"state", w.state},
                                   {"raised", timeJson(w.raised)}});
    return {{"controller", a.controller}, {"identifier", a.identifier}, {"waiting", waiting}};
}
TControllerAlarms alarmsOf(const QJsonObject& o) {
    TControllerAlarms a;
    a.controller = o["controller"].toString();
    a.identifier = o["identifier"].toString();
    for (const QJsonValue& v : o["waiting"].toArray()) {
        const QJsonObject w = v.toObject();
        a.waiting << TWaitingAlarm{w["alarm"].toString(), priorityOf(w["priority"]),
                                   w["state"].toString(), timeOf(w["raised"])};
    }
    return a;
}

} // namespace

TMailPlanner::TMailPlanner(const QList<TRecipient>& recipients, int perHour,
                           const TMailTimes& times)
    : recipients_(recipients), perHour_(std::max(1, perHour)), times_(times) {
    for (const TRecipient& r : recipients_)
        boxes_[boxKey(r.address)];
}

void TMailPlanner::add(const TMailEvent& e, const TControllerAlarms& alarms, qint64 nowMs) {
    controllers_[e.controller] = alarms;
    for (const TRecipient& r : recipients_) {
        if (!r.wants(e.priority))
            continue;
        Box& b = boxes_[boxKey(r.address)];
        if (b.events.isEmpty())
            b.opened = nowMs;
        b.events << e;
        if (b.events.size() > kMaxEvents) {
            b.events.removeFirst();
            ++b.omitted;
        }
    }
}

void TMailPlanner::prune(Box& b, qint64 nowMs) const {
    while (!b.sent.empty() && b.sent.front() + times_.hourMs <= nowMs)
        b.sent.pop_front();
}

qint64 TMailPlanner::allowedAt(const Box& b) const {
    if (int(b.sent.size()) < perHour_)
        return 0;
    return b.sent[b.sent.size() - size_t(perHour_)] + times_.hourMs;
}

qint64 TMailPlanner::dueAt(const Box& b) const {
    return std::max(b.opened + times_.groupMs, allowedAt(b));
}

qint64 TMailPlanner::nextDue() const {
    qint64 next = -1;
    for (const auto& [key, b] : boxes_)
        if (!b.events.isEmpty() && (next < 0 || dueAt(b) < next))
            next = dueAt(b);
    return next;
}

QList<TMailOut> TMailPlanner::due(qint64 nowMs) {
    QList<TMailOut> out;
    for (const TRecipient& r : recipients_) {
        Box& b = boxes_[boxKey(r.address)];
        if (b.events.isEmpty() || dueAt(b) > nowMs)
            continue;
        TMailContent c;
        c.summary = allowedAt(b) > b.opened + times_.groupMs; // the limit held it back
        prune(b, nowMs);
        c.events = b.events;
        c.omitted = b.omitted;
        std::stable_sort(c.events.begin(), c.events.end(),
                         [](const TMailEvent& x, const TMailEvent& y) { return x.time < y.time; });
        for (const TMailEvent& e : c.events) {
            const bool listed =
                std::any_of(c.controllers.begin(), c.controllers.end(),
                            [&](const auto& k) { return k.controller == e.controller; });
            if (listed)
                continue;
            TControllerAlarms k = controllers_.count(e.controller)
                                      ? controllers_[e.controller]
                                      : TControllerAlarms{e.controller, e.identifier, {}};
            k.waiting.removeIf([&](const TWaitingAlarm& w) { return !r.wants(w.priority); });
            c.controllers << k;
        }
        b.sent.push_back(nowMs);
        if (int(b.sent.size()) >= perHour_)
            c.limitUntil = QDateTime::fromMSecsSinceEpoch(allowedAt(b));
        b.events.clear();
        b.omitted = 0;
        out << TMailOut{r.address, c};
    }
    return out;
}

QJsonObject TMailPlanner::save() const {
    QJsonObject boxes;
    for (const auto& [key, b] : boxes_) {
        QJsonArray events, sent;
        for (const TMailEvent& e : b.events)
            events.append(eventJson(e));
        for (const qint64 t : b.sent)
            sent.append(double(t));
        boxes.insert(key, QJsonObject{{"events", events},
                                      {"opened", double(b.opened)},
                                      {"omitted", b.omitted},
                                      {"sent", sent}});
    }
    QJsonArray controllers;
    for (const auto& [name, a] : controllers_)
        controllers.append(alarmsJson(a));
    return {{"boxes", boxes}, {"controllers", controllers}};
}

void TMailPlanner::load(const QJsonObject& state) {
    const QJsonObject boxes = state["boxes"].toObject();
    for (auto& [key, b] : boxes_) {
        const QJsonObject o = boxes[key].toObject();
        b = Box{};
        for (const QJsonValue& v : o["events"].toArray())
            b.events << eventOf(v.toObject());
        b.opened = qint64(o["opened"].toDouble());
        b.omitted = std::max(0, o["omitted"].toInt());
        for (const QJsonValue& v : o["sent"].toArray())
            b.sent.push_back(qint64(v.toDouble()));
        std::sort(b.sent.begin(), b.sent.end());
    }
    for (const QJsonValue& v : state["controllers"].toArray()) {
        const TControllerAlarms a = alarmsOf(v.toObject());
        if (!a.controller.isEmpty())
            controllers_[a.controller] = a;
    }
}

} // namespace qta::email
