#include "report/reportchart.h"

#include "history/chartplot.h"
#include "report/reportpage.h"

#include <qcustomplot.h>

namespace qta {

TReportChart::TReportChart() = default;
TReportChart::~TReportChart() = default;

namespace {

// The chart windows' set-up, with fonts that measure the same on the screen
// and on the page, over [t0, t1].
void prepare(QCustomPlot* plot, int line, int height, TWallMs t0, TWallMs t1) {
    setupChartPlot(plot, chartLine(line));
    // Pixel-sized fonts measure the same on the screen and on the page, so
    // the labels the plot places by the screen's measure fit on paper too.
    QFont font(TPages::fontFamily());
    font.setPixelSize(11);
    for (QCPAxis* a : {plot->xAxis, plot->yAxis}) {
        a->setTickLabelFont(font);
        a->setLabelFont(font);
    }
    plot->setViewport(QRect(0, 0, TReportChart::kWidth, height));
    setChartRange(plot, t0, t1);
}

bool sameColumns(const TColumns& a, const TColumns& b) {
    return a.t0 == b.t0 && a.t1 == b.t1 && a.width == b.width && a.phase == b.phase;
}

} // namespace

TColumns TReportChart::columnsFor(int line, TWallMs t0, TWallMs t1) {
    QCustomPlot plot;
    prepare(&plot, line, kHeight, t0, t1);
    return plotColumns(&plot);
}

void TReportChart::draw(QCPPainter& p, const QRectF& target, const TLineIndex* index, int line,
                        TWallMs t0, TWallMs t1, const TColumns& columns,
                        const TChartSeries* points) {
    // A fresh plot per chart: the window's set-up adds its graphs.
    plot_ = std::make_unique<QCustomPlot>();
    QCustomPlot* plot = plot_.get();
    const int height = int(kWidth * target.height() / target.width());
    prepare(plot, line, height, t0, t1);
    const TColumns here = plotColumns(plot);
    if (points && sameColumns(here, columns))
        setChartSeries(plot, *points);
    else
        setChartSeries(plot, index ? index->query(line, here) : TChartSeries{});
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / kWidth, target.height() / height);
    plot->toPainter(&p, kWidth, height);
    p.restore();
}

} // namespace qta
