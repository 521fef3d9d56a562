// The index behind the voltage charts. linia.dbf only grows and holds one row
// per status reply, tens of millions of rows after a year; a chart asks only
// for what it can draw: for each pixel column, the first, last, lowest and
// highest point of each of its three series (M4 aggregation), plus the nearest
// point beyond each edge, so that what it draws is what drawing every row
// would give.
//
// CZAS is the PC's wall time: it goes back an hour every autumn and whenever
// somebody sets the clock back, so the rows are not sorted by time. The index
// keeps them as runs of non-decreasing time and answers from every run that
// meets the query, which gives what sorting all rows by CZAS (rows of equal
// time in table order) gives.
//
// Block summaries (lowest and highest of each voltage per 64 rows, and per 64
// of those on each level up) let a query over a year touch a few thousand
// summaries and a few rows at the column edges. The index is built by one
// sequential pass and extended by the rows appended since, never rebuilt
// unless the file is no longer the table it indexed.
#pragma once

#include "history/linefile.h"

#include <array>
#include <functional>
#include <vector>

namespace qta {

struct TChartPoint {
    TWallMs t;
    int v;
};
// The points of the three phases of one line, each in time order.
using TChartSeries = std::array<std::vector<TChartPoint>, 3>;

// Rows [begin, end) of one run of non-decreasing time.
struct TRowSpan {
    qint64 begin, end;
};

// The chart's pixel columns: time t falls into column
// floor((t - t0) / (t1 - t0) * width + phase); columns 0 .. width-1 are drawn.
struct TColumns {
    TWallMs t0 = 0;
    TWallMs t1 = 1;
    int width = 1;
    double phase = 0.0;
    qint64 column(TWallMs t) const;
};

class TLineIndex {
public:
    static constexpr int kFanout = 64; // rows per lowest block, blocks per block above

    // Opens the table and indexes its complete rows (none with `rows` 0).
    // Raises ETable when it is not a line-voltage table.
    void open(const QString& path, qint64 rows = -1);
    // Indexes the rows appended since, up to `rows` (-1: every complete row).
    // When the file no longer matches (shorter, another header), it is opened
    // and indexed afresh. `progress` gets the rows done so far and may return
    // false to stop early (the index then holds the rows done).
    void extendTo(qint64 rows = -1, const std::function<bool(qint64)>& progress = {});

    bool isOpen() const { return file_.isOpen(); }
    qint64 rows() const { return rows_; }
    int runCount() const;
    // Bytes held for the index itself (not the mapping of the file).
    size_t memoryBytes() const;
    const TLineFile& file() const { return file_; }

    // Points to draw for line 1..3 over the columns.
    TChartSeries query(int line, const TColumns& columns) const;

    // Every row whose time lies in [t0, t1], in time order (equal times in
    // table order).
    void forEachInOrder(TWallMs t0, TWallMs t1, const std::function<void(qint64 row)>& f) const;
    // The same rows as spans, one per run that holds any, in table order. The
    // spans stay true while the table grows, so another thread can walk them
    // on a mapping of its own while this index is extended.
    std::vector<TRowSpan> spansIn(TWallMs t0, TWallMs t1) const;
    // Calls f for each row of the spans in time order (equal times in table
    // order) until f returns false; false when stopped so.
    static bool forEachInOrder(const TLineFile& file, const std::vector<TRowSpan>& spans,
                               const std::function<bool(qint64 row)>& f);
    // The row whose time is nearest to t (-1 when there is none).
    qint64 nearest(TWallMs t) const;

private:
    struct Run {
        qint64 begin, end; // rows [begin, end)
        TWallMs tmin, tmax;
        bool valid; // false: rows without a readable time, left out of charts
    };
    struct Summary {
        std::array<quint16, 9> lo, hi;
    };
    struct Aggregate;

    void indexRow(qint64 r);
    void rebuildUpperLevels(qint64 fromBlock);
    // First row of [run.begin, run.end) whose time satisfies `pred` (monotone:
    // false then true); run.end when none.
    template <class Pred> qint64 lowerBound(const Run& run, qint64 from, Pred pred) const;
    void rangeMinMax(qint64 a, qint64 b, const std::array<int, 3>& fields, std::array<int, 3>& lo,
                     std::array<int, 3>& hi) const;

    TLineFile file_;
    qint64 rows_ = 0;
    // Bytes of the last row indexed after its mark (which changes when the
    // row is committed), to notice a replaced file.
    QByteArray lastRow_;
    std::vector<Run> runs_;
    std::vector<TWallMs> samples_;             // time of every kFanout-th row
    std::vector<std::vector<Summary>> levels_; // levels_[0]: per kFanout rows
};

} // namespace qta
