#pragma once
// The path of a dictation through the program: what the record key's presses and releases (and
// the pill's and menu's buttons) mean, what may refuse a recording, what runs while it records,
// cancelling, and stopping, after which the chain (DictationChain) takes the dictation to its
// insertion. Also recognises a chosen audio file, without post-processing. Main thread only.

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/DictationChain.h"
#include "app/PipelineParts.h"
#include "core/PressStateMachine.h"

class QWidget;

namespace quorvel {

struct AppConfig;

class DictationPipeline : public QObject {
    Q_OBJECT
  public:
    DictationPipeline(PipelineParts parts, PipelineHooks hooks, PipelineTimings timings = {});
    // Keeps the audio of a recording that still runs: the program is quitting under the user.
    ~DictationPipeline() override;

    // The record key (or a mode's own hot key, or the menu's start command) went down.
    void pressDown();
    // The record key went up after `seconds`.
    void pressUp(double seconds);
    // What the press state machine answered.
    void carryOut(PressStateMachine::Action action);
    // The pill's record/stop button: starts like a key press when idle, otherwise stops.
    void recordOrStop();
    // Stop buttons, the menu's stop command: stop and process when a recording runs.
    void stopIfRecording();
    // The cancel key, the pill's and the menu's cancel: drop the recording when one runs.
    void cancelIfRecording();

    void startRecording();
    void cancelRecording();
    void stopAndProcess();

    // Recognises a 16-bit WAV file and appends the bare result to the pill; an unreadable file
    // is ignored.
    void recognizeFile(const std::filesystem::path& file);
    // Lets the user pick the file first; nothing when the dialog is cancelled.
    void chooseAndRecognizeFile(QWidget* parent = nullptr);

    // A recording runs (started and neither stopped nor cancelled).
    bool isRecording() const { return recording_; }
    // The processed samples of the last stopped recording (also when it was too short to use).
    const std::vector<float>& lastAudio() const { return lastAudio_; }
    int64_t lastDurationMs() const { return lastDurationMs_; }
    // Stopped dictations whose chain has not ended yet.
    int dictationsUnderWay() const { return chain_.underWay(); }

    // Also the short ones refused at stop (succeeded false); not cancelled recordings.
    std::function<void(bool succeeded)> onDictationEnded;

  private:
    void showMicAccessOverlay(bool request);
    void microphoneAnswered(bool granted);
    void askForMicrophone(std::function<void(bool)> answer);
    bool refuseMissingModel(const AppConfig& config);
    void beginRecording(const AppConfig& config);
    void startTickIfNeeded(const AppConfig& config);
    void armMaxTimer(const AppConfig& config);
    void stopTimers();
    void noticeOnPill(const std::string& text);
    std::vector<float> cleanUp(std::vector<float> samples, const AppConfig& config) const;
    void call(const std::function<void()>& hook) const;

    PipelineParts parts_;
    PipelineHooks hooks_;
    DictationChain chain_;
    QTimer maxTimer_;
    QTimer tickTimer_;
    bool recording_ = false;
    std::optional<std::string> sourceAppAtStart_;
    std::vector<float> lastAudio_;
    int64_t lastDurationMs_ = 0;
};

}  // namespace quorvel
