#include "ui/FloatingGeometry.h"

#include <algorithm>
#include <cmath>

namespace quorvel::FloatingGeometry {
namespace {

// QRect::right() is one short of the edge; the rules speak of edges.
int rightEdge(const QRect& r) { return r.x() + r.width(); }
int bottomEdge(const QRect& r) { return r.y() + r.height(); }

int clampAxis(int value, int low, int high) { return high < low ? low : std::clamp(value, low, high); }

}  // namespace

QPoint clampInside(QPoint origin, QSize size, const QRect& area, int margin) {
    return {clampAxis(origin.x(), area.x() + margin, rightEdge(area) - size.width() - margin),
            clampAxis(origin.y(), area.y() + margin, bottomEdge(area) - size.height() - margin)};
}

QRect resizeKeepingAnchor(const QRect& frame, QSize size, bool anchorTopCenter, const std::optional<QRect>& area) {
    const double middle = frame.x() + frame.width() / 2.0;
    QPoint origin(anchorTopCenter ? static_cast<int>(std::lround(middle - size.width() / 2.0)) : frame.x(), frame.y());
    if (area) origin = clampInside(origin, size, *area, 8);
    return {origin, size};
}

QPoint pillStartPosition(std::optional<double> x, std::optional<double> y, QSize size, const QRect& area) {
    // The saved top-left must leave the pill reachable: its left edge at most 40 px short of
    // the right edge and its bottom edge at least 20 px below the top edge.
    if (x && y && *x >= area.x() - 1 && *x <= rightEdge(area) - 40 && *y + size.height() >= area.y() + 20 &&
        *y + size.height() <= bottomEdge(area) + 1) {
        const QPoint saved(static_cast<int>(std::lround(*x)), static_cast<int>(std::lround(*y)));
        return clampInside(saved, size, area, 8);
    }
    const double middle = area.x() + area.width() / 2.0;
    return {static_cast<int>(std::lround(middle - size.width() / 2.0)), area.y() + 12};
}

QPoint overlayDefaultPosition(QSize size, const std::optional<QRect>& area) {
    if (!area) return {100, 100};
    return {rightEdge(*area) - size.width() - 12, area->y() + 12};
}

QPoint overlayNearPointer(QPoint pointer, QSize size, const std::optional<QRect>& area) {
    const int x = pointer.x() - size.width() / 2;
    if (!area) return {x, pointer.y() > 200 ? pointer.y() - 40 : pointer.y() + 24};
    const double middle = area->y() + area->height() / 2.0;
    const int y = pointer.y() < middle - 200 ? pointer.y() + 40 - size.height() : bottomEdge(*area) - 24 - size.height();
    return {clampAxis(x, area->x() + 8, rightEdge(*area) - size.width() - 8), y};
}

QPoint dragPosition(QPoint startOrigin, QPoint startPointer, QPoint pointer, QSize size,
                    const std::optional<QRect>& area, int margin) {
    const QPoint moved = startOrigin + (pointer - startPointer);
    return area ? clampInside(moved, size, *area, margin) : moved;
}

}  // namespace quorvel::FloatingGeometry
