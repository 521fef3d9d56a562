#include "report/reportpdf.h"

#include "history/chartplot.h"
#include "report/reportchart.h"
#include "report/reportcontent.h"
#include "report/reportpage.h"

#include <QElapsedTimer>
#include <QPageLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <numeric>
#include <qcustomplot.h>

namespace qta {

namespace {

const QColor kInk(20, 20, 20);
const QColor kAccent(31, 58, 95);
const QColor kGrey(90, 90, 90);
const QColor kRule(150, 160, 172);
const QColor kHeaderFill(221, 227, 234);
const QColor kStripe(244, 246, 248);

// Sizes in points.
constexpr double kBody = 9, kSmall = 7.5, kHeading = 14, kSubheading = 10.5, kTitle = 20;

} // namespace

// The blocks placed on pages, one after another.
class TLayout {
public:
    TLayout(TPages& pages, const TLineIndex* index) : pg_(pages), index_(index) {}
    // Lays out the block from its row `at` on (tables a slice of rows at a
    // time, everything else whole); true when the block is done.
    bool add(const TReportBlock& b, size_t& at);

private:
    void title(const TReportBlock& b);
    void heading(const QString& text);
    void subheading(const QString& text);
    void paragraph(const QString& text, double points, const QColor& colour);
    void pairs(const TReportBlock& b);
    bool table(const TReportBlock& b, size_t& at);
    void chart(const TReportBlock& b);
    void fillIn(const TReportBlock& b);
    void signatures(const TReportBlock& b);

    void fill(const QRectF& r, const QColor& c) {
        pg_.draw([=](QCPPainter& p) { p.fillRect(r, c); });
    }
    void rule(double x0, double x1, double y, const QColor& c, double widthMm,
              Qt::PenStyle style = Qt::SolidLine) {
        const double w = pg_.mm(widthMm);
        pg_.draw([=](QCPPainter& p) {
            p.setPen(QPen(c, w, style));
            p.drawLine(QPointF(x0, y), QPointF(x1, y));
        });
    }
    // One row of cells; returns its height. `draw` false only measures.
    double row(const QStringList& cells, const std::vector<double>& x, const std::vector<double>& w,
               const QFont& font, bool draw);

