#pragma once
// WAV files named by the user or a script (the menu's file recognition, the command line, the
// headless runs): read with a size limit, since any path may turn out to be a disk image or a
// device, and decoded; when that fails, a reason fit for a log line or an error message.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Hours of speech at any usual format; more is no recording we could recognise, and reading it
// whole could exhaust the memory.
inline constexpr std::uintmax_t kMaxWavFileBytes = 256ull << 20;

struct WavFile {
    std::optional<std::vector<float>> samples;  // 16 kHz mono, as decodeWav gives them
    std::string error;                          // why there are none
};

WavFile readWavFile(const std::filesystem::path& path);

}  // namespace quorvel
