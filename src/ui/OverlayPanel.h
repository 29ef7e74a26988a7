#pragma once
// The recording overlay: microphone, live waveform, elapsed time and a one-line hint, then a
// short success or failure result that hides itself. Floats above everything without taking
// the focus; the user can drag it, or it follows the pointer, or sits at the top-right corner.
// Works without a display (offscreen) for the stress runs.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/FloatingWindow.h"

class QPushButton;

namespace quorvel {

class FadeLabel;
class IconButton;
class WaveView;

class OverlayPanel : public FloatingWindow {
    Q_OBJECT
public:
    enum class Style { classic, mini, none };
    // "classic", "mini", "none"; any other text is classic.
    static Style styleFromString(const std::string& text);

    struct ErrorAction {
        QString title;
        std::function<void()> run;
    };

    OverlayPanel();
    ~OverlayPanel() override;

    Style style = Style::classic;
    bool alwaysShow = false;
    bool followCursor = false;
    // The user dragged the panel here (its top-left corner).
    std::function<void(const QPoint&)> onPositionSave;

    // Places the panel (pointer, saved position or the top-right corner) and shows it without
    // activation. Nothing in the "none" style.
    void showPanel(std::optional<QPoint> savedPosition = std::nullopt);
    void setRecording(bool recording, const QString& hint);
    void showResult(const QString& text, bool success);
    // Hides the panel and forgets the waveform, unless alwaysShow.
    void hidePanel();
    void positionNearMouse();
    // Up to two buttons beside the hint; the panel widens to the left for them.
    void setErrorActions(std::vector<ErrorAction> actions);
    void clearError();
    void tickTime();

    // Sample feed: the waveform keeps the newest 32 000.
    void appendSamples(std::span<const float> samples);
    WaveView& waveView() { return *waveView_; }
    QString hintText() const;
    QString timeText() const;
    // The redraw timer runs (only while recording on screen).
    bool redrawing() const { return redrawTimer_.isActive(); }

protected:
    void lookChanged() override;
    void dragFinished() override;
    void visibilityChanged() override { updateTimers(); }

private:
    void placeAtSaved(QPoint saved);
    void layoutContent();
    void applyColors();
    void updateTimers();
    void checkSignal();
    void forget();

    WaveView* waveView_;
    FadeLabel* hintLabel_;
    FadeLabel* timeLabel_;
    IconButton* micImage_;
    std::vector<QPushButton*> actionButtons_;
    std::vector<ErrorAction> errorActions_;
    QColor hintColor_;
    bool hintIsResult_ = false;
    QTimer redrawTimer_;
    QTimer noSignalTimer_;
    QTimer hideTimer_;
    std::optional<QElapsedTimer> recordStart_;
};

}  // namespace quorvel
