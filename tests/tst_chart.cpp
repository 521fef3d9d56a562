// The voltage chart windows: scale table and buttons, minimum height, the
// error box of a table that is not open, a status reply reaching an open
// chart, and the picture: drawn from the index it matches the one drawn from
// every row of the table.
#include "chartfixture.h"
#include "core/controller.h"
#include "recordingview.h"
#include "tables/table.h"
#include "testbytes.h"

#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>
#include <qcustomplot.h>

using namespace qta;
using namespace qta::test;

namespace {

constexpr TWallMs kMin = 60000, kHour = 3600000, kDay = 24 * kHour;

// Lit pixels of one colour inside the axis rectangle, per column: row numbers.
struct Lit {
    int width = 0, height = 0;
    std::vector<std::vector<int>> cols;
    bool at(int x, int y) const {
        if (x < 0 || x >= width || y < 0 || y >= height)
            return false;
        const auto& c = cols[size_t(x)];
        return std::binary_search(c.begin(), c.end(), y);
    }
};

Lit litPixels(QCustomPlot* plot, int phase) {
    for (int p = 0; p < 3; ++p)
        plot->graph(p)->setVisible(p == phase);
    plot->replot();
    const QImage img = plot->grab().toImage();
    const QRect r = plot->axisRect()->rect();
    const QRgb colour = phaseColours()[size_t(phase)].rgb();
    Lit lit;
    lit.width = r.width();
    lit.height = r.height();
    lit.cols.resize(size_t(r.width()));
    for (int x = 0; x < r.width(); ++x)
        for (int y = 0; y < r.height(); ++y)
            if ((img.pixel(r.left() + x, r.top() + y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                lit.cols[size_t(x)].push_back(y);
    return lit;
}

// Pixels of `a` with no lit pixel of `b` within one pixel.
int strays(const Lit& a, const Lit& b) {
    int n = 0;
    for (int x = 0; x < a.width; ++x)
        for (int y : a.cols[size_t(x)]) {
            bool near = false;
            for (int dx = -1; dx <= 1 && !near; ++dx)
                for (int dy = -1; dy <= 1 && !near; ++dy)
                    near = b.at(x + dx, y + dy);
            n += !near;
        }
    return n;
}

int differing(const Lit& a, const Lit& b) {
    int n = 0;
    for (int x = 0; x < a.width; ++x)
        for (int y : a.cols[size_t(x)])
            n += !b.at(x, y);
    return n;
}

} // namespace

class TstChart : public QObject, protected TChartFixture {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void scaleTableAndButtons();
    void minimumHeight();
    void pictureMatchesAllRows_data();
    void pictureMatchesAllRows();
    void tableNotOpen();
    void statusReplyShowsWithinOneRefresh();
    void backgroundBuild();
    void savePicture();
    void tooltipShowsNearestRow();
};

void TstChart::initTestCase() {
    // QTA_CHART_TABLE names a larger generated table (ending at end_) to run
    // the picture comparison on by hand; the other cases write to the table.
    openTable(qEnvironmentVariable("QTA_CHART_TABLE"));
}

void TstChart::scaleTableAndButtons() {
    auto w = window();
    QCOMPARE(w->state.Skala, 2);
    QCOMPARE(w->StatusText->text(), QStringLiteral("Charakterystyka z 1 godziny, skok - 10 minut"));
    QCOMPARE(w->Chart->xAxis->range().upper * 1000, double(now_));
    QCOMPARE(w->Chart->xAxis->range().size(), 3600.0);

    const QStringList texts = {
        QStringLiteral("Charakterystyka z 1 minuty, skok - 10 sekund"),
        QStringLiteral("Charakterystyka z 1 godziny, skok - 10 minut"),
        QStringLiteral("Charakterystyka z 1 doby, skok - 3 godziny"),
        QStringLiteral("Charakterystyka z tygodnia, skok - 1 dzień "),
        QStringLiteral("Charakterystyka z miesiąca, skok - tydzień"),
        QStringLiteral("Charakterystyka z roku, skok - miesiąc"),
    };
    const std::array<double, 6> widths{60, 3600, 86400, 7 * 86400, 30 * 86400, 365 * 86400};
    const std::array<int, 6> periods{5000, 60000, 900000, 3600000, 3600000, 3600000};
    // Down to 1, once more (no change, still a reload), then up through 6 and past it.
    w->ZmniejszSkaleClick();
    int reloads = w->reloadCount();
    w->ZmniejszSkaleClick();
    QCOMPARE(w->state.Skala, 1);
    QCOMPARE(w->reloadCount(), reloads + 1);
    for (int s = 1; s <= 6; ++s) {
        QCOMPARE(w->state.Skala, s);
        QCOMPARE(w->StatusText->text(), texts[s - 1]);
        QCOMPARE(w->Chart->xAxis->range().size(), widths[size_t(s - 1)]);
        QCOMPARE(w->Timer.interval(), periods[size_t(s - 1)]);
        QCOMPARE(w->Chart->xAxis->range().upper * 1000, double(now_)); // the right edge stays
        w->ZwiekszSkaleClick();
    }
    QCOMPARE(w->state.Skala, 6);
    reloads = w->reloadCount();
    w->ZwiekszSkaleClick();
    QCOMPARE(w->reloadCount(), reloads + 1);
    QVERIFY(w->Chart->accessibleName().contains(QStringLiteral("z roku")));

    // Scale 2: two steps back are 20 minutes, each tick a minute on, the right
    // button stops at the present.
    auto v = window();
    v->LewoButtonClick();
    v->LewoButtonClick();
    QCOMPARE(v->state.Max, now_ - 20 * kMin);
    v->TimerTimer();
    QCOMPARE(v->state.Max, now_ - 19 * kMin);
    v->PrawoButtonClick();
    v->PrawoButtonClick();
    QCOMPARE(v->state.Max, now_);
    v->TimerTimer(); // the tick does not stop at the present
    QCOMPARE(v->state.Max, now_ + kMin);
    v->LewoButtonClick();
    v->TerazButtonClick();
    QCOMPARE(v->state.Max, now_);
    QCOMPARE(v->Chart->xAxis->range().lower * 1000, double(now_ - kHour));
    for (const char* b :
         {"ZmniejszSkale", "ZwiekszSkale", "LewoButton", "TerazButton", "PrawoButton"}) {
        auto* button = v->findChild<QToolButton*>(QLatin1String(b));
        QVERIFY(button && button->accessibleDescription() == QLatin1String(b));
        QVERIFY(!button->accessibleName().isEmpty() && !button->icon().isNull());
        QCOMPARE(button->size(), QSize(60, 32));
    }
    QVERIFY(errors_.isEmpty());
}

void TstChart::minimumHeight() {
    QMdiArea area;
    area.resize(1000, 800);
    auto* sub = area.addSubWindow(window().release());
    area.show();
    sub->resize(754, 100);
    QVERIFY(sub->widget()->height() >= 200);
    sub->resize(754, 500);
    QVERIFY(sub->widget()->height() > 200);
}

void TstChart::pictureMatchesAllRows_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<qint64>("t0");
    QTest::addColumn<qint64>("t1");
    TLineIndex index;
    index.open(file_);
    const TLineFile& f = index.file();
    qint64 back = -1, fwd = -1, start = -1, gap = -1;
    TWallMs gapLen = 0;
    for (qint64 r = 1; r < index.rows(); ++r) {
        const TWallMs d = f.time(r) - f.time(r - 1);
        if (d < -kMin && back < 0)
            back = r;
        if (d >= kHour - 2000 && d <= kHour + 2000 && fwd < 0)
            fwd = r;
        if (f.volts(r, 0) == 0 && f.volts(r, 4) == 0 && start < 0 && d > 5000)
            start = r;
        if (d > gapLen && (d < kHour - 2000 || d > kHour + 2000))
            gap = r, gapLen = d;
    }
    QVERIFY(back > 0 && fwd > 0 && start > 0 && gap > 0);
    const TWallMs end = wallMs(end_);
    const auto at = [&](qint64 r) { return f.time(r); };
    QTest::newRow("scale 2 at the end") << 1 << end - kHour << end;
    QTest::newRow("scale 3, a stop and start")
        << 2 << at(start) - 12 * kHour << at(start) + 12 * kHour;
    QTest::newRow("N3 axis from 80 V, stop") << 3 << at(start) - kHour << at(start) + 20 * kMin;
    QTest::newRow("clock set back an hour") << 1 << at(back) - 2 * kHour << at(back) + kHour;
    QTest::newRow("clock set forward") << 2 << at(fwd) - 30 * kMin << at(fwd) + 30 * kMin;
    QTest::newRow("N2, inside the longest pause")
        << 2 << at(gap) - gapLen / 2 << at(gap) - gapLen / 3;
    QTest::newRow("scale 4, rows beyond both edges") << 1 << end - 2 * kDay << end - kDay / 2;
    QTest::newRow("scale 6, every row in few columns") << 1 << end - 365 * kDay << end;
    QTest::newRow("scale 1 at the end") << 3 << end - kMin << end;
}

void TstChart::pictureMatchesAllRows() {
    QFETCH(int, line);
    QFETCH(qint64, t0);
    QFETCH(qint64, t1);
    TLineIndex index;
    index.open(file_);
    const std::vector<TRefRow>& rows = sorted();

    QCustomPlot fromIndex, fromRows;
    for (QCustomPlot* p : {&fromIndex, &fromRows}) {
        p->resize(754, 350);
        p->show(); // the plot lays itself out for the size it is shown at
        QVERIFY(QTest::qWaitForWindowExposed(p));
        setupChartPlot(p, chartLine(line));
        setChartRange(p, t0, t1);
    }
    setChartSeries(&fromIndex, index.query(line, plotColumns(&fromIndex)));
    // Every row of the range and the nearest row beyond each edge.
    const auto first = std::lower_bound(rows.begin(), rows.end(), t0,
                                        [](const TRefRow& r, TWallMs t) { return r.t < t; });
    const auto last = std::upper_bound(rows.begin(), rows.end(), t1,
                                       [](TWallMs t, const TRefRow& r) { return t < r.t; });
    TChartSeries all;
    for (auto it = first == rows.begin() ? first : first - 1; it != rows.end() && it <= last; ++it)
        for (int p = 0; p < 3; ++p)
            all[size_t(p)].push_back({it->t, it->v[size_t(3 * (line - 1) + p)]});
    setChartSeries(&fromRows, all);

    // Every difference is counted before the verdict, so that a run by hand
    // on a large table reports all of them.
    QStringList counts, failures;
    for (int p = 0; p < 3; ++p) {
        const Lit a = litPixels(&fromIndex, p), b = litPixels(&fromRows, p);
        int lit = 0, columns = 0;
        for (int x = 0; x < a.width; ++x) {
            const auto& ca = a.cols[size_t(x)];
            const auto& cb = b.cols[size_t(x)];
            lit += int(cb.size());
            if (ca.empty() && cb.empty())
                continue;
            if (ca.empty() != cb.empty() || ca.front() != cb.front() || ca.back() != cb.back()) {
                if (columns++ == 0)
                    failures << QStringLiteral("L%1 column %2: %3..%4 against %5..%6")
                                    .arg(p + 1)
                                    .arg(x)
                                    .arg(ca.empty() ? -1 : ca.front())
                                    .arg(ca.empty() ? -1 : ca.back())
                                    .arg(cb.empty() ? -1 : cb.front())
                                    .arg(cb.empty() ? -1 : cb.back());
            }
        }
        if (QByteArray(QTest::currentDataTag()).contains("pause") && lit <= a.width * 9 / 10)
            failures << QStringLiteral("L%1: no line across the pause").arg(p + 1);
        const int stray = strays(a, b) + strays(b, a);
        if (stray)
            failures << QStringLiteral("L%1: %2 pixels further than 1 from the other picture")
                            .arg(p + 1)
                            .arg(stray);
        counts << QStringLiteral("L%1: %2 of %3 lit pixels differ, %4 columns' extremes, %5 strays")
                      .arg(p + 1)
                      .arg(differing(a, b) + differing(b, a))
                      .arg(lit)
                      .arg(columns)
                      .arg(stray);
    }
    qInfo("%s: %s", QTest::currentDataTag(), qPrintable(counts.join(QStringLiteral(", "))));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
}

void TstChart::tableNotOpen() {
    // The table failed to open at start-up: every reload the user causes
    // shows the table layer's error; the timers do not repeat it.
    TTable closed(QDir(dir_.path()).filePath(QStringLiteral("brak.dbf")));
    TLineHistory history([&closed] { return &closed; });
    errors_.clear();
    auto w = std::make_unique<TWykres>(chartLine(2), history, errorBox(), atNow());
    QCOMPARE(errors_.size(), 1);
    QVERIFY(!errors_[0].isEmpty());
    w->RefreshTimerTimer();
    w->TimerTimer();
    QCOMPARE(errors_.size(), 1);
    w->LewoButtonClick();
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(w->Chart->graph(0)->dataCount(), 0);
    QCOMPARE(w->StatusText->text(), QStringLiteral("Charakterystyka z 1 godziny, skok - 10 minut"));
    errors_.clear();
}

void TstChart::statusReplyShowsWithinOneRefresh() {
    const QString old = QDir::currentPath();
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("rejestr"));
    TTable::createRejestr(QStringLiteral("rejestr/rejestr.dbf"));
    TTable::createLinia(QStringLiteral("rejestr/linia.dbf"));
    NullView view;
    {
        TQTA504Core core(&view);
        core.openTables();
        TLineHistory history([&core] { return core.Linia(); });
        TWykres w(chartLine(2), history, errorBox(), wallNow);
        w.Timer.stop();
        w.RefreshTimer.stop();
        QCOMPARE(w.Chart->graph(0)->dataCount(), 1); // the start row
        // The timer has moved the right edge a minute on; a reply arrives.
        w.TimerTimer();
        QSignalSpy appended(&core, &TQTA504Core::statusRowAppended);
        core.receiveBytes(buildFrame(
            RxStatus, statusBytes({230, 231, 232, 201, 202, 203, 0, 0, 0}, 0, 0, 0, 0x11, 0, 0)));
        QVERIFY(appended.wait(2000));
        w.RefreshTimerTimer();
        const QCPGraph* g = w.Chart->graph(1);
        QCOMPARE(g->dataCount(), 2);
        QCOMPARE((g->data()->constEnd() - 1)->value, 202.0);
        core.closeAll();
    }
    QDir::setCurrent(old);
    QVERIFY(errors_.isEmpty());
}

void TstChart::backgroundBuild() {
    // A large table is indexed on a worker while the window shows progress;
    // rows appended meanwhile are picked up once it is done.
    TTable t(file_);
    t.Open();
    TLineHistory history([&t] { return &t; }, nullptr, 1000);
    auto w = std::make_unique<TWykres>(chartLine(1), history, errorBox(), atNow());
    QVERIFY(history.building());
    QVERIFY(!w->Progress->isHidden());
    t.Append();
    t.FieldByName(QStringLiteral("CZAS")).setAsDateTime(end_.addSecs(30));
    t.FieldByName(QStringLiteral("N1L1")).setAsInteger(199);
    t.Post();
    QSignalSpy ready(&history, &TLineHistory::ready);
    QVERIFY(ready.wait(20000));
    QVERIFY(w->Progress->isHidden());
    QCOMPARE(history.index()->rows(), qint64(t.RecordCount()));
    QVERIFY(w->Chart->graph(0)->dataCount() > 100);
    QVERIFY(w->rowText(now_ + 29000).contains(QStringLiteral("L1: 199 V")));
    QVERIFY(errors_.isEmpty());
}

void TstChart::savePicture() {
    auto w = window(1);
    w->resize(754, 418);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->reload(true);
    const QString png = QDir(dir_.path()).filePath(QStringLiteral("wykres.png"));
    QString error;
    QVERIFY2(w->savePicture(png, &error), qPrintable(error));
    QImage img(png);
    QCOMPARE(img.size(), w->Chart->size());
    // Not blank: the background and every phase's colour are there.
    QSet<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            colours.insert(img.pixel(x, y) & 0xFFFFFF);
    QVERIFY(colours.contains(kChartBackground.rgb() & 0xFFFFFF));
    for (const QColor& c : phaseColours())
        QVERIFY2(colours.contains(c.rgb() & 0xFFFFFF), qPrintable(c.name()));

    QVERIFY(!w->savePicture(QDir(dir_.path()).filePath(QStringLiteral("brak/w.png")), &error));
    QVERIFY2(error.contains(QStringLiteral("brak/w.png")), qPrintable(error));
}

void TstChart::tooltipShowsNearestRow() {
    // Two rows some seconds apart near the end: a time a third of the way
    // names the first, two thirds the second; the mouse over the plot shows it.
    const std::vector<TRefRow>& rows = sorted();
    size_t i = rows.size() - 2;
    while (rows[i + 1].t - rows[i].t < 3000 || rows[i].v[3] <= 0 || rows[i + 1].v[3] <= 0)
        --i;
    const TRefRow &a = rows[i], &b = rows[i + 1];
    const auto text = [](const TRefRow& r) {
        return QDateTime::fromMSecsSinceEpoch(r.t, Qt::UTC)
                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
               QStringLiteral("\nL1: %1 V\nL2: %2 V\nL3: %3 V").arg(r.v[3]).arg(r.v[4]).arg(r.v[5]);
    };
    auto w = window(2);
    const TWallMs gap = b.t - a.t;
    QCOMPARE(w->rowText(a.t + gap / 3), text(a));
    QCOMPARE(w->rowText(b.t - gap / 3), text(b));

    w->state.Max = b.t + 30 * 1000;
    w->state.Skala = 1;
    w->Skaluj();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->reload(true);
    const int x = int(std::lround(w->Chart->xAxis->coordToPixel(wallSeconds(b.t))));
    QTest::mouseMove(w->Chart, QPoint(x, w->Chart->axisRect()->center().y()));
    QTRY_COMPARE(QToolTip::text(), text(b));
}

QTEST_MAIN(TstChart)
#include "tst_chart.moc"
