#pragma once
// A one-line text of the floating windows that can fade (the pill's timer shows on hover only)
// and elides at the tail when it does not fit.

#include <QColor>
#include <QWidget>

namespace quorvel {

class FadeLabel : public QWidget {
    Q_OBJECT
public:
    explicit FadeLabel(QWidget* parent);

    void setText(const QString& text);
    QString text() const { return text_; }
    void setColor(const QColor& color);
    void setOpacity(double opacity);
    void setAlignment(Qt::Alignment alignment);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_{Qt::black};
    double opacity_ = 1;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

}  // namespace quorvel
