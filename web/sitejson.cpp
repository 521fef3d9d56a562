#include "web/sitejson.h"

#include "alarms/alarm.h"
#include "link/eventrecord.h"
#include "mimic/mimicview.h"
#include "tables/table.h"

namespace qta::web {

QString isoOrEmpty(const QDateTime& t) { return t.isValid() ? t.toString(Qt::ISODate) : QString(); }

namespace {
QString stateCode(AlarmState s) {
    switch (s) {
    case AlarmState::ActiveUnacked: return QStringLiteral("aktywny");
    case AlarmState::ActiveAcked: return QStringLiteral("potwierdzony");
    case AlarmState::ClearedUnacked: return QStringLiteral("ustapil");
    case AlarmState::Normal: return QStringLiteral("normalny");
    }
    return {};
}
} // namespace

QJsonObject TTileMemory::tile(const TSiteUnit& u) {
    Memory& m = memory_[u.name];
    TQTA504Core& c = *u.core;
    const bool up = c.UART_Connect;
    if (up)
        m.everUp = true;
    else if (m.up || (!m.lostSince.isValid() && m.everUp))
        m.lostSince = QDateTime::currentDateTime();
    if (up)
        m.lostSince = {};
    m.up = up;

    if (TTable* t = c.Rejestr(); t && t->Active() && t->RecordCount() != m.rows) {
        m.rows = t->RecordCount();
        if (m.rows > 0) {
            const int r = m.rows - 1;
            m.eventTime =
                (t->stringValue(r, t->fieldIndex(QStringLiteral("DATA"))).trimmed() + u' ' +
                 t->stringValue(r, t->fieldIndex(QStringLiteral("CZAS"))).trimmed())
                    .trimmed();
            m.eventText = t->stringValue(r, t->fieldIndex(QStringLiteral("ZDARZENIE"))).trimmed();
        }
    }

    QJsonObject o;
    o[u"name"] = u.name;
    o[u"id"] = c.Konfig.Id.trimmed();
    o[u"port"] = u.port;
    o[u"link"] = up         ? QStringLiteral("up")
                 : m.everUp ? QStringLiteral("lost")
                            : QStringLiteral("none");
    o[u"lostSince"] = isoOrEmpty(m.lostSince);
    const bool known = m.everUp; // program and lines mean something once read
    o[u"program"] = known ? programCodeText(c.Aktywny_Program) : QString();
    o[u"active"] = known ? activeLineCodeText(c.Aktywna_Linia) : QString();
    QJsonArray lines;
    for (int n = 1; n <= 3 && known; ++n) {
        if (c.Aktywny_Program != 0 && !programUsesLine(c.Aktywny_Program, n))
            continue;
        const int bits = c.linia(n).Status;
        lines.append(QJsonObject{{"name", lineName(c.Aktywny_Program, n)},
                                 {"state", lineStateText(bits)},
                                 {"code", bits}});
    }
    o[u"lines"] = lines;
    int unacked = 0;
    QString top;
    for (const TAlarm& a : c.Alarmy.listed()) {
        if (!a.unacknowledged() || a.shelved())
            continue;
        ++unacked;
        if (a.priority == AlarmPriority::High)
            top = QStringLiteral("wysoki");
        else if (top.isEmpty())
            top = QStringLiteral("sredni");
    }
    o[u"unacked"] = unacked;
    o[u"top"] = top;
    o[u"eventTime"] = m.eventTime;
    o[u"eventText"] = m.eventText;
    // The mimic of the program it runs, by the desktop window's rules.
    if (const TMimicLayout* layout = known ? mimicLayout(c.Aktywny_Program) : nullptr) {
        if (m.mimicProgram != layout->program)
            m.diagram = TMimicLayout::kOff; // a new window starts with the all-off picture
        m.mimicProgram = layout->program;
        // The window holds the picture for its first 2.75 s without link.
        const bool downLong =
            !up && (!m.lostSince.isValid() ||
                    m.lostSince.msecsTo(QDateTime::currentDateTime()) >= kBlankAfterMs);
        const TMimicView view = mimicView(*layout, c, m.diagram, downLong);
        QStringList shown(view.shown.begin(), view.shown.end());
        shown.sort();
        QJsonObject readings;
        for (auto it = view.readings.begin(); it != view.readings.end(); ++it)
            readings[it.key()] = it.value();
        QJsonArray volts;
        for (const TPanelLayout& pl : layout->panels) {
            const TLinia1& line = c.linia(pl.line);
            volts.append(QJsonArray{line.U[1], line.U[2], line.U[3]});
        }
        o[u"mimic"] = QJsonObject{{"program", layout->program},
                                  {"shown", QJsonArray::fromStringList(shown)},
                                  {"readings", readings},
                                  {"volts", volts}};
    }
    return o;
}

QJsonArray alarmsJson(const TSiteUnit& u) {
    QJsonArray list;
    for (const TAlarm& a : u.core->Alarmy.listed()) {
        list.append(QJsonObject{
            {"controller", u.name},
            {"key", a.key},
            {"text", a.text},
            {"priority", a.priority == AlarmPriority::High ? QStringLiteral("wysoki")
                                                           : QStringLiteral("sredni")},
            {"priorityText", priorityText(a.priority)},
            {"state", a.shelved() ? QStringLiteral("wyciszony") : stateCode(a.state)},
            {"stateText",
             a.shelved() ? QStringLiteral("wyciszony") : stateText(a.state, a.notification())},
            {"unacked", a.unacknowledged()},
            {"raised", isoOrEmpty(a.raised)},
            {"cleared", isoOrEmpty(a.cleared)},
            {"shelvedUntil", isoOrEmpty(a.shelvedUntil)},
            {"who", a.who},
            {"remark", a.remark},
        });
    }
    return list;
}

} // namespace qta::web
