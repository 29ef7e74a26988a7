#include "core/WavDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

std::string le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(uint32_t v) { return le16(static_cast<uint16_t>(v & 0xFFFF)) + le16(static_cast<uint16_t>(v >> 16)); }

std::string chunk(const std::string& id, const std::string& body, std::optional<uint32_t> declared = {}) {
    return id + le32(declared.value_or(static_cast<uint32_t>(body.size()))) + body;
}

std::string fmtBody(uint16_t channels, uint32_t rate, uint16_t bits) {
    return le16(1) + le16(channels) + le32(rate) + le32(rate * channels * bits / 8) +
           le16(static_cast<uint16_t>(channels * bits / 8)) + le16(bits);
}

std::string pcm(const std::vector<int16_t>& values) {
    std::string out;
    for (int16_t v : values) out += le16(static_cast<uint16_t>(v));
    return out;
}

std::string riff(const std::string& chunks) { return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks; }

std::string wav(uint16_t channels, uint32_t rate, const std::vector<int16_t>& values, uint16_t bits = 16) {
    return riff(chunk("fmt ", fmtBody(channels, rate, bits)) + chunk("data", pcm(values)));
}

TEST(DecodeWav, SampleValues) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {"mono 16 kHz is read as is", wav(1, 16000, {0, 16384, -32768, 32767, -1}),
         {0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f, -1.0f / 32768.0f}},
        {"channels are averaged, a partial frame dropped", wav(3, 16000, {1000, -1000, 0, 300, 300, 300, 7}),
         {0.0f, 300.0f / 32768.0f}},
        {"one 32 kHz sample gives none", wav(1, 32000, {4096}), {}},
        {"two 32 kHz samples give the first", wav(1, 32000, {4096, 8192}), {0.125f}},
    };
    for (const Case& c : cases) {
        const auto out = decodeWav(c.bytes);
        ASSERT_TRUE(out) << c.name;
        EXPECT_EQ(*out, c.expected) << c.name;
    }
}

TEST(DecodeWav, StereoAt44100IsMixedAndResampled) {
    // Left f, right f + 100: the mix is the straight line (f + 50) / 32768, which linear
    // interpolation reproduces at any position.
    std::vector<int16_t> values;
    const int frames = 22050;
    for (int f = 0; f < frames; ++f) values.insert(values.end(), {static_cast<int16_t>(f), static_cast<int16_t>(f + 100)});
    const auto out = decodeWav(wav(2, 44100, values));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 8000u);
    for (size_t i = 0; i < out->size(); i += 97) {
        const double p = static_cast<double>(frames - 1) * static_cast<double>(i) / 7999.0;
        EXPECT_NEAR((*out)[i], (p + 50.0) / 32768.0, 1e-6) << i;
    }
    EXPECT_FLOAT_EQ(out->front(), 50.0f / 32768.0f);
    EXPECT_FLOAT_EQ(out->back(), (frames - 1 + 50.0f) / 32768.0f);
}

TEST(DecodeWav, HostileAndOddInputs) {
    const std::string fmt = chunk("fmt ", fmtBody(1, 16000, 16));
    const std::string data = chunk("data", pcm({100, 200, 300}));
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<size_t> samples;  // nothing: nil expected
    };
    const Case cases[] = {
        {"odd chunk with pad byte before data", riff(chunk("LIST", "abc") + std::string(1, '\0') + fmt + data), 3},
        {"data before fmt uses the defaults", riff(data + fmt), 3},
        {"only the first data chunk counts", riff(fmt + data + chunk("data", pcm({1}))), 3},
        {"data larger than the file gives what is there", riff(fmt + chunk("data", pcm({1, 2, 3, 4}), 1000)), 4},
        {"odd data length drops the last byte", riff(fmt + chunk("data", pcm({1, 2}) + "x")), 2},
        {"data with one byte gives no samples", riff(fmt + chunk("data", "x") + std::string(8, 'z')), 0},
        {"8 kHz doubles", wav(1, 8000, std::vector<int16_t>(20, 0)), 40},
        {"empty data chunk", riff(fmt + chunk("data", "") + std::string(8, 'z')), std::nullopt},
        {"no data chunk", riff(fmt + chunk("LIST", std::string(40, 'x'))), std::nullopt},
        {"8-bit samples", wav(1, 16000, {1, 2, 3, 4}, 8), std::nullopt},
        {"44 bytes", riff(fmt + chunk("data", "")), std::nullopt},
        {"fmt shorter than 16 bytes", riff(chunk("fmt ", fmtBody(1, 16000, 16).substr(0, 14)) + data),
         std::nullopt},
        {"fmt cut off by the end of the file", riff(chunk("LIST", std::string(20, 'x')) + "fmt " + le32(16) + "\x01"),
         std::nullopt},
        {"chunk size near 2^32", riff(fmt + chunk("LIST", std::string(10, 'x'), 0xFFFFFFFF) + data), std::nullopt},
        {"chunk size 2^32 - 2", riff(fmt + chunk("LIST", std::string(10, 'x'), 0xFFFFFFFE) + data), std::nullopt},
        {"data size near 2^32", riff(fmt + chunk("data", pcm({5, 6}), 0xFFFFFFFF)), 2},
        {"odd last chunk without its pad byte", riff(fmt + chunk("LIST", std::string(31, 'x'))), std::nullopt},
        {"zero channels", wav(0, 16000, {1, 2, 3}), std::nullopt},
        {"absurd channel count leaves no whole frame", wav(65535, 16000, {1, 2, 3}), 0},
        {"zero sample rate", wav(1, 0, {1, 2, 3}), std::nullopt},
        {"tiny sample rate", wav(1, 1, {1, 2, 3}), std::nullopt},
        {"huge sample rate", wav(1, 0xFFFFFFFF, {1, 2, 3}), std::nullopt},
        {"empty input", "", std::nullopt},
        {"45 zero bytes", std::string(45, '\0'), std::nullopt},
        {"1000 bytes of 0xFF", std::string(1000, '\xFF'), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto out = decodeWav(c.bytes);
        ASSERT_EQ(out.has_value(), c.samples.has_value()) << c.name;
        EXPECT_EQ(decodedWavLength(c.bytes, c.bytes.size()), c.samples) << c.name << " (from the header)";
        if (out) {
            EXPECT_EQ(out->size(), *c.samples) << c.name;
        }
    }
    // Only the start of a million-byte file at 1 kHz was read: 500 000 frames, 16 times as many samples.
    EXPECT_EQ(decodedWavLength(riff(chunk("fmt ", fmtBody(1, 1000, 16)) + chunk("data", pcm({1, 2}), 2'000'000)), 1'000'044),
              8'000'000u);
}

}  // namespace
}  // namespace quorvel
