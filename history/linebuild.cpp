// Building the chart index: one pass over the rows of linia.dbf.
//
// A year is 31.5 million rows and 1.7 GB. The rows are read with plain
// positional reads into a buffer, a piece of a million rows at a time (for a
// file that size, faulting in a mapping costs more than reading it), and the
// pieces are shared out between the cores: each piece fills its own part of
// the block summaries and sampled times and makes its own runs, which are
// joined in table order at the end. The rows' fields are read by TRowScanner.
#include "history/lineindex.h"

#include "tables/table.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace qta {

namespace {
constexpr qint64 F = TLineIndex::kFanout;
constexpr qint64 kPieceRows = qint64(1) << 20; // rows per piece, and between progress reports
constexpr qint64 kReadRows = 4096;             // rows per read
constexpr int kMaxThreads = 8;

} // namespace

struct TLineIndex::Piece {
    qint64 begin = 0, end = 0; // rows; begin on a block boundary
    std::vector<Run> runs;
    bool done = false;
    std::exception_ptr error;
};

void TLineIndex::clear() {
    rows_ = 0;
    lastRow_.clear();
    runs_.clear();
    samples_.clear();
    levels_.assign(1, {});
    zeroRows_.clear();
}

void TLineIndex::open(const QString& path, qint64 rows) {
    file_.open(path);
    clear();
    extendTo(rows);
}

size_t TLineIndex::memoryBytes() const {
    size_t n = samples_.capacity() * sizeof(TWallMs) + runs_.capacity() * sizeof(Run) +
               zeroRows_.capacity() * sizeof(qint64);
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
    if (rowByRow_) {
        for (qint64 r = from; r < target; ++r) {
            if (progress && (r - from) % kPieceRows == 0 && r > from && !progress(r))
                break;
            indexRow(r);
        }
    } else {
        // Up to a block boundary row by row, then whole blocks.
        while (rows_ < target && rows_ % F != 0)
            indexRow(rows_);
        if (rows_ < target)
            scanRows(target, progress);
    }
    if (rows_ > from) {
        rebuildUpperLevels(from / F);
        collectZeroRows(from / F);
        lastRow_ = QByteArray(file_.row(rows_ - 1) + 1, file_.recordLength() - 1);
    }
}

void TLineIndex::addRow(std::vector<Run>& runs, qint64 r, TWallMs t) {
    const bool valid = t != kNoTime;
    if (!runs.empty() && runs.back().valid == valid && (!valid || t >= runs.back().tmax)) {
        runs.back().end = r + 1;
        runs.back().tmax = t;
    } else {
        runs.push_back({r, r + 1, t, t, valid});
    }
}

void TLineIndex::addRuns(std::vector<Run>& runs, const std::vector<Run>& next) {
    auto it = next.begin();
    // The first run goes on where the runs so far end, as its first row would
    // have gone on had the rows been read one after another.
    if (it != next.end() && !runs.empty() && runs.back().valid == it->valid &&
        (!it->valid || it->tmin >= runs.back().tmax)) {
        runs.back().end = it->end;
        runs.back().tmax = it->tmax;
        ++it;
    }
    runs.insert(runs.end(), it, next.end());
}

void TLineIndex::indexRow(qint64 r) {
    const TWallMs t = file_.time(r);
    if (r % F == 0) {
        samples_.push_back(t);
        levels_[0].push_back(Summary::none());
    }
    Summary& s = levels_[0].back();
    for (int k = 0; k < 9; ++k) {
        const int v = file_.volts(r, k);
        if (v == kNoVolts)
            continue;
        s.lo[size_t(k)] = std::min(s.lo[size_t(k)], quint16(v));
        s.hi[size_t(k)] = std::max(s.hi[size_t(k)], quint16(v));
    }
    addRow(runs_, r, t);
    rows_ = r + 1;
}

