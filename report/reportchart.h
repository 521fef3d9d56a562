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

    // Draws the three phases of `line` over [t0, t1] into `target`.
    void draw(QCPPainter& p, const QRectF& target, const TLineIndex* index, int line, TWallMs t0,
              TWallMs t1);

private:
    std::unique_ptr<QCustomPlot> plot_;
};

} // namespace qta
