#include "ui/IconButton.h"

#include <QPainter>

namespace quorvel {

IconButton::IconButton(Icons::Glyph glyph, int side, const QString& tooltip, QWidget* parent)
    : QAbstractButton(parent), side_(side), glyphSide_(side >= 26 ? 16 : side * 5 / 8) {
    setIcon(Icons::icon(glyph));
    setToolTip(tooltip);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(side, side);
}

void IconButton::setGlyphSide(int side) {
    glyphSide_ = side;
    update();
}

void IconButton::setForeground(const QColor& color) {
    if (foreground_ == color) return;
    foreground_ = color;
    update();
}

void IconButton::setOpacity(double opacity) {
    if (opacity_ == opacity) return;
    opacity_ = opacity;
    update();
}

void IconButton::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0) return;
    QPainter painter(this);
    painter.setOpacity(opacity_);
    painter.setRenderHint(QPainter::Antialiasing);
    if ((hovered_ || isDown()) && isEnabled()) {
        QColor wash = foreground_;
        wash.setAlphaF(isDown() ? 0.22f : 0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(wash);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
    const int glyph = glyphSide_;
    const QPixmap pixmap = Icons::tinted(icon(), glyph, foreground_, devicePixelRatioF());
    const QPointF corner((width() - glyph) / 2.0, (height() - glyph) / 2.0);
    painter.drawPixmap(corner, pixmap);
}

void IconButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace quorvel
