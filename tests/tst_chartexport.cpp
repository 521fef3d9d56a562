// Export of a chart's visible period to CSV: every row of the period in time
// order (both passes through an hour the clock went back), a stopped or
// failed export leaving no file, a table replaced meanwhile, and missing
// voltages as empty cells (and as "brak" in the tooltip).
#include "chartfixture.h"
#include "history/lineexport.h"
#include "tables/table.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace qta;
using namespace qta::test;

namespace {

constexpr TWallMs kMin = 60000, kDay = 24 * 3600000;

// Table-order row where the clock went back an hour or so.
qint64 clockSetBack(const QString& file) {
    TLineIndex index;
    index.open(file);
    for (qint64 r = 1; r < index.rows(); ++r)
        if (index.file().time(r) < index.file().time(r - 1) - kMin)
            return r;
    return -1;
}

// What the export must hold: every row of [t0, t1] sorted by time (equal times
// in table order), the wall time formatted independently of the export's own.
QByteArray expectedCsv(const std::vector<TRefRow>& rows, int line, TWallMs t0, TWallMs t1) {
    QByteArray csv =
        "\xEF\xBB\xBF" + QStringLiteral("CZAS;N%1L1;N%1L2;N%1L3\r\n").arg(line).toUtf8();
    for (const TRefRow& r : rows) {
        if (r.t < t0 || r.t > t1)
            continue;
        const int k = 3 * (line - 1);
        const auto cell = [&](int i) { // a missing value is an empty cell
            const int v = r.v[size_t(k + i)];
            return v == kNoVolts ? QString() : QString::number(v);
        };
        csv += QDateTime::fromMSecsSinceEpoch(r.t, Qt::UTC)
                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                   .toLatin1() +
               QStringLiteral(";%1;%2;%3\r\n").arg(cell(0), cell(1), cell(2)).toLatin1();
    }
    return csv;
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstChartExport : public QObject, protected TChartFixture {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void exportVisiblePeriod();
    void exportStoppedOrFailedLeavesNoFile();
    void exportOfAReplacedTable();
    void missingVoltages();
};

void TstChartExport::initTestCase() { openTable(); }

void TstChartExport::exportVisiblePeriod() {
    // Line 2 over the hour the clock was set back: the rows of both passes
    // through that hour come out merged in time order. The folder's name has
    // Polish letters.
    const qint64 back = clockSetBack(file_);
    QVERIFY(back > 0);
    auto w = window(2);
    {
        TLineIndex index;
        index.open(file_);
        w->state.Max = index.file().time(back) + 30 * kMin;
    }
    w->Skaluj();
    QDir(dir_.path()).mkpath(QStringLiteral("wykresy źdźbło"));
    const QString csv = dir_.path() + QStringLiteral("/wykresy źdźbło/N2 żółć.csv");
    QSignalSpy finished(w.get(), &TWykres::exportFinished);
    QString error;
    QVERIFY2(w->exportVisible(csv, &error), qPrintable(error));
    QVERIFY(w->exporting());
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][1].toBool(), true);
    QCOMPARE(finished[0][2].toString(), QString());
    QVERIFY(!w->exporting());
    const QByteArray want = expectedCsv(sorted(), 2, w->state.from(), w->state.Max);
    QVERIFY(want.count('\n') > 1000);
    const QByteArray got = readAll(csv);
    QCOMPARE(got.size(), want.size());
    QVERIFY(got == want);
    QVERIFY(errors_.isEmpty());
}

