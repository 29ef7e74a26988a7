#include "ui/settings/SettingsModel.h"

#include <algorithm>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "services/RuntimeInstaller.h"

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

RuntimeInstaller& SettingsModel::runtime() {
    if (!runtime_) runtime_ = new RuntimeInstaller(RuntimeInstaller::Options(), this);
    return *runtime_;
}

}  // namespace quorvel
