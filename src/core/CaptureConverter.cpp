#include "core/CaptureConverter.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

// Far beyond any real buffer; guards the output size against absurd rates (a rate of 1e-300 Hz
// would ask for an endless output).
constexpr double kMaxOutputSamples = 1 << 24;

}  // namespace

CaptureBuffer CaptureBuffer::planar(std::span<const float* const> channels, size_t frames, double sampleRate) {
    CaptureBuffer b;
    b.planar_ = channels.data();
    b.channels_ = channels.size();
    b.frames_ = frames;
    b.sampleRate_ = sampleRate;
    return b;
}

CaptureBuffer CaptureBuffer::interleaved(const float* samples, size_t channels, size_t frames, double sampleRate) {
    CaptureBuffer b;
    b.interleaved_ = samples;
    b.channels_ = channels;
    b.frames_ = frames;
    b.sampleRate_ = sampleRate;
    return b;
}

bool CaptureBuffer::hasData() const {
    if (channels_ == 0) return false;
    if (interleaved_) return true;
    if (!planar_) return false;
    return std::all_of(planar_, planar_ + channels_, [](const float* c) { return c != nullptr; });
}

bool CaptureConverter::resample(const CaptureBuffer& buffer, std::vector<float>& out) {
    out.clear();
    const size_t n = buffer.frames();
    if (!buffer.hasData() || n == 0) return false;
    const double ratio = buffer.sampleRate() / kOutputRate;
    if (!(ratio > 0.0)) return false;
    const double wanted = std::trunc(static_cast<double>(n) / ratio);
    if (!(wanted >= 1.0) || wanted > kMaxOutputSamples) return false;
    const auto outCount = static_cast<size_t>(wanted);
    out.resize(outCount);

    const size_t channels = buffer.channels();
    const auto divisor = static_cast<float>(channels);
    for (size_t i = 0; i < outCount; ++i) {
        const double p = ratio * static_cast<double>(i);
        const size_t i0 = std::min(n - 1, static_cast<size_t>(p));
        const auto frac = static_cast<float>(p - static_cast<double>(i0));
        const size_t i1 = std::min(n - 1, i0 + 1);
        if (channels == 1) {
            out[i] = (1.0f - frac) * buffer.at(0, i0) + buffer.at(0, i1) * frac;
            continue;
        }
        float sum = 0.0f;
        for (size_t c = 0; c < channels; ++c) {
            sum += (1.0f - frac) * buffer.at(c, i0) + buffer.at(c, i1) * frac;
        }
        out[i] = sum / divisor;
    }
    return true;
}

std::optional<CaptureConverter::LevelReport> CaptureConverter::handleBuffer(const CaptureBuffer& buffer,
                                                                           RingBuffer& ring,
                                                                           double nowSeconds) {
    if (!resample(buffer, converted_) || converted_.empty()) return std::nullopt;
    ring.write(converted_);

    float sumSquares = 0.0f;
    for (const float s : converted_) sumSquares += s * s;
    if (!(nowSeconds - lastLevelSent_ > kLevelInterval)) return std::nullopt;

    lastLevelSent_ = nowSeconds;
    const size_t count = converted_.size();
    const size_t tail = std::min(count, kMaxTail);
    return LevelReport{std::sqrt(sumSquares / static_cast<float>(count)),
                       std::vector<float>(converted_.end() - static_cast<std::ptrdiff_t>(tail), converted_.end())};
}

}  // namespace quorvel
