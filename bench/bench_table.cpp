// The line-voltage table gets a row every second for as long as the program
// runs, and each chart window re-reads all of it every 5 seconds: what a Post
// costs, and what one refresh of a chart over 100 000 rows costs.
#include "tables/table.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace qta;

namespace {

const char* const kVoltages[9] = {"N1L1", "N1L2", "N1L3", "N2L1", "N2L2",
                                  "N2L3", "N3L1", "N3L2", "N3L3"};

void appendRow(TTable& t, const QDateTime& when, int seed) {
    t.Append();
    t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(when);
    for (int i = 0; i < 9; ++i)
        t.FieldByName(QLatin1String(kVoltages[i])).setAsInteger((seed + i * 7) % 400);
    t.Post();
}

// Arg 0: the program's policy for linia.dbf, rows synced to the disk
// together (here every 10 000 rows, more often than the program's 10 s at
// this rate); arg 1: a sync at every post, the policy of the event log.
void BM_PostLiniaRow(benchmark::State& state) {
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-XXXXXX")));
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    TTable::createLinia(file);
    TTable t(file);
    t.Open();
    const bool everyPost = state.range(0) != 0;
    t.setSyncEveryPost(everyPost);
    QDateTime when(QDate(2026, 12, 10), QTime(13, 45, 7));
    int n = 0;
    for (auto _ : state) {
        appendRow(t, when, n++);
        if (!everyPost && n % 10000 == 0)
            t.Sync();
        when = when.addSecs(1);
    }
    t.Close();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostLiniaRow)->Arg(0)->Arg(1)->UseRealTime();

// One chart refresh: re-read the row count, then CZAS and one line's three
// voltages of every row.
void BM_ReadLiniaRows(benchmark::State& state) {
    const int rows = int(state.range(0));
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    TTable::createLinia(file);
    {
        TTable w(file);
        w.Open();
        QDateTime when(QDate(2026, 12, 10), QTime(0, 0));
        for (int r = 0; r < rows; ++r)
            appendRow(w, when.addSecs(r), r);
    }
    TTable t(file);
    t.Open();
    const int czas = t.fieldIndex(QStringLiteral("CZAS"));
    const int l1 = t.fieldIndex(QStringLiteral("N2L1"));
    for (auto _ : state) {
        t.Refresh();
        double sum = 0;
        qint64 last = 0;
        const int n = t.RecordCount();
        for (int r = 0; r < n; ++r) {
            last = t.dateTimeValue(r, czas).toMSecsSinceEpoch();
            sum += t.numberValue(r, l1) + t.numberValue(r, l1 + 1) + t.numberValue(r, l1 + 2);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(last);
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_ReadLiniaRows)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
