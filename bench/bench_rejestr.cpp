// The event-log window over a long log: opening it on 20 000 and 200 000 rows
// and scrolling to the end (time, and how much the process grows), and the
// CSV export of the whole log (rows per second). Runs on Qt's offscreen
// platform.
#include "core/controller.h"
#include "history/csvexport.h"
#include "history/rejestrwindow.h"
#include "tables/table.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <map>
#include <memory>

using namespace qta;

namespace {

// Resident memory of the process in KiB.
long rssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:"))
            return l.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// A working directory whose rejestr.dbf holds `rows` event rows. One row is
// posted through the table layer, then copied with its INDEKS and DATA
// changed: a row per Post would take minutes for 200 000 rows.
class LogDir {
public:
    explicit LogDir(int rows) {
        const QString folder = dir_.filePath(QStringLiteral("rejestr"));
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/rejestr.dbf");
        TTable::createRejestr(file);
        TTable::createLinia(folder + QStringLiteral("/linia.dbf"));
        {
            TTable t(file);
            t.Open();
            t.Append();
            t.FieldByName(QStringLiteral("INDEKS")).setAsInteger(0);
            t.FieldByName(QStringLiteral("DATA")).setAsString(QStringLiteral("2020-01-01 "));
            t.FieldByName(QStringLiteral("CZAS")).setAsString(QStringLiteral("12:00"));
            t.FieldByName(QStringLiteral("ZDARZENIE"))
                .setAsString(
                    QStringLiteral("Przełączenie z linii N1 na linię N2 (zanik napięcia)"));
            t.FieldByName(QStringLiteral("N1_STATUS")).setAsString(QStringLiteral("Linia zła"));
            t.FieldByName(QStringLiteral("AKTYWNA"))
                .setAsString(QStringLiteral("Aktywna linia N2"));
            t.FieldByName(QStringLiteral("PROGRAM")).setAsString(QStringLiteral("N1 + N2 + N3"));
            t.Post();
        }
        QFile f(file);
        f.open(QIODevice::ReadWrite);
        QByteArray bytes = f.readAll();
        const int header = uchar(bytes[8]) | uchar(bytes[9]) << 8;
        const int length = uchar(bytes[10]) | uchar(bytes[11]) << 8;
        const QByteArray row = bytes.mid(header, length);
        QByteArray all;
        all.reserve(qsizetype(rows) * length);
        const QDate start(2020, 1, 1);
        for (int r = 0; r < rows; ++r) {
            QByteArray x = row;
            const QByteArray indeks = QByteArray::number(r % 500).rightJustified(5, ' ');
            x.replace(1, 5, indeks);
            x.replace(6, 10, start.addDays(r / 40).toString(Qt::ISODate).toLatin1());
            all += x;
        }
        f.resize(header);
        f.seek(header);
        f.write(all);
        const quint32 n = quint32(rows);
        const char count[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
        f.seek(4);
        f.write(count, 4);
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

LogDir& logDir(int rows) {
    static std::map<int, std::unique_ptr<LogDir>> dirs;
    auto& d = dirs[rows];
    if (!d)
        d = std::make_unique<LogDir>(rows);
    return *d;
}

void BM_OpenWindowAndScrollToEnd(benchmark::State& state) {
    const int rows = int(state.range(0));
    const QString old = QDir::currentPath();
    QDir::setCurrent(logDir(rows).path());
    qta::TNullView view;
    TQTA504Core core(&view);
    core.Timer2.stop();
    core.Timer3.stop();
    core.openTables();
    const auto openAndScroll = [&core] {
        auto form = std::make_unique<TRejestrForm>(core);
        form->show();
        QCoreApplication::processEvents();
        form->DBGrid1()->scrollToBottom();
        form->repaint();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(form->DBGrid1()->verticalScrollBar()->value());
        return form;
    };
    // What the process grows by while a window is open, once Qt has
    // loaded what any first window needs (fonts, style).
    openAndScroll().reset();
    const long before = rssKiB();
    long grown = 0;
    for (auto _ : state) {
        auto form = openAndScroll();
        grown = std::max(grown, rssKiB() - before);
    }
    state.counters["rss_growth_KiB"] = double(grown);
    core.closeAll();
    QDir::setCurrent(old);
}
BENCHMARK(BM_OpenWindowAndScrollToEnd)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_ExportCsv(benchmark::State& state) {
    const int rows = int(state.range(0));
    TTable t(logDir(rows).path() + QStringLiteral("/rejestr/rejestr.dbf"));
    t.Open();
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("rejestr.csv"));
    for (auto _ : state)
        benchmark::DoNotOptimize(exportTableCsvFile(t, file, {}));
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["csv_MiB"] = double(QFile(file).size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ExportCsv)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
