#include "core/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "core/WavDecoder.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using WavWriter::WavWriteError;

// The 44-byte header of a 16 kHz mono file with `dataBytes` (below 200) of samples.
std::string header16k(int dataBytes) {
    const std::string zeros(3, '\0');
    return "RIFF" + (static_cast<char>(36 + dataBytes) + zeros) + "WAVE" + "fmt " + std::string("\x10\0\0\0", 4) +
           std::string("\x01\0\x01\0", 4) + std::string("\x80\x3E\0\0", 4) + std::string("\0\x7D\0\0", 4) +
           std::string("\x02\0\x10\0", 4) + "data" + (static_cast<char>(dataBytes) + zeros);
}

TEST(WavWriter, SampleConversion) {
    struct Case {
        float in;
        int16_t out;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {1.0f, 32767},   {2.0f, 32767},   {-1.0f, -32767}, {-2.0f, -32767}, {0.5f, 16384},
        {-0.5f, -16384}, {nan, 32767},    {inf, 32767},    {-inf, -32767},  {0.0f, 0},
        {-0.0f, 0},      {0.25f, 8192},   {-0.25f, -8192}, {0.75f, 24575},  {0.99999994f, 32767},
    };
    for (const Case& c : cases) EXPECT_EQ(WavWriter::toPcm16(c.in), c.out) << c.in;
}

// Against the library's rounding (halves away from zero), on values around every half step:
// the places where a shortcut such as adding 0.5 goes wrong.
TEST(WavWriter, ConversionMatchesLibraryRoundingNearHalves) {
    std::vector<float> scaled = {0.49999997f, -0.49999997f, 1.4999999f};
    for (int k = -32767; k < 32767; k += 7) {
        const float half = static_cast<float>(k) + 0.5f;
        scaled.insert(scaled.end(), {std::nextafter(half, -1e9f), half, std::nextafter(half, 1e9f)});
    }
    for (const float s : scaled) {
        const float x = s / 32767.0f;
        ASSERT_EQ(WavWriter::toPcm16(x), static_cast<int16_t>(std::lround(std::max(x, -1.0f) * 32767.0f))) << x;
    }
}

TEST(WavWriter, BytesOfAKnownInput) {
    const std::vector<float> samples = {0.5f, -0.5f, 1.0f, 0.0f};
    EXPECT_EQ(WavWriter::encode(samples, 16000), header16k(8) + std::string("\x00\x40\x00\xC0\xFF\x7F\x00\x00", 8));
    EXPECT_EQ(WavWriter::encode({}, 16000), header16k(0));
}

TEST(WavWriter, HeaderLimitsAreErrors) {
    WavWriteError error{WavWriteError::Kind::fileWrite, {}};
    EXPECT_FALSE(WavWriter::encode({}, -1, &error));
    EXPECT_EQ(error.kind, WavWriteError::Kind::invalidSampleRate);
    // The byte rate (rate × 2) must fit 32 bits.
    EXPECT_FALSE(WavWriter::encode({}, 2'147'483'648LL, &error));
    EXPECT_EQ(error.kind, WavWriteError::Kind::invalidSampleRate);
    EXPECT_TRUE(WavWriter::encode({}, 2'147'483'647LL));
    EXPECT_TRUE(WavWriter::encode({}, 0));

    // A span that claims more samples than fit the data size field; never read.
    const float dummy = 0.0f;
    const std::span<const float> huge(&dummy, (0xFFFF'FFFFull - 36) / 2 + 1);
    EXPECT_FALSE(WavWriter::encode(huge, 16000, &error));
    EXPECT_EQ(error.kind, WavWriteError::Kind::tooLarge);
}

using WavWriterFiles = testing::TempHome;

TEST_F(WavWriterFiles, WritesFileThatDecodesBackAndAFailedWriteKeepsTheOldFile) {
    std::vector<float> samples(1600);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 200) / 200.0f - 0.5f;
    const auto path = home() / "rec-1.wav";
    ASSERT_FALSE(WavWriter::write(samples, 16000, path).has_value());
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes, *WavWriter::encode(samples, 16000));
    // RIFF size 3236 and data size 3200, little-endian.
    EXPECT_EQ(bytes.substr(4, 4) + bytes.substr(40, 4), std::string("\xA4\x0C\0\0\x80\x0C\0\0", 8));
    const auto decoded = decodeWav(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) EXPECT_NEAR((*decoded)[i], samples[i], 1.0f / 32767.0f);

    const auto missing = home() / "no-such-folder" / "a.wav";
    const auto error = WavWriter::write(std::vector<float>(10, 0.1f), 16000, missing);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, WavWriteError::Kind::fileWrite);
    EXPECT_NE(error->message.find("no-such-folder"), std::string::npos);

    const auto existing = writeFile(home() / "keep.wav", "old");
    EXPECT_TRUE(WavWriter::write({}, -5, existing).has_value());
    EXPECT_EQ(readFile(existing), "old");
}

}  // namespace
}  // namespace quorvel
