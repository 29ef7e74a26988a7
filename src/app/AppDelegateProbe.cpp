// The controller's record-flow probe: the real pipeline, recorder, pill and tray, driven by a
// scripted press of the record key instead of the hot-key listener.

#include <QTimer>

#include "app/AppDelegate.h"
#include "app/DictationPipeline.h"
#include "platform/AudioRecorder.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"

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
    createDictationParts(std::make_unique<ForcedMicrophone>(SystemQueries::createDefault(), microphone));
    recorder_->setAuthorizationProvider([microphone] { return static_cast<int>(microphone); });
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
