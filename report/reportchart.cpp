#include "report/reportchart.h"

#include "history/chartplot.h"
#include "report/reportpage.h"

#include <qcustomplot.h>

namespace qta {

TReportChart::TReportChart() = default;
TReportChart::~TReportChart() = default;

void TReportChart::draw(QCPPainter& p, const QRectF& target, const TLineIndex* index, int line,
                        TWallMs t0, TWallMs t1) {
    // A fresh plot per chart: the window's set-up adds its graphs.
    plot_ = std::make_unique<QCustomPlot>();
    QCustomPlot* plot = plot_.get();
    setupChartPlot(plot, chartLine(line));
    // Pixel-sized fonts measure the same on the screen and on the page, so
    // the labels the plot places by the screen's measure fit on paper too.
    QFont font(TPages::fontFamily());
    font.setPixelSize(11);
    for (QCPAxis* a : {plot->xAxis, plot->yAxis}) {
        a->setTickLabelFont(font);
        a->setLabelFont(font);
    }
    const int height = int(kWidth * target.height() / target.width());
    plot->setViewport(QRect(0, 0, kWidth, height));
    setChartRange(plot, t0, t1);
    const TColumns columns = plotColumns(plot);
    setChartSeries(plot, index ? index->query(line, columns) : TChartSeries{});
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / kWidth, target.height() / height);
    plot->toPainter(&p, kWidth, height);
    p.restore();
}

} // namespace qta
