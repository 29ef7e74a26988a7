#include "app/Housekeeping.h"

#include "core/AppConfig.h"
#include "core/HistoryStore.h"
#include "core/KeepPolicy.h"
#include "core/StatsStore.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"

namespace quorvel::Housekeeping {

void runAutoclean(const HistoryStore& history, const std::string& keepRecordings) {
    const KeepPolicy policy = KeepPolicy::fromRaw(keepRecordings).value_or(KeepPolicy::forever);
    const auto removal = history.cleanup(policy);
    if (removal.removed >= 1) Log::info("автоочистка: удалено " + std::to_string(removal.removed) + " записей");
}

void migrateStatsIfNeeded(StatsStore& stats, const HistoryStore& history) {
    if (stats.sessionsTotal() != 0) return;
    const auto entries = history.read(100000);
    if (entries.empty()) return;
    std::vector<StatsStore::Session> sessions;
    sessions.reserve(entries.size());
    for (const auto& entry : entries) sessions.push_back({entry.words(), entry.sourceApp});
    // One write for the whole history instead of one per entry.
    stats.recordSessions(sessions);
    Log::info("статистика мигрирована из истории: " + std::to_string(entries.size()) + " записей");
}

bool wantsTaskbarEntry(const AppConfig& config, SystemQueries& system) {
    return config.showDockIcon || system.microphoneAuthorization() != MicrophoneAuthorization::authorized ||
           !system.inputMonitoringGranted() || !system.accessibilityTrusted();
}

}  // namespace quorvel::Housekeeping
