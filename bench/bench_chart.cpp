// One voltage chart reload, side by side: the literal way (every row through
// the table layer, sorted by time, three series filled, drawn) against the
// index (points for the plot's columns, drawn). Tables are generated once per
// size into a temporary folder.
//   bench_chart                         100 k and 1 M rows
//   QTA_BENCH_ROWS=100000,31500000 bench_chart   any sizes
#include "history/chartplot.h"
#include "history/linegen.h"
#include "history/lineindex.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <qcustomplot.h>
#include <sys/resource.h>

using namespace qta;

namespace {

constexpr TWallMs kHour = 3600000, kDay = 24 * kHour;
const QDateTime kEnd(QDate(2026, 1, 31), QTime(23, 0, 0));

QTemporaryDir& tempDir() {
    static QTemporaryDir d;
    return d;
}

// The generated table of `rows` rows (made on first use).
QString table(qint64 rows) {
    static std::map<qint64, QString> made;
    auto it = made.find(rows);
    if (it != made.end())
        return it->second;
    const QString f = QDir(tempDir().path()).filePath(QStringLiteral("linia_%1.dbf").arg(rows));
    generateLinia(f, {rows, kEnd, 1});
    return made[rows] = f;
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

// First open: one pass over the table.
void BM_IndexBuild(benchmark::State& state) {
    const QString f = table(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        TLineIndex index;
        index.open(f);
        bytes = index.memoryBytes();
    }
    state.counters["index_MB"] = double(bytes) / 1e6;
    state.counters["peak_MB"] = peakMb();
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

void sizes(benchmark::internal::Benchmark* b) {
    QList<qint64> rows = {100000, 1000000};
    if (qEnvironmentVariableIsSet("QTA_BENCH_ROWS")) {
        rows.clear();
        for (const QByteArray& n : qgetenv("QTA_BENCH_ROWS").split(','))
            rows << n.toLongLong();
    }
    for (qint64 r : rows)
        for (int scale : {2, 6})
            b->Args({r, scale});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_LiteralReload)->Apply(sizes)->Iterations(1);
BENCHMARK(BM_IndexBuild)->Apply(sizes)->Iterations(1);
BENCHMARK(BM_IndexReload)->Apply(sizes);
BENCHMARK(BM_IndexQuery)->Apply(sizes);
BENCHMARK(BM_IndexRefresh5Rows)->Apply(sizes);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
