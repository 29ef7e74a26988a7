#pragma once
// One hot key in the settings: a title, the combination as a person reads it, and a button that
// captures a new one from the keyboard. While capturing the row holds the keyboard, so the
// desktop's own shortcuts do not fire; Esc alone, a second click or leaving the row ends the
// capture without change. A reset button (when the row has a default) and a remove button (when
// the combination is optional) complete it. Used for the program's hot keys and for the modes'
// own shortcuts.

#include <QWidget>
#include <functional>
#include <optional>

#include "core/KeyCombo.h"
#include "ui/settings/KeyCapture.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace quorvel {

class ShortcutRow : public QWidget {
    Q_OBJECT
public:
    struct Options {
        std::optional<KeyCombo> defaultCombo;  // shows the reset button
        bool removable = false;                // shows "×" while a combination is set
    };

    ShortcutRow(const QString& title, std::optional<KeyCombo> combo, Options options, QWidget* parent = nullptr);

    const std::optional<KeyCombo>& combo() const { return combo_; }
    // Shows `combo` (an edit made elsewhere); does not call onChanged.
    void setCombo(std::optional<KeyCombo> combo);

    bool isCapturing() const { return capturing_; }
    void startCapture();
    void cancelCapture();

    // The user captured, reset or removed the combination (nothing = removed).
    std::function<void(const std::optional<KeyCombo>&)> onChanged;

    QPushButton* captureButton() const { return capture_; }
    QToolButton* resetButton() const { return reset_; }
    QToolButton* removeButton() const { return remove_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void choose(std::optional<KeyCombo> combo);
    void endCapture();
    void refresh();

    Options options_;
    std::optional<KeyCombo> combo_;
    bool capturing_ = false;
    KeyCapture keys_;
    QPushButton* capture_;
    QToolButton* reset_;
    QToolButton* remove_;
};

}  // namespace quorvel
