#pragma once
// Whole-file reads and crash-safe whole-file writes.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::files {

// The most a store reads of its file: far beyond any real settings, vocabulary or statistics,
// and small enough that a runaway file cannot stall the start or exhaust memory.
constexpr std::uintmax_t kMaxStoreFileBytes = 32u << 20;

// What was found where a file should be. Only `Missing` may be taken as "use the defaults and
// write them later": an unreadable or oversized file still holds the user's data.
struct ReadResult {
    enum class Status { Read, Missing, Unreadable, TooLarge };
    Status status = Status::Missing;
    std::string bytes;   // with Read
    std::string reason;  // with Unreadable and TooLarge, for the log
};

// Writes `bytes` to a temporary file in the target's folder, flushes it to disk and renames it
// over `target`: a crash at any moment leaves either the old or the new file. Keeps the mode
// bits of an existing target; a symbolic link is written through (the link stays). Returns false (and leaves the target untouched) on any failure.
bool writeAtomically(const std::filesystem::path& target, std::string_view bytes);

// A temporary file beside `target` (behind symbolic links, beside the file they point to) that
// replaceWithTemporary later renames over it. Where the file system allows, it has no name until
// then, so a writer killed before the rename leaves nothing behind; elsewhere it is
// ".<name>.tmp-XXXXXX" at once. Either way the descriptor holds an exclusive flock on it until it
// is closed, which tells removeStaleTemporaries that its writer is alive. Returns the open descriptor, or -1. `temporary` carries its name
// (empty while it has none) to replaceWithTemporary.
int openTemporary(const std::filesystem::path& target, std::string& temporary);

// Names a temporary of openTemporary if it has no name yet and renames it over `target`; the
// caller closes the descriptor and flushes the folder (syncFolder). On failure (errno tells why)
// the temporary's name is removed and `target` is untouched.
bool replaceWithTemporary(int fd, std::string& temporary, const std::filesystem::path& target);

// Keeps the bytes of a file we could not read as "<file>.unreadable" next to it (or
// ".unreadable-2" and on, never over an earlier copy), before the program's next save replaces
// the file with defaults: a hand edit with one typo must not silently take every setting with it.
bool keepUnreadableCopy(const std::filesystem::path& file, std::string_view bytes);

// Writes `bytes` as the whole file, replacing it, without the durability of writeAtomically:
// for scratch files that only live until another process has read them.
bool writeScratch(const std::filesystem::path& target, std::string_view bytes);

// The whole content of a regular file, or nothing when it cannot be read.
std::optional<std::string> readWhole(const std::filesystem::path& file);

// Reads a regular file of at most `maxBytes`, telling a missing file from one that exists but
// cannot be read (permissions, I/O error, a folder or device in its place) or is too large.
// Never blocks on a FIFO and never reads more than `maxBytes` + 1 bytes.
ReadResult readLimited(const std::filesystem::path& file, std::uintmax_t maxBytes);

// How a store loads its file: first removes temporaries a killed writer left beside it, then
// reads at most kMaxStoreFileBytes and logs an ERROR naming `what` when the file exists but
// cannot be used.
ReadResult readStoreFile(const std::filesystem::path& file, std::string_view what);

// How a store's load went: with `Missing` and `Undecodable` it starts from the defaults and
// may save them; with `KeptAside` the file exists but could not be read and must never be
// saved over.
enum class StoreLoad { Decoded, Missing, Undecodable, KeptAside };

// Reads a store's file with readStoreFile and hands its bytes to `decode`, which returns whether
// it took them. The bytes `decode` refuses are logged as an ERROR and kept aside
// (keepUnreadableCopy) first, since the store's next save replaces them.
StoreLoad loadStoreFile(const std::filesystem::path& file, std::string_view what,
                        const std::function<bool(const std::string&)>& decode);

// Removes the temporaries of writeAtomically for `target` (".<name>.tmp-XXXXXX" beside the file
// it resolves to) that a killed writer left behind: regular files of this user that no writer
// holds (a writer holds an exclusive flock on its temporary from before it has a name until
// after the rename), or, where they cannot be locked, whose last change is older than `maxAge`.
// Returns how many were removed.
int removeStaleTemporaries(const std::filesystem::path& target,
                           std::chrono::seconds maxAge = std::chrono::hours(1));

// Writes all of `bytes` to `fd`, carrying on after interruptions and short writes.
bool writeAll(int fd, std::string_view bytes);

// Flushes a folder's entries (say, after a rename into it) to disk. File systems that cannot
// flush folders count as success.
bool syncFolder(const std::filesystem::path& dir);

// Creates a folder with its parents; true when it exists afterwards. Never throws.
bool createDirectories(const std::filesystem::path& dir);

// Creates `dir` if needed and makes sure it is ours alone: a real folder (not a link), owned by
// this user, mode 0700. False when someone else owns it.
bool ensurePrivateFolder(const std::filesystem::path& dir);

// Removes a file; false when it was not there or could not be removed. Never throws.
bool removeFile(const std::filesystem::path& file);

}  // namespace quorvel::files