void TLineIndex::scanRows(qint64 target, const std::function<bool(qint64)>& progress) {
    const qint64 begin = rows_;
    const size_t blocks = size_t((target + F - 1) / F);
    reserveFor(samples_, blocks);
    reserveFor(levels_[0], blocks);
    samples_.resize(blocks);
    levels_[0].resize(blocks);

    const qint64 step = pieceRows_ > 0 ? (pieceRows_ + F - 1) / F * F : kPieceRows;
    std::vector<Piece> pieces(size_t((target - begin + step - 1) / step));
    for (size_t i = 0; i < pieces.size(); ++i) {
        pieces[i].begin = begin + qint64(i) * step;
        pieces[i].end = std::min(target, pieces[i].begin + step);
    }
    std::atomic<size_t> next{0};
    std::atomic<qint64> rowsDone{0};
    std::atomic<bool> stop{false};
    // Each thread takes the next piece until none is left; so the pieces done
    // are always the first ones, whenever the work stops.
    // The calling thread, which reports the progress, takes the first piece
    // before any helper starts: it reports at least once, however the threads
    // are scheduled.
    const size_t callersFirst = next++;
    const auto work = [&](bool reports) {
        QFile in(file_.path());
        std::vector<char> buffer;
        const bool opened = in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        for (bool first = reports; !stop; first = false) {
            const size_t i = first ? callersFirst : next++;
            if (i >= pieces.size())
                break;
            Piece& p = pieces[i];
            try {
                if (!opened)
                    throw ETable(QStringLiteral("Nie można odczytać tabeli %1: %2")
                                     .arg(file_.path(), in.errorString()));
                scanPiece(p, in, buffer);
                p.done = true;
            } catch (...) {
                p.error = std::current_exception();
                stop = true;
            }
            const qint64 done = rowsDone += p.end - p.begin;
            if (reports && progress && !stop && !progress(begin + done))
                stop = true;
        }
    };
    int threads = threads_ > 0 ? threads_ : int(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, std::min<int>(kMaxThreads, int(pieces.size())));
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(work, false);
        } catch (const std::system_error&) {
            break; // no more threads to be had: fewer do the work
        }
    }
    work(true);
    for (std::thread& t : helpers)
        t.join();

    // Keep what the first pieces done hold.
    std::exception_ptr error;
    for (const Piece& p : pieces) {
        if (!p.done) {
            error = p.error;
            break;
        }
        addRuns(runs_, p.runs);
        rows_ = p.end;
    }
    samples_.resize(size_t((rows_ + F - 1) / F));
    levels_[0].resize(samples_.size());
    if (error)
        std::rethrow_exception(error);
}

void TLineIndex::scanPiece(Piece& piece, QFile& in, std::vector<char>& buffer) {
    const TRowScanner scanner(file_);
    const qint64 record = file_.recordLength();
    buffer.resize(size_t(kReadRows * record + TRowScanner::kSlack));
    TWallMs times[F];
    for (qint64 at = piece.begin; at < piece.end; at += kReadRows) {
        const qint64 n = std::min(kReadRows, piece.end - at);
        const qint64 bytes = n * record;
        if (!in.seek(file_.headerLength() + at * record) || in.read(buffer.data(), bytes) != bytes)
            throw ETable(QStringLiteral("Nie można odczytać tabeli %1 (wiersze od %2): %3")
                             .arg(file_.path())
                             .arg(at + 1)
                             .arg(in.errorString()));
        for (qint64 b = 0; b < n; b += F) {
            const int count = int(std::min(F, n - b));
            const size_t block = size_t((at + b) / F);
            levels_[0][block] = scanner.scan(buffer.data() + b * record, count, times);
            samples_[block] = times[0];
            for (int i = 0; i < count; ++i)
                addRow(piece.runs, at + b + i, times[i]);
        }
    }
}

void TLineIndex::collectZeroRows(qint64 fromBlock) {
    zeroRows_.erase(std::lower_bound(zeroRows_.begin(), zeroRows_.end(), fromBlock * F),
                    zeroRows_.end());
    const auto& blocks = levels_[0];
    for (qint64 k = fromBlock; k < qint64(blocks.size()); ++k) {
        const Summary& s = blocks[size_t(k)];
        if (std::any_of(s.lo.begin(), s.lo.end(), [](quint16 v) { return v != 0; }))
            continue;
        for (qint64 r = k * F, end = std::min(rows_, (k + 1) * F); r < end; ++r) {
            int k9 = 0;
            while (k9 < 9 && file_.volts(r, k9) == 0)
                ++k9;
            if (k9 == 9)
                zeroRows_.push_back(r);
        }
    }
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

} // namespace qta
