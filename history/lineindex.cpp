#include "history/lineindex.h"

#include "tables/table.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <queue>

namespace qta {

namespace {
constexpr qint64 F = TLineIndex::kFanout;
// A column with this many rows or fewer is drawn from its rows themselves.
constexpr int kFew = 4;
} // namespace

qint64 TColumns::column(TWallMs t) const {
    return qint64(std::floor(double(t - t0) / double(t1 - t0) * width + phase));
}

// What one pixel column holds, over every run.
struct TLineIndex::Aggregate {
    qint64 count = 0;
    TWallMs tf = 0, tl = 0; // first and last point: least and greatest (time, row)
    qint64 rf = -1, rl = -1;
    std::array<int, 3> lo{65535, 65535, 65535};
    std::array<int, 3> hi{0, 0, 0};
    std::array<qint64, kFew> few{}; // the rows themselves while count <= kFew
};

void TLineIndex::open(const QString& path, qint64 rows) {
    file_.open(path);
    rows_ = 0;
    lastRow_.clear();
    runs_.clear();
    samples_.clear();
    levels_.assign(1, {});
    extendTo(rows);
}

int TLineIndex::runCount() const {
    return int(std::count_if(runs_.begin(), runs_.end(), [](const Run& r) { return r.valid; }));
}

size_t TLineIndex::memoryBytes() const {
    size_t n = samples_.capacity() * sizeof(TWallMs) + runs_.capacity() * sizeof(Run);
    for (const auto& l : levels_)
        n += l.capacity() * sizeof(Summary);
    return n;
}

void TLineIndex::extendTo(qint64 rows, const std::function<bool(qint64)>& progress) {
    if (!file_.isOpen())
        throw ETable(QStringLiteral("Indeks tabeli napięć nie jest otwarty"));
    const auto sameTable = [this] {
        return rows_ == 0 || (file_.mappedRows() >= rows_ &&
                              QByteArray::fromRawData(file_.row(rows_ - 1) + 1,
                                                      file_.recordLength() - 1) == lastRow_);
    };
    if (!file_.remap() || !sameTable()) {
        // Not the table that was indexed any more: start again on what is there.
        open(file_.path(), rows);
        return;
    }
    const qint64 available = file_.completeRows();
    const qint64 target = rows < 0 ? available : std::min(rows, file_.mappedRows());
    const qint64 from = rows_;
    for (qint64 r = from; r < target; ++r) {
        if (progress && (r - from) % (1 << 20) == 0 && r > from && !progress(r))
            break;
        indexRow(r);
    }
    if (rows_ > from) {
        rebuildUpperLevels(from / F);
        lastRow_ = QByteArray(file_.row(rows_ - 1) + 1, file_.recordLength() - 1);
    }
}

void TLineIndex::indexRow(qint64 r) {
    const TWallMs t = file_.time(r);
    if (r % F == 0) {
        samples_.push_back(t);
        Summary s;
        for (int k = 0; k < 9; ++k)
            s.lo[size_t(k)] = s.hi[size_t(k)] = quint16(file_.volts(r, k));
        levels_[0].push_back(s);
    } else {
        Summary& s = levels_[0].back();
        for (int k = 0; k < 9; ++k) {
            const auto v = quint16(file_.volts(r, k));
            s.lo[size_t(k)] = std::min(s.lo[size_t(k)], v);
            s.hi[size_t(k)] = std::max(s.hi[size_t(k)], v);
        }
    }
    const bool valid = t != kNoTime;
    if (!runs_.empty() && runs_.back().valid == valid && (!valid || t >= runs_.back().tmax)) {
        runs_.back().end = r + 1;
        runs_.back().tmax = valid ? t : kNoTime;
    } else {
        runs_.push_back({r, r + 1, t, t, valid});
    }
    rows_ = r + 1;
}

void TLineIndex::rebuildUpperLevels(qint64 fromBlock) {
    qint64 from = fromBlock / F;
    for (size_t level = 1; levels_[level - 1].size() > 1; ++level) {
        if (levels_.size() <= level)
            levels_.emplace_back();
        const auto& below = levels_[level - 1];
        auto& here = levels_[level];
        const qint64 n = (qint64(below.size()) + F - 1) / F;
        here.resize(size_t(n));
        for (qint64 k = from; k < n; ++k) {
            Summary s = below[size_t(k * F)];
            const qint64 end = std::min<qint64>(qint64(below.size()), (k + 1) * F);
            for (qint64 c = k * F + 1; c < end; ++c)
                for (size_t i = 0; i < 9; ++i) {
                    s.lo[i] = std::min(s.lo[i], below[size_t(c)].lo[i]);
                    s.hi[i] = std::max(s.hi[i], below[size_t(c)].hi[i]);
                }
            here[size_t(k)] = s;
        }
        from /= F;
    }
}

template <class Pred> qint64 TLineIndex::lowerBound(const Run& run, qint64 from, Pred pred) const {
    qint64 lo = from, hi = run.end; // the answer lies in [lo, hi]
    if (hi - lo > 2 * F) {
        // Narrow down on the sampled times held in memory, then finish on the rows.
        const qint64 kLo = (lo + F - 1) / F, kHi = (hi - 1) / F;
        qint64 a = kLo, b = kHi + 1;
        while (a < b) {
            const qint64 m = a + (b - a) / 2;
            if (pred(samples_[size_t(m)]))
                b = m;
            else
                a = m + 1;
        }
        if (a <= kHi) {
            hi = a * F;
            if (a > kLo)
                lo = (a - 1) * F + 1;
        } else {
            lo = kHi * F + 1;
        }
    }
    while (lo < hi) {
        const qint64 m = lo + (hi - lo) / 2;
        if (pred(file_.time(m)))
            hi = m;
        else
            lo = m + 1;
    }
    return lo;
}

void TLineIndex::rangeMinMax(qint64 a, qint64 b, const std::array<int, 3>& fields,
                             std::array<int, 3>& lo, std::array<int, 3>& hi) const {
    const auto row = [&](qint64 r) {
        for (size_t p = 0; p < 3; ++p) {
            const int v = file_.volts(r, fields[p]);
            lo[p] = std::min(lo[p], v);
            hi[p] = std::max(hi[p], v);
        }
    };
    const auto block = [&](const Summary& s) {
        for (size_t p = 0; p < 3; ++p) {
            lo[p] = std::min<int>(lo[p], s.lo[size_t(fields[p])]);
            hi[p] = std::max<int>(hi[p], s.hi[size_t(fields[p])]);
        }
    };
    // The ragged ends row by row, then whole blocks, widest level first
    // where the range covers them.
    while (a < b && a % F != 0)
        row(a++);
    while (a < b && b % F != 0)
        row(--b);
    qint64 A = a / F, B = b / F;
    for (size_t level = 0; A < B; ++level) {
        const auto& blocks = levels_[level];
        if (level + 1 == levels_.size()) {
            for (qint64 k = A; k < B; ++k)
                block(blocks[size_t(k)]);
            break;
        }
        while (A < B && A % F != 0)
            block(blocks[size_t(A++)]);
        while (A < B && B % F != 0)
            block(blocks[size_t(--B)]);
        A /= F;
        B /= F;
    }
}

TChartSeries TLineIndex::query(int line, const TColumns& cols) const {
    TChartSeries out;
    if (cols.width <= 0 || cols.t1 <= cols.t0 || line < 1 || line > 3)
        return out;
    const qint64 W = cols.width;
    const std::array<int, 3> fields{3 * (line - 1), 3 * (line - 1) + 1, 3 * (line - 1) + 2};
    std::vector<Aggregate> agg(static_cast<size_t>(W));
    qint64 leftRow = -1, rightRow = -1;
    TWallMs leftT = 0, rightT = 0;

    for (const Run& run : runs_) {
        if (!run.valid)
            continue;
        const qint64 b0 =
            lowerBound(run, run.begin, [&](TWallMs t) { return cols.column(t) >= 0; });
        if (b0 > run.begin) {
            const TWallMs t = file_.time(b0 - 1);
            if (leftRow < 0 || t > leftT || (t == leftT && b0 - 1 > leftRow))
                leftRow = b0 - 1, leftT = t;
        }
        const qint64 bW = lowerBound(run, b0, [&](TWallMs t) { return cols.column(t) >= W; });
        if (bW < run.end) {
            const TWallMs t = file_.time(bW);
            if (rightRow < 0 || t < rightT)
                rightRow = bW, rightT = t;
        }
        for (qint64 b = b0; b < bW;) {
            const TWallMs tb = file_.time(b);
            const qint64 c = std::clamp<qint64>(cols.column(tb), 0, W - 1);
            const qint64 e =
                c + 1 >= W ? bW
                           : lowerBound(run, b, [&](TWallMs t) { return cols.column(t) >= c + 1; });
            Aggregate& g = agg[size_t(c)];
            for (qint64 r = b; r < e && g.count + (r - b) < kFew; ++r)
                g.few[size_t(g.count + (r - b))] = r;
            g.count += e - b;
            if (g.rf < 0 || tb < g.tf)
                g.rf = b, g.tf = tb;
            const TWallMs te = file_.time(e - 1);
            if (g.rl < 0 || te >= g.tl)
                g.rl = e - 1, g.tl = te;
            rangeMinMax(b, e, fields, g.lo, g.hi);
            b = e;
        }
    }

    const auto push = [&](TWallMs t, qint64 r) {
        for (size_t p = 0; p < 3; ++p)
            out[p].push_back({t, file_.volts(r, fields[p])});
    };
    if (leftRow >= 0)
        push(leftT, leftRow);
    for (Aggregate& g : agg) {
        if (g.count == 0)
            continue;
        if (g.count <= kFew) {
            const auto n = size_t(g.count);
            std::sort(g.few.begin(), g.few.begin() + long(n), [&](qint64 x, qint64 y) {
                const TWallMs tx = file_.time(x), ty = file_.time(y);
                return tx != ty ? tx < ty : x < y;
            });
            for (size_t i = 0; i < n; ++i)
                push(file_.time(g.few[i]), g.few[i]);
            continue;
        }
        // First, the extremes in the middle, last: the line passes through
        // every pixel between the lowest and the highest point of the column.
        const TWallMs tm = g.tf + (g.tl - g.tf) / 2;
        for (size_t p = 0; p < 3; ++p) {
            const int vf = file_.volts(g.rf, fields[p]);
            out[p].push_back({g.tf, vf});
            if (std::abs(vf - g.lo[p]) <= std::abs(vf - g.hi[p])) {
                out[p].push_back({tm, g.lo[p]});
                out[p].push_back({tm, g.hi[p]});
            } else {
                out[p].push_back({tm, g.hi[p]});
                out[p].push_back({tm, g.lo[p]});
            }
            out[p].push_back({g.tl, file_.volts(g.rl, fields[p])});
        }
    }
    if (rightRow >= 0)
        push(rightT, rightRow);
    return out;
}

std::vector<TRowSpan> TLineIndex::spansIn(TWallMs t0, TWallMs t1) const {
    std::vector<TRowSpan> spans;
    for (const Run& run : runs_) {
        if (!run.valid || run.tmax < t0 || run.tmin > t1)
            continue;
        const qint64 b = lowerBound(run, run.begin, [&](TWallMs t) { return t >= t0; });
        const qint64 e = lowerBound(run, b, [&](TWallMs t) { return t > t1; });
        if (b < e)
            spans.push_back({b, e});
    }
    return spans;
}

bool TLineIndex::forEachInOrder(const TLineFile& file, const std::vector<TRowSpan>& spans,
                                const std::function<bool(qint64 row)>& f) {
    struct Cursor {
        TWallMs t;
        qint64 r, end;
    };
    const auto later = [](const Cursor& x, const Cursor& y) {
        return x.t != y.t ? x.t > y.t : x.r > y.r;
    };
    std::priority_queue<Cursor, std::vector<Cursor>, decltype(later)> heap(later);
    for (const TRowSpan& s : spans)
        if (s.begin < s.end)
            heap.push({file.time(s.begin), s.begin, s.end});
    while (!heap.empty()) {
        Cursor c = heap.top();
        heap.pop();
        if (!f(c.r))
            return false;
        if (++c.r < c.end) {
            c.t = file.time(c.r);
            heap.push(c);
        }
    }
    return true;
}

void TLineIndex::forEachInOrder(TWallMs t0, TWallMs t1,
                                const std::function<void(qint64 row)>& f) const {
    forEachInOrder(file_, spansIn(t0, t1), [&f](qint64 r) {
        f(r);
        return true;
    });
}

qint64 TLineIndex::nearest(TWallMs t) const {
    qint64 best = -1;
    TWallMs bestD = 0;
    for (const Run& run : runs_) {
        if (!run.valid)
            continue;
        const qint64 b = lowerBound(run, run.begin, [&](TWallMs x) { return x >= t; });
        for (qint64 r : {b - 1, b}) {
            if (r < run.begin || r >= run.end)
                continue;
            const TWallMs d = std::abs(file_.time(r) - t);
            if (best < 0 || d < bestD)
                best = r, bestD = d;
        }
    }
    return best;
}

} // namespace qta
