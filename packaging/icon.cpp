// Renders the program icon (an SVG) to square PNGs for the icon theme:
//   qta504-icon ICON.svg OUTDIR SIZE...   writes OUTDIR/SIZE/qta504.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    // Rendering needs no screen; the offscreen platform keeps this working in
    // a build without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: qta504-icon ICON.svg OUTDIR SIZE...\n");
        return 2;
    }
    QSvgRenderer svg(args[1]);
    if (!svg.isValid()) {
        std::fprintf(stderr, "qta504-icon: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "qta504-icon: bad size %s\n", qPrintable(args[i]));
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            svg.render(&p, QRectF(0, 0, size, size));
        }
        const QString dir = args[2] + QLatin1Char('/') + QString::number(size);
        const QString file = dir + QStringLiteral("/qta504.png");
        if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "qta504-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
