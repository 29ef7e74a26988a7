#pragma once
// Running totals of the user's dictation in "stats.json": words, sessions, applications used,
// typing speed; and the figures derived from them and the history. Several processes may
// record at once: every change re-reads the file under a lock beside it and writes the sum.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/HistoryEntry.h"

namespace quorvel {

class StatsStore {
  public:
    struct Session {
        int64_t words = 0;
        std::optional<std::string> sourceApp;
    };

    static constexpr double kDefaultTypedWPM = 40;

    // Loads the file; a missing, unreadable or undecodable file gives the initial values. One
    // that exists but cannot be read (or is larger than files::kMaxStoreFileBytes) is logged and
    // never saved over: the totals then live in memory only.
    // A save waits at most `lockWait` for another process's save.
    explicit StatsStore(std::filesystem::path url,
                        std::chrono::milliseconds lockWait = std::chrono::seconds(10));
    // Tries once more to save what could not be saved yet. Not copyable: two copies would
    // each save the same unsaved sessions.
    ~StatsStore();
    StatsStore(const StatsStore&) = delete;
    StatsStore& operator=(const StatsStore&) = delete;

    // The totals include what could not be saved yet (see recordSession).
    const std::filesystem::path& url() const { return url_; }
    int64_t wordsTotal() const { return shown_.words; }
    int64_t sessionsTotal() const { return shown_.sessions; }
    const std::set<std::string>& appsUsed() const { return shown_.apps; }
    double typedWPM() const { return shown_.typedWPM.value_or(kDefaultTypedWPM); }
    void setTypedWPM(double wordsPerMinute);  // saved at once

    // Adds one session and saves. An absent or empty application name is not recorded. When the
    // save fails (full disk) or another process holds the file's lock past the wait, the session
    // stays in memory and is saved with the next change.
    void recordSession(int64_t words, const std::optional<std::string>& sourceApp);

    // The same as one recordSession per session, but the file is written once at the end.
    void recordSessions(const std::vector<Session>& sessions);

    // One session per history entry (its word count and application), saved once: the
    // start-up migration of an existing history.
    void migrateFrom(const std::vector<HistoryEntry>& history);

    // Mean words per minute over entries longer than 500 ms whose rate is above 0 and below 400;
    // absent when no entry qualifies.
    static std::optional<double> averageDictationWPM(const std::vector<HistoryEntry>& history);

    // Hours that typing every dictated word would have taken at `typedWPM`.
    double hoursSaved() const;

    // The shareable summary (Russian), e.g. for the clipboard.
    std::string shareText(const std::vector<HistoryEntry>& history) const;

  private:
    struct Totals {
        int64_t words = 0;
        int64_t sessions = 0;
        std::set<std::string> apps;
        std::optional<double> typedWPM;  // absent: the default, or unchanged in `unsaved_`
    };
    static Totals sum(const Totals& base, const Totals& change);

    // Takes in what the file holds now; a missing file leaves the values in memory.
    void reload();
    bool decode(const std::string& text);
    // Applies `change` to the unsaved values, then under the file's lock re-reads the file and
    // saves it with them added.
    void commit(const std::function<void()>& change);
    void add(const Session& session);
    bool save(const Totals& totals) const;

    std::filesystem::path url_;
    std::chrono::milliseconds lockWait_;
    Totals saved_;    // what the file held when last read or written
    Totals unsaved_;  // changes made here that are not in the file yet
    Totals shown_;    // the two together
    bool fileKeptAside_ = false;  // the file exists but could not be read: never save over it
};

}  // namespace quorvel
