#pragma once
// 16-bit PCM mono WAV files: the request audio handed to the speech-to-text worker and the
// saved audio of each dictation. The classic 44-byte header and the samples, nothing else.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace quorvel::WavWriter {

struct WavWriteError {
    enum class Kind {
        invalidSampleRate,  // negative, or too large for the header's byte-rate field
        tooLarge,           // the data does not fit the header's 32-bit size fields
        fileWrite,          // the file could not be written (folder, permission, disk)
    };
    Kind kind;
    std::string message;
};

// Sample conversion: 1.0 and above and NaN give 32767; everything else is clamped at -1.0,
// scaled by 32767 and rounded to the nearest integer, halves away from zero.
int16_t toPcm16(float sample);

// The complete file content, or the reason it cannot be encoded.
std::optional<std::string> encode(std::span<const float> samples, int64_t sampleRate,
                                  WavWriteError* error = nullptr);

// Writes the file atomically (a reader never sees a partial WAV). Nothing when the file was
// written, otherwise what went wrong; the target is then left as it was.
std::optional<WavWriteError> write(std::span<const float> samples, int64_t sampleRate,
                                   const std::filesystem::path& to);

}  // namespace quorvel::WavWriter
