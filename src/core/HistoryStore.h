#pragma once
// The dictation history: "history.jsonl", one compact JSON object per line, oldest first,
// appended to after every dictation. Nothing is cached; every call works on the file. Appends,
// deletes and clean-ups take the lock beside the file (FileLock), so that they can run from
// several threads and processes without losing each other's lines.

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/HistoryEntry.h"
#include "core/KeepPolicy.h"

namespace quorvel {

class HistoryStore {
  public:
    using KeepPolicy = quorvel::KeepPolicy;

    // Longer lines are never read into memory: reading skips them like lines that do not
    // decode, and deletes and clean-ups keep them as they are.
    static constexpr std::size_t kMaxLineBytes = std::size_t{4} << 20;

    // What a delete or clean-up did: `removed` entries are gone from the file, and their audio
    // files after them. `failed`: the file could not be rewritten (full disk, read-only folder,
    // lock not obtained, read error); the error is logged and no audio file was touched.
    struct Removal {
        std::size_t removed = 0;
        bool failed = false;
        bool operator==(const Removal&) const = default;
    };

    // Keeps both locations and creates the recordings folder and the support folder (and the
    // history file's own folder); failures are ignored. Removes the temporaries an interrupted
    // delete or clean-up left beside the file (files::removeStaleTemporaries).
    HistoryStore(std::filesystem::path url, std::filesystem::path recordingsDir);

    const std::filesystem::path& url() const { return url_; }
    const std::filesystem::path& recordingsDir() const { return recordingsDir_; }

    // Adds the entry as the last line (an empty `ts` becomes the current local time). False only
    // when the entry cannot be encoded; write failures are logged, not reported.
    bool append(HistoryEntry entry) const;

    // The newest entries, newest first. `limit` counts non-empty lines, so lines that do not
    // decode (or are too long to read) count against it. Only the end of the file is read.
    std::vector<HistoryEntry> read(std::size_t limit) const;

    // Deletes the first entry with this id, then its audio file. Every other line stays byte for
    // byte; with no such entry (removed 0) the file is not touched.
    Removal remove(std::string_view id) const;

    // Deletes the entries older than the policy allows, then their audio files. Every other line
    // stays byte for byte; when nothing expired the file is not touched, and `forever` touches
    // nothing at all.
    Removal cleanup(KeepPolicy policy) const;

  private:
    std::filesystem::path url_;
    std::filesystem::path recordingsDir_;
};

}  // namespace quorvel
