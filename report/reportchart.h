// A voltage chart on a report page: the chart windows' own plot set-up
// (history/chartplot.*) and index query, drawn as vectors at the size the
// page gives it.
#pragma once

#include "history/lineindex.h"

#include <QRectF>
#include <memory>

class QCustomPlot;
class QCPPainter;

namespace qta {

class TReportChart {
public:
    TReportChart();
    ~TReportChart();

    // Width of the plot in its own pixels: the index gives a point set per
    // pixel column, as for a chart window of this width.
    static constexpr int kWidth = 760;

    // Draws the three phases of `line` over [t0, t1] into `target`, from
    // `points` when they were asked for the plot's columns, else from the
    // index.
    void draw(QCPPainter& p, const QRectF& target, const TLineIndex* index, int line, TWallMs t0,
              TWallMs t1, const TColumns& columns = {}, const TChartSeries* points = nullptr);

    // The pixel columns of the chart of `line` over [t0, t1] on a report
    // page, for asking the index ahead.
    static TColumns columnsFor(int line, TWallMs t0, TWallMs t1);
    // The page's chart is half as high as wide.
    static constexpr int kHeight = kWidth / 2;

private:
    std::unique_ptr<QCustomPlot> plot_;
};

} // namespace qta
