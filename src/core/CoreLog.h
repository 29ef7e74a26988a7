#pragma once
// Log lines from the core, which knows nothing of the program's log: the program routes them
// into its log file; without that (tools, core tests) they go to standard error.

#include <string_view>

namespace quorvel::corelog {

enum class Level { Info, Warn, Error };

using Sink = void (*)(Level level, std::string_view message);

// Replaces where core lines go; nullptr goes back to standard error. Safe from any thread.
void setSink(Sink sink);

void info(std::string_view message);
void warn(std::string_view message);
void error(std::string_view message);

// "INFO", "WARN" or "ERROR", as the program's log writes the level.
std::string_view levelName(Level level);

}  // namespace quorvel::corelog
