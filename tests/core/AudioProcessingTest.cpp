#include "core/AudioProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace quorvel {
namespace {

using AudioProcessing::normalize;
using AudioProcessing::trimSilence;
using Samples = std::vector<float>;

// The pipeline's values: 480-sample frames, 2400 samples of padding.
Samples pipelineTrim(const Samples& s) { return trimSilence(s, 0.008f, 30, 150, 16000); }

Samples tone(size_t n, float amplitude = 0.5f) {
    Samples s(n);
    for (size_t i = 0; i < n; ++i) {
        s[i] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 16000.0));
    }
    return s;
}

Samples concat(std::initializer_list<Samples> parts) {
    Samples out;
    for (const Samples& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TrimSilence, KeepsThePaddedVoicedWindow) {
    constexpr size_t kWhole = SIZE_MAX;
    struct Case {
        const char* name;
        Samples input;
        size_t from;
        size_t to;
    };
    const Samples silence(16000, 0.0f);
    const Case cases[] = {
        // Speech starts in frame [15840, 16320) and ends in [31680, 32160); 2400 of padding each side.
        {"tone between silences", concat({silence, tone(16000), silence}), 13440, 34560},
        // The trailing scan stops at the frame [7680, 8160) that still holds tone: 8160 + 2400.
        {"loud from the beginning", concat({tone(8000), silence}), 0, 10560},
        {"loud to the last sample", concat({silence, tone(8000)}), 13440, 24000},
        // All-silent and all-loud inputs come back whole.
        {"empty", {}, 0, kWhole},
        {"one zero", Samples(1, 0.0f), 0, kWhole},
        {"all zero", Samples(48000, 0.0f), 0, kWhole},
        {"quiet noise below threshold", Samples(10000, 0.005f), 0, kWhole},
        {"loud throughout", tone(20000), 0, kWhole},
        {"loud first frame, loud last sample", concat({tone(960), Samples(5000, 0.0f), Samples(100, 0.9f)}), 0,
         kWhole},
    };
    for (const Case& c : cases) {
        const Samples window(c.input.begin() + c.from, c.input.begin() + std::min(c.to, c.input.size()));
        EXPECT_EQ(pipelineTrim(c.input), window) << c.name;
    }
}

TEST(TrimSilence, NaNFrameCountsAsVoicedAndOddArgumentsDoNotBreakIt) {
    Samples withNaN(16000, 0.0f);
    withNaN[8000] = std::numeric_limits<float>::quiet_NaN();
    const Samples out = pipelineTrim(withNaN);
    // The NaN lies in the leading scan's frame [7680, 8160) and the trailing scan's [7840, 8320).
    ASSERT_EQ(out.size(), (8320u + 2400u) - (7680u - 2400u));
    EXPECT_TRUE(std::isnan(out[8000 - (7680 - 2400)]));

    const Samples input = concat({Samples(100, 0.0f), Samples(10, 0.5f), Samples(100, 0.0f)});
    // A frame below one sample becomes one sample.
    EXPECT_EQ(trimSilence(input, 0.008f, 0, 0, 16000), Samples(10, 0.5f));
    EXPECT_EQ(trimSilence(input, 0.008f, -5, 0, 16000), Samples(10, 0.5f));
    // A negative pad larger than the voiced part leaves nothing to keep: the input stays whole.
    EXPECT_EQ(trimSilence(input, 0.008f, 0, -1, 16000), input);
    EXPECT_EQ(trimSilence(input, 0.008f, 1, 1'000'000, 2'000'000'000), input);
}

TEST(Normalize, Cases) {
    struct Case {
        const char* name;
        Samples input;
        Samples expected;
    };
    Samples spike(100, 0.0f);
    spike[0] = 1.0f;
    Samples spikeOut(100, 0.0f);
    spikeOut[0] = 0.95f;
    const Case cases[] = {
        {"constant 0.1 is doubled", Samples(1000, 0.1f), Samples(1000, 0.2f)},
        {"constant 0.5 comes down to 0.2", Samples(1000, 0.5f), Samples(1000, 0.2f)},
        {"ceiling wins over the target", spike, spikeOut},
        {"within 1 % is untouched", Samples(1000, 0.201f), Samples(1000, 0.201f)},
        {"silence is untouched", Samples(1000, 0.0f), Samples(1000, 0.0f)},
        {"near-silence is untouched", Samples(1000, 1e-6f), Samples(1000, 1e-6f)},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        const Samples out = normalize(c.input, 0.2f, 0.95f);
        ASSERT_EQ(out.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(out[i], c.expected[i], 1e-5f) << c.name << " at " << i;
        if (c.input == c.expected) {
            EXPECT_EQ(out, c.input) << c.name << ": untouched input comes back bit for bit";
        }
    }
    Samples withNaN(10, 0.5f);
    withNaN[4] = std::numeric_limits<float>::quiet_NaN();
    const Samples out = normalize(withNaN, 0.2f, 0.95f);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_TRUE(std::isnan(out[4]));
}

TEST(AudioProcessing, RmsAccumulatesInSinglePrecision) {
    // 4096² = 2^24; after it each 0.5² = 0.25 is below half a float step and is lost, while a
    // double sum would keep all 250 of them.
    Samples input(1001, 0.5f);
    input[0] = 4096.0f;
    EXPECT_EQ(AudioProcessing::rms(input), std::sqrt(16777216.0f / 1001.0f));
    EXPECT_NE(AudioProcessing::rms(input), static_cast<float>(std::sqrt((16777216.0 + 250.0) / 1001.0)));
    EXPECT_EQ(AudioProcessing::rms({}), 0.0f);
}

}  // namespace
}  // namespace quorvel
