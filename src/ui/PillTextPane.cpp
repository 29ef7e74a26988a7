#include "ui/PillTextPane.h"

#include <QScrollBar>

namespace quorvel {

PillTextPane::PillTextPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Mouse selection only: a keyboard caret would blink (a timer) while the pane has the focus.
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::ClickFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    QFont font = this->font();
    font.setPixelSize(12);
    setFont(font);
}

void PillTextPane::appendLine(const QString& text) {
    if (document()->isEmpty())
        setPlainText(text);
    else
        appendPlainText(text);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString PillTextPane::selectedPlainText() const {
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

void PillTextPane::setTextColor(const QColor& color) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, color);
    setPalette(palette);
}

void PillTextPane::mousePressEvent(QMouseEvent* event) {
    if (onPress) onPress();
    QPlainTextEdit::mousePressEvent(event);
}

void PillTextPane::keyPressEvent(QKeyEvent* event) {
    if (keyHandler && keyHandler(event)) return;
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace quorvel
