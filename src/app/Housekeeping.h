#pragma once
// The controller's chores that need no window: history clean-up by the retention setting, the
// one-time statistics fill from an older history, and the taskbar decision.

#include <string>

namespace quorvel {

struct AppConfig;
class HistoryStore;
class StatsStore;
class SystemQueries;

namespace Housekeeping {

// Removes what `keepRecordings` no longer keeps (unknown text keeps everything); logs a count.
void runAutoclean(const HistoryStore& history, const std::string& keepRecordings);

// Counts the history into empty statistics once (a history older than the statistics file).
void migrateStatsIfNeeded(StatsStore& stats, const HistoryStore& history);

// The program keeps a taskbar entry unless asked not to and every permission is there, so it
// can be found while one is missing.
bool wantsTaskbarEntry(const AppConfig& config, SystemQueries& system);

}  // namespace Housekeeping
}  // namespace quorvel
