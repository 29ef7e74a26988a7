#pragma once
// Dictation audio in the recordings folder: "rec-<seconds since 1970>.wav", and when that name
// is taken (two recordings within one second, or another copy of the program) "rec-<s>-2.wav",
// "-3" and so on. A name is claimed by creating the file exclusively, so no recording ever
// replaces another.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace quorvel::RecordingFiles {

// The path of the written WAV (16 kHz mono); nothing when there are no samples or the file
// could not be written. The folder is created when missing.
std::optional<std::filesystem::path> save(std::span<const float> samples,
                                          const std::filesystem::path& dir,
                                          int64_t secondsSince1970);

// The same at the current time.
std::optional<std::filesystem::path> save(std::span<const float> samples,
                                          const std::filesystem::path& dir);

}  // namespace quorvel::RecordingFiles
