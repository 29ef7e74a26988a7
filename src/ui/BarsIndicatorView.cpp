#include "ui/BarsIndicatorView.h"

#include <QPainter>

namespace quorvel {

BarsIndicatorView::BarsIndicatorView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    shapes_ = levels_.shapes(height(), 0);
}

void BarsIndicatorView::tick(double seconds) {
    const auto shapes = levels_.shapes(height(), seconds);
    bool changed = false;
    for (size_t i = 0; i < shapes.size(); ++i)
        changed = changed || shapes[i].alpha != shapes_[i].alpha || shapes[i].height != shapes_[i].height;
    shapes_ = shapes;
    if (changed) update();
}

void BarsIndicatorView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < BarLevels::barCount; ++i) {
        const BarShape& bar = shapes_[static_cast<size_t>(i)];
        if (bar.alpha <= 0) continue;
        const QRectF rect(BarLevels::barX(width(), i), height() - bar.bottom - bar.height, BarLevels::barWidth,
                          bar.height);
        painter.setBrush(QColor::fromRgbF(1, 1, 1, static_cast<float>(bar.alpha)));
        painter.drawRoundedRect(rect, 1.6, 1.6);
    }
}

}  // namespace quorvel
