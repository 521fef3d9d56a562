// How a voltage chart is drawn: the three lines of one supply line, their
// axes and colours, and the points the index gives for the plot's pixel
// columns. Shared by the chart windows, their picture export and the tests
// that compare the picture with one drawn from every row.
#pragma once

#include "history/lineindex.h"

#include <QColor>

class QCustomPlot;

namespace qta {

struct TChartLine {
    int line;             // 1..3
    const char* instance; // component name of the window
    const char* caption;
    double axisMin; // lower end of the voltage axis, V
};
const TChartLine& chartLine(int line);

constexpr QColor kChartBackground{231, 218, 183};
// Phases L1, L2, L3.
const std::array<QColor, 3>& phaseColours();

// Axes, tickers, colours and three graphs drawn as plain aliased 1-pixel lines.
void setupChartPlot(QCustomPlot* plot, const TChartLine& line);
// Sets the time axis to [t0, t1] (wall time).
void setChartRange(QCustomPlot* plot, TWallMs t0, TWallMs t1);
// The plot's pixel columns over its time axis (lays the plot out first).
TColumns plotColumns(QCustomPlot* plot);
void setChartSeries(QCustomPlot* plot, const TChartSeries& s);

} // namespace qta
