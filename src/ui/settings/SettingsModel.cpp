#include "ui/settings/SettingsModel.h"

#include <algorithm>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "platform/ConflictCheck.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <memory>

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
    history_ = historyStore_->read(limit);
    Q_EMIT historyChanged();
}

void SettingsModel::setHistoryStore(HistoryStore& history) {
    historyStore_ = &history;
    reloadHistory();
}

void SettingsModel::deleteEntry(const std::string& id) {
    std::erase_if(history_, [&](const HistoryEntry& entry) { return entry.id == id; });
    Q_EMIT historyChanged();
    historyStore_->remove(id);
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

}  // namespace quorvel
