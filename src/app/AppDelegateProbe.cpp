// The controller's record-flow probe: the real pipeline, recorder, pill and tray, driven by a
// scripted press of the record key instead of the hot-key listener.

#include <QTimer>

#include "app/AppDelegate.h"
#include "app/DictationPipeline.h"
#include "app/SampleRecorder.h"
#include "app/TrayMenu.h"
#include "platform/AudioRecorder.h"
#include "platform/Paster.h"
#include "platform/SystemQueries.h"
#include "platform/TextInjector.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "ui/PillPanel.h"

namespace quorvel {
namespace {

constexpr int kHoldMs = 2500;
constexpr double kHoldSeconds = 2.5;
constexpr int kSettleMs = 2000;

// The desktop's answers, except for the microphone, which says what the probe was told.
class ForcedMicrophone final : public SystemQueries {
public:
    ForcedMicrophone(std::unique_ptr<SystemQueries> desktop, MicrophoneAuthorization microphone)
        : desktop_(std::move(desktop)), microphone_(microphone) {}

    MicrophoneAuthorization microphoneAuthorization() override { return microphone_; }
    bool inputMonitoringGranted() override { return desktop_->inputMonitoringGranted(); }
    bool accessibilityTrusted() override { return desktop_->accessibilityTrusted(); }
    std::optional<std::string> frontApplicationName() override { return desktop_->frontApplicationName(); }
    bool shiftHeld() override { return desktop_->shiftHeld(); }

private:
    std::unique_ptr<SystemQueries> desktop_;
    const MicrophoneAuthorization microphone_;
};

std::string stateText(const PressStateMachine::State& state) {
    if (state.isIdle()) return "idle";
    return state.context() == PressStateMachine::Context::toggle ? "recording(toggle)" : "recording(push)";
}

}  // namespace

void AppDelegate::runRecordFlowProbe(MicrophoneAuthorization microphone, std::function<void(int)> quit) {
    quit_ = std::move(quit);
    recorder_ = std::make_unique<AudioRecorder>();
    recorder_->setAuthorizationProvider([microphone] { return static_cast<int>(microphone); });
    samples_ = std::make_unique<AudioRecorderSamples>(*recorder_);
    system_ = std::make_unique<ForcedMicrophone>(SystemQueries::createDefault(), microphone);
    injector_ = TextInjector::createDefault();
    paster_ = std::make_unique<Paster>(*injector_, *system_);
    pill_ = std::make_unique<PillPanel>();
    createTranscriber();
    pipeline_ = std::make_unique<DictationPipeline>(
        PipelineParts{config_, vocab_, [this]() -> HistoryStore& { return history(); }, stats_, stateMachine_,
                      *samples_, *pill_, [this] { return transcriber_.get(); }, *paster_, *system_, catalog_},
        PipelineHooks{.setTrayIcon = [this](bool recording) { if (tray_) tray_->setRecording(recording); },
                      .refreshMenu = [this] { refreshMenu(); },
                      .applyDockPolicy = [this] { applyDockPolicy(); },
                      .requestMicrophoneAccess = {},
                      .quit = [this] { quit_(0); }});
    wireRecorder();
    wirePill();
    setupStatusItem();

    pipeline_->pressDown();
    QTimer::singleShot(kHoldMs, this, [this] {
        pipeline_->pressUp(kHoldSeconds);
        QTimer::singleShot(kSettleMs, this, [this] {
            Log::info("PROBE recordflow: state=" + stateText(stateMachine_.state()));
            quit_(0);
        });
    });
}

}  // namespace quorvel
