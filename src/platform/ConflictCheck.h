#pragma once
// Other dictation tools that may fight over the same hot keys, found by process name with
// "/usr/bin/pgrep -i -l NAME". Blocks the calling thread, at most `timeout` per name.

#include <chrono>
#include <string>
#include <vector>

namespace quorvel::ConflictCheck {

// The process names looked for, in this order.
const std::vector<std::string>& watchedNames();

// The watched names that have a running process (pgrep exits with 0). A pgrep that cannot run,
// fails or overruns counts as "not running".
std::vector<std::string> conflictApps(std::chrono::milliseconds timeout = std::chrono::seconds(2),
                                      const std::string& pgrep = "/usr/bin/pgrep");

}  // namespace quorvel::ConflictCheck
