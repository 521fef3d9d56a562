// The literal way of charting linia.dbf, for comparison: every row read
// through the table layer, sorted by CZAS (equal times in table order). A
// field the table layer reads as no number is a missing value (kNoVolts):
// no point; any other number counts by its integer part, 0 .. 65535.
#pragma once

#include "history/lineindex.h"
#include "tables/table.h"

#include <QFile>
#include <algorithm>
#include <cmath>
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
        for (int k = 0; k < 9; ++k) {
            const double v = t.numberValue(r, czas + 1 + k);
            x.v[size_t(k)] =
                std::isnan(v) ? kNoVolts : int(std::clamp(std::trunc(v), 0.0, 65535.0));
        }
        rows.push_back(x);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRefRow& a, const TRefRow& b) { return a.t < b.t; });
    return rows;
}

inline TWallMs wallMs(const QDateTime& wall) {
    return QDateTime(wall.date(), wall.time(), Qt::UTC).toMSecsSinceEpoch();
}

// Overwrites voltage field k (0..8) of rows [from, to) of a generated
// linia.dbf with `text` (five characters), as another program might leave it.
inline bool overwriteVolts(const QString& path, qint64 from, qint64 to, int k, const char* text) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const QByteArray h = f.read(12);
    const qint64 header = quint8(h[8]) | quint8(h[9]) << 8, record = quint8(h[10]) | quint8(h[11])
                                                                                         << 8;
    for (qint64 r = from; r < to; ++r)
        if (!f.seek(header + r * record + 9 + 5 * k) || f.write(text, 5) != 5)
            return false;
    return true;
}

} // namespace qta::test
