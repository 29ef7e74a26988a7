#pragma once
// The platform-free half of the audio recorder: turns each captured buffer (any rate, any
// channel count, planar or interleaved float) into 16 kHz mono, appends it to the sample ring
// and decides when a level report is due. The capture backend only hands over its buffers.
// Runs on the capture thread; one converter per recorder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/RingBuffer.h"

namespace quorvel {

// A view of one captured buffer; it does not own the samples.
class CaptureBuffer {
public:
    // One pointer per channel, each to `frames` samples.
    static CaptureBuffer planar(std::span<const float* const> channels, size_t frames, double sampleRate);
    // `frames` frames of `channels` samples each, channel by channel within a frame.
    static CaptureBuffer interleaved(const float* samples, size_t channels, size_t frames, double sampleRate);

    size_t channels() const { return channels_; }
    size_t frames() const { return frames_; }
    double sampleRate() const { return sampleRate_; }
    bool hasData() const;
    float at(size_t channel, size_t frame) const {
        return planar_ ? planar_[channel][frame] : interleaved_[frame * channels_ + channel];
    }

private:
    CaptureBuffer() = default;
    const float* const* planar_ = nullptr;
    const float* interleaved_ = nullptr;
    size_t channels_ = 0;
    size_t frames_ = 0;
    double sampleRate_ = 0.0;
};

class CaptureConverter {
public:
    static constexpr double kOutputRate = 16000.0;
    static constexpr double kLevelInterval = 0.033;  // about thirty reports a second
    static constexpr size_t kMaxTail = 32000;

    struct LevelReport {
        float level;              // RMS of the buffer's converted samples (linear)
        std::vector<float> tail;  // its newest converted samples
    };

    // Linear resampling of one buffer on its own (the phase restarts with every buffer and the
    // fractional remainder is dropped), channels averaged. Replaces the contents of `out`;
    // false, with `out` empty, when the buffer yields nothing.
    static bool resample(const CaptureBuffer& buffer, std::vector<float>& out);

    // Handles one captured buffer: converts it, appends it to `ring` and, when more than 33 ms
    // of `nowSeconds` (a monotonic clock) have passed since the last report, returns a report.
    std::optional<LevelReport> handleBuffer(const CaptureBuffer& buffer, RingBuffer& ring, double nowSeconds);

private:
    std::vector<float> converted_;  // reused so steady-state buffers allocate nothing
    double lastLevelSent_ = 0.0;
};

}  // namespace quorvel
