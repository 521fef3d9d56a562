#include "history/chartplot.h"

#include <cmath>
#include <qcustomplot.h>

namespace qta {

namespace {

// Date over time, at steps no finer than 10 seconds.
class TTimeTicker : public QCPAxisTickerDateTime {
public:
    TTimeTicker() {
        setDateTimeSpec(Qt::UTC); // the axis holds wall time as it was stored
        setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nhh:mm:ss"));
    }

protected:
    double getTickStep(const QCPRange& range) override {
        return std::max(10.0, QCPAxisTickerDateTime::getTickStep(range));
    }
};

// "230V" every 50 V.
class TVoltTicker : public QCPAxisTickerFixed {
public:
    TVoltTicker() {
        setTickStep(50);
        setScaleStrategy(ssNone);
    }

protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return QString::number(std::lround(tick)) + QLatin1Char('V');
    }
};

// Where a point between two pixel columns is drawn by the aliased 1-pixel
// pen: a point at x lights column floor(x + 0.5) of the axis rectangle.
constexpr double kColumnPhase = 0.5;

} // namespace

const TChartLine& chartLine(int line) {
    static const std::array<TChartLine, 3> lines{{
        {1, "Wykres_N1", "Linia N1", 0.0},
        {2, "Wykres_N2", "Linia N2", -2.0},
        {3, "Wykres_N3", "Linia N3", 80.0},
    }};
    return lines[size_t(std::clamp(line, 1, 3) - 1)];
}

const std::array<QColor, 3>& phaseColours() {
    static const std::array<QColor, 3> c{QColor(255, 255, 0), QColor(255, 0, 0),
                                         QColor(0, 128, 255)};
    return c;
}

void setupChartPlot(QCustomPlot* plot, const TChartLine& line) {
    plot->setBackground(kChartBackground);
    plot->axisRect()->setBackground(kChartBackground);
    plot->legend->setVisible(false);
    // Dense history draws thousands of segments per column: blended
    // antialiased lines would depend on every one of them, aliased lines
    // only on the column's extremes and its first and last point.
    plot->setNotAntialiasedElements(QCP::aePlottables);
    plot->setPlottingHint(QCP::phFastPolylines, true);

    QCPAxis* x = plot->xAxis;
    x->setTicker(QSharedPointer<TTimeTicker>::create());
    QCPAxis* y = plot->yAxis;
    y->setTicker(QSharedPointer<TVoltTicker>::create());
    y->setRange(line.axisMin, 305);
    for (QCPAxis* a : {x, y})
        a->grid()->setPen(QPen(QColor(160, 150, 120), 0, Qt::DotLine));
    for (int p = 0; p < 3; ++p) {
        QCPGraph* g = plot->addGraph();
        g->setName(QStringLiteral("L%1").arg(p + 1));
        g->setPen(QPen(phaseColours()[size_t(p)], 1));
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
        g->setAdaptiveSampling(false); // the points are already one column's worth
        g->setAntialiased(false);
    }
}

void setChartRange(QCustomPlot* plot, TWallMs t0, TWallMs t1) {
    plot->xAxis->setRange(wallSeconds(t0), wallSeconds(t1));
}

TColumns plotColumns(QCustomPlot* plot) {
    QCPLayoutElement* layout = plot->plotLayout();
    layout->setOuterRect(plot->viewport());
    layout->update(QCPLayoutElement::upPreparation);
    layout->update(QCPLayoutElement::upMargins);
    layout->update(QCPLayoutElement::upLayout);
    // Labels about 70 pixels wide: one per 110 pixels keeps them apart.
    plot->xAxis->ticker()->setTickCount(std::max(2, plot->axisRect()->width() / 110));
    const QCPRange r = plot->xAxis->range();
    return {TWallMs(std::llround(r.lower * 1000)), TWallMs(std::llround(r.upper * 1000)),
            std::max(1, plot->axisRect()->width()), kColumnPhase};
}

void setChartSeries(QCustomPlot* plot, const TChartSeries& s) {
    for (int p = 0; p < 3; ++p) {
        QVector<double> keys, values;
        keys.reserve(qsizetype(s[size_t(p)].size()));
        values.reserve(qsizetype(s[size_t(p)].size()));
        for (const TChartPoint& pt : s[size_t(p)]) {
            keys << wallSeconds(pt.t);
            values << pt.v;
        }
        plot->graph(p)->setData(keys, values, true);
    }
}

} // namespace qta
