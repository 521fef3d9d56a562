// The chart index against the literal reading of every row: per pixel column
// the same first, last, lowest and highest point of each phase and the same
// neighbours beyond the edges, on generated tables with program stops, clock
// jumps both ways, appends, torn tails, a replaced file and fields without a
// number.
#include "history/linegen.h"
#include "history/lineindex.h"
#include "history/lineindexfile.h"
#include "linereference.h"
#include "tables/table.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <map>

using namespace qta;
using namespace qta::test;

namespace {

constexpr TWallMs kMin = 60000, kHour = 3600000, kDay = 24 * kHour;

struct Col {
    TWallMs tf, tl;
    int vf, vl, lo, hi;
    bool operator==(const Col&) const = default;
};
struct Picture {
    std::map<qint64, Col> cols;
    TWallMs left = kNoTime, right = kNoTime; // neighbours beyond the edges
    int leftV = 0, rightV = 0;
    bool operator==(const Picture&) const = default;
};

// What a polyline through the points draws per column, for one phase.
template <class Points> Picture summarise(const Points& pts, const TColumns& c) {
    Picture p;
    bool right = false;
    for (const auto& [t, v] : pts) {
        const qint64 col = c.column(t);
        if (col < 0) {
            p.left = t, p.leftV = v;
        } else if (col >= c.width) {
            if (!right)
                p.right = t, p.rightV = v, right = true;
        } else {
            auto [it, fresh] = p.cols.try_emplace(col, Col{t, t, v, v, v, v});
            Col& x = it->second;
            x.tl = t, x.vl = v, x.lo = std::min(x.lo, v), x.hi = std::max(x.hi, v);
        }
    }
    return p;
}

Picture reference(const std::vector<TRefRow>& rows, int line, int phase, const TColumns& c) {
    std::vector<std::pair<TWallMs, int>> pts;
    for (const TRefRow& r : rows)
        if (r.v[size_t(3 * (line - 1) + phase)] != kNoVolts)
            pts.emplace_back(r.t, r.v[size_t(3 * (line - 1) + phase)]);
    return summarise(pts, c);
}

Picture fromIndex(const TChartSeries& s, int phase, const TColumns& c) {
    std::vector<std::pair<TWallMs, int>> pts;
    for (const TChartPoint& p : s[size_t(phase)])
        pts.emplace_back(p.t, p.v);
    return summarise(pts, c);
}

QString describe(const Picture& a, const Picture& b) {
    for (const auto& [col, x] : a.cols) {
        auto it = b.cols.find(col);
        if (it == b.cols.end())
            return QStringLiteral("column %1 only in the index").arg(col);
        if (!(it->second == x))
            return QStringLiteral("column %1: index %2..%3 first %4 last %5, all rows %6..%7 first "
                                  "%8 last %9")
                .arg(col)
                .arg(x.lo)
                .arg(x.hi)
                .arg(x.vf)
                .arg(x.vl)
                .arg(it->second.lo)
                .arg(it->second.hi)
                .arg(it->second.vf)
                .arg(it->second.vl);
    }
    if (a.cols.size() != b.cols.size())
        return QStringLiteral("index has %1 columns, all rows %2")
            .arg(a.cols.size())
            .arg(b.cols.size());
    return QStringLiteral("neighbours: index %1/%2, all rows %3/%4")
        .arg(a.left)
        .arg(a.right)
        .arg(b.left)
        .arg(b.right);
}

// Every line and phase over the window [t0, t1] at `width` columns.
void compareAll(const TLineIndex& index, const std::vector<TRefRow>& rows, TWallMs t0, TWallMs t1,
                int width, const char* what) {
    for (double phase : {0.0, 0.5}) {
        const TColumns c{t0, t1, width, phase};
        for (int line = 1; line <= 3; ++line) {
            const TChartSeries s = index.query(line, c);
            for (int p = 0; p < 3; ++p) {
                const Picture got = fromIndex(s, p, c), want = reference(rows, line, p, c);
                if (!(got == want))
                    QFAIL(qPrintable(QStringLiteral("%1, line %2 phase %3: %4")
                                         .arg(QLatin1String(what))
                                         .arg(line)
                                         .arg(p + 1)
                                         .arg(describe(got, want))));
            }
        }
    }
}

// Table-order row where the clock went back (-1 when none).
qint64 backJump(const TLineFile& f, qint64 rows) {
    for (qint64 r = 1; r < rows; ++r)
        if (f.time(r) < f.time(r - 1) - 60000)
            return r;
    return -1;
}

// Fields as another program might leave them, and how the charts read them
// (as the table layer does: anything but a number is a missing value).
struct Odd {
    qint64 row;
    int field;
    const char* text;
    int volts;
};
const Odd kOdd[] = {
    {16000, 0, "2x0  ", kNoVolts}, {16001, 0, "*****", kNoVolts}, {4100, 2, "00007", 7},
    {4200, 5, "230.7", 230},       {4300, 1, "99999", 65535},     {4400, 4, "  -5 ", 0},
    {4500, 7, "7    ", 7},         {4600, 8, " 2 3 ", kNoVolts},  {4700, 0, "   00", 0},
    {4800, 3, "+ 231", kNoVolts},  {4900, 6, "23\0\0\0", 23},
};

// A generated table of 20 000 rows with blank fields: N1L2 over a few blocks,
// line 3 over more than a block of blocks, ten rows without any voltage, N2L1
// on every 7th row; and the odd fields above.
bool writeOddTable(const QString& file) {
    generateLinia(file, {20000, QDateTime(QDate(2026, 1, 12), QTime(6, 0)), 9});
    bool ok = overwriteVolts(file, 3000, 3300, 1, "     ");
    for (int k = 6; k < 9; ++k)
        ok = ok && overwriteVolts(file, 8000, 12196, k, "     ");
    for (int k = 0; k < 9; ++k)
        ok = ok && overwriteVolts(file, 15000, 15010, k, "     ");
    for (qint64 r = 0; r < 20000; r += 7)
        ok = ok && overwriteVolts(file, r, r + 1, 3, "     ");
    for (const Odd& o : kOdd)
        ok = ok && overwriteVolts(file, o.row, o.row + 1, o.field, o.text);
    return ok;
}

} // namespace

