#pragma once
// The level arithmetic behind the pill's seven bars: recent levels, the silence streak and the
// thinking pulse, turned into each bar's opacity and height. No painting here.

#include <array>
#include <span>

namespace quorvel {

struct BarShape {
    double alpha = 0;
    double bottom = 0;  // gap between the view's bottom edge and the bar: bars grow upwards
    double height = 0;
};

class BarLevels {
public:
    static constexpr int barCount = 7;
    static constexpr double barWidth = 3.2;
    static constexpr double barStep = 6;
    static constexpr int silentPushes = 46;

    // A level 0…1 from the recorder (or a block's RMS); stored ×3, capped at 1.
    void pushLevel(float level);
    void setThinking(bool thinking) { thinking_ = thinking; }
    bool thinking() const { return thinking_; }
    void reset();

    const std::array<float, barCount>& levels() const { return levels_; }
    int silenceStreak() const { return silenceStreak_; }

    // The bars in a view of `viewHeight`, at media time `seconds` (drives the thinking pulse).
    std::array<BarShape, barCount> shapes(double viewHeight, double seconds) const;
    // Left edge of bar `index` in a view of `viewWidth`: the bars are centred as a group.
    static double barX(double viewWidth, int index);

    // Root mean square of a block of samples; 0 for an empty block.
    static float rms(std::span<const float> samples);

private:
    std::array<float, barCount> levels_{};
    int silenceStreak_ = 0;
    bool thinking_ = false;
};

}  // namespace quorvel
