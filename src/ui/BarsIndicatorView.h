#pragma once
// The pill's seven level bars: white rounded bars over the near-black recording look, drawn
// from BarLevels at each animator tick.

#include <QWidget>

#include "ui/BarLevels.h"

namespace quorvel {

class BarsIndicatorView : public QWidget {
    Q_OBJECT
public:
    explicit BarsIndicatorView(QWidget* parent);

    void pushLevel(float level) { levels_.pushLevel(level); }
    void setThinking(bool thinking) { levels_.setThinking(thinking); }
    // Recomputes the bars for media time `seconds` and repaints.
    void tick(double seconds);
    const BarLevels& levels() const { return levels_; }
    void reset() { levels_.reset(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BarLevels levels_;
    std::array<BarShape, BarLevels::barCount> shapes_{};
};

}  // namespace quorvel