class TstLineIndex : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const char* name) const { return QDir(dir_.path()).filePath(QLatin1String(name)); }

private Q_SLOTS:
    void generatedTable();
    void queriesMatchAllRows();
    void appendsAndClockSetBack();
    void tornTableAndReplacedFile();
    void emptyTable();
    void missingValues();
    void buildInPieces();
    void extremesMatchAllRows();
};

void TstLineIndex::generatedTable() {
    const QString a = path("gen_a.dbf"), b = path("gen_b.dbf");
    const QDateTime end(QDate(2026, 1, 20), QTime(8, 30, 0));
    const TLineGenReport r = generateLinia(a, {30000, end, 7});
    generateLinia(b, {30000, end, 7});
    QCOMPARE(r.last.toString(Qt::ISODate), QStringLiteral("2026-01-20T08:30:00Z"));
    QVERIFY(r.stops >= 2 && r.backJumps >= 1 && r.forwardJumps >= 1);
    QFile fa(a), fb(b);
    QVERIFY(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
    QVERIFY2(fa.readAll().mid(32) == fb.readAll().mid(32), "same seed, same rows");
    QVERIFY_THROWS_EXCEPTION(ETable, generateLinia(a, {10, end, 1})); // never overwrites

    // The table layer reads it whole; zero rows at the start and around each stop.
    TTable t(a);
    t.Open();
    QCOMPARE(t.RecordCount(), 30000);
    int zeroRows = 0, over250 = 0;
    for (int row = 0; row < t.RecordCount(); ++row) {
        int sum = 0;
        for (int k = 1; k <= 9; ++k) {
            sum += int(t.numberValue(row, k));
            over250 += t.numberValue(row, k) > 250;
        }
        zeroRows += sum == 0;
    }
    QCOMPARE(zeroRows, 1 + 2 * r.stops);
    QVERIFY(over250 > 0); // spikes
    QCOMPARE(t.stringValue(0, 0), r.first.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void TstLineIndex::queriesMatchAllRows() {
    const QString file = path("q.dbf");
    const QDateTime endWall(QDate(2026, 1, 25), QTime(12, 0, 0));
    generateLinia(file, {100000, endWall, 3});
    const std::vector<TRefRow> rows = readSorted(file);
    TLineIndex index;
    index.open(file);
    QCOMPARE(index.rows(), 100000);
    QVERIFY(index.runCount() >= 2);
    const TWallMs end = wallMs(endWall);
    const qint64 jump = backJump(index.file(), index.rows());
    QVERIFY(jump > 0);
    const TWallMs j = index.file().time(jump);
    const TWallMs first = rows.front().t;

    struct Case {
        const char* what;
        TWallMs t0, t1;
        int width;
    };
    const Case cases[] = {
        {"scale 1 at the end", end - kMin, end, 754},
        {"scale 2 at the end", end - kHour, end, 754},
        {"scale 3 at the end", end - kDay, end, 754},
        {"a year over the whole table", end - 365 * kDay, end, 754},
        {"whole table, few columns", first - kMin, end + kMin, 7},
        {"the hour set back and around it", j - 90 * kMin, j + 90 * kMin, 754},
        {"one minute inside the repeated hour", j + 20 * kMin, j + 21 * kMin, 500},
        {"before the first row", first - 2 * kHour, first - kHour, 754},
        {"after the last row", end + kMin, end + kHour, 754},
        {"the first row on the left edge", first, first + kHour, 754},
        {"odd width, 13 ms columns", end - 9991, end, 754},
    };
    for (const Case& c : cases)
        compareAll(index, rows, c.t0, c.t1, c.width, c.what);

    // The rows in time order are what sorting all rows gives.
    std::vector<qint64> ordered;
    index.forEachInOrder(j - kHour, j + kHour, [&](qint64 r) { ordered.push_back(r); });
    std::vector<qint64> want;
    for (const TRefRow& r : rows)
        if (r.t >= j - kHour && r.t <= j + kHour)
            want.push_back(r.row);
    QCOMPARE(ordered, want);
    QCOMPARE(index.file().time(index.nearest(end + 400)), end);
    // A year of rows (31.5 million) must stay under 100 MB: about 3 bytes a row.
    QVERIFY(index.memoryBytes() < size_t(100000) * 3);
}

void TstLineIndex::appendsAndClockSetBack() {
    const QString file = path("app.dbf");
    const QDateTime endWall(QDate(2026, 1, 10), QTime(10, 0, 0));
    generateLinia(file, {20000, endWall, 11});
    TLineIndex index;
    index.open(file, 15000); // the rows at the time of a first open
    QCOMPARE(index.rows(), 15000);
    index.extendTo();
    QCOMPARE(index.rows(), 20000);

    // The program appends on: a minute, then the clock goes back 30 minutes.
    TTable t(file);
    t.Open();
    const auto append = [&](const QDateTime& when, int volts) {
        t.Append();
        t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(when);
        for (const char* f :
             {"N1L1", "N1L2", "N1L3", "N2L1", "N2L2", "N2L3", "N3L1", "N3L2", "N3L3"})
            t.FieldByName(QLatin1String(f)).setAsInteger(volts);
        t.Post();
    };
    for (int s = 1; s <= 60; ++s)
        append(endWall.addSecs(s), 200 + s);
    for (int s = 1; s <= 120; ++s)
        append(endWall.addSecs(-1800 + s), s % 7 == 0 ? 0 : 240);
    const int runsBefore = index.runCount();
    index.extendTo(t.RecordCount());
    QCOMPARE(index.rows(), 20180);
    QCOMPARE(index.runCount(), runsBefore + 1);

    const std::vector<TRefRow> rows = readSorted(file);
    const TWallMs end = wallMs(endWall);
    compareAll(index, rows, end - kHour, end + 2 * kMin, 754, "appended rows, clock set back");
    compareAll(index, rows, end - 31 * kMin, end - 27 * kMin, 754, "inside the repeated minutes");

    // Extended and built afresh give the same.
    TLineIndex fresh;
    fresh.open(file);
    const TColumns c{end - kDay, end + kMin, 754, 0.5};
    for (int line = 1; line <= 3; ++line) {
        const TChartSeries a = index.query(line, c), b = fresh.query(line, c);
        for (int p = 0; p < 3; ++p)
            QCOMPARE(fromIndex(a, p, c), fromIndex(b, p, c));
    }
}

void TstLineIndex::tornTableAndReplacedFile() {
    const QString file = path("torn.dbf");
    generateLinia(file, {1000, QDateTime(QDate(2026, 1, 5), QTime(9, 0)), 5});
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(353 + 999 * 54);
    const QByteArray row = f.read(54);
    // A crash after the row was written but before the count: the end mark
    // is overwritten by a complete row, then half a row follows.
    f.seek(353 + 1000 * 54);
    f.write(row);
    f.write(row.left(20));
    f.close();

    TLineIndex index;
    index.open(file);
    {
        TTable t(file);
        t.Open();
        QCOMPARE(index.rows(), qint64(t.RecordCount()));
    }
    QCOMPARE(index.rows(), 1001);

    // A power loss: the count ahead of what reached the disk.
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(4);
    const char count[4] = {char(0xF0), 0x03, 0, 0}; // 1008
    f.write(count, 4);
    f.close();
    index.extendTo();
    QCOMPARE(index.rows(), 1001);

    // Another, shorter table in its place is indexed afresh.
    QVERIFY(QFile::remove(file));
    generateLinia(file, {300, QDateTime(QDate(2026, 2, 5), QTime(9, 0)), 6});
    index.extendTo();
    QCOMPARE(index.rows(), 300);
    const std::vector<TRefRow> rows = readSorted(file);
    const TWallMs end = wallMs(QDateTime(QDate(2026, 2, 5), QTime(9, 0)));
    compareAll(index, rows, end - kHour, end, 754, "replaced table");
}

void TstLineIndex::emptyTable() {
    const QString file = path("empty.dbf");
    TTable::createLinia(file);
    TLineIndex index;
    index.open(file);
    QCOMPARE(index.rows(), 0);
    const TChartSeries s = index.query(1, {0, kHour, 754, 0});
    QVERIFY(s[0].empty() && s[1].empty() && s[2].empty());
    QCOMPARE(index.nearest(0), -1);
    // A file that is not a line-voltage table is refused with its name.
    const QString rejestr = path("rejestr.dbf");
    TTable::createRejestr(rejestr);
    try {
        index.open(rejestr);
        QFAIL("opened the event log as a voltage table");
    } catch (const ETable& e) {
        QVERIFY(e.message().contains(rejestr));
    }
}

void TstLineIndex::missingValues() {
    // Blank fields (and fields that hold no number) are missing values: each
    // phase's line runs through the points it has. Stored zeros stay 0 V.
    const QString file = path("missing.dbf");
    QVERIFY(writeOddTable(file));
    const std::vector<TRefRow> rows = readSorted(file);
    TLineIndex index;
    index.open(file);
    const TLineFile& f = index.file();
    const auto at = [&](qint64 r) { return f.time(r); };
    const TWallMs first = rows.front().t, last = rows.back().t;
    struct Case {
        const char* what;
        TWallMs t0, t1;
        int width;
    };
    const Case cases[] = {
        {"around the N1L2 gap, a row a column", at(3000) - 10 * kMin, at(3300) + 10 * kMin, 754},
        {"inside the N1L2 gap, neighbours beyond both edges", at(3100), at(3200), 754},
        {"inside the line 3 gap", at(9000), at(11000), 754},
        {"the line 3 gap in few columns", at(7000), at(13000), 5},
        {"the rows without voltages, bad fields", at(14990), at(16010), 754},
        {"the odd fields, a row or two a column", at(4000), at(5000), 754},
        {"the odd fields, many rows a column", at(4000), at(5000), 16},
        {"every row, many per column", first - kMin, last + kMin, 50},
        {"every row, odd width", first, last, 997},
    };
    for (const Case& c : cases)
        compareAll(index, rows, c.t0, c.t1, c.width, c.what);
    QCOMPARE(f.volts(3000, 1), kNoVolts);
    QCOMPARE(f.volts(0, 0), 0); // the start row: a real 0
    for (const Odd& o : kOdd)
        QVERIFY2(f.volts(o.row, o.field) == o.volts, o.text);

    // The tooltip's row: nearest in time among the rows holding a voltage of the line.
    for (const auto& [t, line] : {std::pair{at(10000), 3}, std::pair{at(15005), 1},
                                  std::pair{at(8001), 3}, std::pair{at(12194), 3}}) {
        TWallMs want = -1;
        for (const TRefRow& r : rows) {
            const auto* v = &r.v[size_t(3 * (line - 1))];
            if (v[0] != kNoVolts || v[1] != kNoVolts || v[2] != kNoVolts)
                want = want < 0 ? std::abs(r.t - t) : std::min(want, std::abs(r.t - t));
        }
        const qint64 r = index.nearest(t, line);
        QVERIFY(r >= 0);
        QCOMPARE(std::abs(f.time(r) - t), want);
    }
    QCOMPARE(f.time(index.nearest(at(15005))), at(15005)); // any row, with or without voltages
}

void TstLineIndex::buildInPieces() {
    // Pieces on several threads give what reading one row after another
    // gives, odd fields and all; stopped early, the index holds the first
    // pieces and goes on from there.
    const QString file = path("pieces.dbf");
    QVERIFY(writeOddTable(file));
    TLineIndex rowByRow;
    rowByRow.setBuild(1, 0, true);
    rowByRow.open(file);
    QCOMPARE(rowByRow.rows(), 20000);
    for (const auto& [threads, piece] : {std::pair{3, 64 * 7}, std::pair{1, 64}, std::pair{2, 0}}) {
        TLineIndex pieces;
        pieces.setBuild(threads, piece);
        pieces.open(file, 0);
        pieces.extendTo(5); // a few rows on their own, then the rest from mid-block
        pieces.extendTo();
        const QString d = differences(pieces, rowByRow);
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral("%1 threads: %2").arg(threads).arg(d)));
    }

    TLineIndex stopped; // one thread: stopped after its first piece, whatever the scheduling
    stopped.setBuild(1, 64 * 10);
    stopped.open(file, 0);
    QList<qint64> reports;
    stopped.extendTo(-1, [&](qint64 done) {
        reports << done;
        return false;
    });
    QCOMPARE(reports.size(), 1);
    QCOMPARE(stopped.rows(), 64 * 10);
    stopped.extendTo();
    QCOMPARE(differences(stopped, rowByRow), QString());
}

void TstLineIndex::extremesMatchAllRows() {
    // The report's lowest and highest per voltage leave out the start and end
    // rows of zeros and the fields without a number, whichever way the index
    // was made: built in pieces, row by row, or read back from its kept file.
    const QString file = path("x.dbf");
    const QDateTime endWall(QDate(2026, 1, 25), QTime(12, 0, 0));
    generateLinia(file, {100000, endWall, 5});
    const QString odd = path("x-odd.dbf");
    QVERIFY(writeOddTable(odd));

    struct Case {
        const char* what;
        TWallMs t0, t1;
    };
    const auto check = [](const TLineIndex& index, const std::vector<TRefRow>& rows,
                          const std::vector<Case>& cases, const char* how) {
        for (const Case& c : cases) {
            TVoltExtremes want;
            want.lo.fill(65535);
            for (const TRefRow& r : rows) {
                if (r.t < c.t0 || r.t > c.t1 || r.v == std::array<int, 9>{})
                    continue;
                ++want.rows;
                for (size_t k = 0; k < 9; ++k) {
                    if (r.v[k] == kNoVolts)
                        continue;
                    want.lo[k] = std::min(want.lo[k], r.v[k]);
                    want.hi[k] = std::max(want.hi[k], r.v[k]);
                }
            }
            if (want.rows == 0)
                want.lo.fill(0);
            const TVoltExtremes got = index.extremes(c.t0, c.t1);
            const QByteArray what = QByteArray(c.what) + " (" + how + ")";
            QVERIFY2(got.rows == want.rows, what);
            QVERIFY2(got.lo == want.lo, what);
            QVERIFY2(got.hi == want.hi, what);
        }
    };
    const auto everyWay = [&](const QString& table, const std::vector<TRefRow>& rows,
                              const std::vector<Case>& cases) {
        TLineIndex pieces, rowByRow, kept;
        pieces.setBuild(2, 4096);
        pieces.open(table);
        rowByRow.setBuild(1, 0, true);
        rowByRow.open(table);
        QString error;
        const QString keptFile = TLineIndexFile::pathFor(table);
        QVERIFY2(TLineIndexFile::save(pieces, keptFile, &error), qPrintable(error));
        QVERIFY(kept.openKept(table, keptFile).loaded == pieces.rows());
        check(pieces, rows, cases, "pieces");
        check(rowByRow, rows, cases, "row by row");
        check(kept, rows, cases, "kept file");
    };

    const std::vector<TRefRow> rows = readSorted(file);
    TLineIndex index;
    index.open(file);
    const TWallMs end = wallMs(endWall);
    const TWallMs first = rows.front().t;
    const qint64 jump = backJump(index.file(), index.rows());
    const TWallMs j = index.file().time(jump);
    // A stop: its zero rows sit inside blocks whose other rows count.
    TWallMs stop = kNoTime;
    for (const TRefRow& r : rows)
        if (r.t > first + kHour && r.v == std::array<int, 9>{})
            stop = r.t;
    QVERIFY(stop != kNoTime);
    TWallMs t0 = 0, t1 = 0;
    QVERIFY(index.timeRange(t0, t1));
    QCOMPARE(t0, first);
    QCOMPARE(t1, rows.back().t);
    everyWay(file, rows,
             {
                 {"whole table", first - kMin, end + kMin},
                 {"a day to the end", end - kDay, end},
                 {"the hour set back and around it", j - 90 * kMin, j + 90 * kMin},
                 {"around a stop", stop - 37 * kMin, stop + 41 * kMin},
                 {"a stop's zero row alone", stop, stop},
                 {"one second", end - 1000, end - 1000},
                 {"before the first row", first - 2 * kHour, first - kHour},
             });

    const std::vector<TRefRow> oddRows = readSorted(odd);
    TLineIndex oddIndex;
    oddIndex.open(odd);
    const auto at = [&](qint64 r) { return oddIndex.file().time(r); };
    everyWay(odd, oddRows,
             {
                 {"odd table whole", oddRows.front().t - kMin, oddRows.back().t + kMin},
                 {"inside the N1L2 gap", at(3100), at(3200)},
                 {"inside the line 3 gap", at(9000), at(11000)},
                 {"the rows without voltages", at(14990), at(16010)},
             });
}

QTEST_GUILESS_MAIN(TstLineIndex)
#include "tst_lineindex.moc"