void TstChartExport::exportStoppedOrFailedLeavesNoFile() {
    // A year at scale 6: every row of the table. A file of that name from
    // before stays as it was; nothing else appears in the folder.
    QTemporaryDir out;
    const QString csv = QDir(out.path()).filePath(QStringLiteral("eksport.csv"));
    {
        QFile old(csv);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("poprzedni eksport\r\n");
    }
    const auto untouched = [&] {
        return readAll(csv) == "poprzedni eksport\r\n" &&
               QDir(out.path()).entryList(QDir::Files | QDir::Hidden) ==
                   QStringList{QStringLiteral("eksport.csv")};
    };
    TLineIndex index;
    index.open(file_);
    const TLineExport year(index, 1, wallMs(end_) - 365 * kDay, wallMs(end_));
    QVERIFY(year.rowCount() > 150000);

    // Stopped at the first progress report.
    QString error;
    QList<qint64> reports;
    QCOMPARE(year.write(csv, &error,
                        [&](qint64 done) {
                            reports << done;
                            return false;
                        }),
             TLineExport::Outcome::Stopped);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports[0] > 0 && reports[0] < year.rowCount());
    QVERIFY(untouched());

    // The same on a worker, stopped by the dialog's button before it got far.
    TLineExportJob job(year, csv);
    QSignalSpy finished(&job, &TLineExportJob::finished);
    job.stop();
    job.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][0].toBool(), false);
    QCOMPARE(finished[0][1].toString(), QString());
    QVERIFY(!job.running());
    QVERIFY(untouched());

    // The window: a folder that is not there. The box names the file.
    auto w = window(1);
    for (int i = 0; i < 4; ++i)
        w->ZwiekszSkaleClick();
    errors_.clear();
    const QString missing = QDir(out.path()).filePath(QStringLiteral("brak/eksport.csv"));
    QSignalSpy done(w.get(), &TWykres::exportFinished);
    QVERIFY2(w->exportVisible(missing, &error), qPrintable(error));
    QVERIFY(!w->exportVisible(missing, &error)); // one export at a time per window
    QVERIFY2(error.contains(QStringLiteral("trwa")), qPrintable(error));
    QVERIFY(done.wait(20000));
    QCOMPARE(done[0][1].toBool(), false);
    const QString reported = done[0][2].toString();
    QVERIFY2(reported.contains(missing), qPrintable(reported));
    QCOMPARE(errors_, QStringList{reported});
    QVERIFY(!QFileInfo::exists(QFileInfo(missing).path()));
    errors_.clear();
}

void TstChartExport::exportOfAReplacedTable() {
    // The rows are chosen, then the table is replaced by a shorter one before
    // the worker reads them: the export fails instead of reading past the file.
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    generateLinia(file, {5000, end_, 3});
    TLineIndex index;
    index.open(file);
    const TLineExport what(index, 1, wallMs(end_) - kDay, wallMs(end_));
    QVERIFY(what.rowCount() > 100);
    QFile::remove(file);
    generateLinia(file, {50, end_, 4});
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("n1.csv"));
    QString error;
    QCOMPARE(what.write(csv, &error), TLineExport::Outcome::Failed);
    QVERIFY2(error.contains(QStringLiteral("zastąpiona")), qPrintable(error));
    QVERIFY(!QFile::exists(csv));
}

void TstChartExport::missingVoltages() {
    // Blank voltage fields: an empty CSV cell, "brak" in the tooltip, and the
    // tooltip passes over rows without any voltage of its line.
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("linia.dbf"));
    generateLinia(file, {3000, end_, 8});
    QVERIFY(overwriteVolts(file, 2000, 2100, 4, "     ")); // N2L2
    for (int k = 3; k < 6; ++k)
        QVERIFY(overwriteVolts(file, 2500, 2600, k, "     ")); // all of line 2
    TTable t(file);
    t.Open();
    TLineHistory history([&t] { return &t; });
    auto w = std::make_unique<TWykres>(chartLine(2), history, errorBox(), atNow());
    const TLineFile& f = history.index()->file();

    const std::vector<TRefRow> rows = readSorted(file);
    const TWallMs t0 = f.time(1990), t1 = f.time(2610);
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("n2.csv"));
    QString error;
    QCOMPARE(TLineExport(*history.index(), 2, t0, t1).write(csv, &error),
             TLineExport::Outcome::Written);
    const QByteArray got = readAll(csv);
    QVERIFY(got.contains(";;")); // N2L2 left empty
    QCOMPARE(got, expectedCsv(rows, 2, t0, t1));

    QVERIFY2(w->rowText(f.time(2050)).contains(QStringLiteral("\nL2: brak\n")),
             qPrintable(w->rowText(f.time(2050))));
    const QString inGap = w->rowText(f.time(2540)); // nearer to the gap's start
    QVERIFY2(inGap.startsWith(wallText(f.time(2499))), qPrintable(inGap));
    QVERIFY(errors_.isEmpty());
}

QTEST_MAIN(TstChartExport)
#include "tst_chartexport.moc"
