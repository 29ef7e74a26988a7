#pragma once
// The dictation history: "history.jsonl", one compact JSON object per line, oldest first,
// appended to after every dictation. Nothing is cached; every call works on the file.

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

    // Keeps both locations and creates the recordings folder and the support folder (and the
    // history file's own folder); failures are ignored.
    HistoryStore(std::filesystem::path url, std::filesystem::path recordingsDir);

    const std::filesystem::path& url() const { return url_; }
    const std::filesystem::path& recordingsDir() const { return recordingsDir_; }

    // Adds the entry as the last line (an empty `ts` becomes the current local time). False only
    // when the entry cannot be encoded; write failures are not reported.
    bool append(HistoryEntry entry) const;

    // The newest entries, newest first. `limit` counts non-empty lines, so lines that do not
    // decode count against it. Only the end of the file is read.
    std::vector<HistoryEntry> read(std::size_t limit) const;

    // Deletes the first entry with this id together with its audio file. False (and the file
    // untouched) when there is no such entry.
    bool remove(std::string_view id) const;

    // Deletes entries (and their audio files) older than the policy allows and rewrites the
    // file; returns how many expired. `forever` returns 0 without touching anything.
    std::size_t cleanup(KeepPolicy policy) const;

  private:
    std::filesystem::path url_;
    std::filesystem::path recordingsDir_;
};

}  // namespace quorvel
