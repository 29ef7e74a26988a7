#pragma once
// What the settings window works on: the program's own stores (the same instances the running
// program uses), the model downloads, and the program's services. Every edit is written back at
// once: the configuration is saved and the program told (SettingsActions::configChanged), once
// per edit. Pages listen to the signals to show edits made elsewhere (another page, a mirrored
// toggle). Main thread only.

#include <QObject>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/AppConfig.h"
#include "core/HistoryEntry.h"
#include "core/VocabStore.h"
#include "platform/SystemSettings.h"

namespace quorvel {

class ConfigStore;
class HistoryStore;
class ModelStore;
class SerialQueue;
class RuntimeInstaller;
class StatsStore;

// The running program's side of the settings window.
class SettingsActions {
public:
    virtual ~SettingsActions() = default;
    // The configuration was saved: the running program follows it.
    virtual void configChanged() = 0;
    virtual void runTypingTest() = 0;
    virtual void shareStats() = 0;
    virtual std::string checkForUpdates() = 0;
    virtual bool launchOnLogin() = 0;
    virtual bool setLaunchOnLogin(bool enabled) = 0;
    // Pastes into the window that was active before the settings window came forward.
    virtual void pasteToPreviousApp(const std::string& text) = 0;
    virtual void restartWorker() = 0;
    virtual void openSystemSettings(SystemSettings::Permission permission) = 0;
};

class SettingsModel : public QObject {
    Q_OBJECT
public:
    SettingsModel(ConfigStore& config, VocabStore& vocab, HistoryStore& history, StatsStore& stats, ModelStore& models,
                  SettingsActions& actions);

    const AppConfig& config() const;
    // Applies `edit` to the configuration, saves it, tells the program and emits configEdited.
    void editConfig(const std::function<void(AppConfig&)>& edit);

    const VocabStore::Pairs& vocab() const;
    // Makes `pairs` the vocabulary and saves it.
    void setVocab(VocabStore::Pairs pairs);

    // The latest entries, newest first, as last loaded.
    const std::vector<HistoryEntry>& history() const { return history_; }
    void reloadHistory(std::size_t limit = kHistoryLimit);
    // The program replaced its history store (the recordings folder moved).
    void setHistoryStore(HistoryStore& history);
    HistoryStore& historyStore() { return *historyStore_; }
    // Removes the entry and its audio; it leaves `history()` at once, the file is rewritten on
    // a background thread (a long history takes a second). A removal that fails brings the entry
    // back.
    void deleteEntry(const std::string& id);

    StatsStore& stats() { return stats_; }
    ModelStore& models() { return models_; }
    SettingsActions& actions() { return actions_; }

    // The home page shows every recording instead of the newest few.
    bool showAllHistory = false;

    static constexpr std::size_t kHistoryLimit = 300;

    // Adds the usable "phrase;replacement" (or "phrase,replacement") lines of CSV text whose
    // phrase is not a rule yet, saves, and returns how many were added.
    int importVocabCsv(std::string_view csv);

Q_SIGNALS:
    void configEdited();
    void vocabChanged();
    void historyChanged();

private:
    ConfigStore& config_;
    VocabStore& vocab_;
    HistoryStore* historyStore_;
    StatsStore& stats_;
    ModelStore& models_;
    SettingsActions& actions_;
    std::vector<HistoryEntry> history_;

public:
    // Waits for the removals still under way: none is lost when the window or program closes.
    ~SettingsModel() override;
    // Removals handed to the background thread and not finished yet.
    bool removalsPending() const;

    // Looks for other dictation tools (ConflictCheck) off the main thread, so a slow pgrep never
    // freezes the window; conflictsFound follows on the main thread.
    void findConflicts();
    // The names found by the last search, in ConflictCheck's order.
    const std::vector<std::string>& conflicts() const { return conflicts_; }
    // The pgrep the search runs (tests put a stand-in there).
    std::string pgrepPath = "/usr/bin/pgrep";

Q_SIGNALS:
    void conflictsFound();

private:
    std::vector<std::string> conflicts_;
    bool searchingConflicts_ = false;
    mutable std::mutex removalMutex_;
    std::set<std::string> removing_;  // guarded by removalMutex_; queued or running, hidden from reloads
    std::atomic<bool> closing_ = false;
    std::unique_ptr<SerialQueue> remover_;  // last: its jobs use the members above

public:
    // Checks and installs the worker's Python runtime; lives as long as the model, so an install
    // goes on while pages are rebuilt (tests point it at their own wheel folder).
    RuntimeInstaller& runtime();

private:
    RuntimeInstaller* runtime_ = nullptr;

public:
    // reloadHistory when the history file changed since the last load (or is gone): the
    // periodic refresh must not parse megabytes of unchanged history on the main thread.
    void reloadHistoryIfChanged();

private:
    using FileStamp = std::pair<std::uintmax_t, std::filesystem::file_time_type>;
    static FileStamp stampOf(const std::filesystem::path& file);
    std::optional<FileStamp> loadedStamp_;  // the history file as it was when last loaded
};

}  // namespace quorvel
