#pragma once
// Punctuation restoration by the local language model, for recognisers that output bare
// lower-case words. Keeps no state.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/AppConfig.h"

namespace quorvel::OllamaPunctuate {

inline constexpr std::chrono::milliseconds kTimeout{10000};

using Completion = std::function<void(std::optional<std::string>)>;

// The prompt sent for a text: the instruction followed directly by the text.
std::string prompt(const std::string& text);

// Asks the model (cfg.punctModelID, or cfg.ollamaModel when that is empty) at cfg.ollamaURL to
// punctuate `text`. The completion gets the trimmed answer when it passes the punctuation sanity
// check, otherwise nothing. It runs exactly once: later on the main thread, or at once on the
// calling thread, with nothing, when cfg.ollamaURL is not a usable URL (then nothing is sent).
void run(const std::string& text, const AppConfig& cfg, Completion completion,
         std::chrono::milliseconds timeout = kTimeout);

}  // namespace quorvel::OllamaPunctuate
