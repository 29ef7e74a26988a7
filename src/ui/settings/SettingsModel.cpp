#include "ui/settings/SettingsModel.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <algorithm>
#include <memory>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/VocabRows.h"
#include "platform/ConflictCheck.h"
#include "services/RuntimeInstaller.h"
#include "services/SerialQueue.h"

namespace quorvel {

SettingsModel::SettingsModel(ConfigStore& config, VocabStore& vocab, HistoryStore& history, StatsStore& stats,
                             ModelStore& models, SettingsActions& actions)
    : config_(config), vocab_(vocab), historyStore_(&history), stats_(stats), models_(models), actions_(actions) {}

const AppConfig& SettingsModel::config() const { return config_.config(); }

void SettingsModel::editConfig(const std::function<void(AppConfig&)>& edit) {
    config_.update(edit);
    config_.save();
    actions_.configChanged();
    Q_EMIT configEdited();
}

const VocabStore::Pairs& SettingsModel::vocab() const { return vocab_.pairs(); }

void SettingsModel::setVocab(VocabStore::Pairs pairs) {
    vocab_.replaceAll(std::move(pairs));
    Q_EMIT vocabChanged();
}

void SettingsModel::reloadHistory(std::size_t limit) {
    // Taken before reading: an id that leaves the set later is already gone from the file.
    const std::set<std::string> removing = [this] {
        const std::lock_guard lock(removalMutex_);
        return removing_;
    }();
    // Before reading: a change made while it reads is seen by the next reloadHistoryIfChanged.
    loadedStamp_ = stampOf(historyStore_->url());
    history_ = historyStore_->read(limit);
    std::erase_if(history_, [&](const HistoryEntry& entry) { return removing.contains(entry.id); });
    Q_EMIT historyChanged();
}

void SettingsModel::setHistoryStore(HistoryStore& history) {
    historyStore_ = &history;
    reloadHistory();
}

void SettingsModel::deleteEntry(const std::string& id) {
    {
        const std::lock_guard lock(removalMutex_);
        if (!removing_.insert(id).second) return;
    }
    if (!remover_) remover_ = std::make_unique<SerialQueue>();
    // A copy of the store: the program may replace its own meanwhile.
    remover_->enqueue([this, store = *historyStore_, id] {
        const bool failed = store.remove(id).failed;
        {
            const std::lock_guard lock(removalMutex_);
            removing_.erase(id);
        }
        // The store has logged why; the entry is still in the file, so it is shown again.
        if (failed && !closing_)
            QMetaObject::invokeMethod(this, [this] { reloadHistory(); }, Qt::QueuedConnection);
    });
    std::erase_if(history_, [&](const HistoryEntry& entry) { return entry.id == id; });
    Q_EMIT historyChanged();
}

// Runs the removals still queued: none is lost when the window or the program closes.
SettingsModel::~SettingsModel() {
    closing_ = true;
    remover_.reset();
}

bool SettingsModel::removalsPending() const {
    const std::lock_guard lock(removalMutex_);
    return !removing_.empty();
}

int SettingsModel::importVocabCsv(std::string_view csv) {
    std::vector<VocabPair> rows = VocabRows::load(vocab_.pairs());
    const int added = VocabRows::importCsv(csv, rows, vocab_);
    Q_EMIT vocabChanged();
    return added;
}

void SettingsModel::findConflicts() {
    if (searchingConflicts_) return;
    searchingConflicts_ = true;
    auto promise = std::make_shared<QPromise<std::vector<std::string>>>();
    auto* watcher = new QFutureWatcher<std::vector<std::string>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        searchingConflicts_ = false;
        conflicts_ = watcher->future().result();
        watcher->deleteLater();
        Q_EMIT conflictsFound();
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, pgrep = pgrepPath] {
        promise->start();
        promise->addResult(ConflictCheck::conflictApps(std::chrono::seconds(2), pgrep));
        promise->finish();
    });
}

RuntimeInstaller& SettingsModel::runtime() {
    if (!runtime_) runtime_ = new RuntimeInstaller(RuntimeInstaller::Options(), this);
    return *runtime_;
}

void SettingsModel::reloadHistoryIfChanged() {
    if (loadedStamp_ != stampOf(historyStore_->url())) reloadHistory();
}

SettingsModel::FileStamp SettingsModel::stampOf(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) return {};
    const auto time = std::filesystem::last_write_time(file, error);
    return {size, error ? std::filesystem::file_time_type() : time};
}

}  // namespace quorvel
