#pragma once
// Base of the pill and the overlay: a frameless tool window that stays above the others, on
// every desktop, out of the taskbar, and is shown without taking the keyboard focus. With a
// compositing manager it is a translucent rounded shape; without one a window mask cuts the
// same rounded shape from an opaque background (translucent corners would render black).

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <optional>

class QScreen;

namespace quorvel {

class FloatingWindow : public QWidget {
    Q_OBJECT
public:
    explicit FloatingWindow(int cornerRadius);

    // Shows (or raises) the window without activating it.
    void showWithoutActivating();
    // Lets the window take the keyboard focus (only the pill's text pane asks for it). Taking
    // it away again hands the focus back to the window that had it, so typing goes on there.
    void setFocusable(bool focusable);
    bool focusable() const { return focusable_; }
    // Gives the window a taskbar entry (or takes it away again), also while it is shown.
    void setTaskbarEntry(bool entry);
    bool taskbarEntry() const { return taskbarEntry_; }
    bool translucent() const { return translucent_; }

    // The application's look is dark (window colour darker than mid-grey).
    bool darkLook() const;
    // Text colours for the current backdrop.
    QColor primaryText() const;
    QColor secondaryText() const;

    static std::optional<QRect> availableArea(const QScreen* screen);
    static std::optional<QRect> mainArea();
    // The available area of the screen at `point`; of `fallback` (else the main screen) when
    // the point lies on none, so rules follow the window from one screen to the next.
    static std::optional<QRect> areaAt(QPointF point, const QScreen* fallback = nullptr);

protected:
    // The backdrop's colour; alpha is honoured only when translucent.
    void setBackdrop(const QColor& color);
    // Called when the application's palette (light/dark) changes.
    virtual void lookChanged() {}
    // Moves the window without it counting as the user's move.
    void moveProgrammatically(const QPoint& position);
    void setGeometryProgrammatically(const QRect& frame);
    // Where the window is meant to be: our last placement or the user's last move. geometry()
    // may briefly show an older frame while the window manager answers earlier requests.
    QRect intendedFrame() const { return intendedFrame_.isValid() ? intendedFrame_ : geometry(); }
    // The window moved for another reason than our own placement (user drag, window manager).
    virtual void movedByUser() {}
    // The user let go of the window after dragging it.
    virtual void dragFinished() {}
    // Shown or hidden: timers follow.
    virtual void visibilityChanged() {}
    // Dragging keeps the window this far inside the screen's available area.
    void setDragMargin(int margin) { dragMargin_ = margin; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateMask();

    int cornerRadius_;
    bool translucent_;
    bool focusable_ = false;
    bool taskbarEntry_ = false;
    bool programmaticMove_ = false;
    std::deque<QPoint> recentPlacements_;
    QRect intendedFrame_;
    uintptr_t focusBefore_ = 0;
    QColor backdrop_;
    int dragMargin_ = 0;
    std::optional<QPoint> dragStartOrigin_;
    QPoint dragStartPointer_;
};

}  // namespace quorvel
