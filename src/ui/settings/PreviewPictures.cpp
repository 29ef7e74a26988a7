#include "ui/settings/PreviewPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace quorvel::PreviewPictures {
namespace {

constexpr QSize kSize(96, 60);

struct Look {
    QColor desk, window, bar, line;
};

const Look kLight{QColor(0xd8, 0xdc, 0xe2), QColor(0xfa, 0xfa, 0xfa), QColor(0xe6, 0xe6, 0xe9), QColor(0xb8, 0xbc, 0xc4)};
const Look kDark{QColor(0x3a, 0x3d, 0x44), QColor(0x24, 0x26, 0x2b), QColor(0x31, 0x33, 0x39), QColor(0x55, 0x59, 0x62)};

QPixmap canvas() {
    QPixmap pixmap(kSize * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A small window: title bar and a few lines of text.
void drawWindow(QPainter& p, const Look& look, const QRectF& area) {
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0.5, 0.5, kSize.width() - 1, kSize.height() - 1), 6, 6);
    p.save();
    p.setClipPath(clip);
    p.setClipRect(area, Qt::IntersectClip);
    p.fillRect(QRectF(QPointF(0, 0), QSizeF(kSize)), look.desk);
    const QRectF window(10, 9, 76, 44);
    p.setPen(Qt::NoPen);
    p.setBrush(look.window);
    p.drawRoundedRect(window, 4, 4);
    p.setBrush(look.bar);
    p.drawRoundedRect(QRectF(window.left(), window.top(), window.width(), 9), 4, 4);
    p.setBrush(look.line);
    for (int i = 0; i < 3; ++i) p.drawRoundedRect(QRectF(18, 25 + i * 8, 60 - i * 14, 3.5), 1.5, 1.5);
    p.restore();
}

void drawFrame(QPainter& p) {
    p.setPen(QPen(QColor(0x88, 0x8c, 0x94), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, kSize.width() - 1, kSize.height() - 1), 6, 6);
}

void drawWave(QPainter& p, const QRectF& area, int bars) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff, 220));
    const double step = area.width() / bars;
    for (int i = 0; i < bars; ++i) {
        const double height = area.height() * (0.3 + 0.7 * std::abs(std::sin(i * 1.3)));
        p.drawRoundedRect(QRectF(area.left() + i * step + step * 0.25, area.center().y() - height / 2, step * 0.5, height),
                          1, 1);
    }
}

}  // namespace

QIcon theme(const std::string& kind) {
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF whole(QPointF(0, 0), QSizeF(kSize));
    if (kind == "auto") {
        drawWindow(p, kLight, QRectF(0, 0, kSize.width() / 2.0, kSize.height()));
        drawWindow(p, kDark, QRectF(kSize.width() / 2.0, 0, kSize.width() / 2.0, kSize.height()));
    } else {
        drawWindow(p, kind == "dark" ? kDark : kLight, whole);
    }
    drawFrame(p);
    return QIcon(pixmap);
}

QIcon overlay(const std::string& kind) {
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawWindow(p, kLight, QRectF(QPointF(0, 0), QSizeF(kSize)));
    const QColor panel(0x1f, 0x21, 0x26, 235);
    p.setPen(Qt::NoPen);
    if (kind == "classic") {
        const QRectF bar(16, 34, 64, 16);
        p.setBrush(panel);
        p.drawRoundedRect(bar, 8, 8);
        p.setBrush(QColor(0xe5, 0x48, 0x4d));
        p.drawEllipse(QPointF(bar.left() + 8, bar.center().y()), 3, 3);
        drawWave(p, QRectF(bar.left() + 14, bar.top() + 3, 34, bar.height() - 6), 9);
        p.setBrush(QColor(0xff, 0xff, 0xff, 160));
        p.drawRoundedRect(QRectF(bar.right() - 13, bar.center().y() - 1.5, 8, 3), 1.5, 1.5);
    } else if (kind == "mini") {
        const QRectF pill(38, 40, 20, 9);
        p.setBrush(panel);
        p.drawRoundedRect(pill, 4.5, 4.5);
        drawWave(p, pill.adjusted(3, 2, -3, -2), 4);
    } else {
        p.setPen(QPen(QColor(0x88, 0x8c, 0x94), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(16, 34, 64, 16), 8, 8);
    }
    drawFrame(p);
    return QIcon(pixmap);
}

}  // namespace quorvel::PreviewPictures
