#include "core/CaptureConverter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quorvel {
namespace {

using Samples = std::vector<float>;

// Converts the channels given planar and given interleaved: both layouts must agree, and the
// result flag must say whether anything came out.
Samples convert(const std::vector<Samples>& channels, double rate) {
    const size_t frames = channels[0].size();
    std::vector<const float*> pointers;
    Samples interleaved;
    for (const Samples& c : channels) pointers.push_back(c.data());
    for (size_t f = 0; f < frames; ++f) {
        for (const Samples& c : channels) interleaved.push_back(c[f]);
    }
    Samples planarOut;
    Samples interleavedOut;
    const bool ok = CaptureConverter::resample(CaptureBuffer::planar(pointers, frames, rate), planarOut);
    CaptureConverter::resample(CaptureBuffer::interleaved(interleaved.data(), channels.size(), frames, rate),
                               interleavedOut);
    EXPECT_EQ(ok, !planarOut.empty());
    EXPECT_EQ(planarOut, interleavedOut);
    return planarOut;
}

std::optional<CaptureConverter::LevelReport> handle(CaptureConverter& converter, const Samples& in, double rate,
                                                    RingBuffer& ring, double now) {
    const float* channels[] = {in.data()};
    return converter.handleBuffer(CaptureBuffer::planar(channels, in.size(), rate), ring, now);
}

Samples ramp(size_t n) {
    Samples s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<float>(i) / static_cast<float>(n);
    return s;
}

TEST(CaptureConverter, OutputCountPerBufferAndNothingFromNoData) {
    struct Case {
        size_t frames;
        double rate;
        size_t expected;
    };
    const Case cases[] = {
        {4096, 48000, 1365}, {4096, 44100, 1486}, {4800, 48000, 1600}, {4096, 16000, 4096},
        {100, 8000, 200},    {2, 48000, 0},       {3, 48000, 1},       {0, 48000, 0},
        {4096, 0, 0},        {4096, -48000, 0},   {4096, 1e-300, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(convert({Samples(c.frames, 0.25f)}, c.rate).size(), c.expected) << c.frames << " @ " << c.rate;
    }
    // No data yields nothing; a buffer that yields nothing is neither reported nor stored.
    Samples out{1.0f};
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::planar({}, 4096, 48000), out));
    EXPECT_TRUE(out.empty());
    const float* missing[] = {nullptr};
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::planar(missing, 4096, 48000), out));
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::interleaved(nullptr, 2, 4096, 48000), out));
    RingBuffer ring(1000);
    CaptureConverter converter;
    EXPECT_FALSE(handle(converter, Samples(2, 0.5f), 48000, ring, 5.0));
    EXPECT_EQ(ring.sampleCount(), 0);
}

TEST(CaptureConverter, ResampledValuesAveragedOverTheChannels) {
    const Samples in = ramp(4096);
    EXPECT_EQ(convert({in}, 16000), in);
    // Upsampling interpolates and repeats the last sample.
    EXPECT_EQ(convert({{0.0f, 0.5f, 1.0f}}, 8000), (Samples{0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.0f}));
    // 48 kHz picks every third frame.
    const Samples out = convert({in}, 48000);
    ASSERT_EQ(out.size(), 1365u);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[3 * i]) << i;
    // Channels are averaged.
    EXPECT_EQ(convert({Samples(4096, 0.5f), Samples(4096, -0.5f)}, 48000), Samples(1365, 0.0f));
    EXPECT_EQ(convert({Samples(300, 0.25f), Samples(300, 0.5f), Samples(300, 1.5f)}, 16000), Samples(300, 0.75f));
}

TEST(CaptureConverter, LevelReportsAreThrottledAndCarryTheNewestTail) {
    RingBuffer ring(RingBuffer::kRecorderCapacity);
    CaptureConverter converter;
    const Samples in(160, 0.5f);  // 10 ms at 16 kHz
    std::vector<double> reportedAt;
    for (int i = 0; i < 20; ++i) {
        const double now = 100.0 + 0.010 * i;
        if (const auto report = handle(converter, in, 16000, ring, now)) {
            reportedAt.push_back(now);
            EXPECT_FLOAT_EQ(report->level, 0.5f);
            EXPECT_EQ(report->tail, in);
        }
    }
    EXPECT_EQ(ring.sampleCount(), 20 * 160);
    ASSERT_GE(reportedAt.size(), 2u);
    EXPECT_LE(reportedAt.size(), 6u);  // 190 ms at one per more than 33 ms
    for (size_t i = 1; i < reportedAt.size(); ++i) EXPECT_GT(reportedAt[i] - reportedAt[i - 1], 0.033);

    // The tail is the newest 32000 samples; the ring gets them all.
    RingBuffer big(100000);
    CaptureConverter fresh;
    const Samples many = ramp(40000);
    const auto report = handle(fresh, many, 16000, big, 1.0);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->tail, Samples(many.end() - 32000, many.end()));
    EXPECT_EQ(big.snapshot(), many);
}

}  // namespace
}  // namespace quorvel
