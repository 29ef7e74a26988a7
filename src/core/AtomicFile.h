#pragma once
// Whole-file reads and crash-safe whole-file writes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::files {

// Writes `bytes` to a temporary file in the target's folder, flushes it to disk and renames it
// over `target`: a crash at any moment leaves either the old or the new file. Keeps the mode
// bits of an existing target; a symbolic link is written through (the link stays). Returns false (and leaves the target untouched) on any failure.
bool writeAtomically(const std::filesystem::path& target, std::string_view bytes);

// Keeps the bytes of a file we could not read as "<file>.unreadable" next to it, before the
// program's next save replaces the file with defaults: a hand edit with one typo must not
// silently take every setting with it.
bool keepUnreadableCopy(const std::filesystem::path& file, std::string_view bytes);

// Writes `bytes` as the whole file, replacing it, without the durability of writeAtomically:
// for scratch files that only live until another process has read them.
bool writeScratch(const std::filesystem::path& target, std::string_view bytes);

// The whole content of a regular file, or nothing when it cannot be read.
std::optional<std::string> readWhole(const std::filesystem::path& file);

// Creates a folder with its parents; true when it exists afterwards. Never throws.
bool createDirectories(const std::filesystem::path& dir);

// Creates `dir` if needed and makes sure it is ours alone: a real folder (not a link), owned by
// this user, mode 0700. False when someone else owns it.
bool ensurePrivateFolder(const std::filesystem::path& dir);

// Removes a file; false when it was not there or could not be removed. Never throws.
bool removeFile(const std::filesystem::path& file);

}  // namespace quorvel::files
