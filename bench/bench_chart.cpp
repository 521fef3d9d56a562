// One voltage chart reload, side by side: the literal way (every row through
// the table layer, sorted by time, three series filled, drawn) against the
// index (points for the plot's columns, drawn); and the first open of a chart
// after the program starts, from nothing to the first picture, the way of the
// first versions (every row read one after another) against the block
// reading on every core and against the index kept next to the table.
//   bench_chart                                   100 k and 1 M rows
//   QTA_BENCH_ROWS=100000,31500000 bench_chart    any sizes
//   QTA_BENCH_DIR=DIR                             keep the generated tables in DIR
//                                                 (linia_ROWS.dbf, as made by
//                                                 qta504-tables generate FILE --rows ROWS
//                                                 --end "2026-01-31 23:00:00" --seed 1)
//   QTA_BENCH_COLD=1                              also the first open with the page
//                                                 cache dropped before it (root)
#include "history/chartplot.h"
#include "history/chartwindow.h"
#include "history/linegen.h"
#include "history/linehistory.h"
#include "history/lineindex.h"
#include "history/lineindexfile.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <qcustomplot.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace qta;

namespace {

constexpr TWallMs kHour = 3600000, kDay = 24 * kHour;
const QDateTime kEnd(QDate(2026, 1, 31), QTime(23, 0, 0));

QTemporaryDir& tempDir() {
    static QTemporaryDir d;
    return d;
}

// The generated table of `rows` rows (made on first use, or found in QTA_BENCH_DIR).
QString table(qint64 rows) {
    static std::map<qint64, QString> made;
    auto it = made.find(rows);
    if (it != made.end())
        return it->second;
    const QString dir = qEnvironmentVariableIsSet("QTA_BENCH_DIR")
                            ? qEnvironmentVariable("QTA_BENCH_DIR")
                            : tempDir().path();
    const QString f = QDir(dir).filePath(QStringLiteral("linia_%1.dbf").arg(rows));
    if (!QFile::exists(f))
        generateLinia(f, {rows, kEnd, 1});
    return made[rows] = f;
}

// The page cache: dropped (the file is read from the disk), or holding the file.
bool dropCaches() {
    sync();
    QFile f(QStringLiteral("/proc/sys/vm/drop_caches"));
    return f.open(QIODevice::WriteOnly) && f.write("3\n") == 2;
}
void warm(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (f.read(buffer.data(), buffer.size()) > 0) {
    }
}
bool cold(benchmark::State& state) { return state.range(2) != 0; }
// Before each first open: the cache as the case wants it.
bool prepare(benchmark::State& state, const QStringList& files) {
    if (cold(state))
        return dropCaches();
    for (const QString& f : files)
        warm(f);
    return true;
}

TWallMs endMs() { return QDateTime(kEnd.date(), kEnd.time(), Qt::UTC).toMSecsSinceEpoch(); }

std::unique_ptr<QCustomPlot> plot(TWallMs window) {
    auto p = std::make_unique<QCustomPlot>();
    p->resize(754, 350);
    p->setViewport(QRect(0, 0, 754, 350));
    setupChartPlot(p.get(), chartLine(1));
    setChartRange(p.get(), endMs() - window, endMs());
    return p;
}

double peakMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

TWallMs windowOf(int scale) { return scale == 2 ? kHour : 365 * kDay; }

// The literal reload: all rows, sorted, filled, drawn.
void BM_LiteralReload(benchmark::State& state) {
    const QString f = table(state.range(0));
    auto p = plot(windowOf(int(state.range(1))));
    for (auto _ : state) {
        TTable t(f);
        t.Open();
        t.Refresh();
        const int czas = t.fieldIndex(QStringLiteral("CZAS"));
        struct Row {
            double t;
            int r;
        };
        std::vector<Row> rows;
        rows.reserve(size_t(t.RecordCount()));
        for (int r = 0; r < t.RecordCount(); ++r) {
            const QDateTime d = t.dateTimeValue(r, czas);
            rows.push_back(
                {double(QDateTime(d.date(), d.time(), Qt::UTC).toMSecsSinceEpoch()) / 1000.0, r});
        }
        std::stable_sort(rows.begin(), rows.end(),
                         [](const Row& a, const Row& b) { return a.t < b.t; });
        for (int k = 0; k < 3; ++k) {
            QVector<double> keys, values;
            keys.reserve(qsizetype(rows.size()));
            values.reserve(qsizetype(rows.size()));
            for (const Row& r : rows) {
                keys << r.t;
                values << t.numberValue(r.r, czas + 1 + k);
            }
            p->graph(k)->setData(keys, values, true);
        }
        p->replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["peak_MB"] = peakMb();
}

// The first open of a chart: the index from nothing, its points for the
// plot's columns at scale 2 at the end of the table, drawn. Ways: 0 the first
// versions' reading of every row one after another, 1 the block reading on
// every core, 2 the kept index file, a day (86 400 rows) behind the table.
void BM_FirstOpen(benchmark::State& state) {
    const qint64 rows = state.range(0);
    const int way = int(state.range(1));
    const QString f = table(rows);
    const QString kept = QDir(tempDir().path()).filePath(QStringLiteral("linia_%1.idx").arg(rows));
    if (way == 2) {
        TLineIndex behind;
        behind.open(f, std::max<qint64>(0, rows - 86400));
        QString error;
        if (!TLineIndexFile::save(behind, kept, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    auto p = plot(kHour);
    size_t bytes = 0;
    qint64 loaded = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepare(state, {f, kept})) {
            state.SkipWithError("cannot drop the page cache (needs root)");
            break;
        }
        state.ResumeTiming();
        TLineIndex index;
        if (way == 0)
            index.setBuild(1, 0, true);
        if (way == 2)
            loaded = index.openKept(f, kept).loaded;
        else
            index.open(f);
        setChartSeries(p.get(), index.query(1, plotColumns(p.get())));
        p->replot(QCustomPlot::rpImmediateRefresh);
        bytes = index.memoryBytes();
    }
    state.counters["index_MB"] = double(bytes) / 1e6;
    if (way == 2)
        state.counters["kept_rows"] = double(loaded);
}

// The same through the program's parts: the history (worker thread, the kept
// file beside the table) and a chart window, until the window has drawn.
void BM_FirstOpenWindow(benchmark::State& state) {
    const QString f = table(state.range(0));
    const QString kept = TLineIndexFile::pathFor(f);
    {
        TLineIndex index; // the file a previous run left
        index.open(f);
        QString error;
        TLineIndexFile::save(index, kept, &error);
    }
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepare(state, {f, kept})) {
            state.SkipWithError("cannot drop the page cache (needs root)");
            break;
        }
        state.ResumeTiming();
        TTable t(f);
        t.Open();
        TLineHistory history([&t] { return &t; });
        QEventLoop loop;
        QObject::connect(&history, &TLineHistory::ready, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection); // after the window's reload
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        TWykres w(chartLine(1), history, {}, endMs);
        if (history.building())
            loop.exec();
        if (!history.index())
            state.SkipWithError("no index within a minute");
        else if (state.range(0) >= 250000 && history.keptRows() == 0)
            state.SkipWithError("the kept index was not used");
    }
}

// A button press: the points for the plot's columns, drawn.
void BM_IndexReload(benchmark::State& state) {
    const QString f = table(state.range(0));
    TLineIndex index;
    index.open(f);
    auto p = plot(windowOf(int(state.range(1))));
    for (auto _ : state) {
        index.extendTo();
        setChartSeries(p.get(), index.query(1, plotColumns(p.get())));
        p->replot(QCustomPlot::rpImmediateRefresh);
    }
}

// Only the query (no drawing).
void BM_IndexQuery(benchmark::State& state) {
    const QString f = table(state.range(0));
    TLineIndex index;
    index.open(f);
    auto p = plot(windowOf(int(state.range(1))));
    const TColumns c = plotColumns(p.get());
    for (auto _ : state)
        benchmark::DoNotOptimize(index.query(1, c));
}

// The 5-second refresh: five new rows appended, indexed, points, drawn.
void BM_IndexRefresh5Rows(benchmark::State& state) {
    const QString src = table(state.range(0));
    const QString f = QDir(tempDir().path()).filePath(QStringLiteral("grow.dbf"));
    QFile::remove(f);
    QFile::copy(src, f);
    TTable t(f);
    t.Open();
    TLineIndex index;
    index.open(f);
    auto p = plot(windowOf(int(state.range(1))));
    QDateTime when = kEnd;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 5; ++i) {
            when = when.addSecs(1);
            t.Append();
            t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(when);
            t.FieldByName(QStringLiteral("N1L1")).setAsInteger(230);
            t.Post();
        }
        state.ResumeTiming();
        index.extendTo(t.RecordCount());
        setChartSeries(p.get(), index.query(1, plotColumns(p.get())));
        p->replot(QCustomPlot::rpImmediateRefresh);
    }
}

