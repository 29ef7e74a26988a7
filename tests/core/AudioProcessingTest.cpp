#include "core/AudioProcessing.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(TrimSilence, ToneBetweenSilencesKeepsPaddedWindow) {
    const Samples input = concat({Samples(16000, 0.0f), tone(16000), Samples(16000, 0.0f)});
    const Samples out = pipelineTrim(input);
    // Speech starts in frame [15840, 16320) and ends in [31680, 32160); 2400 of padding each side.
    ASSERT_EQ(out.size(), 34560u - 13440u);
    EXPECT_EQ(out, Samples(input.begin() + 13440, input.begin() + 34560));
}

TEST(TrimSilence, InputsReturnedWhole) {
    struct Case {
        const char* name;
        Samples input;
    };
    const Case cases[] = {
        {"empty", {}},
        {"one zero", Samples(1, 0.0f)},
        {"all zero", Samples(48000, 0.0f)},
        {"quiet noise below threshold", Samples(10000, 0.005f)},
        {"loud throughout", tone(20000)},
        {"loud first frame, loud last sample", concat({tone(960), Samples(5000, 0.0f), Samples(100, 0.9f)})},
    };
    for (const Case& c : cases) EXPECT_EQ(pipelineTrim(c.input), c.input) << c.name;
}

TEST(TrimSilence, KeepsStartWhenLoudFromTheBeginning) {
    const Samples input = concat({tone(8000), Samples(16000, 0.0f)});
    const Samples out = pipelineTrim(input);
    // Trailing scan stops at the frame [7680, 8160) that still holds tone: end 8160 + 2400.
    ASSERT_EQ(out.size(), 10560u);
    EXPECT_EQ(out, Samples(input.begin(), input.begin() + 10560));
}

TEST(TrimSilence, KeepsEndWhenLoudToTheLastSample) {
    const Samples input = concat({Samples(16000, 0.0f), tone(8000)});
    const Samples out = pipelineTrim(input);
    ASSERT_EQ(out.size(), input.size() - 13440u);
    EXPECT_EQ(out, Samples(input.begin() + 13440, input.end()));
}

TEST(TrimSilence, NaNFrameCountsAsVoiced) {
    Samples input(16000, 0.0f);
    input[8000] = std::numeric_limits<float>::quiet_NaN();
    const Samples out = pipelineTrim(input);
    // The NaN lies in the leading scan's frame [7680, 8160) and the trailing scan's [7840, 8320).
    ASSERT_EQ(out.size(), (8320u + 2400u) - (7680u - 2400u));
    EXPECT_TRUE(std::isnan(out[8000 - (7680 - 2400)]));
}

TEST(TrimSilence, OddArgumentsDoNotBreakIt) {
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
    }
}

TEST(Normalize, UntouchedInputIsReturnedBitForBit) {
    Samples input(1000, 0.2f);
    input[3] = -0.2f;
    EXPECT_EQ(normalize(input, 0.2f, 0.95f), input);
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
