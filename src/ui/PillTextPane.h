#pragma once
// The expanded pill's text pane: the dictated texts and notices, selectable with the mouse.
// A click into it is the one thing that may give the pill the keyboard focus; its key presses
// go to the pill first (Esc collapses, Ctrl+C copies).

#include <QPlainTextEdit>
#include <functional>

namespace quorvel {

class PillTextPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit PillTextPane(QWidget* parent);

    std::function<void()> onPress;               // before the click is handled
    std::function<bool(QKeyEvent*)> keyHandler;  // true: the key was used

    void appendLine(const QString& text);
    // The selection as plain text (line breaks as "\n"), or nothing.
    QString selectedPlainText() const;
    void setTextColor(const QColor& color);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace quorvel
