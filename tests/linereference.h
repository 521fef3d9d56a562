// The literal way of charting linia.dbf, for comparison: every row read
// through the table layer, sorted by CZAS (equal times in table order).
#pragma once

#include "history/lineindex.h"
#include "tables/table.h"

#include <algorithm>
#include <vector>

namespace qta::test {

struct TRefRow {
    TWallMs t;
    qint64 row;
    std::array<int, 9> v;
};

inline std::vector<TRefRow> readSorted(const QString& path) {
    TTable t(path);
    t.Open();
    const int czas = t.fieldIndex(QStringLiteral("CZAS"));
    std::vector<TRefRow> rows;
    rows.reserve(size_t(t.RecordCount()));
    for (int r = 0; r < t.RecordCount(); ++r) {
        const QDateTime dt = t.dateTimeValue(r, czas);
        if (!dt.isValid())
            continue;
        TRefRow x{QDateTime(dt.date(), dt.time(), Qt::UTC).toMSecsSinceEpoch(), r, {}};
        for (int k = 0; k < 9; ++k)
            x.v[size_t(k)] = int(t.numberValue(r, czas + 1 + k));
        rows.push_back(x);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRefRow& a, const TRefRow& b) { return a.t < b.t; });
    return rows;
}

inline TWallMs wallMs(const QDateTime& wall) {
    return QDateTime(wall.date(), wall.time(), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace qta::test
