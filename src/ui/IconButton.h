#pragma once
// A flat icon button of the floating windows: a tinted glyph, a soft highlight under the
// pointer, and never the keyboard focus (a click must leave the focus in the user's application).

#include <QAbstractButton>
#include <QColor>

#include "ui/Icons.h"

namespace quorvel {

class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(Icons::Glyph glyph, int side, const QString& tooltip, QWidget* parent);

    // The glyph's size; by default a little over half the button, like toolbar icons.
    void setGlyphSide(int side);
    void setForeground(const QColor& color);
    // Fades the button in and out (0…1); fully transparent buttons paint nothing.
    void setOpacity(double opacity);
    double opacity() const { return opacity_; }
    QSize sizeHint() const override { return {side_, side_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int side_;
    int glyphSide_;
    QColor foreground_{Qt::black};
    bool hovered_ = false;
    double opacity_ = 1;
};

}  // namespace quorvel
