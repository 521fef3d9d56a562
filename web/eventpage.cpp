#include "web/eventpage.h"

#include "history/rejestrmodel.h"
#include "report/reportcontent.h"
#include "tables/table.h"

namespace qta::web {

namespace {

// The first row in [0, rows) whose DATA is not before `day` (after it when
// `after`), comparing "yyyy-MM-dd" texts, which sort as the days they name.
int bound(const TTable& t, int field, const QString& day, bool after) {
    int lo = 0, hi = t.RecordCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const QString d = t.stringValue(mid, field).left(10);
        if (after ? d <= day : d < day)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

} // namespace

TExportPeriod periodFromQuery(const QString& from, const QString& to, QString& problem) {
    TExportPeriod p;
    const auto take = [&](const QString& text, std::optional<QDate>& into, const char* which) {
        if (text.isEmpty() || !problem.isEmpty())
            return;
        into = parseExportDate(text);
        if (!into)
            problem = QStringLiteral("Data „%1” (%2) nie jest datą w postaci RRRR-MM-DD")
                          .arg(text.left(20), QLatin1String(which));
    };
    take(from, p.from, "od");
    take(to, p.to, "do");
    if (problem.isEmpty())
        problem = p.problem();
    return p;
}

TEventPage eventPage(const TTable& table, const TExportPeriod& period, int page, int size) {
    TEventPage out;
    if (const QString p = period.problem(); !p.isEmpty()) {
        out.problem = p;
        return out;
    }
    int fields[TRejestrModel::ColumnCount];
    const char* const names[] = {"DATA", "CZAS", "ZDARZENIE", "UWAGI"};
    for (int c = 0; c < TRejestrModel::ColumnCount; ++c)
        fields[c] = table.fieldIndex(QLatin1String(names[c]));
    int lo = 0, hi = table.RecordCount();
    if (period.from)
        lo = bound(table, fields[0], period.from->toString(Qt::ISODate), false);
    if (period.to)
        hi = bound(table, fields[0], period.to->toString(Qt::ISODate), true);
    out.total = std::max(0, hi - lo);
    out.pages = std::max(1, (out.total + size - 1) / size);
    out.page = page;
    if (page < 1 || page > out.pages) {
        out.problem = QStringLiteral("Nie ma strony %1: w tym okresie rejestr ma %2")
                          .arg(page)
                          .arg(polishCount(out.pages, "stronę", "strony", "stron"));
        return out;
    }
    const int first = hi - 1 - (page - 1) * size;
    const int last = std::max(lo, hi - page * size);
    for (int r = first; r >= last; --r) {
        TEventRow row;
        row.row = r;
        for (int c = 0; c < TRejestrModel::ColumnCount; ++c) {
            try {
                row.texts << (fields[c] < 0 ? QString() : table.stringValue(r, fields[c]));
            } catch (const ETable& e) {
                // As the window: a row that cannot be read says why.
                row.texts << (c == TRejestrModel::ColZdarzenie ? e.message() : QString());
            }
        }
        out.rows << row;
    }
    return out;
}

} // namespace qta::web
