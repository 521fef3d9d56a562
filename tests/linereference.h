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

// What differs between the answers of two indexes of the same table: the
// points of every line over a few windows, the nearest rows and the spans
// (empty when nothing does).
inline QString differences(const TLineIndex& a, const TLineIndex& b) {
    if (a.rows() != b.rows() || a.runCount() != b.runCount())
        return QStringLiteral("rows %1/%2, runs %3/%4")
            .arg(a.rows())
            .arg(b.rows())
            .arg(a.runCount())
            .arg(b.runCount());
    if (a.rows() == 0)
        return {};
    const TLineFile& f = a.file();
    const TWallMs first = f.time(0), last = f.time(a.rows() - 1), mid = f.time(a.rows() / 2);
    const TColumns windows[] = {{first - 60000, last + 60000, 754, 0.5},
                                {first, last, 13, 0.0},
                                {mid - 3600000, mid + 3600000, 754, 0.5},
                                {last - 3600000, last, 754, 0.5}};
    for (const TColumns& c : windows)
        for (int line = 1; line <= 3; ++line) {
            const TChartSeries x = a.query(line, c), y = b.query(line, c);
            for (size_t p = 0; p < 3; ++p)
                if (!std::equal(x[p].begin(), x[p].end(), y[p].begin(), y[p].end(),
                                [](const TChartPoint& u, const TChartPoint& v) {
                                    return u.t == v.t && u.v == v.v;
                                }))
                    return QStringLiteral("line %1 phase %2 over %3 .. %4")
                        .arg(line)
                        .arg(p + 1)
                        .arg(c.t0)
                        .arg(c.t1);
        }
    for (TWallMs t : {first, mid, last + 3600000})
        for (int line = 0; line <= 3; ++line)
            if (a.nearest(t, line) != b.nearest(t, line))
                return QStringLiteral("nearest row to %1, line %2").arg(t).arg(line);
    const auto spans = [](const TLineIndex& i, TWallMs t0, TWallMs t1) {
        std::vector<std::pair<qint64, qint64>> out;
        for (const TRowSpan& s : i.spansIn(t0, t1))
            out.emplace_back(s.begin, s.end);
        return out;
    };
    if (spans(a, first, last) != spans(b, first, last))
        return QStringLiteral("spans");
    return {};
}

} // namespace qta::test
