#include "core/AudioProcessing.h"

#include <algorithm>
#include <cmath>

namespace quorvel::AudioProcessing {
namespace {

// A NaN RMS is not below the threshold, so such a stretch counts as voiced.
bool isSilent(std::span<const float> stretch, float threshold) {
    return rms(stretch) < threshold;
}

// Samples per frame and of padding; products in 64 bits so odd arguments cannot overflow.
int64_t samplesFor(int sampleRate, int ms) {
    return static_cast<int64_t>(sampleRate) * static_cast<int64_t>(ms) / 1000;
}

}  // namespace

float rms(std::span<const float> samples) {
    if (samples.empty()) return 0.0f;
    float sum = 0.0f;
    for (const float s : samples) sum += s * s;
    return std::sqrt(sum / static_cast<float>(samples.size()));
}

std::vector<float> trimSilence(std::span<const float> samples, float threshold, int frameMs, int padMs,
                               int sampleRate) {
    const auto n = static_cast<int64_t>(samples.size());
    const auto whole = [&] { return std::vector<float>(samples.begin(), samples.end()); };
    if (n == 0) return {};
    const int64_t frame = std::max<int64_t>(1, samplesFor(sampleRate, frameMs));
    const int64_t pad = samplesFor(sampleRate, padMs);

    int64_t speechStart = -1;
    for (int64_t start = 0; start < n; start += frame) {
        const int64_t length = std::min(frame, n - start);
        if (!isSilent(samples.subspan(static_cast<size_t>(start), static_cast<size_t>(length)), threshold)) {
            speechStart = start;
            break;
        }
    }
    if (speechStart < 0) return whole();  // an all-quiet recording is not emptied

    const int64_t keepStart = std::max<int64_t>(0, speechStart - pad);
    int64_t end = n;
    while (keepStart + frame < end) {
        const int64_t begin = std::max<int64_t>(0, end - frame);
        if (!isSilent(samples.subspan(static_cast<size_t>(begin), static_cast<size_t>(end - begin)), threshold)) {
            break;
        }
        end -= frame;
    }
    const int64_t keepEnd = std::min(n, end + pad);

    if (keepEnd <= keepStart || (keepStart <= 0 && keepEnd >= n)) return whole();
    return std::vector<float>(samples.begin() + keepStart, samples.begin() + keepEnd);
}

std::vector<float> normalize(std::vector<float> samples, float targetRMS, float peakCeiling) {
    if (samples.empty()) return samples;
    float sum = 0.0f;
    float peak = 0.0f;
    for (const float s : samples) {
        sum += s * s;
        peak = std::max(peak, std::fabs(s));
    }
    const float level = std::sqrt(sum / static_cast<float>(samples.size()));
    if (!(level > 1e-5f)) return samples;  // silence (or garbage) is not amplified

    float gain = targetRMS / level;
    if (peak * gain > peakCeiling) gain = peakCeiling / peak;
    if (!(std::fabs(gain - 1.0f) > 0.01f)) return samples;
    for (float& s : samples) s *= gain;
    return samples;
}

}  // namespace quorvel::AudioProcessing
