#include "report/reportsummary.h"

#include "report/reportdata.h"

#include <algorithm>
#include <map>

namespace qta {

QString eventKind(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QStringLiteral("(zdarzenie nieznane)");
    const qsizetype dot = t.indexOf(u'.');
    return dot < 0 ? t : t.left(dot).trimmed();
}

std::vector<TEventCount> countEventKinds(const std::vector<TReportEvent>& events) {
    std::map<QString, int> n;
    for (const TReportEvent& e : events)
        ++n[eventKind(e.text)];
    std::vector<TEventCount> out;
    for (const auto& [kind, count] : n)
        out.push_back({kind, count});
    std::stable_sort(out.begin(), out.end(),
                     [](const TEventCount& a, const TEventCount& b) { return a.count > b.count; });
    return out;
}

namespace {
bool beginsNoGoodLine(const QString& text) {
    return text.startsWith(QStringLiteral("Brak dobrych linii zasilających"));
}
bool endsNoGoodLine(const QString& text) {
    return text.endsWith(QStringLiteral("została zakwalifikowana jako dobra"));
}
} // namespace

std::optional<TNoGoodLine> longestWithoutGoodLine(const std::vector<TReportEvent>& events,
                                                  const QDateTime& periodEnd, int* count) {
    std::optional<TNoGoodLine> best;
    std::optional<QDateTime> since;
    int began = 0;
    const auto close = [&](const QDateTime& to, bool open) {
        const TNoGoodLine t{*since, std::max(*since, to), open};
        if (!best || t.minutes() > best->minutes())
            best = t;
        since.reset();
    };
    for (const TReportEvent& e : events) {
        if (!e.when.isValid())
            continue;
        if (beginsNoGoodLine(e.text) && !since) {
            since = e.when;
            ++began;
        } else if (endsNoGoodLine(e.text) && since) {
            close(e.when, false);
        }
    }
    if (since)
        close(periodEnd, true);
    if (count)
        *count = began;
    return best;
}

QString durationText(qint64 minutes) {
    const qint64 days = minutes / 1440, hours = minutes % 1440 / 60, mins = minutes % 60;
    QStringList parts;
    if (days > 0)
        parts << (days == 1 ? QStringLiteral("1 dzień") : QStringLiteral("%1 dni").arg(days));
    if (hours > 0)
        parts << QStringLiteral("%1 h").arg(hours);
    if (mins > 0 || parts.isEmpty())
        parts << QStringLiteral("%1 min").arg(mins);
    return parts.join(u' ');
}

} // namespace qta
