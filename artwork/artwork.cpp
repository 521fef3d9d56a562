#include "artwork/artwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

// Outside the namespace: Q_INIT_RESOURCE names a global function.
static void initArtworkResource() { Q_INIT_RESOURCE(artwork); }

namespace qta {

void initArtwork() {
    static const bool done = (initArtworkResource(), true);
    Q_UNUSED(done);
}

QPixmap artworkPixmap(const QString& file, QSize size) {
    initArtwork();
    // Every window is built from the same few pictures: render each SVG once
    // and share the pixmap. Qt's pixmap cache also frees them before the
    // application goes away.
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    const QString key = QStringLiteral("qta-artwork:%1@%2x%3@%4")
                            .arg(file)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(dpr);
    QPixmap pm;
    if (QPixmapCache::find(key, &pm))
        return pm;

    QSvgRenderer renderer(QStringLiteral(":/artwork/") + file);
    if (renderer.isValid()) {
        const QSize logical = size.isEmpty() ? renderer.defaultSize() : size;
        pm = QPixmap(logical * dpr);
        pm.setDevicePixelRatio(dpr);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        renderer.render(&p, QRectF(QPointF(0, 0), logical));
    }
    if (!pm.isNull())
        QPixmapCache::insert(key, pm);
    return pm;
}

} // namespace qta
