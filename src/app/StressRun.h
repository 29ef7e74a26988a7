#pragma once
// The stress run: many record-and-recognise cycles in a row through the recording overlay, the
// press state machine and the worker, counting the cycles that came back without a text. It
// shows how the overlay and the worker hold up over hundreds of dictations.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvel {

class Transcriber;

namespace StressRun {

// Runs `cycles` cycles, each recognising `samples` (one second of near-silence when there are
// none) with `transcriber`. Logs at the end "STRESS RESOURCES: …" (the process's memory, file
// descriptors and threads after the warm-up — 100 cycles, or a tenth of fewer than 1000 — and
// at the end), then "STRESS DONE: <cycles> cycles, failures=<n>"; `finished` then gets 0 when
// every cycle had a text, else 1.
void run(long long cycles, std::optional<std::vector<float>> samples, std::unique_ptr<Transcriber> transcriber,
         std::function<void(int)> finished);

}  // namespace StressRun
}  // namespace quorvel
