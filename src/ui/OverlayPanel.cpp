#include "ui/OverlayPanel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "ui/FadeLabel.h"
#include "ui/FloatingGeometry.h"
#include "ui/IconButton.h"
#include "ui/UiTexts.h"
#include "ui/WaveView.h"

namespace quorvel {
namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 64;
constexpr int kWaveWidth = 100;
const QColor kSuccessGreen(52, 199, 89);
const QColor kFailureOrange(255, 149, 0);

}  // namespace

OverlayPanel::Style OverlayPanel::styleFromString(const std::string& text) {
    if (text == "mini") return Style::mini;
    if (text == "none") return Style::none;
    return Style::classic;
}

OverlayPanel::OverlayPanel() : FloatingWindow(16) {
    setObjectName(QStringLiteral("overlay"));
    setWindowTitle(QStringLiteral("Tovik"));
    resize(kWidth, kHeight);
    micImage_ = new IconButton(Icons::Glyph::mic, 16, QString(), this);
    micImage_->setAttribute(Qt::WA_TransparentForMouseEvents);
    micImage_->setGlyphSide(16);
    waveView_ = new WaveView(this);
    QFont small = font();
    small.setPixelSize(11);  // a design point is a logical pixel
    timeLabel_ = new FadeLabel(this);
    timeLabel_->setFont(small);
    timeLabel_->setText(QStringLiteral("0:00"));
    hintLabel_ = new FadeLabel(this);
    hintLabel_->setObjectName(QStringLiteral("hintLabel"));
    hintLabel_->setFont(small);
    for (size_t tag = 0; tag < 2; ++tag) {
        auto* button = new QPushButton(this);
        button->setFocusPolicy(Qt::NoFocus);
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, tag] {
            if (tag < errorActions_.size() && errorActions_[tag].run) errorActions_[tag].run();
        });
        actionButtons_.push_back(button);
    }

    redrawTimer_.setInterval(1000 / 30);
    connect(&redrawTimer_, &QTimer::timeout, this, [this] {
        waveView_->update();
        tickTime();
    });
    noSignalTimer_.setInterval(1200);
    connect(&noSignalTimer_, &QTimer::timeout, this, &OverlayPanel::checkSignal);
    hideTimer_.setSingleShot(true);
    // Precise: the result must stay readable for its whole delay.
    hideTimer_.setTimerType(Qt::PreciseTimer);
    connect(&hideTimer_, &QTimer::timeout, this, [this] {
        if (waveView_->isRecording() || alwaysShow) return;
        hide();
        forget();
    });
    applyColors();
    layoutContent();
}

OverlayPanel::~OverlayPanel() = default;

void OverlayPanel::showPanel(std::optional<QPoint> savedPosition) {
    if (style == Style::none) return;
    if (followCursor)
        positionNearMouse();
    else if (savedPosition)
        placeAtSaved(*savedPosition);
    else
        moveProgrammatically(FloatingGeometry::overlayDefaultPosition(size(), mainArea()));
    layoutContent();
    showWithoutActivating();
}

void OverlayPanel::placeAtSaved(QPoint saved) {
    // The screen it was saved on may be gone (or the value absurd): keep the panel on a screen.
    const std::optional<QRect> area = areaAt(saved);
    moveProgrammatically(area ? FloatingGeometry::clampInside(saved, size(), *area, 0) : saved);
}

void OverlayPanel::positionNearMouse() {
    const QPoint pointer = QCursor::pos();
    moveProgrammatically(FloatingGeometry::overlayNearPointer(pointer, size(), areaAt(pointer)));
}

void OverlayPanel::setRecording(bool recording, const QString& hint) {
    const bool mini = style == Style::mini;
    hintIsResult_ = false;
    hintLabel_->setText(mini ? QString() : hint);
    timeLabel_->setVisible(!mini);
    micImage_->setVisible(!mini);
    waveView_->setRecording(recording);
    hideTimer_.stop();
    if (recording) {
        recordStart_.emplace();
        recordStart_->start();
        timeLabel_->setText(UiTexts::elapsedLabel(0));
        noSignalTimer_.start();  // a fresh 1.2 s for every recording
    } else {
        recordStart_.reset();
    }
    clearError();
    if (!recording) waveView_->setNoSignal(false);
    updateTimers();
}

void OverlayPanel::checkSignal() {
    if (waveView_->isRecording() && !waveView_->noSignal() && waveView_->samples().empty())
        waveView_->setNoSignal(true);
}

