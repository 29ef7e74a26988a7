#include "core/WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/AtomicFile.h"

namespace quorvel::WavWriter {
namespace {

constexpr uint64_t kMaxField = 0xFFFF'FFFFull;
constexpr uint64_t kHeaderSize = 44;

void putU32(char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

void putU16(char* at, uint16_t value) {
    at[0] = static_cast<char>(value & 0xFFu);
    at[1] = static_cast<char>((value >> 8) & 0xFFu);
}

void putTag(char* at, const char (&tag)[5]) { std::memcpy(at, tag, 4); }

void writeHeader(char* h, uint32_t sampleRate, uint32_t dataSize) {
    putTag(h + 0, "RIFF");
    putU32(h + 4, 36 + dataSize);
    putTag(h + 8, "WAVE");
    putTag(h + 12, "fmt ");
    putU32(h + 16, 16);
    putU16(h + 20, 1);  // integer PCM
    putU16(h + 22, 1);  // mono
    putU32(h + 24, sampleRate);
    putU32(h + 28, sampleRate * 2);
    putU16(h + 32, 2);   // block align
    putU16(h + 34, 16);  // bits per sample
    putTag(h + 36, "data");
    putU32(h + 40, dataSize);
}

std::optional<std::string> fail(WavWriteError* error, WavWriteError::Kind kind, std::string message) {
    if (error) *error = WavWriteError{kind, std::move(message)};
    return std::nullopt;
}

}  // namespace

int16_t toPcm16(float sample) {
    if (!(sample < 1.0f)) return 32767;  // also catches NaN
    const float scaled = std::max(sample, -1.0f) * 32767.0f;
    // Round half away from zero without a library call: the fraction of a float this small is
    // exact, so the comparison decides the halves correctly (x + 0.5 would not).
    auto whole = static_cast<int32_t>(scaled);
    const float fraction = scaled - static_cast<float>(whole);
    if (fraction >= 0.5f) ++whole;
    if (fraction <= -0.5f) --whole;
    return static_cast<int16_t>(whole);
}

std::optional<std::string> encode(std::span<const float> samples, int64_t sampleRate, WavWriteError* error) {
    if (sampleRate < 0 || static_cast<uint64_t>(sampleRate) * 2 > kMaxField) {
        return fail(error, WavWriteError::Kind::invalidSampleRate,
                    "WAV sample rate out of range: " + std::to_string(sampleRate));
    }
    const uint64_t dataSize = static_cast<uint64_t>(samples.size()) * 2;
    if (samples.size() > kMaxField || dataSize + 36 > kMaxField) {
        return fail(error, WavWriteError::Kind::tooLarge,
                    "WAV data too large: " + std::to_string(samples.size()) + " samples");
    }

    std::string bytes(kHeaderSize + dataSize, '\0');
    writeHeader(bytes.data(), static_cast<uint32_t>(sampleRate), static_cast<uint32_t>(dataSize));
    char* out = bytes.data() + kHeaderSize;
    for (const float s : samples) {
        putU16(out, static_cast<uint16_t>(toPcm16(s)));
        out += 2;
    }
    return bytes;
}

std::optional<WavWriteError> write(std::span<const float> samples, int64_t sampleRate,
                                   const std::filesystem::path& to) {
    WavWriteError error{WavWriteError::Kind::fileWrite, {}};
    const std::optional<std::string> bytes = encode(samples, sampleRate, &error);
    if (!bytes) return error;
    errno = 0;
    if (!files::writeAtomically(to, *bytes)) {
        const int code = errno;
        std::string message = "cannot write " + to.string();
        if (code != 0) message += ": " + std::string(std::strerror(code));
        return WavWriteError{WavWriteError::Kind::fileWrite, std::move(message)};
    }
    return std::nullopt;
}

}  // namespace quorvel::WavWriter
