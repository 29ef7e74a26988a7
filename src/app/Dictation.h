#pragma once
// One stopped dictation: what was fixed when it stopped travels with it through recognition,
// punctuation, translation and insertion, so a newer recording (or a mode change) cannot mix
// its audio, application or mode into an older one still on its way.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/DictationMode.h"

namespace quorvel {

struct Dictation {
    using Clock = std::chrono::steady_clock;

    Clock::time_point tStop;
    int64_t durationMs = 0;  // of the raw recording, before any clean-up
    Clock::time_point recognitionStart;
    DictationMode mode;  // active when it stopped
    std::optional<std::string> modelName;
    std::vector<float> samples;            // the cleaned audio that went to recognition
    std::optional<std::string> sourceApp;  // in front when the recording started
    int64_t elapsedMs = 0;                 // recognition time
    std::string rawText;
    bool awaitingPaste = false;
};

}  // namespace quorvel