QList<qint64> rowList() {
    QList<qint64> rows = {100000, 1000000};
    if (qEnvironmentVariableIsSet("QTA_BENCH_ROWS")) {
        rows.clear();
        for (const QByteArray& n : qgetenv("QTA_BENCH_ROWS").split(','))
            rows << n.toLongLong();
    }
    return rows;
}

void sizes(benchmark::internal::Benchmark* b) {
    for (qint64 r : rowList())
        for (int scale : {2, 6})
            b->Args({r, scale});
    b->Unit(benchmark::kMillisecond);
}

// rows, way, cold: warm first, then (QTA_BENCH_COLD) cold.
void firstOpens(benchmark::internal::Benchmark* b, std::initializer_list<int> ways) {
    const bool withCold = qEnvironmentVariableIntValue("QTA_BENCH_COLD") != 0;
    b->ArgNames({"rows", "way", "cold"});
    for (qint64 r : rowList())
        for (int c = 0; c <= int(withCold); ++c)
            for (int way : ways)
                b->Args({r, way, c});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_LiteralReload)->Apply(sizes)->Iterations(1);
BENCHMARK(BM_FirstOpen)
    ->Apply([](benchmark::internal::Benchmark* b) {
        firstOpens(b, {0, 1, 2});
    })
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(BM_FirstOpenWindow)
    ->Apply([](benchmark::internal::Benchmark* b) { firstOpens(b, {2}); })
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(BM_IndexReload)->Apply(sizes);
BENCHMARK(BM_IndexQuery)->Apply(sizes);
BENCHMARK(BM_IndexRefresh5Rows)->Apply(sizes);

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // Large blocks always fresh from the system, as in the first open of a
    // program run: otherwise a repetition reuses the memory freed by the one
    // before and skips the cost of faulting it in.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