    TPages& pg_;
    const TLineIndex* index_;
    std::shared_ptr<TReportChart> chart_;
};

bool TLayout::add(const TReportBlock& b, size_t& at) {
    switch (b.kind) {
    case TReportBlock::Title: title(b); break;
    case TReportBlock::Heading: heading(b.text); break;
    case TReportBlock::Subheading: subheading(b.text); break;
    case TReportBlock::Paragraph: paragraph(b.text, kBody, kInk); break;
    case TReportBlock::Note: paragraph(b.text, kSmall, kGrey); break;
    case TReportBlock::Pairs: pairs(b); break;
    case TReportBlock::Table: return table(b, at);
    case TReportBlock::Chart: chart(b); break;
    case TReportBlock::FillIn: fillIn(b); break;
    case TReportBlock::Signatures: signatures(b); break;
    }
    return true;
}

void TLayout::title(const TReportBlock& b) {
    const double x = pg_.left(), w = pg_.width();
    pg_.advance(pg_.mm(28));
    const QFont big = pg_.font(kTitle, true);
    const double h = pg_.textHeight(b.text, big, w);
    pg_.text(b.text, big, x, pg_.y(), w, kAccent, Qt::AlignHCenter);
    pg_.advance(h + pg_.mm(4));
    rule(x, x + w, pg_.y(), kAccent, 0.6);
    pg_.advance(pg_.mm(8));
    const QFont label = pg_.font(10, true), value = pg_.font(10);
    const double lw = pg_.mm(52);
    for (const QStringList& r : b.rows) {
        const double rh = std::max(pg_.textHeight(r.value(0), label, lw - pg_.mm(2)),
                                   pg_.textHeight(r.value(1), value, w - lw));
        pg_.text(r.value(0), label, x, pg_.y(), lw - pg_.mm(2), kGrey);
        pg_.text(r.value(1), value, x + lw, pg_.y(), w - lw, kInk);
        pg_.advance(rh + pg_.mm(3));
    }
    pg_.advance(pg_.mm(10));
}

void TLayout::heading(const QString& text) {
    if (!pg_.atTop())
        pg_.newPage();
    const QFont f = pg_.font(kHeading, true);
    const double h = pg_.textHeight(text, f, pg_.width());
    pg_.text(text, f, pg_.left(), pg_.y(), pg_.width(), kAccent);
    pg_.advance(h + pg_.mm(1.5));
    rule(pg_.left(), pg_.left() + pg_.width(), pg_.y(), kAccent, 0.4);
    pg_.advance(pg_.mm(5));
}

void TLayout::subheading(const QString& text) {
    const QFont f = pg_.font(kSubheading, true);
    const double h = pg_.textHeight(text, f, pg_.width());
    // Kept with at least a few lines of what it heads.
    pg_.ensure(h + pg_.mm(20));
    if (!pg_.atTop())
        pg_.advance(pg_.mm(3));
    pg_.text(text, f, pg_.left(), pg_.y(), pg_.width(), kAccent);
    pg_.advance(h + pg_.mm(1.5));
}

void TLayout::paragraph(const QString& text, double points, const QColor& colour) {
    const QFont f = pg_.font(points);
    const double h = pg_.textHeight(text, f, pg_.width());
    pg_.ensure(h);
    pg_.text(text, f, pg_.left(), pg_.y(), pg_.width(), colour);
    pg_.advance(h + pg_.mm(2.5));
}

double TLayout::row(const QStringList& cells, const std::vector<double>& x,
                    const std::vector<double>& w, const QFont& font, bool draw) {
    const double padX = pg_.mm(1.2), padY = pg_.mm(0.9);
    double h = 0;
    for (size_t c = 0; c < x.size(); ++c)
        h = std::max(h, pg_.textHeight(cells.value(qsizetype(c)), font, w[c] - 2 * padX));
    h += 2 * padY;
    if (draw)
        for (size_t c = 0; c < x.size(); ++c)
            pg_.text(cells.value(qsizetype(c)), font, x[c] + padX, pg_.y() + padY, w[c] - 2 * padX,
                     kInk);
    return h;
}

void TLayout::pairs(const TReportBlock& b) {
    const double x = pg_.left(), w = pg_.width();
    const std::vector<double> xs{x, x + w * 0.6}, ws{w * 0.6, w * 0.4};
    const QFont f = pg_.font(kBody);
    int n = 0;
    for (const QStringList& r : b.rows) {
        const double h = row(r, xs, ws, f, false);
        pg_.ensure(h);
        if (n++ % 2 == 0)
            fill(QRectF(x, pg_.y(), w, h), kStripe);
        row(r, xs, ws, f, true);
        pg_.advance(h);
        rule(x, x + w, pg_.y(), kRule, 0.1);
    }
    pg_.advance(pg_.mm(2.5));
}

bool TLayout::table(const TReportBlock& b, size_t& at) {
    // Rows measured and placed in one call: a slice short enough for the
    // window's thread to go on with its events between slices.
    constexpr size_t kRowsPerSlice = 48;
    const double x0 = pg_.left(), w = pg_.width();
    const double total = std::accumulate(b.widths.begin(), b.widths.end(), 0.0);
    std::vector<double> xs, ws;
    double x = x0;
    for (double share : b.widths) {
        xs.push_back(x);
        ws.push_back(w * share / total);
        x += ws.back();
    }
    const QFont head = pg_.font(kSmall, true), body = pg_.font(kSmall);
    const double headH = row(b.columns, xs, ws, head, false);
    const auto header = [&] {
        fill(QRectF(x0, pg_.y(), w, headH), kHeaderFill);
        row(b.columns, xs, ws, head, true);
        pg_.advance(headH);
        rule(x0, x0 + w, pg_.y(), kRule, 0.25);
    };
    if (at == 0) {
        // The header never stands alone at the foot of a page.
        pg_.ensure(headH + (b.rows.empty() ? 0 : row(b.rows.front(), xs, ws, body, false)));
        header();
    }
    const size_t end = std::min(b.rows.size(), at + kRowsPerSlice);
    for (; at < end; ++at) {
        const QStringList& r = b.rows[at];
        const double h = row(r, xs, ws, body, false);
        if (pg_.y() + h > pg_.bottom()) {
            pg_.newPage();
            header();
        }
        if (at % 2 == 1)
            fill(QRectF(x0, pg_.y(), w, h), kStripe);
        row(r, xs, ws, body, true);
        pg_.advance(h);
        rule(x0, x0 + w, pg_.y(), kRule, 0.1);
    }
    if (at < b.rows.size())
        return false;
    pg_.advance(pg_.mm(3));
    return true;
}

void TLayout::chart(const TReportBlock& b) {
    const double x = pg_.left(), w = pg_.width();
    const QFont caption = pg_.font(kSubheading, true), small = pg_.font(kSmall);
    const double capH = pg_.textHeight(b.text, caption, w);
    const double chartH = w * 0.5;
    pg_.ensure(capH + pg_.mm(2) + chartH + pg_.mm(8));
    pg_.text(b.text, caption, x, pg_.y(), w * 0.6, kAccent);
    // The phases' colours, as the chart windows draw them.
    for (int p = 0; p < 3; ++p) {
        const double lx = x + w - pg_.mm(48) + p * pg_.mm(16), ly = pg_.y() + capH / 2;
        const QColor colour = phaseColours()[size_t(p)];
        const double pen = pg_.mm(0.8);
        pg_.draw([=](QCPPainter& painter) {
            painter.setPen(QPen(colour.darker(p == 0 ? 115 : 100), pen));
            painter.drawLine(QPointF(lx, ly), QPointF(lx + pen * 8, ly));
        });
        pg_.text(QStringLiteral("L%1").arg(p + 1), small, lx + pg_.mm(8),
                 pg_.y() + capH / 2 - pg_.textHeight(QStringLiteral("L"), small, w) / 2, pg_.mm(8),
                 kInk);
    }
    pg_.advance(capH + pg_.mm(2));
    if (!chart_)
        chart_ = std::make_shared<TReportChart>();
    const QRectF target(x, pg_.y(), w, chartH);
    const auto c = chart_;
    const TLineIndex* index = index_;
    pg_.draw([=, &b](QCPPainter& p) {
        c->draw(p, target, index, b.line, b.t0, b.t1, b.pixels, b.points.get());
    });
    pg_.advance(chartH);
    rule(x, x + w, pg_.y(), kRule, 0.2);
    pg_.advance(pg_.mm(8));
}

void TLayout::fillIn(const TReportBlock& b) {
    const double x = pg_.left(), w = pg_.width();
    const QFont f = pg_.font(kBody, true);
    subheading(QStringLiteral("Do wypełnienia na obiekcie"));
    pg_.advance(pg_.mm(2));
    for (const QStringList& r : b.rows) {
        const int lines = std::max(1, r.value(1).toInt());
        const double lineH = pg_.mm(9);
        pg_.ensure(lines * lineH);
        const double th = pg_.textHeight(r.value(0), f, pg_.mm(50));
        pg_.text(r.value(0), f, x, pg_.y() + lineH - th - pg_.mm(1.2), pg_.mm(50), kInk);
        for (int l = 0; l < lines; ++l) {
            const double ly = pg_.y() + lineH * (l + 1) - pg_.mm(1);
            rule(l == 0 ? x + pg_.mm(52) : x, x + w, ly, kRule, 0.25, Qt::DotLine);
        }
        pg_.advance(lines * lineH + pg_.mm(1.5));
    }
    pg_.advance(pg_.mm(6));
}

void TLayout::signatures(const TReportBlock& b) {
    const double x = pg_.left(), w = pg_.width(), gap = pg_.mm(10), h = pg_.mm(32);
    const int n = int(b.rows.size());
    if (n == 0)
        return;
    pg_.ensure(h);
    const double bw = (w - gap * (n - 1)) / n;
    const QFont f = pg_.font(kSmall);
    for (int i = 0; i < n; ++i) {
        const QRectF box(x + i * (bw + gap), pg_.y(), bw, h);
        const double pen = pg_.mm(0.25);
        pg_.draw([=](QCPPainter& p) {
            p.setPen(QPen(kRule, pen));
            p.setBrush(Qt::NoBrush);
            p.drawRect(box);
        });
        const QString label = b.rows[size_t(i)].value(0) + QStringLiteral(", data");
        const double th = pg_.textHeight(label, f, bw);
        rule(box.left() + pg_.mm(5), box.right() - pg_.mm(5), box.bottom() - th - pg_.mm(3), kRule,
             0.25, Qt::DotLine);
        pg_.text(label, f, box.left(), box.bottom() - th - pg_.mm(1.5), bw, kGrey,
                 Qt::AlignHCenter);
    }
    pg_.advance(h + pg_.mm(4));
}

void setupReportDevice(QPagedPaintDevice& device) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
}

