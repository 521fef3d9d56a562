// The pictures of the windows: SVG files compiled into the program, rendered
// once per size and kept.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace qta {

// Makes the compiled-in artwork reachable under ":/artwork/". The pictures
// live in a static library, whose resource table the linker would otherwise
// drop; call it before reading ":/artwork/..." directly (artworkPixmap does).
void initArtwork();

// The picture `file` (e.g. "lamp_vok_on.svg") rendered at `size` logical pixels
// (its own size when empty), sharp on high-density screens. Rendered on first
// use and cached; a missing file gives a null pixmap.
QPixmap artworkPixmap(const QString& file, QSize size = {});

} // namespace qta
