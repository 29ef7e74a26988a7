#include "app/ProbeRuns.h"

#include <QPointer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/AppDelegate.h"
#include "app/HeadlessRunner.h"
#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/ModelCatalog.h"
#include "core/TextProcessing.h"
#include "core/VocabStore.h"
#include "core/WavFileReader.h"
#include "platform/AudioRecorder.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"
#include "services/OllamaPunctuate.h"
#include "services/Transcriber.h"
#include "ui/PillPanel.h"

namespace quorvel::ProbeRuns {

const std::array<const char*, 5> kPunctPhrases = {
    "привет это тестовая фраза для проверки диктовки",
    "в проекте Квазар мы перенесли релиз на следующую неделю",
    "новый Брелфон умеет заряжаться за полчаса и держит два дня",
    "Brellun синхронизирует данные между станциями",
    "пожалуйста переведи этот текст на английский язык сегодня",
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPhraseRecordings = 5;
constexpr const char* kNoMicAccess = "⚠️ Нет доступа к микрофону (раздел «Разрешения» в меню иконки)";

long long elapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

AppConfig currentConfig() { return ConfigStore(AppPaths::configURL()).config(); }

void punctStep(std::shared_ptr<const AppConfig> config, size_t index, std::function<void(int)> finished) {
    if (index == kPunctPhrases.size()) {
        Log::info("PUNCT PROBE DONE");
        return finished(0);
    }
    const auto started = Clock::now();
    OllamaPunctuate::run(kPunctPhrases[index], *config,
                         [config, index, started, finished](std::optional<std::string> result) {
                             Log::info("PUNCT[" + std::to_string(index) + "]: " + std::to_string(elapsedMs(started)) +
                                       " ms → " + result.value_or("(сбой)"));
                             punctStep(config, index + 1, finished);
                         });
}

// What the pipeline probe carries from one recording to the next.
struct PipelineProbe {
    QPointer<Transcriber> transcriber;
    AppConfig config;
    VocabCorrector corrector;
    bool punctuate;
    std::function<void(int)> finished;
};

std::optional<std::vector<float>> phraseRecording(int number) {
    const auto path = AppPaths::homeDir() / "quorvel/tests/audio" / ("phrase" + std::to_string(number) + ".wav");
    return readWavFile(path).samples;
}

void pipelineStep(std::shared_ptr<PipelineProbe> probe, int number) {
    std::optional<std::vector<float>> samples;
    while (number <= kPhraseRecordings && !(samples = phraseRecording(number))) ++number;
    if (!samples || !probe->transcriber) {
        Log::info("PIPELINE PROBE DONE");
        return probe->finished(0);
    }
    const auto started = Clock::now();
    probe->transcriber->transcribe(std::move(*samples), [probe, number, started](std::optional<std::string> text) {
        auto report = [probe, number, started] {
            char line[64];
            std::snprintf(line, sizeof line, "PIPELINE[%d]: stop→paste %.2f s", number,
                          std::chrono::duration<double>(Clock::now() - started).count());
            Log::info(line);
            pipelineStep(probe, number + 1);
        };
        const std::string corrected = probe->corrector.correct(text.value_or(""));
        if (!probe->punctuate) return report();
        OllamaPunctuate::run(corrected, probe->config, [report](const std::optional<std::string>&) { report(); });
    });
}

struct MicStatus {
    long long value;
    bool forced;
};

MicStatus micStatus() {
    const char* forced = std::getenv("QUORVEL_FORCE_MIC_STATUS");
    if (const auto value = forced ? HeadlessRunner::parseInteger(forced) : std::nullopt) return {*value, true};
    return {static_cast<long long>(SystemQueries::createDefault()->microphoneAuthorization()), false};
}

// Anything but the four known answers is no permission.
MicrophoneAuthorization asAuthorization(long long status) {
    if (status < 0 || status > 3) return MicrophoneAuthorization::denied;
    return static_cast<MicrophoneAuthorization>(status);
}

void recorderProbe(long long status) {
    if (status != AudioRecorder::kAuthorized) {
        Log::info("PROBE recorder: gate refused (status=" + std::to_string(status) + ") — engine untouched");
        return;
    }
    AudioRecorder recorder;
    const bool started = recorder.start();
    Log::info(std::string("PROBE recorder.start() → ") + (started ? "true" : "false"));
    if (started) recorder.stop();
}

void deniedNoticeProbe(long long status) {
    PillPanel* pill = HeadlessRunner::keepUntilQuit(std::make_unique<PillPanel>());
    pill->showWithoutActivating();
    pill->appendText(QString::fromUtf8(kNoMicAccess));
    // Access is asked for only while nothing is decided. Linux shows no prompt: the answer is the
    // undecided status itself, which grants nothing, so the notice stays as it is.
    if (status == 0) Log::info("PROBE recordflow_denied: access requested → not granted");
    Log::info("PROBE recordflow_denied: overlay shown, engine untouched");
}

}  // namespace

void runPunct(std::function<void(int)> finished) {
    punctStep(std::make_shared<const AppConfig>(currentConfig()), 0, std::move(finished));
}

void runPipeline(std::function<void(int)> finished) {
    const AppConfig config = currentConfig();
    const auto model = ModelCatalog::model(config.sttModelID);
    auto probe = std::make_shared<PipelineProbe>(PipelineProbe{
        .transcriber = HeadlessRunner::keepUntilQuit(HeadlessRunner::makeTranscriber()),
        .config = config,
        .corrector = VocabStore(AppPaths::vocabURL()).corrector(),
        .punctuate = TextProcessing::shouldPunctuate(model ? model->type : "nemo", config.punctRestore),
        .finished = std::move(finished)});
    pipelineStep(std::move(probe), 1);
}

void runProbe(const std::string& kind, std::function<void(int)> finished) {
    const MicStatus status = micStatus();
    Log::info("PROBE " + kind + ": micStatus=" + std::to_string(status.value) + (status.forced ? " (forced)" : ""));
    if (kind == "recorder") {
        recorderProbe(status.value);
        return finished(0);
    }
    if (kind == "recordflow_denied") {
        deniedNoticeProbe(status.value);
        return finished(0);
    }
    AppDelegate* controller = HeadlessRunner::keepUntilQuit(std::make_unique<AppDelegate>());
    controller->runRecordFlowProbe(asAuthorization(status.value), std::move(finished));
}

}  // namespace quorvel::ProbeRuns
