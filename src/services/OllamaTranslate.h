#pragma once
// Translation of the dictated text by the local language model. Keeps no state.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/AppConfig.h"

namespace quorvel::OllamaTranslate {

inline constexpr std::chrono::milliseconds kTimeout{15000};

using Completion = std::function<void(std::optional<std::string>)>;

// The Russian word the prompt uses for a target code ("en", "ru"); other codes unchanged.
std::string targetWord(std::string_view target);

// The prompt sent for a text and a target code.
std::string prompt(const std::string& text, std::string_view target);

// A model answer made usable: white space and line breaks trimmed, then the double quotes and
// apostrophes around it; nothing when no text is left.
std::optional<std::string> cleanAnswer(std::string_view response);

// Asks cfg.ollamaModel at cfg.ollamaURL to translate `text` into `target`. The completion gets
// the cleaned answer or nothing, exactly once: later on the main thread, or at once on the
// calling thread, with nothing, when cfg.ollamaURL is not a usable URL (then nothing is sent).
void translate(const std::string& text, const std::string& target, const AppConfig& cfg, Completion completion,
               std::chrono::milliseconds timeout = kTimeout);

}  // namespace quorvel::OllamaTranslate
