#include "mimic/mimicwindow.h"

#include "artwork/artwork.h"
#include "core/controller.h"

#include <QLabel>
#include <QMdiSubWindow>
#include <climits>
#include <qcustomplot.h>

namespace qta {

namespace {

constexpr int kRefreshMs = 250;
constexpr int kAxisWidth = 301; // seconds of chart time in view
constexpr int kBlankAfter = 10; // refreshes without link before the blanking

const QColor kPanelBeige(0xE8, 0xDB, 0xB9);
const QColor kGrid(0x9C, 0x8F, 0x70);

// Setting what an element already shows would repaint it four times a second.
void setShown(QWidget* w, bool shown) {
    if (w->isHidden() == shown)
        w->setVisible(shown);
}

QString spokenReading(const QString& text) {
    if (text == QLatin1String("---"))
        return QStringLiteral("poniżej 81V");
    if (text == QLatin1String("+++"))
        return QStringLiteral("300V lub więcej");
    return text;
}

void tagComponent(QWidget* w, const QString& name, const QString& spoken) {
    w->setObjectName(name);
    w->setAccessibleDescription(name);
    w->setAccessibleName(spoken);
}

} // namespace

QString TMimicWindow::readingText(int volts) { return mimicReadingText(volts); }

TMimicWindow::TMimicWindow(const TMimicLayout& layout, const TQTA504Core& state,
                           std::function<void()> showMain, QWidget* parent)
    : QWidget(parent), layout_(layout), state_(state), showMain_(std::move(showMain)) {
    const QString instance = layout_.className.mid(1); // "Prog_1": the window's own name
    setObjectName(instance);
    setAccessibleDescription(instance);
    setAccessibleName(layout_.caption);
    setWindowTitle(layout_.caption);
    if (!parent) {
        Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                Qt::WindowCloseButtonHint;
        flags |= layout_.sizeable ? Qt::WindowMaximizeButtonHint : Qt::MSWindowsFixedSizeDialogHint;
        setWindowFlags(flags);
    }
    if (layout_.sizeable) {
        // Enlarging shows more plain window colour around the fixed picture.
        setMinimumSize(layout_.client);
        resize(layout_.client);
    } else {
        setFixedSize(layout_.client);
    }

    auto* background = new QLabel(this);
    tagComponent(background, layout_.backgroundName, QString());
    background->setPixmap(artworkPixmap(layout_.backgroundFile, layout_.backgroundSize));
    background->setGeometry(QRect(QPoint(0, 0), layout_.backgroundSize));

    // Supply diagram: the all-off picture lies above the others.
    for (const TDiagramPicture& pic : layout_.active) {
        QLabel* l = makePicture(pic.name, QStringLiteral("Zasilanie: ") + pic.description, pic.file,
                                layout_.diagram);
        l->hide();
        diagramActive_.push_back(l);
    }
    diagramOff_ =
        makePicture(layout_.off.name, QStringLiteral("Zasilanie: ") + layout_.off.description,
                    layout_.off.file, layout_.diagram);

    panels_.resize(layout_.panels.size());
    for (size_t i = 0; i < panels_.size(); ++i)
        buildPanel(panels_[i], layout_.panels[i]);

    Timer.setObjectName(layout_.timerName);
    Timer.setInterval(kRefreshMs);
    connect(&Timer, &QTimer::timeout, this, &TMimicWindow::TimerTimer);
    Timer.start();
}

TMimicWindow::~TMimicWindow() = default;

QLabel* TMimicWindow::makePicture(const QString& name, const QString& spoken, const QString& file,
                                  const QRect& geometry) {
    auto* l = new QLabel(this);
    tagComponent(l, name, spoken);
    l->setPixmap(artworkPixmap(file, geometry.size()));
    l->setGeometry(geometry);
    return l;
}

TMimicWindow::Lamp TMimicWindow::makeLamp(const QString& name, const QString& spoken,
                                          const char* kind, QPoint at) {
    const QRect r(at, kLampSize);
    Lamp lamp;
    lamp.unlit = makePicture(name + QStringLiteral("_Off"), spoken + QStringLiteral(": zgaszona"),
                             QStringLiteral("lamp_%1_off.svg").arg(QLatin1String(kind)), r);
    lamp.lit = makePicture(name, spoken + QStringLiteral(": zapalona"),
                           QStringLiteral("lamp_%1_on.svg").arg(QLatin1String(kind)), r);
    lamp.lit->hide();
    return lamp;
}

void TMimicWindow::buildPanel(Panel& p, const TPanelLayout& pl) {
    p.layout = &pl;
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);

