#pragma once
// The overlay waveform's arithmetic: the newest samples it keeps, and the vertical segments it
// strokes for them. No painting here.

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel {

struct WaveSegment {
    double x = 0;
    double top = 0;
    double bottom = 0;
};

namespace WaveSegments {

constexpr size_t maxSamples = 32000;

// Appends `incoming` and drops the oldest samples beyond `maxSamples`.
void appendCapped(std::vector<float>& samples, std::span<const float> incoming);

// One segment per window of count / ⌊width⌋ samples (at least 1), centred on the view's middle,
// half as high as min(3 × peak, 1) of half the view (1.5 px at least). Fewer than two samples
// give no segments.
std::vector<WaveSegment> compute(std::span<const float> samples, double width, double height);

}  // namespace WaveSegments
}  // namespace quorvel
