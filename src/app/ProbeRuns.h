#pragma once
// The probes of the headless runs: timing the punctuation service over fixed phrases, timing
// recognition plus post-processing over the phrase recordings in ~/quorvel/tests/audio, and the
// microphone gate of the recorder and of the record flow (QUORVEL_FORCE_MIC_STATUS may stand in
// for the desktop's answer). Each logs what it saw and calls `finished` with the exit status.

#include <array>
#include <functional>
#include <string>

namespace quorvel::ProbeRuns {

// The punctuation probe's phrases, in bare recogniser style.
extern const std::array<const char*, 5> kPunctPhrases;

// "PUNCT[i]: N ms → text" (or "(сбой)") per phrase, then "PUNCT PROBE DONE".
void runPunct(std::function<void(int)> finished);

// "PIPELINE[i]: stop→paste S s" per readable phrase recording, then "PIPELINE PROBE DONE".
void runPipeline(std::function<void(int)> finished);

// "recorder", "recordflow_denied", or any other kind: the record flow through the controller.
void runProbe(const std::string& kind, std::function<void(int)> finished);

}  // namespace quorvel::ProbeRuns
