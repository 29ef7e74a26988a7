#include "app/DictationPipeline.h"

#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "app/RecordingFiles.h"
#include "app/SampleRecorder.h"
#include "core/AudioProcessing.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/ModeRules.h"
#include "core/WavFileReader.h"
#include "core/WorkerPrefs.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"
#include "services/MainDispatcher.h"
#include "services/Transcriber.h"
#include "ui/PillPanel.h"

namespace quorvel {
namespace {

using State = PressStateMachine::State;
using Kind = PressStateMachine::Action::Kind;

constexpr size_t kMinSamples = 3200;  // 0.2 s: less is no speech worth recognising
constexpr const char* kNoMicAccess =
    "⚠️ Нет доступа к микрофону (раздел «Разрешения» в меню "
    "иконки)";
constexpr const char* kMicGranted = "✓ Микрофон разрешён";

// Milliseconds of the configured maximum length; nonsense values end the recording at once
// rather than never.
int maxRecordMs(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return static_cast<int>(std::min(seconds, 24.0 * 3600) * 1000);
}

}  // namespace

DictationPipeline::DictationPipeline(PipelineParts parts, PipelineHooks hooks,
                                     PipelineTimings timings)
    : parts_(parts), hooks_(hooks), chain_(parts, hooks, timings) {
    chain_.recordingRunning = [this] { return recording_; };
    connect(&chain_, &DictationChain::dictationEnded, this, [this](bool succeeded) {
        if (onDictationEnded) onDictationEnded(succeeded);
    });
    maxTimer_.setSingleShot(true);
    connect(&maxTimer_, &QTimer::timeout, this, &DictationPipeline::stopIfRecording);
    tickTimer_.setInterval(timings.tickInterval);
    connect(&tickTimer_, &QTimer::timeout, this,
            [] { SoundPlayer::play(SoundPlayer::Kind::recordStop); });
}

// A logout or a signal ends the program while the user speaks: what was said so far stays in
// the recordings folder, where it can be recognised later, instead of vanishing.
DictationPipeline::~DictationPipeline() {
    if (!recording_) return;
    stopTimers();
    const std::vector<float> samples = parts_.recorder.stop();
    if (const auto saved = RecordingFiles::save(samples, parts_.history().recordingsDir()))
        Log::warn("запись прервана выходом из программы — сохранена: " + saved->string());
}

void DictationPipeline::pressDown() {
    carryOut(parts_.stateMachine.onRightCommandDown());
}

void DictationPipeline::pressUp(double seconds) {
    const AppConfig& config = parts_.config.config();
    carryOut(parts_.stateMachine.onRightCommandUp(seconds, config.modeTapEnabled,
                                                  config.modeHoldEnabled));
}

void DictationPipeline::carryOut(PressStateMachine::Action action) {
    switch (action.kind()) {
        case Kind::startRecording:
            return startRecording();
        case Kind::none:
            return;
        case Kind::becameToggle:
            parts_.pill.showWithoutActivating();
            parts_.pill.setState(PillState::recording);
            Log::info("режим: toggle (армирован тапом)");
            return;
        case Kind::stopAndTranscribe:
            return stopAndProcess();
        case Kind::cancel:
            return cancelRecording();
    }
}

void DictationPipeline::recordOrStop() {
    if (parts_.stateMachine.state().isIdle()) return pressDown();
    stopIfRecording();
}

void DictationPipeline::stopIfRecording() {
    if (parts_.stateMachine.state().isIdle()) return;
    parts_.stateMachine.setState(State::idle());
    stopAndProcess();
}

void DictationPipeline::cancelIfRecording() {
    if (parts_.stateMachine.state().isIdle()) return;
    parts_.stateMachine.setState(State::idle());
    cancelRecording();
}

void DictationPipeline::startRecording() {
    const AppConfig config = parts_.config.config();
    const DictationMode mode = ModeRules::activeMode(config);
    const std::optional<std::string> front = parts_.system.frontApplicationName();
    if (!ModeRules::modeAllowedHere(mode, front)) {
        noticeOnPill(ModeRules::notAllowedNotice(mode));
        parts_.stateMachine.setState(State::idle());
        return;
    }
    if (refuseMissingModel(config)) return;
    sourceAppAtStart_ = front;

    switch (parts_.system.microphoneAuthorization()) {
        case MicrophoneAuthorization::notDetermined:
            // One question to the desktop; its answer says what happened.
            noticeOnPill(kNoMicAccess);
            askForMicrophone([this](bool granted) { microphoneAnswered(granted); });
            break;
        case MicrophoneAuthorization::denied:
        case MicrophoneAuthorization::restricted:
            Log::warn("микрофон запрещён/ограничен — запись невозможна");
            showMicAccessOverlay(true);
            call(hooks_.refreshMenu);
            call(hooks_.applyDockPolicy);
            break;
        case MicrophoneAuthorization::authorized:
            return beginRecording(config);
    }
    // Nothing records: the next press must start afresh, not stop an empty recording.
    parts_.stateMachine.setState(State::idle());
}

// The model the dictation would be recognised with must be there before the user speaks.
bool DictationPipeline::refuseMissingModel(const AppConfig& config) {
    if (workerPrefs(config, parts_.catalog)) return false;
    const std::string id = chosenModelID(config);
    const auto model = ModelCatalog::model(id);
    const std::string name = model ? model->name : id;
    Log::warn("модель «" + name + "» не установлена — запись не начата");
    noticeOnPill("⚠️ Модель «" + name + "» не установлена — Настройки → Модели");
    parts_.stateMachine.setState(State::idle());
    return true;
}

void DictationPipeline::beginRecording(const AppConfig& config) {
    if (!parts_.recorder.start()) {
        parts_.stateMachine.setState(State::idle());
        parts_.pill.showWithoutActivating();
        parts_.pill.setState(PillState::collapsed);
        parts_.pill.appendText(QStringLiteral("⚠️ Микрофон недоступен"));
        return;
    }
    recording_ = true;
    parts_.pill.styleClassic = config.overlayStyle != "mini";
    if (config.overlayStyle == "none") {
        parts_.pill.hide();
    } else {
        parts_.pill.showWithoutActivating();
        parts_.pill.setState(PillState::recording);
    }
    if (hooks_.setTrayIcon) hooks_.setTrayIcon(true);
    startTickIfNeeded(config);
    if (config.soundRecord) SoundPlayer::play(SoundPlayer::Kind::recordStart);
    armMaxTimer(config);
}

void DictationPipeline::startTickIfNeeded(const AppConfig& config) {
    tickTimer_.stop();
    if (config.soundWhileRecording == "tick") tickTimer_.start();
}

void DictationPipeline::armMaxTimer(const AppConfig& config) {
    maxTimer_.stop();
    maxTimer_.start(maxRecordMs(config.maxRecordSeconds));
}

void DictationPipeline::stopTimers() {
    maxTimer_.stop();
    tickTimer_.stop();
}

void DictationPipeline::cancelRecording() {
    stopTimers();
    if (hooks_.setTrayIcon) hooks_.setTrayIcon(false);
    parts_.recorder.stop();
    recording_ = false;
    lastAudio_.clear();
    lastDurationMs_ = 0;
    parts_.pill.showWithoutActivating();
    // An earlier dictation still on its way keeps its look.
    parts_.pill.setState(chain_.underWay() > 0 ? PillState::thinking : PillState::collapsed);
    if (parts_.config.config().soundRecord) SoundPlayer::play(SoundPlayer::Kind::cancel);
    Log::info("запись отменена (Esc)");
}

void DictationPipeline::stopAndProcess() {
    stopTimers();
    Transcriber* transcriber = parts_.transcriber ? parts_.transcriber() : nullptr;
    if (!transcriber) {
        Log::error("stopAndProcess: транскрибер не инициализирован");
        // Nothing can recognise the recording: end it, so the indicators do not claim otherwise.
        if (recording_) parts_.recorder.stop();
        recording_ = false;
        parts_.stateMachine.setState(State::idle());
        if (hooks_.setTrayIcon) hooks_.setTrayIcon(false);
        parts_.pill.setState(PillState::collapsed);
        noticeOnPill("⚠️ Ошибка: STT не инициализирован");
        if (onDictationEnded) onDictationEnded(false);
        return;
    }
    if (hooks_.setTrayIcon) hooks_.setTrayIcon(false);
    auto dictation = std::make_shared<Dictation>();
    dictation->tStop = Dictation::Clock::now();
    std::vector<float> samples = parts_.recorder.stop();
    recording_ = false;
    dictation->durationMs = static_cast<int64_t>(samples.size()) * 1000 / 16000;
    parts_.pill.setState(PillState::thinking);

    const AppConfig config = parts_.config.config();
    lastAudio_ = cleanUp(std::move(samples), config);
    lastDurationMs_ = dictation->durationMs;
    if (lastAudio_.size() < kMinSamples) {
        Log::warn("запись пустая/короткая (" + std::to_string(lastAudio_.size()) + " samples)");
        noticeOnPill("⚠️ Тишина — проверьте вход микрофона");
        parts_.pill.setState(chain_.underWay() > 0 ? PillState::thinking : PillState::collapsed);
        if (onDictationEnded) onDictationEnded(false);
        return;
    }
    if (config.soundRecord) SoundPlayer::play(SoundPlayer::Kind::recordStop);

    dictation->mode = ModeRules::activeMode(config);
    const auto model = ModelCatalog::model(chosenModelID(dictation->mode, config));
    if (model) dictation->modelName = model->name;
    dictation->sourceApp = sourceAppAtStart_;
    dictation->samples = lastAudio_;
    chain_.recognize(std::move(dictation), *transcriber);
}

std::vector<float> DictationPipeline::cleanUp(std::vector<float> samples,
                                              const AppConfig& config) const {
    if (config.silenceRemoval) {
        // Speech shorter than the minimum after trimming is more likely a quiet speaker than
        // silence: keep the whole recording then.
        std::vector<float> trimmed = AudioProcessing::trimSilence(samples, 0.008f, 30, 150, 16000);
        if (trimmed.size() >= kMinSamples) samples = std::move(trimmed);
    }
    if (config.dynamicNormalization)
        samples = AudioProcessing::normalize(std::move(samples), 0.2f, 0.95f);
    return samples;
}

void DictationPipeline::showMicAccessOverlay(bool request) {
    noticeOnPill(kNoMicAccess);
    if (!request) return;
    askForMicrophone([this](bool granted) {
        call(hooks_.refreshMenu);
        call(hooks_.applyDockPolicy);
        if (granted) noticeOnPill(kMicGranted);
    });
}

void DictationPipeline::microphoneAnswered(bool granted) {
    call(hooks_.refreshMenu);
    call(hooks_.applyDockPolicy);
    if (granted) {
        Log::info("микрофон разрешён — можно записывать");
        noticeOnPill(kMicGranted);
    } else {
        Log::warn("микрофон не разрешён (отказ в запросе)");
        noticeOnPill(kNoMicAccess);
    }
}

void DictationPipeline::askForMicrophone(std::function<void(bool)> answer) {
    QPointer<DictationPipeline> self(this);
    auto guarded = [self, answer = std::move(answer)](bool granted) {
        if (self) answer(granted);
    };
    if (hooks_.requestMicrophoneAccess) return hooks_.requestMicrophoneAccess(guarded);
    MainDispatcher::dispatch(this, [this, guarded] {
        guarded(parts_.system.microphoneAuthorization() == MicrophoneAuthorization::authorized);
    });
}

void DictationPipeline::recognizeFile(const std::filesystem::path& file) {
    WavFile wav = readWavFile(file);
    if (!wav.samples) Log::warn("файл не распознан: " + file.string() + ": " + wav.error);
    Transcriber* transcriber = parts_.transcriber ? parts_.transcriber() : nullptr;
    if (!wav.samples || !transcriber) return;
    parts_.pill.showWithoutActivating();
    parts_.pill.setState(PillState::expanded);
    parts_.pill.appendText(QStringLiteral("… распознаю файл …"));
    QPointer<DictationPipeline> self(this);
    transcriber->transcribe(std::move(*wav.samples), [self](std::optional<std::string> text) {
        if (self)
            self->parts_.pill.appendText(text ? QString::fromStdString(*text)
                                              : QStringLiteral("(ошибка)"));
    });
}

void DictationPipeline::chooseAndRecognizeFile(QWidget* parent) {
    const QString file =
        QFileDialog::getOpenFileName(parent, QStringLiteral("Распознать файл"), QDir::homePath(),
                                     QStringLiteral("Аудио WAV (*.wav *.WAV)"));
    if (!file.isEmpty()) recognizeFile(file.toStdString());
}

void DictationPipeline::noticeOnPill(const std::string& text) {
    parts_.pill.showWithoutActivating();
    parts_.pill.appendText(QString::fromStdString(text));
}

void DictationPipeline::call(const std::function<void()>& hook) const {
    if (hook) hook();
}

}  // namespace quorvel
