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
// summaries and a few rows at the column edges. A field without a number is
// a missing value: each phase's line runs through its own points only, and a
// block where a voltage is missing on every row says so (lowest above highest).
//
// The index is built by one pass over the table (history/linebuild.cpp: the
// rows read in large pieces, on every core) and extended by the rows appended
// since, never rebuilt unless the file is no longer the table it indexed. It
// can be kept next to the table (history/lineindexfile.h), so that the next
// program run reads it and only the rows appended since.
#pragma once

#include "history/linefile.h"
#include "history/linescan.h"

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

// The lowest and highest of each voltage over some rows (see
// TLineIndex::extremes).
struct TVoltExtremes {
    qint64 rows = 0; // rows looked at; lo and hi hold nothing when 0
    std::array<int, 9> lo{};
    std::array<int, 9> hi{};
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

    // What openKept() made of the index kept in a file.
    struct TKept {
        qint64 loaded = 0; // rows taken from the file; the rest were read from the table
        QString refused;   // why a file that is there was not used (empty otherwise)
    };
    // Opens the table as open() does, starting from the index kept in the
    // file `kept` when that is the index of the table's first rows; a missing,
    // damaged or stale file is left aside and the table is read whole.
    TKept openKept(const QString& path, const QString& kept, qint64 rows = -1,
                   const std::function<bool(qint64)>& progress = {});

    // How the rows are read: on `threads` cores (0: every one) in pieces of
    // `pieceRows` rows (a multiple of kFanout; 0: about a million), or one row
    // after another through TLineFile on one thread (`rowByRow`, the way of
    // the first versions, kept for comparison in bench_chart).
    void setBuild(int threads, qint64 pieceRows = 0, bool rowByRow = false) {
        threads_ = threads;
        pieceRows_ = pieceRows;
        rowByRow_ = rowByRow;
    }

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
    // The row whose time is nearest to t (-1 when there is none); with line
    // 1..3 only rows holding at least one voltage of that line count.
    qint64 nearest(TWallMs t, int line = 0) const;
    // The lowest and highest of N1L1 .. N3L3 (0..8) over the rows whose time
    // lies in [t0, t1], from the block summaries and a few rows at the edges.
    // Rows of nine zeros (the program's start and end marks: nothing was
    // measured) and fields without a number are left out; a voltage with no
    // number in any row keeps its lowest above its highest.
    TVoltExtremes extremes(TWallMs t0, TWallMs t1) const;
    // The earliest and latest readable time; false when no row has one.
    bool timeRange(TWallMs& first, TWallMs& last) const;

private:
    struct Run {
        qint64 begin, end; // rows [begin, end)
        TWallMs tmin, tmax;
        bool valid; // false: rows without a readable time, left out of charts
    };
    using Summary = TBlockSummary;
    struct Aggregate;
    struct Piece;
    friend class TLineIndexFile;

    void clear();
    void indexRow(qint64 r);
    // Rows [rows_, target) from rows_ on a block boundary: in pieces, on the
    // cores there are.
    void scanRows(qint64 target, const std::function<bool(qint64)>& progress);
    void scanPiece(Piece& piece, QFile& in, std::vector<char>& buffer);
    // A row with time t after the runs so far.
    static void addRow(std::vector<Run>& runs, qint64 r, TWallMs t);
    // Runs of the rows that follow, joined on to `runs`.
    static void addRuns(std::vector<Run>& runs, const std::vector<Run>& next);
    void rebuildUpperLevels(qint64 fromBlock);
    // Finds the rows of nine zeros from lowest block `fromBlock` on (only
    // blocks whose nine lowest values are all 0 can hold one).
    void collectZeroRows(qint64 fromBlock);
    // Room for n elements, and some more for the rows to come, so that a
    // large vector is not copied for a few more.
    template <class T> static void reserveFor(std::vector<T>& v, size_t n) {
        if (v.capacity() < n)
            v.reserve(n + n / 16 + 1024);
    }
    // First row of [run.begin, run.end) whose time satisfies `pred` (monotone:
    // false then true); run.end when none.
    template <class Pred> qint64 lowerBound(const Run& run, qint64 from, Pred pred) const;
    template <size_t N>
    void rangeMinMax(qint64 a, qint64 b, const std::array<int, N>& fields, std::array<int, N>& lo,
                     std::array<int, N>& hi) const;
    // Rows and blocks holding a value of any field in the bit set `fields`
    // (bit k: voltage k).
    bool holds(qint64 row, unsigned fields) const;
    // First such row of [a, b) (b when none) and last one (-1 when none).
    qint64 firstHolding(qint64 a, qint64 b, unsigned fields) const;
    qint64 lastHolding(qint64 a, qint64 b, unsigned fields) const;
    // The same for blocks [A, B) of a level: an index or -1.
    qint64 firstBlock(size_t level, qint64 A, qint64 B, unsigned fields) const;
    qint64 lastBlock(size_t level, qint64 A, qint64 B, unsigned fields) const;

    TLineFile file_;
    qint64 rows_ = 0;
    // Bytes of the last row indexed after its mark (which changes when the
    // row is committed), to notice a replaced file.
    QByteArray lastRow_;
    std::vector<Run> runs_;
    std::vector<TWallMs> samples_;             // time of every kFanout-th row
    std::vector<std::vector<Summary>> levels_; // levels_[0]: per kFanout rows
    std::vector<qint64> zeroRows_;             // rows of nine zeros, in order
    int threads_ = 0;
    qint64 pieceRows_ = 0;
    bool rowByRow_ = false;
};

} // namespace qta
