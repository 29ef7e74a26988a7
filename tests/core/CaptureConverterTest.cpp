#include "core/CaptureConverter.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvel {
namespace {

using Samples = std::vector<float>;

Samples convertMono(const Samples& in, double rate) {
    const float* channels[] = {in.data()};
    Samples out;
    CaptureConverter::resample(CaptureBuffer::planar(channels, in.size(), rate), out);
    return out;
}

Samples ramp(size_t n) {
    Samples s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<float>(i) / static_cast<float>(n);
    return s;
}

TEST(CaptureConverter, OutputCountPerBuffer) {
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
        const Samples in(c.frames, 0.25f);
        EXPECT_EQ(convertMono(in, c.rate).size(), c.expected) << c.frames << " @ " << c.rate;
    }
}

TEST(CaptureConverter, MonoAt16kIsUnchanged) {
    const Samples in = ramp(4096);
    EXPECT_EQ(convertMono(in, 16000), in);
}

TEST(CaptureConverter, UpsamplingInterpolatesAndRepeatsTheLastSample) {
    const Samples in = {0.0f, 0.5f, 1.0f};
    EXPECT_EQ(convertMono(in, 8000), (Samples{0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.0f}));
}

TEST(CaptureConverter, DownsamplingPicksEveryThirdFrameAt48k) {
    const Samples in = ramp(4096);
    const Samples out = convertMono(in, 48000);
    ASSERT_EQ(out.size(), 1365u);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[3 * i]) << i;
}

TEST(CaptureConverter, StereoOppositeChannelsGiveZeros) {
    const Samples left(4096, 0.5f);
    const Samples right(4096, -0.5f);
    const float* planar[] = {left.data(), right.data()};
    Samples out;
    ASSERT_TRUE(CaptureConverter::resample(CaptureBuffer::planar(planar, 4096, 48000), out));
    EXPECT_EQ(out, Samples(1365, 0.0f));

    Samples interleaved;
    for (size_t i = 0; i < 4096; ++i) interleaved.insert(interleaved.end(), {0.5f, -0.5f});
    ASSERT_TRUE(CaptureConverter::resample(CaptureBuffer::interleaved(interleaved.data(), 2, 4096, 48000), out));
    EXPECT_EQ(out, Samples(1365, 0.0f));
}

TEST(CaptureConverter, PlanarAndInterleavedAgreeForManyChannels) {
    constexpr size_t kChannels = 5;
    constexpr size_t kFrames = 1000;
    std::vector<Samples> planar(kChannels, Samples(kFrames));
    Samples interleaved;
    for (size_t f = 0; f < kFrames; ++f) {
        for (size_t c = 0; c < kChannels; ++c) {
            planar[c][f] = static_cast<float>((f * (c + 1)) % 97) / 97.0f - 0.5f;
            interleaved.push_back(planar[c][f]);
        }
    }
    const float* pointers[kChannels];
    for (size_t c = 0; c < kChannels; ++c) pointers[c] = planar[c].data();
    Samples a;
    Samples b;
    ASSERT_TRUE(CaptureConverter::resample(CaptureBuffer::planar(pointers, kFrames, 44100), a));
    ASSERT_TRUE(CaptureConverter::resample(CaptureBuffer::interleaved(interleaved.data(), kChannels, kFrames, 44100), b));
    EXPECT_EQ(a.size(), 362u);
    EXPECT_EQ(a, b);
    // Output 1 sits at input position 2.75625: between frames 2 and 3 of the channel average.
    float expected = 0.0f;
    for (size_t c = 0; c < kChannels; ++c) {
        expected += (1.0f - 0.75625f) * planar[c][2] + planar[c][3] * 0.75625f;
    }
    EXPECT_NEAR(a[1], expected / kChannels, 1e-6f);
}

TEST(CaptureConverter, NoDataYieldsNothing) {
    Samples out{1.0f};
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::planar({}, 4096, 48000), out));
    EXPECT_TRUE(out.empty());
    const float* missing[] = {nullptr};
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::planar(missing, 4096, 48000), out));
    EXPECT_FALSE(CaptureConverter::resample(CaptureBuffer::interleaved(nullptr, 2, 4096, 48000), out));
}

TEST(CaptureConverter, LevelReportsAreThrottledButEverySampleReachesTheRing) {
    RingBuffer ring(RingBuffer::kRecorderCapacity);
    CaptureConverter converter;
    const Samples in(160, 0.5f);  // 10 ms at 16 kHz
    const float* channels[] = {in.data()};
    const auto buffer = CaptureBuffer::planar(channels, in.size(), 16000);

    std::vector<double> reportedAt;
    for (int i = 0; i < 20; ++i) {
        const double now = 100.0 + 0.010 * i;
        if (const auto report = converter.handleBuffer(buffer, ring, now)) {
            reportedAt.push_back(now);
            EXPECT_FLOAT_EQ(report->level, 0.5f);
            EXPECT_EQ(report->tail, in);
        }
    }
    EXPECT_EQ(ring.sampleCount(), 20 * 160);
    ASSERT_GE(reportedAt.size(), 2u);
    EXPECT_LE(reportedAt.size(), 6u);  // 190 ms at one per more than 33 ms
    for (size_t i = 1; i < reportedAt.size(); ++i) EXPECT_GT(reportedAt[i] - reportedAt[i - 1], 0.033);
}

TEST(CaptureConverter, TailIsTheNewest32000Samples) {
    RingBuffer ring(100000);
    CaptureConverter converter;
    const Samples in = ramp(40000);
    const float* channels[] = {in.data()};
    const auto report = converter.handleBuffer(CaptureBuffer::planar(channels, in.size(), 16000), ring, 1.0);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->tail, Samples(in.end() - 32000, in.end()));
    EXPECT_EQ(ring.snapshot(), in);
}

TEST(CaptureConverter, BufferThatYieldsNothingIsNotReportedOrStored) {
    RingBuffer ring(1000);
    CaptureConverter converter;
    const Samples in(2, 0.5f);
    const float* channels[] = {in.data()};
    EXPECT_FALSE(converter.handleBuffer(CaptureBuffer::planar(channels, 2, 48000), ring, 5.0));
    EXPECT_EQ(ring.sampleCount(), 0);
}

}  // namespace
}  // namespace quorvel
