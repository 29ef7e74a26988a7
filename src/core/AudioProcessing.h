#pragma once
// Clean-up of a finished recording before recognition: cut the silence at both ends and bring
// the loudness to a target. Pure functions on 32-bit float mono samples.

#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::AudioProcessing {

// Root mean square of a stretch, accumulated in single precision in sample order (the result
// the thresholds were tuned with). Not a number when the stretch holds one.
float rms(std::span<const float> samples);

// Drops the silent frames at both ends, keeping `padMs` of margin around the voiced part. A
// frame is silent when its RMS is below `threshold`. An all-silent input is returned whole.
std::vector<float> trimSilence(std::span<const float> samples, float threshold, int frameMs, int padMs,
                               int sampleRate);

// Scales the samples so their RMS reaches `targetRMS`, unless that would push the peak above
// `peakCeiling` (then the peak lands on the ceiling). Silence and gains within 1 % of unity
// leave the samples untouched. Takes the samples by value so they can be scaled in place.
std::vector<float> normalize(std::vector<float> samples, float targetRMS, float peakCeiling);

}  // namespace quorvel::AudioProcessing
