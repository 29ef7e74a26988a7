#include "core/WavDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quorvel {
namespace {

constexpr double kTargetRate = 16000.0;

struct Format {
    uint32_t channels = 1;
    uint32_t sampleRate = 16000;
    uint32_t bitsPerSample = 16;
};

uint16_t readU16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t readU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::vector<float> readPcm16(const unsigned char* data, uint64_t length) {
    std::vector<float> values(static_cast<size_t>(length / 2));
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<float>(static_cast<int16_t>(readU16(data + 2 * i))) / 32768.0f;
    }
    return values;
}

// Frames are the whole frames present; a trailing partial frame is dropped.
std::vector<float> mixToMono(const std::vector<float>& values, uint32_t channels) {
    const size_t frames = values.size() / channels;
    std::vector<float> mono(frames);
    const float divisor = static_cast<float>(channels);
    for (size_t f = 0; f < frames; ++f) {
        const float* frame = values.data() + f * channels;
        float sum = 0.0f;
        for (uint32_t c = 0; c < channels; ++c) sum += frame[c];
        mono[f] = sum / divisor;
    }
    return mono;
}

// Linear interpolation spanning the first to the last input sample.
std::vector<float> resampleTo16k(const std::vector<float>& input, uint32_t sampleRate) {
    const size_t count = input.size();
    const double wanted = std::trunc(static_cast<double>(count) * kTargetRate / sampleRate);
    if (!(wanted >= 1.0)) return {};
    const auto outCount = static_cast<size_t>(wanted);
    std::vector<float> out(outCount);
    const double step =
        static_cast<double>(count - 1) / static_cast<double>(std::max<size_t>(outCount, 2) - 1);
    for (size_t i = 0; i < outCount; ++i) {
        const double p = step * static_cast<double>(i);
        const size_t i0 = std::min(count - 1, static_cast<size_t>(p));
        const size_t i1 = std::min(count - 1, i0 + 1);
        const auto frac = static_cast<float>(p - static_cast<double>(i0));
        out[i] = input[i0] * (1.0f - frac) + input[i1] * frac;
    }
    return out;
}

// Where the samples of a WAV are and how they are stored. The chunk headers are read from
// `bytes`; the data chunk may run on to `fileSize` (only the start of a file was read).
struct DataChunk {
    Format format;
    uint64_t body = 0;
    uint64_t length = 0;
};

std::optional<DataChunk> findData(std::string_view bytes, uint64_t fileSize) {
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.data());
    const uint64_t size = bytes.size();
    if (size <= 44) return std::nullopt;

    Format format;
    // 64-bit positions: a chunk size near 2^32 plus its header cannot wrap around.
    uint64_t pos = 12;
    while (pos <= size && size - pos >= 8) {
        const unsigned char* header = base + pos;
        const uint64_t chunkSize = readU32(header + 4);
        const uint64_t body = pos + 8;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            // Fields outside the chunk or the file would be someone else's bytes.
            if (chunkSize < 16 || size - body < 16) return std::nullopt;
            format.channels = readU16(base + body + 2);
            format.sampleRate = readU32(base + body + 4);
            format.bitsPerSample = readU16(base + body + 14);
        } else if (std::memcmp(header, "data", 4) == 0) {
            const uint64_t length = std::min(chunkSize, fileSize - body);
            if (length == 0 || format.bitsPerSample != 16) return std::nullopt;
            if (format.channels == 0) return std::nullopt;
            if (format.sampleRate < kMinWavSampleRate || format.sampleRate > kMaxWavSampleRate) {
                return std::nullopt;
            }
            return DataChunk{format, body, length};
        }
        pos = body + chunkSize + (chunkSize & 1);  // odd-sized chunks are followed by a pad byte
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<float>> decodeWav(std::string_view bytes) {
    const auto chunk = findData(bytes, bytes.size());
    if (!chunk) return std::nullopt;
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<float> samples = readPcm16(base + chunk->body, chunk->length);
    if (chunk->format.channels > 1) samples = mixToMono(samples, chunk->format.channels);
    if (chunk->format.sampleRate != 16000) samples = resampleTo16k(samples, chunk->format.sampleRate);
    return samples;
}

std::optional<uint64_t> decodedWavLength(std::string_view head, uint64_t fileSize) {
    if (fileSize < head.size()) return std::nullopt;
    const auto chunk = findData(head, fileSize);
    if (!chunk) return std::nullopt;
    const uint64_t frames = chunk->length / 2 / chunk->format.channels;
    if (chunk->format.sampleRate == 16000) return frames;
    return static_cast<uint64_t>(std::trunc(static_cast<double>(frames) * kTargetRate / chunk->format.sampleRate));
}

}  // namespace quorvel
