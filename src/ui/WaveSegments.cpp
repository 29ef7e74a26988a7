#include "ui/WaveSegments.h"

#include <algorithm>
#include <cmath>

namespace quorvel::WaveSegments {

void appendCapped(std::vector<float>& samples, std::span<const float> incoming) {
    if (incoming.size() >= maxSamples) {
        samples.assign(incoming.end() - static_cast<std::ptrdiff_t>(maxSamples), incoming.end());
        return;
    }
    samples.insert(samples.end(), incoming.begin(), incoming.end());
    if (samples.size() > maxSamples)
        samples.erase(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(maxSamples));
}

std::vector<WaveSegment> compute(std::span<const float> samples, double width, double height) {
    const size_t count = samples.size();
    std::vector<WaveSegment> segments;
    if (count < 2) return segments;
    const size_t columns = std::max<size_t>(static_cast<size_t>(std::max(std::floor(width), 1.0)), 1);
    const size_t window = std::max<size_t>(count / columns, 1);
    const double divisor = count <= 2 ? 1.0 : static_cast<double>(count - 1);
    const double middle = height / 2;
    segments.reserve(count / window + 1);
    for (size_t start = 0; start < count; start += window) {
        const size_t end = std::min(start + window, count);
        float peak = 0;
        for (size_t i = start; i < end; ++i) peak = std::max(peak, std::fabs(samples[i]));
        const double amplitude = std::min(3.0 * peak, 1.0);
        const double half = std::max(middle * amplitude, 1.5);
        segments.push_back({width * static_cast<double>(start) / divisor, middle - half, middle + half});
    }
    return segments;
}

}  // namespace quorvel::WaveSegments
