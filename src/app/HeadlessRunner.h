#pragma once
// Runs chosen by environment variables at start-up instead of the interactive program:
// QUORVEL_TEST_WAVS (a WAV list), QUORVEL_STRESS and QUORVEL_PROBE.

#include <functional>
#include <optional>
#include <string>

namespace quorvel::HeadlessRunner {

// Whether any headless run was asked for (the variables are looked for in that order).
bool requested();

// Decimal integer with an optional sign; nothing for an empty or malformed value.
std::optional<long long> parseInteger(const std::string& text);

// Starts the requested run; `finished` is called on the main thread with the exit status when
// the run is over. Returns false when the run keeps the process idle (nothing to run).
bool start(std::function<void(int)> finished);

}  // namespace quorvel::HeadlessRunner
