#pragma once
// Reading WAV files (recorded test audio, files the user picks) into the program's one sample
// format: 32-bit float, mono, 16 kHz. Only 16-bit PCM is understood. The bytes may be hostile:
// nothing here reads outside them or trusts a size field.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvel {

// Sample rates outside this range are not audio we can use; they also bound how much the
// resampling may multiply the data (at most 16x).
inline constexpr uint32_t kMinWavSampleRate = 1'000;
inline constexpr uint32_t kMaxWavSampleRate = 1'000'000;

// 16 kHz mono samples of a 16-bit WAV file: channels are averaged, other rates are resampled
// linearly. Nothing when the bytes are not a usable 16-bit WAV (too short, no "data" chunk,
// other sample sizes, a "fmt " chunk that is cut short, no channels, an unusable rate). A data
// chunk that claims more than the file holds gives the samples that are really there.
std::optional<std::vector<float>> decodeWav(std::string_view bytes);

// How many samples decodeWav would give for a file of `fileSize` bytes that starts with `head`,
// read from the header alone: a few bytes at a low rate can stand for gigabytes of samples.
// Nothing when decodeWav would give nothing or the data chunk does not start within `head`.
std::optional<uint64_t> decodedWavLength(std::string_view head, uint64_t fileSize);

}  // namespace quorvel
