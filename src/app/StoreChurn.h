#pragma once
// The store churn run: round after round through the program's own stores in the current HOME,
// until the process is killed. Each round n sets the language model's name to "churn-<n>" and
// saves the settings, adds the vocabulary rule "churn<n>" → "round <n>", records a session in
// the statistics and appends a history entry "churn round <n>"; only once the append has
// returned does it print "churn <n>" on standard output. A new start goes on after the highest
// round in the history. It shows what a kill at any moment leaves in the files.

#include <functional>

namespace quorvel::StoreChurn {

// Runs rounds until the process ends; `finished` is called (with 1) only when a round cannot be
// saved, which is then never acknowledged.
void run(std::function<void(int)> finished);

}  // namespace quorvel::StoreChurn
