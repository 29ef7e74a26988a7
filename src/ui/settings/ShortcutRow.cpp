#include "ui/settings/ShortcutRow.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "core/L10n.h"
#include "ui/UiTexts.h"

namespace quorvel {
namespace {

QString captureText() { return QStringLiteral("Нажмите клавиши… (Esc — отмена)"); }

}  // namespace

ShortcutRow::ShortcutRow(const QString& title, std::optional<KeyCombo> combo, Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), combo_(std::move(combo)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(title);
    label->setWordWrap(true);
    layout->addWidget(label, 1);

    capture_ = new QPushButton;
    capture_->setMinimumWidth(capture_->fontMetrics().horizontalAdvance(captureText()) + 24);
    capture_->installEventFilter(this);
    label->setBuddy(capture_);
    layout->addWidget(capture_);
    connect(capture_, &QPushButton::clicked, this, [this] { capturing_ ? cancelCapture() : startCapture(); });

    reset_ = new QToolButton;
    reset_->setIcon(QIcon::fromTheme(QStringLiteral("edit-undo"), style()->standardIcon(QStyle::SP_BrowserReload)));
    reset_->setToolTip(QString::fromStdString(L10n::t("reset")));
    reset_->setVisible(options_.defaultCombo.has_value());
    layout->addWidget(reset_);
    connect(reset_, &QToolButton::clicked, this, [this] { choose(options_.defaultCombo); });

    remove_ = new QToolButton;
    remove_->setText(QStringLiteral("×"));
    remove_->setToolTip(QString::fromStdString(L10n::t("delete")));
    layout->addWidget(remove_);
    connect(remove_, &QToolButton::clicked, this, [this] { choose(std::nullopt); });
    refresh();
}

void ShortcutRow::setCombo(std::optional<KeyCombo> combo) {
    combo_ = std::move(combo);
    refresh();
}

void ShortcutRow::startCapture() {
    if (capturing_) return;
    capturing_ = true;
    keys_ = KeyCapture();
    capture_->setFocus(Qt::OtherFocusReason);
    capture_->grabKeyboard();
    refresh();
}

void ShortcutRow::cancelCapture() {
    if (capturing_) endCapture();
}

void ShortcutRow::endCapture() {
    capturing_ = false;
    capture_->releaseKeyboard();
    refresh();
}

void ShortcutRow::choose(std::optional<KeyCombo> combo) {
    if (capturing_) endCapture();
    if (combo == combo_) return;
    combo_ = std::move(combo);
    refresh();
    if (onChanged) onChanged(combo_);
}

void ShortcutRow::refresh() {
    if (capturing_) {
        capture_->setText(captureText());
    } else {
        capture_->setText(combo_ ? UiTexts::keyLabel(*combo_) : QStringLiteral("Задать"));
    }
    capture_->setDown(capturing_);
    reset_->setEnabled(options_.defaultCombo && combo_ != options_.defaultCombo);
    remove_->setVisible(options_.removable && combo_.has_value());
}

bool ShortcutRow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != capture_ || !capturing_) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Keeps the window's own shortcuts from taking the key: it comes as a key press.
            event->accept();
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->isAutoRepeat()) return true;
            const KeyCapture::Result result =
                event->type() == QEvent::KeyPress
                    ? keys_.press(key->nativeScanCode(), key->nativeModifiers())
                    : keys_.release(key->nativeScanCode());
            if (result.outcome == KeyCapture::Outcome::cancelled) endCapture();
            if (result.outcome == KeyCapture::Outcome::captured) choose(result.combo);
            return true;
        }
        case QEvent::FocusOut:
            if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) endCapture();
            return false;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void ShortcutRow::hideEvent(QHideEvent* event) {
    cancelCapture();
    QWidget::hideEvent(event);
}

}  // namespace quorvel
