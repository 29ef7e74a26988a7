#include "ui/PillPanel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QVariantAnimation>

#include "core/KeyCombo.h"
#include "services/Log.h"
#include "ui/BarsIndicatorView.h"
#include "ui/FadeLabel.h"
#include "ui/FloatingGeometry.h"
#include "ui/IconButton.h"
#include "ui/PillTextPane.h"
#include "ui/UiTexts.h"

namespace quorvel {
namespace {

constexpr int kButton = 28;
constexpr int kCyrillicEs = 0x421;
constexpr int kSmallButton = 20;  // stop/cancel share the 132 px recording look with the bars
const QColor kRecordingBackdrop = QColor::fromRgbF(0.13f, 0.13f, 0.13f, 0.96f);
const QColor kRecordingForeground(236, 236, 236);

// Sizes are given as on a 1× display: a point of the design is one logical pixel here.
QFont pixelFont(const QFont& base, int pixels) {
    QFont font = base;
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

PillPanel::PillPanel() : FloatingWindow(20), recordKey_(UiTexts::keyLabel(KeyCombo::defaultToggle)) {
    setObjectName(QStringLiteral("pill"));
    setWindowTitle(QStringLiteral("Tovik"));
    bars_ = new BarsIndicatorView(this);
    timerLabel_ = new FadeLabel(this);
    timerLabel_->setObjectName(QStringLiteral("timerLabel"));
    timerLabel_->setFont(pixelFont(font(), 10));
    timerLabel_->setText(QStringLiteral("0:00"));
    modeBadge_ = new FadeLabel(this);
    modeBadge_->setFont(pixelFont(font(), 10));
    modeBadge_->setText(QStringLiteral("По умолчанию"));
    textPane_ = new PillTextPane(this);
    textPane_->onPress = [this] {
        // The one way into the keyboard focus: the user wants to select or copy text.
        setFocusable(true);
        activateWindow();
    };
    textPane_->keyHandler = [this](QKeyEvent* event) { return handleKey(event); };
    placeholder_ = new FadeLabel(this);  // over the pane, which it lets clicks through to
    placeholder_->setFont(pixelFont(font(), 12));
    placeholder_->setAlignment(Qt::AlignCenter);
    buildButtons();

    hoverFade_ = new QVariantAnimation(this);
    hoverFade_->setDuration(150);
    connect(hoverFade_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setHoverOpacity(value.toDouble()); });

    animator_.setInterval(1000 / 30);
    connect(&animator_, &QTimer::timeout, this, &PillPanel::tick);
    moveSaveTimer_.setSingleShot(true);
    moveSaveTimer_.setInterval(400);
    moveSaveTimer_.setTimerType(Qt::PreciseTimer);
    connect(&moveSaveTimer_, &QTimer::timeout, this, [this] {
        if (onMoveEnd) onMoveEnd(geometry());
    });
    mediaClock_.start();
    setDragMargin(4);

    resize(pillSize(state_));
    refreshPlaceholder();
    setState(PillState::collapsed);
}

PillPanel::~PillPanel() = default;

void PillPanel::buildButtons() {
    auto make = [this](Icons::Glyph glyph, int side, const QString& name, const QString& tip) {
        auto* button = new IconButton(glyph, side, tip, this);
        button->setObjectName(name);
        return button;
    };
    modeButton_ = make(Icons::Glyph::mode, kButton, QStringLiteral("modeButton"), QStringLiteral("Сменить режим"));
    recordButton_ = make(Icons::Glyph::mic, kButton, QStringLiteral("recordButton"), QStringLiteral("Запись (toggle)"));
    expandButton_ = make(Icons::Glyph::expand, kButton, QStringLiteral("expandButton"), QStringLiteral("Развернуть"));
    stopButton_ = make(Icons::Glyph::stop, kSmallButton, QStringLiteral("stopButton"), UiTexts::stopTooltip(recordKey_));
    cancelButton_ = make(Icons::Glyph::xmark, kSmallButton, QStringLiteral("cancelButton"), QStringLiteral("Отмена (Esc)"));
    closeButton_ = make(Icons::Glyph::xmark, kButton, QStringLiteral("closeButton"), QStringLiteral("Закрыть (Esc)"));
    collapseButton_ =
        make(Icons::Glyph::collapse, kButton, QStringLiteral("collapseButton"), QStringLiteral("Свернуть (esc)"));
    copyButton_ = make(Icons::Glyph::copy, 24, QStringLiteral("copyButton"), QStringLiteral("Копировать (Ctrl+C)"));
    micView_ = make(Icons::Glyph::mic, 12, QStringLiteral("micView"), QString());
    micView_->setGlyphSide(12);
    micView_->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto call = [](const std::function<void()>& callback) {
        if (callback) callback();
    };
    connect(modeButton_, &QAbstractButton::clicked, this, [this, call] { call(onModeTap); });
    connect(recordButton_, &QAbstractButton::clicked, this, [this, call] { call(onRecord); });
    connect(stopButton_, &QAbstractButton::clicked, this, [this, call] { call(onRecord); });
    connect(cancelButton_, &QAbstractButton::clicked, this, [this, call] { call(onCancel); });
    connect(expandButton_, &QAbstractButton::clicked, this, &PillPanel::expandToggled);
    connect(closeButton_, &QAbstractButton::clicked, this, &PillPanel::collapseFromPane);
    connect(collapseButton_, &QAbstractButton::clicked, this, &PillPanel::collapseFromPane);
    connect(copyButton_, &QAbstractButton::clicked, this, &PillPanel::copySelectionOrAll);
}

void PillPanel::setState(PillState state) {
    state_ = state;
    const bool collapsed = state == PillState::collapsed;
    const bool expanded = state == PillState::expanded;
    const bool recording = state == PillState::recording;
    for (QWidget* w : {static_cast<QWidget*>(modeButton_), static_cast<QWidget*>(recordButton_),
                       static_cast<QWidget*>(expandButton_)})
        w->setVisible(collapsed);
    for (QWidget* w : {static_cast<QWidget*>(micView_), static_cast<QWidget*>(bars_), static_cast<QWidget*>(timerLabel_)})
        w->setVisible(showsBars(state));
    for (QWidget* w : {static_cast<QWidget*>(textPane_), static_cast<QWidget*>(modeBadge_),
                       static_cast<QWidget*>(closeButton_), static_cast<QWidget*>(collapseButton_),
                       static_cast<QWidget*>(copyButton_)})
        w->setVisible(expanded);
    stopButton_->setVisible(recording);
    cancelButton_->setVisible(recording);
    refreshPlaceholder();

    bars_->setThinking(state == PillState::thinking);
    if (recording) {
        recordStart_.emplace();
        recordStart_->start();
        timerLabel_->setText(UiTexts::elapsedLabel(0));
    } else {
        recordStart_.reset();
    }
    hoverFade_->stop();
    setHoverOpacity(0);
    if (!expanded) setFocusable(false);

    applyColors();
    layoutFor(state);
    const QRect frame = intendedFrame();
    setGeometryProgrammatically(FloatingGeometry::resizeKeepingAnchor(frame, pillSize(state), anchorTopCenter,
                                                                      areaAt(QRectF(frame).center(), screen())));
    if (isVisible() || !collapsed) showWithoutActivating();
    // The pointer may already rest on the pill when a recording starts.
    if (recording && underMouse()) fadeHover(true);
    updateAnimator();
    tick();
}

void PillPanel::layoutFor(PillState state) {
    switch (state) {
        case PillState::collapsed:
            modeButton_->move(9, 2);
            recordButton_->move(46, 2);
            expandButton_->move(83, 2);
            break;
        case PillState::recording:
        case PillState::thinking:
            // Under the pointer all five share the 132 px: mic, time (room for "10:00"), bars,
            // stop, cancel.
            micView_->move(4, 12);
            timerLabel_->setGeometry(17, 0, 29, 36);
            bars_->setGeometry(46, 8, 41, 20);
            stopButton_->move(88, 8);
            cancelButton_->move(108, 8);
            break;
        case PillState::expanded:
            modeBadge_->setGeometry(14, 6, 200, 28);
            copyButton_->move(226, 8);
            collapseButton_->move(252, 6);
            closeButton_->move(282, 6);
            textPane_->setGeometry(8, 38, 304, 154);
            placeholder_->setGeometry(textPane_->geometry());
            placeholder_->raise();
            break;
    }
}

void PillPanel::applyColors() {
    const bool dark = showsBars(state_);
    const QColor foreground = dark ? kRecordingForeground : primaryText();
    for (IconButton* b : {modeButton_, recordButton_, expandButton_, stopButton_, cancelButton_, closeButton_,
                          collapseButton_, copyButton_, micView_})
        b->setForeground(foreground);
    timerLabel_->setColor(kRecordingForeground);
    modeBadge_->setColor(secondaryText());
    placeholder_->setColor(secondaryText());
    textPane_->setTextColor(primaryText());
    if (dark)
        setBackdrop(kRecordingBackdrop);
    else
        setBackdrop(darkLook() ? QColor(44, 44, 46, 235) : QColor(246, 246, 248, 235));
}

void PillPanel::lookChanged() { applyColors(); }

void PillPanel::setHoverOpacity(double opacity) {
    micView_->setOpacity(opacity);
    timerLabel_->setOpacity(opacity);
    stopButton_->setOpacity(opacity);
    cancelButton_->setOpacity(opacity);
    if (opacity <= 0) {
        stopButton_->setEnabled(false);
        cancelButton_->setEnabled(false);
    }
}

void PillPanel::fadeHover(bool in) {
    if (state_ != PillState::recording) return;
    hoverFade_->stop();
    hoverFade_->setStartValue(micView_->opacity());
    hoverFade_->setEndValue(in ? 1.0 : 0.0);
    hoverFade_->start();
    // Usable at once on entering: a quick click must not fall on a disabled button.
    stopButton_->setEnabled(in);
    cancelButton_->setEnabled(in);
}

void PillPanel::tick() {
    bars_->tick(static_cast<double>(mediaClock_.elapsed()) / 1000.0);
    if (state_ == PillState::recording && recordStart_)
        timerLabel_->setText(UiTexts::elapsedLabel(static_cast<double>(recordStart_->elapsed()) / 1000.0));
}

void PillPanel::updateAnimator() {
    const bool wanted = isVisible() && showsBars(state_);
    if (wanted && !animator_.isActive()) animator_.start();
    if (!wanted) animator_.stop();
}

void PillPanel::appendText(const QString& text) {
    textPane_->appendLine(text);
    refreshPlaceholder();
}

QString PillPanel::text() const { return textPane_->toPlainText(); }

void PillPanel::refreshPlaceholder() {
    placeholder_->setText(UiTexts::placeholder(recordKey_));
    placeholder_->setVisible(state_ == PillState::expanded && textPane_->document()->isEmpty());
}

void PillPanel::updateTooltips(const QString& recordKey, const QString& modeKey) {
    recordKey_ = recordKey;
    recordButton_->setToolTip(UiTexts::recordTooltip(recordKey));
    modeButton_->setToolTip(UiTexts::modeTooltip(modeKey));
    expandButton_->setToolTip(QStringLiteral("Развернуть"));
    stopButton_->setToolTip(UiTexts::stopTooltip(recordKey));
    refreshPlaceholder();
}

void PillPanel::setModeName(const QString& name) { modeBadge_->setText(name); }

void PillPanel::pushSamples(std::span<const float> samples) {
    if (!samples.empty()) bars_->pushLevel(BarLevels::rms(samples));
}

void PillPanel::applySavedPosition(std::optional<double> x, std::optional<double> y) {
    // The screen the pill was left on, when it is still there.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().first();
    const QRect area = (x && y ? areaAt({*x, *y}, screen) : availableArea(screen)).value_or(QRect(0, 0, 800, 600));
    moveProgrammatically(FloatingGeometry::pillStartPosition(x, y, size(), area));
}

void PillPanel::copySelectionOrAll() {
    QString text = textPane_->selectedPlainText();
    if (text.isEmpty()) text = textPane_->toPlainText();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    Log::info(UiTexts::copiedLogLine(text).toStdString());
}

bool PillPanel::handleKey(QKeyEvent* event) {
    if (state_ != PillState::expanded) return false;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        collapseFromPane();
        return true;
    }
    // The C key also reads as Cyrillic "С" under a Russian layout.
    const bool keyC = event->key() == Qt::Key_C || event->key() == kCyrillicEs;
    if (keyC && modifiers == Qt::ControlModifier) {
        copySelectionOrAll();
        return true;
    }
    return false;
}

void PillPanel::keyPressEvent(QKeyEvent* event) {
    // Only the expanded look owns keys; Esc while recording belongs to the global cancel key.
    if (handleKey(event)) return;
    event->ignore();
}

void PillPanel::expandToggled() {
    if (onExpand)
        onExpand();
    else
        setState(state_ == PillState::expanded ? PillState::collapsed : PillState::expanded);
}

void PillPanel::collapseFromPane() { setState(PillState::collapsed); }

void PillPanel::movedByUser() { moveSaveTimer_.start(); }

void PillPanel::contextMenuEvent(QContextMenuEvent* event) {
    if (QMenu* tray = trayMenu ? trayMenu() : nullptr) {
        tray->popup(event->globalPos());
        return;
    }
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto call = [](const std::function<void()>& callback) {
        if (callback) callback();
    };
    const bool recording = state_ == PillState::recording;
    menu->addAction(recording ? QStringLiteral("Остановить и вставить") : QStringLiteral("Запись"), this,
                    [this, call] { call(onRecord); });
    menu->addAction(QStringLiteral("Отмена"), this, [this, call] { call(onCancel); })->setEnabled(recording);
    menu->addAction(state_ == PillState::expanded ? QStringLiteral("Свернуть") : QStringLiteral("Развернуть"), this,
                    &PillPanel::expandToggled);
    menu->addAction(QStringLiteral("Копировать"), this, &PillPanel::copySelectionOrAll)
        ->setEnabled(!textPane_->document()->isEmpty());
    menu->popup(event->globalPos());
}

void PillPanel::enterEvent(QEnterEvent* event) {
    fadeHover(true);
    FloatingWindow::enterEvent(event);
}

void PillPanel::leaveEvent(QEvent* event) {
    fadeHover(false);
    FloatingWindow::leaveEvent(event);
}

}  // namespace quorvel
