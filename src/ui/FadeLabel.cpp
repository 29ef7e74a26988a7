#include "ui/FadeLabel.h"

#include <QFontMetrics>
#include <QPainter>

namespace quorvel {

FadeLabel::FadeLabel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

void FadeLabel::setText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    updateGeometry();
    update();
}

void FadeLabel::setColor(const QColor& color) {
    if (color_ == color) return;
    color_ = color;
    update();
}

void FadeLabel::setOpacity(double opacity) {
    if (opacity_ == opacity) return;
    opacity_ = opacity;
    update();
}

void FadeLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

QSize FadeLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 2, metrics.height()};
}

void FadeLabel::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0 || text_.isEmpty()) return;
    QPainter painter(this);
    painter.setOpacity(opacity_);
    painter.setPen(color_);
    const QString shown = fontMetrics().elidedText(text_, Qt::ElideRight, width());
    painter.drawText(rect(), static_cast<int>(alignment_), shown);
}

}  // namespace quorvel
