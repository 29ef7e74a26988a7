#pragma once
// Icons of the floating windows: the freedesktop theme's icon when it has one, else our own SVG
// from the resources; drawn as a single-colour glyph so it reads on any backdrop.

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace quorvel::Icons {

enum class Glyph { mic, stop, xmark, mode, expand, collapse, copy };

QIcon icon(Glyph glyph);

// The icon at `side` logical pixels, every opaque pixel painted in `color`.
QPixmap tinted(const QIcon& icon, int side, const QColor& color, qreal devicePixelRatio);

}  // namespace quorvel::Icons
