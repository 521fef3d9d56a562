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
    qint64 count = 0;                  // rows, with or without values
    std::array<qint64, kFew> few{};    // the rows themselves while count <= kFew
    std::array<TWallMs, 3> tf{}, tl{}; // per phase, first and last point: least and
    std::array<qint64, 3> rf{-1, -1, -1}, rl{-1, -1, -1}; // greatest (time, row) with a value
    std::array<int, 3> lo{65535, 65535, 65535};
    std::array<int, 3> hi{0, 0, 0};
};

int TLineIndex::runCount() const {
    return int(std::count_if(runs_.begin(), runs_.end(), [](const Run& r) { return r.valid; }));
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

template <size_t N>
void TLineIndex::rangeMinMax(qint64 a, qint64 b, const std::array<int, N>& fields,
                             std::array<int, N>& lo, std::array<int, N>& hi) const {
    const auto row = [&](qint64 r) {
        for (size_t p = 0; p < N; ++p) {
            const int v = file_.volts(r, fields[p]);
            if (v == kNoVolts)
                continue;
            lo[p] = std::min(lo[p], v);
            hi[p] = std::max(hi[p], v);
        }
    };
    const auto block = [&](const Summary& s) {
        for (size_t p = 0; p < N; ++p) {
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

bool TLineIndex::holds(qint64 row, unsigned fields) const {
    for (int k = 0; k < 9; ++k)
        if ((fields >> k & 1) && file_.volts(row, k) != kNoVolts)
            return true;
    return false;
}

qint64 TLineIndex::firstBlock(size_t level, qint64 A, qint64 B, unsigned fields) const {
    const auto& blocks = levels_[level];
    const bool top = level + 1 == levels_.size();
    for (; A < B && (A % F != 0 || top); ++A)
        if (blocks[size_t(A)].holds(fields))
            return A;
    if (A >= B)
        return -1;
    // Whole blocks of the level above, then the rest one by one.
    const qint64 Bu = B / F;
    if (A / F < Bu) {
        const qint64 k = firstBlock(level + 1, A / F, Bu, fields);
        if (k >= 0)
            for (qint64 c = k * F; c < (k + 1) * F; ++c)
                if (blocks[size_t(c)].holds(fields))
                    return c;
        A = Bu * F;
    }
    for (; A < B; ++A)
        if (blocks[size_t(A)].holds(fields))
            return A;
    return -1;
}

qint64 TLineIndex::lastBlock(size_t level, qint64 A, qint64 B, unsigned fields) const {
    const auto& blocks = levels_[level];
    const bool top = level + 1 == levels_.size();
    while (A < B && (B % F != 0 || top))
        if (blocks[size_t(--B)].holds(fields))
            return B;
    if (A >= B)
        return -1;
    const qint64 Au = (A + F - 1) / F;
    if (Au < B / F) {
        const qint64 k = lastBlock(level + 1, Au, B / F, fields);
        if (k >= 0)
            for (qint64 c = (k + 1) * F - 1; c >= k * F; --c)
                if (blocks[size_t(c)].holds(fields))
                    return c;
        B = Au * F;
    }
    while (A < B)
        if (blocks[size_t(--B)].holds(fields))
            return B;
    return -1;
}

qint64 TLineIndex::firstHolding(qint64 a, qint64 b, unsigned fields) const {
    for (; a < b && a % F != 0; ++a)
        if (holds(a, fields))
            return a;
    if (a / F < b / F) {
        const qint64 k = firstBlock(0, a / F, b / F, fields);
        if (k >= 0)
            for (qint64 r = k * F; r < (k + 1) * F; ++r)
                if (holds(r, fields))
                    return r;
        a = b / F * F;
    }
    for (; a < b; ++a)
        if (holds(a, fields))
            return a;
    return b;
}

qint64 TLineIndex::lastHolding(qint64 a, qint64 b, unsigned fields) const {
    while (a < b && b % F != 0)
        if (holds(--b, fields))
            return b;
    const qint64 A = (a + F - 1) / F;
    if (A < b / F) {
        const qint64 k = lastBlock(0, A, b / F, fields);
        if (k >= 0)
            for (qint64 r = (k + 1) * F - 1; r >= k * F; --r)
                if (holds(r, fields))
                    return r;
        b = A * F;
    }
    while (a < b)
        if (holds(--b, fields))
            return b;
    return -1;
}

TChartSeries TLineIndex::query(int line, const TColumns& cols) const {
    TChartSeries out;
    if (cols.width <= 0 || cols.t1 <= cols.t0 || line < 1 || line > 3)
        return out;
    const qint64 W = cols.width;
    const std::array<int, 3> fields{3 * (line - 1), 3 * (line - 1) + 1, 3 * (line - 1) + 2};
    std::vector<Aggregate> agg(static_cast<size_t>(W));
    // Per phase, the nearest point beyond each edge.
    std::array<qint64, 3> leftRow{-1, -1, -1}, rightRow{-1, -1, -1};
    std::array<TWallMs, 3> leftT{}, rightT{};

    for (const Run& run : runs_) {
        if (!run.valid)
            continue;
        const qint64 b0 =
            lowerBound(run, run.begin, [&](TWallMs t) { return cols.column(t) >= 0; });
        const qint64 bW = lowerBound(run, b0, [&](TWallMs t) { return cols.column(t) >= W; });
        for (size_t p = 0; p < 3; ++p) {
            const unsigned field = 1u << fields[p];
            const qint64 l = lastHolding(run.begin, b0, field);
            if (l >= 0) {
                const TWallMs t = file_.time(l);
                if (leftRow[p] < 0 || t > leftT[p] || (t == leftT[p] && l > leftRow[p]))
                    leftRow[p] = l, leftT[p] = t;
            }
            const qint64 r = firstHolding(bW, run.end, field);
            if (r < run.end) {
                const TWallMs t = file_.time(r);
                if (rightRow[p] < 0 || t < rightT[p])
                    rightRow[p] = r, rightT[p] = t;
            }
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
            for (size_t p = 0; p < 3; ++p) {
                const unsigned field = 1u << fields[p];
                const qint64 f = firstHolding(b, e, field);
                if (f == e)
                    continue; // no value of this phase here
                const TWallMs tf = file_.time(f);
                if (g.rf[p] < 0 || tf < g.tf[p])
                    g.rf[p] = f, g.tf[p] = tf;
                const qint64 l = lastHolding(f, e, field);
                const TWallMs tl = file_.time(l);
                if (g.rl[p] < 0 || tl >= g.tl[p])
                    g.rl[p] = l, g.tl[p] = tl;
            }
            rangeMinMax(b, e, fields, g.lo, g.hi);
            b = e;
        }
    }

    const auto push = [&](size_t p, TWallMs t, qint64 r) {
        const int v = file_.volts(r, fields[p]);
        if (v != kNoVolts)
            out[p].push_back({t, v});
    };
    for (size_t p = 0; p < 3; ++p)
        if (leftRow[p] >= 0)
            push(p, leftT[p], leftRow[p]);
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
                for (size_t p = 0; p < 3; ++p)
                    push(p, file_.time(g.few[i]), g.few[i]);
            continue;
        }
        // First, the extremes in the middle, last: the line passes through
        // every pixel between the lowest and the highest point of the column.
        for (size_t p = 0; p < 3; ++p) {
            if (g.rf[p] < 0)
                continue;
            const TWallMs tm = g.tf[p] + (g.tl[p] - g.tf[p]) / 2;
            const int vf = file_.volts(g.rf[p], fields[p]);
            out[p].push_back({g.tf[p], vf});
            if (std::abs(vf - g.lo[p]) <= std::abs(vf - g.hi[p])) {
                out[p].push_back({tm, g.lo[p]});
                out[p].push_back({tm, g.hi[p]});
            } else {
                out[p].push_back({tm, g.hi[p]});
                out[p].push_back({tm, g.lo[p]});
            }
            out[p].push_back({g.tl[p], file_.volts(g.rl[p], fields[p])});
        }
    }
    for (size_t p = 0; p < 3; ++p)
        if (rightRow[p] >= 0)
            push(p, rightT[p], rightRow[p]);
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

qint64 TLineIndex::nearest(TWallMs t, int line) const {
    const unsigned fields = line >= 1 && line <= 3 ? 7u << (3 * (line - 1)) : 0;
    qint64 best = -1;
    TWallMs bestD = 0;
    for (const Run& run : runs_) {
        if (!run.valid)
            continue;
        const qint64 b = lowerBound(run, run.begin, [&](TWallMs x) { return x >= t; });
        const qint64 before = fields ? lastHolding(run.begin, b, fields) : b - 1;
        const qint64 after = fields ? firstHolding(b, run.end, fields) : b;
        for (qint64 r : {before, after}) {
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

namespace qta {

TVoltExtremes TLineIndex::extremes(TWallMs t0, TWallMs t1) const {
    TVoltExtremes x;
    std::array<int, 9> fields{}, lo{}, hi{};
    for (int k = 0; k < 9; ++k)
        fields[size_t(k)] = k;
    lo.fill(65535);
    hi.fill(0);
    const auto isZeros = [this](qint64 r) {
        for (int k = 0; k < 9; ++k)
            if (file_.volts(r, k) != 0)
                return false;
        return true;
    };
    for (const TRowSpan& span : spansIn(t0, t1)) {
        x.rows += span.end - span.begin;
        // The summaries of a block that holds a row of zeros would bring its
        // zeros in: such a block is read row by row, the rest by summaries.
        qint64 at = span.begin;
        auto z = std::lower_bound(zeroRows_.begin(), zeroRows_.end(), span.begin);
        for (; z != zeroRows_.end() && *z < span.end;) {
            const qint64 blockBegin = std::max(at, *z / F * F);
            const qint64 blockEnd = std::min(span.end, (*z / F + 1) * F);
            rangeMinMax(at, blockBegin, fields, lo, hi);
            for (qint64 r = blockBegin; r < blockEnd; ++r) {
                if (isZeros(r)) {
                    --x.rows;
                    continue;
                }
                for (size_t k = 0; k < 9; ++k) {
                    const int v = file_.volts(r, int(k));
                    if (v == kNoVolts)
                        continue;
                    lo[k] = std::min(lo[k], v);
                    hi[k] = std::max(hi[k], v);
                }
            }
            at = blockEnd;
            z = std::lower_bound(z, zeroRows_.end(), at);
        }
        rangeMinMax(at, span.end, fields, lo, hi);
    }
    if (x.rows > 0) {
        x.lo = lo;
        x.hi = hi;
    }
    return x;
}

bool TLineIndex::timeRange(TWallMs& first, TWallMs& last) const {
    bool any = false;
    for (const Run& run : runs_) {
        if (!run.valid)
            continue;
        first = any ? std::min(first, run.tmin) : run.tmin;
        last = any ? std::max(last, run.tmax) : run.tmax;
        any = true;
    }
    return any;
}

} // namespace qta
