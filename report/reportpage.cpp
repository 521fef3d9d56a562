#include "report/reportpage.h"

#include "report/reportdata.h"

#include <QFontDatabase>
#include <QPaintDevice>
#include <QTextLayout>
#include <qcustomplot.h>

namespace qta {

namespace {

// Debian's fonts-dejavu-core: every Polish letter, and free to embed.
const char* const kFontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
};
const QString kFamily = QStringLiteral("DejaVu Sans");

// Lines of `text` laid out into `width`; returns the height.
double layoutLines(QTextLayout& layout, double width, Qt::Alignment align = Qt::AlignLeft) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(align);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

} // namespace

QString TPages::fontFamily() {
    static const bool loaded = [] {
        bool any = false;
        for (const char* f : kFontFiles)
            any |= QFontDatabase::addApplicationFont(QString::fromLatin1(f)) >= 0;
        return any || QFontDatabase::families().contains(kFamily);
    }();
    if (!loaded)
        throw EReport(QStringLiteral("Brak czcionki DejaVu Sans (pakiet fonts-dejavu-core, plik "
                                     "%1): bez niej raport nie powstaje, bo polskie litery "
                                     "mogłyby się nie wyświetlić")
                          .arg(QString::fromLatin1(kFontFiles[0])));
    return kFamily;
}

TPages::TPages(QPaintDevice& device) : device_(device), unitsPerMm_(device.logicalDpiX() / 25.4) {
    newPage();
}

void TPages::newPage() {
    pages_.emplace_back();
    y_ = top();
}

void TPages::ensure(double height) {
    if (y_ + height > bottom() && !atTop())
        newPage();
}

QFont TPages::font(double points, bool bold) const {
    QFont f(fontFamily());
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setKerning(true);
    // No ligatures: "fi" stays two letters for anyone who searches or copies the text.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
    return f;
}

double TPages::textHeight(const QString& text, const QFont& font, double width) const {
    QTextLayout layout(text, font, &device_);
    return layoutLines(layout, width);
}

void TPages::text(const QString& s, const QFont& font, double x, double y, double width,
                  const QColor& colour, Qt::Alignment align) {
    QPaintDevice* device = &device_;
    draw([=](QCPPainter& p) { drawWrapped(p, *device, s, font, x, y, width, colour, align); });
}

void drawWrapped(QCPPainter& p, QPaintDevice& device, const QString& text, const QFont& font,
                 double x, double y, double width, const QColor& colour, Qt::Alignment align) {
    QTextLayout layout(text, font, &device);
    layoutLines(layout, width, align);
    p.setPen(colour);
    layout.draw(&p, QPointF(x, y));
}

} // namespace qta
