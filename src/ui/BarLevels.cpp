#include "ui/BarLevels.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

void BarLevels::pushLevel(float level) {
    const float stored = std::min(std::max(level * 3.0f, 0.0f), 1.0f);
    std::rotate(levels_.begin(), levels_.begin() + 1, levels_.end());
    levels_.back() = std::isnan(stored) ? 0.0f : stored;
    silenceStreak_ = levels_.back() < 0.05f ? silenceStreak_ + 1 : 0;
}

void BarLevels::reset() {
    levels_.fill(0);
    silenceStreak_ = 0;
}

std::array<BarShape, BarLevels::barCount> BarLevels::shapes(double viewHeight, double seconds) const {
    const double fullHeight = std::max(viewHeight - 4, 2.0);
    std::array<BarShape, barCount> bars{};
    for (int i = 0; i < barCount; ++i) {
        BarShape& bar = bars[static_cast<size_t>(i)];
        if (silenceStreak_ >= silentPushes && !thinking_) {
            // Silence: two dim stubs say "listening, but hearing nothing".
            bar = {i < 2 ? 0.25 : 0.0, 2, 3};
            continue;
        }
        double factor = 0;
        if (thinking_) {
            const double phase = 0.3 * i + 3 * seconds;
            const double fraction = phase - std::floor(phase);
            bar.alpha = 0.3 + 0.7 * (1 - fraction);
            factor = 0.4 + 0.6 * (1 - fraction);
        } else {
            const double v = levels_[static_cast<size_t>(i)];
            bar.alpha = 0.55 + 0.45 * v;
            factor = 0.12 + 0.88 * v;
        }
        bar.bottom = 2;
        bar.height = std::max(fullHeight * factor, 3.0);
    }
    return bars;
}

double BarLevels::barX(double viewWidth, int index) {
    const double span = barStep * (barCount - 1) + barWidth;
    return (viewWidth - span) / 2 + barStep * index;
}

float BarLevels::rms(std::span<const float> samples) {
    if (samples.empty()) return 0;
    double sum = 0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

}  // namespace quorvel