TReportPainter::TReportPainter(const TReportDocument& doc, const TLineIndex* index,
                               QPagedPaintDevice& device)
    : doc_(doc), device_(device), pages_(std::make_unique<TPages>(device)),
      layout_(std::make_unique<TLayout>(*pages_, index)) {}

TReportPainter::~TReportPainter() {
    if (painter_ && painter_->isActive())
        painter_->end();
}

int TReportPainter::pageCount() const { return pages_->pageCount(); }

double TReportPainter::fraction() const {
    // Laying out is the cheaper part: the first third.
    const double blocks = double(std::max<size_t>(1, doc_.blocks.size()));
    if (!painter_)
        return double(block_) / blocks / 3;
    return 1.0 / 3 + 2.0 / 3 * double(page_) / double(std::max(1, pages_->pageCount()));
}

bool TReportPainter::step() {
    if (done_)
        return false;
    if (block_ < doc_.blocks.size()) {
        if (layout_->add(doc_.blocks[block_], row_)) {
            ++block_;
            row_ = 0;
        }
        return true;
    }
    if (!painter_) {
        painter_ = std::make_unique<QCPPainter>(&device_);
        if (!painter_->isActive())
            throw EReport(QStringLiteral("Nie można rozpocząć rysowania stron raportu"));
        painter_->setMode(QCPPainter::pmVectorized);
        painter_->setRenderHint(QPainter::Antialiasing);
    }
    const int count = pages_->pageCount();
    if (page_ >= count) {
        painter_->end();
        done_ = true;
        return false;
    }
    QCPPainter& p = *painter_;
    if (op_ == 0) {
        if (page_ > 0 && !device_.newPage())
            throw EReport(QStringLiteral("Nie można dodać strony %1 raportu").arg(page_ + 1));
        const QFont small = pages_->font(kSmall);
        const double x = pages_->left(), w = pages_->width();
        drawWrapped(p, device_, doc_.headerLeft, small, x, pages_->mm(11), w * 0.6, kGrey,
                    Qt::AlignLeft);
        drawWrapped(p, device_, doc_.headerRight, small, x + w * 0.4, pages_->mm(11), w * 0.6,
                    kGrey, Qt::AlignRight);
        p.setPen(QPen(kRule, pages_->mm(0.25)));
        p.drawLine(QPointF(x, pages_->mm(15.5)), QPointF(x + w, pages_->mm(15.5)));
        drawWrapped(p, device_, QStringLiteral("Strona %1 z %2").arg(page_ + 1).arg(count), small,
                    x, pages_->bottom() + pages_->mm(7), w, kGrey, Qt::AlignHCenter);
    }
    // A slice of the page's drawing: a number of steps, or fewer when they
    // take long (a chart).
    constexpr size_t kOpsPerSlice = 64;
    constexpr qint64 kSliceMs = 8;
    QElapsedTimer clock;
    clock.start();
    const std::vector<TPages::Op>& ops = pages_->page(page_);
    const size_t end = std::min(ops.size(), op_ + kOpsPerSlice);
    while (op_ < end) {
        p.save();
        ops[op_++](p);
        p.restore();
        if (clock.elapsed() >= kSliceMs)
            break;
    }
    if (op_ >= ops.size()) {
        ++page_;
        op_ = 0;
    }
    return true;
}

