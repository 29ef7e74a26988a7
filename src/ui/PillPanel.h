#pragma once
// The pill: the program's feedback window during dictation. Four looks (PillState): collapsed
// with mode, record and expand buttons; recording, near-black with level bars and, under the
// pointer, the microphone, the elapsed time and stop/cancel; thinking, a pulse on the bars;
// expanded, a text pane collecting the dictated texts. It never takes the keyboard focus from
// the application in front, except after a click into the text pane.

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <optional>
#include <span>

#include "ui/FloatingWindow.h"
#include "ui/PillState.h"

class QMenu;
class QVariantAnimation;

namespace quorvel {

class BarsIndicatorView;
class FadeLabel;
class IconButton;
class PillTextPane;

class PillPanel : public FloatingWindow {
    Q_OBJECT
public:
    PillPanel();
    ~PillPanel() override;

    std::function<void()> onRecord, onCancel, onModeTap;
    // Without it the expand button and the menu toggle the look themselves.
    std::function<void()> onExpand;
    // Where the desktop has no tray, the tray's menu: the right click offers it instead of the
    // pill's own small menu.
    std::function<QMenu*()> trayMenu;
    // The user finished moving the pill (0.4 s after the last move): its frame.
    std::function<void(const QRect&)> onMoveEnd;
    // Set from the overlay style; the pill itself does not use it.
    bool styleClassic = true;
    // Resizing keeps the top edge's centre in place (otherwise its left end).
    bool anchorTopCenter = true;

    PillState state() const { return state_; }
    void setState(PillState state);
    void appendText(const QString& text);
    QString text() const;
    // Record and mode key labels (UiTexts::keyLabel): tooltips and the placeholder name them.
    void updateTooltips(const QString& recordKey, const QString& modeKey);
    void setModeName(const QString& name);
    // One block of recorded samples: its RMS becomes a level.
    void pushSamples(std::span<const float> samples);
    BarsIndicatorView& bars() { return *bars_; }
    void applySavedPosition(std::optional<double> x, std::optional<double> y);
    void copySelectionOrAll();

    // The 1/30 s animator runs (only while recording or thinking on screen).
    bool animating() const { return animator_.isActive(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void lookChanged() override;
    void movedByUser() override;
    void visibilityChanged() override { updateAnimator(); }

private:
    void buildButtons();
    void layoutFor(PillState state);
    void applyColors();
    void setHoverOpacity(double opacity);
    void fadeHover(bool in);
    void tick();
    void updateAnimator();
    void expandToggled();
    void collapseFromPane();
    bool handleKey(QKeyEvent* event);
    void refreshPlaceholder();

    PillState state_ = PillState::collapsed;
    BarsIndicatorView* bars_;
    FadeLabel* timerLabel_;
    FadeLabel* modeBadge_;
    FadeLabel* placeholder_;
    IconButton* micView_;
    IconButton* modeButton_;
    IconButton* recordButton_;
    IconButton* expandButton_;
    IconButton* stopButton_;
    IconButton* cancelButton_;
    IconButton* closeButton_;
    IconButton* collapseButton_;
    IconButton* copyButton_;
    PillTextPane* textPane_;
    QVariantAnimation* hoverFade_;
    QTimer animator_;
    QTimer moveSaveTimer_;
    QElapsedTimer mediaClock_;
    std::optional<QElapsedTimer> recordStart_;
    QString recordKey_;
};

}  // namespace quorvel
