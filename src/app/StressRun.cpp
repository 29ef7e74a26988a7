#include "app/StressRun.h"

#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "app/HeadlessRunner.h"
#include "app/ProcessResources.h"
#include "core/PressStateMachine.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "ui/OverlayPanel.h"

namespace quorvel::StressRun {
namespace {

constexpr int kRecordMs = 150;
constexpr double kPressSeconds = 0.15;
constexpr int kNextCycleMs = 20;
constexpr int kWaveBlocks = 30;
constexpr size_t kWaveBlockSize = 512;
constexpr double kTapThreshold = 0.3;  // the controller's
constexpr float kQuietLevel = 0.001f;
constexpr size_t kQuietSamples = 16000;  // one second
// Cycles before the resources are first read: caches, the worker and the overlay's buffers
// have settled by then, so what grows afterwards grows with every cycle.
constexpr long long kFullWarmUp = 100;

class Cycles : public QObject {
public:
    Cycles(long long cycles, std::vector<float> samples, std::unique_ptr<Transcriber> transcriber,
           std::function<void(int)> finished)
        : cycles_(cycles),
          samples_(std::move(samples)),
          transcriber_(std::move(transcriber)),
          finished_(std::move(finished)),
          warmCycles_(cycles >= kFullWarmUp * 10 ? kFullWarmUp : std::max(1LL, cycles / 10)) {}

    void startCycle() {
        if (begun_ >= cycles_) return finish();
        ++begun_;
        presses_.onRightCommandDown();  // only the state moves: nothing records here
        overlay_.style = OverlayPanel::Style::classic;
        overlay_.alwaysShow = false;
        overlay_.showPanel();
        overlay_.setRecording(true, QStringLiteral("push-to-talk"));
        for (int k = 0; k < kWaveBlocks; ++k) {
            const std::vector<float> block(kWaveBlockSize, static_cast<float>(k) / kWaveBlocks);
            overlay_.appendSamples(block);
        }
        QTimer::singleShot(kRecordMs, this, [this] { recognise(); });
    }

private:
    void recognise() {
        presses_.onRightCommandUp(kPressSeconds, true, true);
        overlay_.setRecording(false, QStringLiteral("распознаю…"));
        QPointer<Cycles> self(this);
        transcriber_->transcribe(samples_, [self](std::optional<std::string> text) {
            if (self) self->resultArrived(text);
        });
    }

    void resultArrived(const std::optional<std::string>& text) {
        const bool succeeded = text && !text->empty();
        if (!succeeded) {
            ++failures_;
            Log::warn("STRESS cycle " + std::to_string(begun_) + ": " + (text ? "empty text" : "no result"));
        }
        overlay_.showResult(text ? QString::fromStdString(*text) : QStringLiteral("(пусто)"), succeeded);
        overlay_.hidePanel();
        if (begun_ == warmCycles_) warm_ = ProcessResources::now();
        QTimer::singleShot(kNextCycleMs, this, [this] { startCycle(); });
    }

    void finish() {
        if (cycles_ > 0) Log::info("STRESS RESOURCES: " + ProcessResources::compare(warm_, warmCycles_, ProcessResources::now()));
        Log::info("STRESS DONE: " + std::to_string(cycles_) + " cycles, failures=" + std::to_string(failures_));
        finished_(failures_ > 0 ? 1 : 0);
    }

    const long long cycles_;
    long long begun_ = 0;
    long long failures_ = 0;
    const std::vector<float> samples_;
    std::unique_ptr<Transcriber> transcriber_;
    std::function<void(int)> finished_;
    PressStateMachine presses_{kTapThreshold};
    OverlayPanel overlay_;
    const long long warmCycles_;
    ProcessResources warm_;
};

}  // namespace

void run(long long cycles, std::optional<std::vector<float>> samples, std::unique_ptr<Transcriber> transcriber,
         std::function<void(int)> finished) {
    auto stress = std::make_unique<Cycles>(cycles, samples.value_or(std::vector<float>(kQuietSamples, kQuietLevel)),
                                           std::move(transcriber), std::move(finished));
    HeadlessRunner::keepUntilQuit(std::move(stress))->startCycle();
}

}  // namespace quorvel::StressRun