    for (int k = 0; k < 3; ++k) {
        const QString phase = QStringLiteral("L%1").arg(k + 1);
        const QString name = QStringLiteral("N%1%2").arg(pl.line).arg(phase);
        const QString where = pl.tag + QLatin1Char(' ') + phase;

        auto* r = new QLabel(QStringLiteral("230V"), this);
        tagComponent(r, name + QStringLiteral("_U"),
                     QStringLiteral("Napięcie %1: 230V").arg(where));
        r->setTextFormat(Qt::PlainText);
        r->setAlignment(Qt::AlignCenter);
        r->setFont(font);
        r->setPalette(palette);
        r->setAutoFillBackground(true);
        r->setGeometry(QRect(QPoint(pl.readingX[size_t(k)], kReadingY), kReadingSize));
        p.readings[size_t(k)] = r;

        const int x = pl.lampX[size_t(k)];
        p.max[size_t(k)] =
            makeLamp(name + QStringLiteral("_Max"), QStringLiteral("Lampka Vmax %1").arg(where),
                     "vmax", {x, pl.lampY});
        p.ok[size_t(k)] =
            makeLamp(name + QStringLiteral("_OK"), QStringLiteral("Lampka Vok %1").arg(where),
                     "vok", {x, pl.lampY + 16});
        p.min[size_t(k)] =
            makeLamp(name + QStringLiteral("_Min"), QStringLiteral("Lampka Vmin %1").arg(where),
                     "vmin", {x, pl.lampY + 32});
    }

    for (size_t b = 0; b < p.badges.size(); ++b) {
        QLabel* l = makePicture(
            QStringLiteral("N%1_Status_%2").arg(pl.line).arg(QLatin1String(kBadgeLetters[b])),
            QStringLiteral("Status %1: %2").arg(pl.genitive, QString::fromUtf8(kBadgeTexts[b])),
            QLatin1String(kBadgeFiles[b]), QRect(pl.badge, kBadgeSize));
        l->hide();
        p.badges[b] = l;
    }

    buildChart(p);
}

void TMimicWindow::buildChart(Panel& p) {
    const TPanelLayout& pl = *p.layout;
    auto* plot = new QCustomPlot(this);
    tagComponent(plot, QStringLiteral("N%1_Wykres").arg(pl.line),
                 QStringLiteral("Wykres napięć %1").arg(pl.genitive));
    plot->setGeometry(QRect(pl.chart, kChartSize));
    plot->setBackground(QBrush(kPanelBeige));
    plot->setInteractions(QCP::Interactions());
    plot->legend->setVisible(false);
    // Room above the top grid line for its label.
    plot->axisRect()->setMinimumMargins(QMargins(0, 6, 5, 3));

    QFont tickFont(QStringLiteral("Arial"));
    tickFont.setStyleHint(QFont::SansSerif);
    tickFont.setPixelSize(9);
    const QPen gridPen(kGrid, 0, Qt::DotLine);

    // Bottom axis: chart seconds, a grid line every minute, nothing written.
    auto xTicker = QSharedPointer<QCPAxisTickerFixed>::create();
    xTicker->setTickStep(60);
    xTicker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    QCPAxis* x = plot->xAxis;
    x->setTicker(xTicker);
    x->setRange(0, kAxisWidth);
    x->setTickLabels(false);
    x->setTickLength(0, 0);
    x->setSubTicks(false);
    x->setPadding(0);
    x->setTickLabelPadding(0);
    x->grid()->setPen(gridPen);

    // Left axis: volts, labelled at the multiples of 50 inside the range.
    auto yTicker = QSharedPointer<QCPAxisTickerText>::create();
    for (int v = (pl.axisMin + 49) / 50 * 50; v <= pl.axisMax; v += 50)
        yTicker->addTick(v, QString::number(v) + QLatin1Char('V'));
    QCPAxis* y = plot->yAxis;
    y->setTicker(yTicker);
    y->setRange(pl.axisMin, pl.axisMax);
    y->setSubTicks(false);
    y->setTickLabelFont(tickFont);
    y->setTickLength(3, 0);
    y->setPadding(2);
    y->setTickLabelPadding(2);
    y->grid()->setPen(gridPen);

    for (size_t k = 0; k < 3; ++k) {
        QCPGraph* g = plot->addGraph(x, y);
        g->setPen(QPen(QColor::fromRgb(pl.colours[k]), 1));
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
    }
    p.chart = plot;
}

// --------------------------------------------------------------------------- refresh

void TMimicWindow::TimerTimer() {
    if (layout_.linkTest) {
        if (!state_.UART_Connect) {
            // Hold what is shown; after 2.75 s without link blank what would
            // otherwise look live.
            if (Licz < INT_MAX)
                ++Licz;
            if (Licz > kBlankAfter)
                blank();
            return;
        }
        Licz = 0;
        for (Panel& p : panels_)
            for (QLabel* r : p.readings)
                setShown(r, true);
    }

    for (Panel& p : panels_)
        refreshPanel(p);
    refreshDiagram();
    chartStep();

    if (layout_.selfSwitch && state_.Aktywny_Program != layout_.program)
        closeAndShowMain(); // nothing of this window may be touched after it
}

