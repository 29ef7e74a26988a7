#include "ui/FloatingWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "platform/FloatingWindowHints.h"
#include "ui/FloatingGeometry.h"

namespace quorvel {
namespace {

// Without a real screen there is nothing to shape or stack (and the platform says so loudly).
bool headless() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

QPainterPath roundedShape(const QRectF& rect, int radius) {
    const double r = std::min<double>(radius, rect.height() / 2);
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    return path;
}

}  // namespace

FloatingWindow::FloatingWindow(int cornerRadius)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                  Qt::NoDropShadowWindowHint),
      cornerRadius_(cornerRadius),
      translucent_(FloatingWindowHints::compositorActive()) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    setAttribute(Qt::WA_NoSystemBackground, translucent_);
    setAttribute(Qt::WA_QuitOnClose, false);
}

void FloatingWindow::showWithoutActivating() {
    if (!isVisible()) {
        // The window manager forgets the hints when a window is withdrawn: set them anew.
        winId();
        if (QWindow* window = windowHandle()) FloatingWindowHints::apply(*window, taskbarEntry_);
        show();
    }
    if (!headless()) raise();
}

void FloatingWindow::setTaskbarEntry(bool entry) {
    if (taskbarEntry_ == entry) return;
    taskbarEntry_ = entry;
    if (QWindow* window = windowHandle(); window && isVisible()) FloatingWindowHints::apply(*window, entry);
}

void FloatingWindow::setFocusable(bool focusable) {
    if (focusable_ == focusable) return;
    focusable_ = focusable;
    if (focusable) {
        const uintptr_t active = FloatingWindowHints::activeWindow();
        focusBefore_ = active == winId() ? 0 : active;
    } else if (isActiveWindow() && focusBefore_ != 0) {
        // Otherwise keys typed next (and the next paste) would land in a window that ignores them.
        FloatingWindowHints::activate(focusBefore_);
    }
    // On the native window only: QWidget::setWindowFlags would re-create and hide it.
    if (QWindow* window = windowHandle())
        window->setFlag(Qt::WindowDoesNotAcceptFocus, !focusable);
    else
        setWindowFlag(Qt::WindowDoesNotAcceptFocus, !focusable);
}

bool FloatingWindow::darkLook() const { return palette().color(QPalette::Window).lightness() < 128; }

QColor FloatingWindow::primaryText() const { return darkLook() ? QColor(242, 242, 247) : QColor(28, 28, 30); }

QColor FloatingWindow::secondaryText() const { return darkLook() ? QColor(174, 174, 178) : QColor(99, 99, 102); }

std::optional<QRect> FloatingWindow::availableArea(const QScreen* screen) {
    if (!screen) return std::nullopt;
    return screen->availableGeometry();
}

std::optional<QRect> FloatingWindow::mainArea() { return availableArea(QGuiApplication::primaryScreen()); }

std::optional<QRect> FloatingWindow::areaAt(QPointF point, const QScreen* fallback) {
    for (const QScreen* screen : QGuiApplication::screens())
        if (QRectF(screen->geometry()).contains(point)) return availableArea(screen);
    return fallback ? availableArea(fallback) : mainArea();
}

void FloatingWindow::setBackdrop(const QColor& color) {
    QColor shown = color;
    if (!translucent_) shown.setAlpha(255);
    if (backdrop_ == shown) return;
    backdrop_ = shown;
    update();
}

void FloatingWindow::moveProgrammatically(const QPoint& position) { setGeometryProgrammatically({position, size()}); }

void FloatingWindow::setGeometryProgrammatically(const QRect& frame) {
    programmaticMove_ = true;
    intendedFrame_ = frame;
    recentPlacements_.push_back(frame.topLeft());
    if (recentPlacements_.size() > 8) recentPlacements_.pop_front();
    setGeometry(frame);
    programmaticMove_ = false;
}

void FloatingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = roundedShape(outline, cornerRadius_);
    if (translucent_)
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    else
        painter.fillRect(rect(), backdrop_);  // the mask's edge must not show the palette's colour
    painter.fillPath(shape, backdrop_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // A hairline keeps the shape readable on a backdrop of the same colour.
    const bool darkBackdrop = backdrop_.lightness() < 128;
    painter.setPen(QPen(darkBackdrop ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 38), 1));
    painter.drawPath(shape);
}

void FloatingWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
}

void FloatingWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Our own placements come back from the window manager later as move events of their own,
    // several at once after quick look changes: only a position we did not choose is the user's.
    if (programmaticMove_ || std::find(recentPlacements_.begin(), recentPlacements_.end(), pos()) != recentPlacements_.end())
        return;
    recentPlacements_.clear();
    intendedFrame_ = geometry();
    movedByUser();
}

void FloatingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) lookChanged();
}

// Dragging the background moves the window by the pointer's displacement. (A window-manager
// move would not keep it inside the screen, and offscreen there is none.)
void FloatingWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragStartOrigin_ = pos();
    dragStartPointer_ = event->globalPosition().toPoint();
}

void FloatingWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragStartOrigin_) return QWidget::mouseMoveEvent(event);
    // Held inside the screen under the pointer, so the window can be taken to another screen.
    const QPointF pointer = event->globalPosition();
    move(FloatingGeometry::dragPosition(*dragStartOrigin_, dragStartPointer_, pointer.toPoint(), size(),
                                        areaAt(pointer, screen()), dragMargin_));
}

void FloatingWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragStartOrigin_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    dragStartOrigin_.reset();
    dragFinished();
}

void FloatingWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    visibilityChanged();
}

void FloatingWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    visibilityChanged();
}

void FloatingWindow::updateMask() {
    if (translucent_ || headless()) return;
    const QPainterPath shape = roundedShape(QRectF(rect()), cornerRadius_);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

}  // namespace quorvel