void OverlayPanel::showResult(const QString& text, bool success) {
    hintIsResult_ = true;
    hintColor_ = success ? kSuccessGreen : kFailureOrange;
    hintLabel_->setColor(hintColor_);
    if (style == Style::mini)
        hintLabel_->setText(QString());
    else
        hintLabel_->setText(success ? QStringLiteral("✓ вставлено") : QStringLiteral("✗ ") + text);
    waveView_->setRecording(false);
    recordStart_.reset();
    updateTimers();
    if (!alwaysShow) hideTimer_.start(success ? 1600 : 3000);
}

void OverlayPanel::hidePanel() {
    if (alwaysShow) return;
    hideTimer_.stop();
    hide();
    forget();
}

void OverlayPanel::forget() {
    waveView_->clearSamples();
    waveView_->setNoSignal(false);
    clearError();
}

void OverlayPanel::setErrorActions(std::vector<ErrorAction> actions) {
    // The buttons come with a result: its colour stays.
    const bool result = hintIsResult_;
    clearError();
    hintIsResult_ = result;
    applyColors();
    errorActions_ = std::move(actions);
    if (errorActions_.size() > 2) errorActions_.resize(2);
    int extra = 0;
    for (size_t tag = 0; tag < errorActions_.size(); ++tag) {
        QPushButton* button = actionButtons_[tag];
        button->setText(errorActions_[tag].title);
        button->adjustSize();
        button->show();
        extra += button->width() + 8;
    }
    const QRect frame = intendedFrame();
    setGeometryProgrammatically(QRect(frame.x() + frame.width() - (kWidth + extra), frame.y(), kWidth + extra, kHeight));
    layoutContent();
}

void OverlayPanel::clearError() {
    errorActions_.clear();
    for (QPushButton* button : actionButtons_) button->hide();
    hintIsResult_ = false;
    hintLabel_->setColor(secondaryText());
    waveView_->setFixedWidth(kWaveWidth);
    const QRect frame = intendedFrame();
    if (frame.width() != kWidth)
        setGeometryProgrammatically(QRect(frame.x() + frame.width() - kWidth, frame.y(), kWidth, frame.height()));
    layoutContent();
}

void OverlayPanel::tickTime() {
    if (!recordStart_ || style == Style::mini) return;
    timeLabel_->setText(UiTexts::elapsedLabel(static_cast<double>(recordStart_->elapsed()) / 1000.0));
    if (timeLabel_->width() != timeLabel_->sizeHint().width()) layoutContent();  // at 10:00
}

void OverlayPanel::appendSamples(std::span<const float> samples) {
    waveView_->appendSamples(samples);
    if (!samples.empty() && waveView_->noSignal()) waveView_->setNoSignal(false);
}

QString OverlayPanel::hintText() const { return hintLabel_->text(); }

QString OverlayPanel::timeText() const { return timeLabel_->text(); }

void OverlayPanel::layoutContent() {
    const int h = height();
    if (style == Style::mini) {
        // Only the waveform: centred, so the small look does not lean to one side.
        waveView_->setGeometry((width() - kWaveWidth) / 2, (h - 36) / 2, kWaveWidth, 36);
        return;
    }
    micImage_->move(14, (h - 16) / 2);
    waveView_->setGeometry(14 + 16 + 10, (h - 36) / 2, kWaveWidth, 36);
    const int timeX = waveView_->geometry().right() + 1 + 8;
    // As wide as the time shown, not the widest it could be: the hint's room is scarce.
    const int timeWidth = timeLabel_->sizeHint().width();
    timeLabel_->setGeometry(timeX, 0, timeWidth, h);
    const int hintX = timeX + timeWidth + 8;
    int right = width() - 14;
    for (QPushButton* button : actionButtons_) {
        if (button->isHidden()) continue;
        right -= button->width();
        button->move(right, (h - button->height()) / 2);
        right -= 8;
    }
    hintLabel_->setGeometry(hintX, 0, std::clamp(right - hintX, 0, 150), h);
}

void OverlayPanel::applyColors() {
    setBackdrop(darkLook() ? QColor(44, 44, 46, 235) : QColor(246, 246, 248, 235));
    micImage_->setForeground(primaryText());
    timeLabel_->setColor(primaryText());
    waveView_->setIdleColor(secondaryText());
    hintLabel_->setColor(hintIsResult_ ? hintColor_ : secondaryText());
}

void OverlayPanel::lookChanged() { applyColors(); }

void OverlayPanel::updateTimers() {
    const bool recording = waveView_->isRecording();
    if (recording && isVisible()) {
        if (!redrawTimer_.isActive()) redrawTimer_.start();
    } else {
        redrawTimer_.stop();
    }
    if (recording) {
        if (!noSignalTimer_.isActive()) noSignalTimer_.start();
    } else {
        noSignalTimer_.stop();
    }
}

void OverlayPanel::dragFinished() {
    if (onPositionSave) onPositionSave(pos());
}

}  // namespace quorvel
