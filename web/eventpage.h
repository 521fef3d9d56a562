// A page of a controller's event log (rejestr.dbf) as the console shows it:
// newest first, the rows of a period of days, a fixed number a page. The log
// is appended in the order of the controller's records, so its dates rise
// with the row number: the period's first and last rows are found by
// bisection, and a page costs the same on a table of years as on 500 rows.
#pragma once

#include "history/csvexport.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qta {
class TTable;
}

namespace qta::web {

struct TEventRow {
    int row = 0;       // the table's row, 0-based: what a remark names
    QStringList texts; // Data, Czas, Zdarzenie, Uwagi as the event-log window shows them
};

struct TEventPage {
    int total = 0; // rows in the period
    int page = 1;  // 1 = the newest
    int pages = 1; // at least one, also for an empty period
    QList<TEventRow> rows;
    QString problem; // Polish; set when the page cannot be given (nothing else is)
};

inline constexpr int kEventPageSize = 50;

// `page` from 1; a page past the last one (except the first of an empty
// period) is a problem, as is a period that ends before it starts.
TEventPage eventPage(const TTable& table, const TExportPeriod& period, int page,
                     int size = kEventPageSize);

// "od" / "do" of a request: "" (open) or "RRRR-MM-DD". Sets `problem` to a
// Polish message for anything else.
TExportPeriod periodFromQuery(const QString& from, const QString& to, QString& problem);

} // namespace qta::web
