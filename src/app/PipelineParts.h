#pragma once
// What the dictation pipeline works with, handed in by its owner (the controller) so the same
// pipeline runs against the desktop and, in tests, against recording stand-ins. Everything here
// outlives the pipeline.

#include <chrono>
#include <functional>

#include "services/OllamaPunctuate.h"
#include "services/OllamaTranslate.h"

namespace quorvel {

class ConfigStore;
class HistoryStore;
class ModelCatalog;
class Paster;
class PillPanel;
class PressStateMachine;
class SampleRecorder;
class StatsStore;
class SystemQueries;
class Transcriber;
class VocabStore;

struct PipelineParts {
    ConfigStore& config;
    VocabStore& vocab;
    // The controller replaces its history store when the recordings folder changes: ask each time.
    std::function<HistoryStore&()> history;
    StatsStore& stats;
    PressStateMachine& stateMachine;
    SampleRecorder& recorder;
    PillPanel& pill;
    // Nothing until start-up has created the speech-to-text client.
    std::function<Transcriber*()> transcriber;
    // The pipeline counts on being the only one pasting through it: each `finished` it reports
    // belongs to the oldest paste the pipeline is waiting for.
    Paster& paster;
    SystemQueries& system;
    const ModelCatalog& catalog;
};

// Calls back into the controller; any of them may be left empty.
struct PipelineHooks {
    std::function<void(bool recording)> setTrayIcon;
    std::function<void()> refreshMenu;
    std::function<void()> applyDockPolicy;
    // Asks the desktop for microphone access; `answer` (granted or not) runs later, on the main
    // thread. Empty: the answer is whatever the desktop reports as the current status.
    std::function<void(std::function<void(bool granted)> answer)> requestMicrophoneAccess;
    // Ends the program (closeAfterTranscription). Empty: the application quits.
    std::function<void()> quit;
};

struct PipelineTimings {
    std::chrono::milliseconds punctuation = OllamaPunctuate::kTimeout;
    std::chrono::milliseconds translation = OllamaTranslate::kTimeout;
    std::chrono::milliseconds tickInterval{5000};
    std::chrono::milliseconds quitDelay{800};
};

}  // namespace quorvel
