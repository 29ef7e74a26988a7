#include "ui/WaveView.h"

#include <QPainter>

#include "ui/WaveSegments.h"

namespace quorvel {
namespace {
const QColor kRecordingRed(255, 59, 48);
const QColor kNoSignalOrange(255, 149, 0);
}  // namespace

WaveView::WaveView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    samples_.reserve(WaveSegments::maxSamples);
}

void WaveView::appendSamples(std::span<const float> samples) { WaveSegments::appendCapped(samples_, samples); }

void WaveView::clearSamples() { samples_.clear(); }

void WaveView::setRecording(bool recording) {
    recording_ = recording;
    update();
}

void WaveView::setNoSignal(bool noSignal) {
    noSignal_ = noSignal;
    update();
}

void WaveView::setIdleColor(const QColor& color) {
    idleColor_ = color;
    update();
}

void WaveView::paintEvent(QPaintEvent*) {
    const double w = width(), h = height();
    if (w < 2 || h < 2) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = recording_ ? kRecordingRed : idleColor_;
    if (samples_.size() >= 2) {
        const auto segments = WaveSegments::compute(samples_, w, h);
        std::vector<QLineF> lines;
        lines.reserve(segments.size());
        for (const WaveSegment& s : segments) lines.emplace_back(s.x, s.top, s.x, s.bottom);
        // A 2 px stroke: square caps reach exactly as far as round ones and take the raster
        // engine's fast path (round caps go through the general stroker, several times slower).
        painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::SquareCap));
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    } else if (!noSignal_) {
        painter.fillRect(QRectF(0, (h - 1.5) / 2, w, 1.5), color);
    } else {
        QPen dashed(kNoSignalOrange, 1.5, Qt::CustomDashLine, Qt::FlatCap);
        dashed.setDashPattern({3 / 1.5, 4 / 1.5});  // in pen widths: 3 px dashes, 4 px gaps
        painter.setPen(dashed);
        painter.drawLine(QPointF(4, h / 2), QPointF(w - 4, h / 2));
    }
}

}  // namespace quorvel