int paintReport(const TReportDocument& doc, const TLineIndex* index, QPagedPaintDevice& device) {
    TReportPainter painter(doc, index, device);
    while (painter.step()) {
    }
    return painter.pageCount();
}

TReportPdfFile::TReportPdfFile(const TReportDocument& doc, const TLineIndex* index, QString path)
    : path_(std::move(path)), file_(std::make_unique<QSaveFile>(path_)) {
    if (!file_->open(QIODevice::WriteOnly))
        throw EReport(
            QStringLiteral("Nie można utworzyć pliku %1: %2").arg(path_, file_->errorString()));
    writer_ = std::make_unique<QPdfWriter>(file_.get());
    writer_->setTitle(doc.title);
    writer_->setCreator(QStringLiteral("QTA-504 Nadzór SZR"));
    setupReportDevice(*writer_);
    painter_ = std::make_unique<TReportPainter>(doc, index, *writer_);
}

// The painter ends before the writer goes, the writer before the file, which
// without commit() is dropped: nothing appears under the file's name.
TReportPdfFile::~TReportPdfFile() {
    painter_.reset();
    writer_.reset();
}

int TReportPdfFile::commit() {
    while (painter_->step()) {
    }
    const int pages = painter_->pageCount();
    painter_.reset();
    writer_.reset();
    if (!file_->commit())
        throw EReport(
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(path_, file_->errorString()));
    return pages;
}

int writeReportPdf(const TReportDocument& doc, const TLineIndex* index, const QString& path) {
    return TReportPdfFile(doc, index, path).commit();
}

TReportFile makeReportPdf(const TReportRequest& request, const QString& path) {
    const TReportData d = gatherReport(request);
    TReportFile r;
    r.pages = writeReportPdf(reportDocument(d), d.index.get(), path);
    r.events = int(d.events.size());
    r.from = d.from;
    r.to = d.to;
    return r;
}

} // namespace qta