void TMimicWindow::refreshPanel(Panel& p) {
    const TPanelLayout& pl = *p.layout;
    const TLinia1& line = state_.linia(pl.line);
    const TLinia& limits = state_.Konfig.Linia[size_t(pl.line)];

    for (size_t k = 0; k < 3; ++k) {
        QLabel* r = p.readings[k];
        const QString text = readingText(line.U[k + 1]);
        if (r->text() != text) {
            r->setText(text);
            r->setAccessibleName(QStringLiteral("Napięcie %1 L%2: %3")
                                     .arg(pl.tag)
                                     .arg(k + 1)
                                     .arg(spokenReading(text)));
        }
    }

    auto setLamp = [](const Lamp& lamp, bool lit) {
        setShown(lamp.lit, lit);
        setShown(lamp.unlit, !lit);
    };
    for (size_t k = 0; k < 3; ++k) {
        const int u = line.U[k + 1];
        setLamp(p.min[k], line.Error_Min[k + 1] != 0);
        setLamp(p.max[k], line.Error_Max[k + 1] != 0);
        // This program's own judgement against the limits last read.
        setLamp(p.ok[k], limits.Umin <= u && u <= limits.Umax);
    }

    if (const int b = badgeOfStatus(line.Status); b >= 0)
        p.badge = b;
    for (size_t b = 0; b < p.badges.size(); ++b)
        setShown(p.badges[b], int(b) == p.badge);
}

void TMimicWindow::refreshDiagram() {
    const int a = state_.Aktywna_Linia;
    const int entry = a >= 0 && a < int(layout_.diagramTable.size())
                          ? layout_.diagramTable[size_t(a)]
                          : layout_.otherValues;
    if (entry != TMimicLayout::kKeep)
        diagramShown_ = entry;
    // An unlisted value keeps the picture last selected; showing it again
    // also brings it back after a link-loss blanking.
    setShown(diagramOff_, diagramShown_ == TMimicLayout::kOff);
    for (size_t i = 0; i < diagramActive_.size(); ++i)
        setShown(diagramActive_[i], int(i) == diagramShown_);
}

void TMimicWindow::chartStep() {
    if (++Tic <= 3)
        return;
    Tic = 0;
    ++Czas;
    for (Panel& p : panels_) {
        QCustomPlot* plot = p.chart;
        const TLinia1& line = state_.linia(p.layout->line);
        // From the 301st second on the view follows the newest point.
        const bool moving = Czas >= kAxisWidth;
        if (moving) {
            const QCPRange r = plot->xAxis->range();
            plot->xAxis->setRange(r.lower + 1, r.upper + 1);
        }
        for (int k = 0; k < 3; ++k) {
            QCPGraph* g = plot->graph(k);
            g->addData(Czas, line.U[size_t(k) + 1]);
            // Points that have scrolled out of view are dropped: a window left
            // open for weeks keeps a bounded history.
            if (moving)
                g->data()->removeBefore(plot->xAxis->range().lower);
        }
        plot->replot(QCustomPlot::rpQueuedReplot);
    }
}

void TMimicWindow::blank() {
    for (Panel& p : panels_) {
        for (QLabel* b : p.badges)
            setShown(b, false);
        for (size_t k = 0; k < 3; ++k) {
            setShown(p.readings[k], false);
            setShown(p.ok[k].lit, false);
            setShown(p.max[k].lit, false);
        }
    }
    for (QLabel* l : diagramActive_)
        setShown(l, false);
}

void TMimicWindow::closeAndShowMain() {
    Timer.stop();
    // Copied out: closing deletes the window (deferred), and ShowMain may open
    // its successor before this call returns.
    const std::function<void()> showMain = showMain_;
    QWidget* frame = this;
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        frame = sub;
    if (!frame->close()) {
        Timer.start();
        return;
    }
    if (showMain)
        showMain();
}

// --------------------------------------------------------------------------- the eight windows

TProg_1::TProg_1(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(1), s, std::move(m), parent) {}
TProg_2::TProg_2(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(2), s, std::move(m), parent) {}
TProg_3::TProg_3(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(3), s, std::move(m), parent) {}
TProg_4::TProg_4(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(4), s, std::move(m), parent) {}
TProg_5::TProg_5(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(5), s, std::move(m), parent) {}
TProg_10::TProg_10(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(10), s, std::move(m), parent) {}
TProg_11::TProg_11(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(11), s, std::move(m), parent) {}
TProg_12::TProg_12(const TQTA504Core& s, std::function<void()> m, QWidget* parent)
    : TMimicWindow(*mimicLayout(12), s, std::move(m), parent) {}

QWidget* createMimicWindow(int program, const TQTA504Core& state, std::function<void()> showMain,
                           QWidget* parent) {
    switch (program) {
    case ProgN1N2N3: return new TProg_1(state, std::move(showMain), parent);
    case ProgN1N2G: return new TProg_2(state, std::move(showMain), parent);
    case ProgN1N2: return new TProg_3(state, std::move(showMain), parent);
    case ProgN1G: return new TProg_4(state, std::move(showMain), parent);
    case ProgN1N2S: return new TProg_5(state, std::move(showMain), parent);
    case ProgOnlyN1: return new TProg_10(state, std::move(showMain), parent);
    case ProgOnlyN2: return new TProg_11(state, std::move(showMain), parent);
    case ProgOnlyN3: return new TProg_12(state, std::move(showMain), parent);
    default: return nullptr;
    }
}

} // namespace qta
