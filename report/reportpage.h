// Pages of the report being laid out: a cursor that runs down A4 pages
// within the margins, wrapped text measured and drawn by the same text
// layout, and for each page the list of things to draw once the page count
// is known (for "Strona N z M").
#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <functional>
#include <vector>

class QPaintDevice;
class QCPPainter;

namespace qta {

class TPages {
public:
    using Op = std::function<void(QCPPainter&)>;

    // Margins in millimetres of an A4 page (210 × 297 mm).
    static constexpr double kLeft = 18, kRight = 18, kTop = 22, kBottom = 18;

    explicit TPages(QPaintDevice& device);

    // Device units per millimetre.
    double mm(double v) const { return v * unitsPerMm_; }
    double left() const { return mm(kLeft); }
    double width() const { return mm(210 - kLeft - kRight); }
    double top() const { return mm(kTop); }
    double bottom() const { return mm(297 - kBottom); }
    double y() const { return y_; }
    void advance(double dy) { y_ += dy; }
    bool atTop() const { return y_ <= top() + 0.5; }

    void newPage();
    // Starts a new page unless `height` fits below the cursor (or the cursor
    // is at the top already: nothing fits better on a fresh page).
    void ensure(double height);
    void draw(Op op) { pages_.back().push_back(std::move(op)); }
    int pageCount() const { return int(pages_.size()); }
    const std::vector<Op>& page(int i) const { return pages_[size_t(i)]; }

    // A font of the report at `points` size.
    QFont font(double points, bool bold = false) const;
    // Height of `text` wrapped into `width` (at word boundaries, inside a word
    // only when one word is wider than the line).
    double textHeight(const QString& text, const QFont& font, double width) const;
    // Draws wrapped text with its top-left at (x, y) on the current page.
    void text(const QString& text, const QFont& font, double x, double y, double width,
              const QColor& colour = Qt::black, Qt::Alignment align = Qt::AlignLeft);

    QPaintDevice& device() const { return device_; }
    static QString fontFamily();

private:
    QPaintDevice& device_;
    double unitsPerMm_;
    double y_ = 0;
    std::vector<std::vector<Op>> pages_;
};

// Wrapped text drawn by a painter at (x, y), `width` wide (also for the
// running header and footer).
void drawWrapped(QCPPainter& p, QPaintDevice& device, const QString& text, const QFont& font,
                 double x, double y, double width, const QColor& colour, Qt::Alignment align);

} // namespace qta
