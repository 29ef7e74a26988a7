#pragma once
// Where the pill and the overlay go, as pure functions of rectangles. Everything is in Qt's
// screen coordinates (top-left origin, y downwards); a window position is its top-left corner.
// "area" is the available geometry of the screen a rule names, absent when there is no screen.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace quorvel::FloatingGeometry {

// Clamps a window of `size` inside `area` less `margin` on every side (the window's own size
// wins over the margin when the area is too small for both).
QPoint clampInside(QPoint origin, QSize size, const QRect& area, int margin);

// The pill's resize: the top edge's centre (or the left edge) stays, then the frame is kept 8 px
// inside the main screen's area.
QRect resizeKeepingAnchor(const QRect& frame, QSize size, bool anchorTopCenter, const std::optional<QRect>& area);

// The pill's first place: a saved position when it is plausible on `area` (clamped 8 px inside),
// otherwise centred at the top, 12 px below the area's top edge.
QPoint pillStartPosition(std::optional<double> x, std::optional<double> y, QSize size, const QRect& area);

// The overlay's default place: the area's top-right corner with 12 px margins; (100, 100)
// without a screen.
QPoint overlayDefaultPosition(QSize size, const std::optional<QRect>& area);

// The overlay near the pointer: centred on it horizontally; with its bottom 40 px below the
// pointer when the pointer is more than 200 px above the area's middle, otherwise 24 px above
// the area's bottom; kept 8 px inside horizontally. `area` is the screen under the pointer.
QPoint overlayNearPointer(QPoint pointer, QSize size, const std::optional<QRect>& area);

// A window dragged by the pointer: the start position moved by the pointer's displacement,
// kept `margin` px inside the area when there is one.
QPoint dragPosition(QPoint startOrigin, QPoint startPointer, QPoint pointer, QSize size,
                    const std::optional<QRect>& area, int margin);

}  // namespace quorvel::FloatingGeometry
