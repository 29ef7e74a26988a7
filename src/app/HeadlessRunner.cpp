#include "app/HeadlessRunner.h"

#include <QDir>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "app/ProbeRuns.h"
#include "app/StoreChurn.h"
#include "app/StressRun.h"
#include "app/WavListRun.h"
#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/ModelCatalog.h"
#include "core/VocabStore.h"
#include "core/WavFileReader.h"
#include "core/WorkerPrefs.h"
#include "services/Log.h"
#include "services/Transcriber.h"

namespace quorvel::HeadlessRunner {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// Samples of the stress run's WAV, when it names one that decodes; a WAV that does not is named
// in the log, or the run would silently measure a second of quiet instead.
std::optional<std::vector<float>> stressSamples() {
    const auto path = environment("QUORVEL_STRESS_WAV");
    if (!path) return std::nullopt;
    WavFile wav = readWavFile(*path);
    if (!wav.samples) Log::warn("QUORVEL_STRESS_WAV " + *path + ": " + wav.error + " — recognising a second of quiet instead");
    return std::move(wav.samples);
}

}  // namespace

std::unique_ptr<Transcriber> makeTranscriber() {
    const ConfigStore config(AppPaths::configURL());
    // Its own request folder: a desktop copy of the program may be using the shared one.
    const Transcriber::Options options{.workerURL = Transcriber::resolveWorker(), .tempDir = Transcriber::runTempDir()};
    return std::make_unique<Transcriber>(
        config.config().pythonPath,
        [] { return workerPrefs(ConfigStore(AppPaths::configURL()).config(), ModelCatalog()); }, options);
}

bool requested() {
    return environment("QUORVEL_TEST_WAVS") || environment("QUORVEL_STRESS") || environment("QUORVEL_PROBE");
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    size_t digits = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (digits == text.size()) return std::nullopt;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return value;
}

bool start(std::function<void(int)> finished) {
    Log::info("headless acceptance mode");
    if (const auto list = environment("QUORVEL_TEST_WAVS")) {
        const std::filesystem::path results = environment("QUORVEL_TEST_OUT").value_or(
            (std::filesystem::path(QDir::tempPath().toStdString()) / "quorvel_test_out.jsonl").string());
        // Released with deleteLater: the run may also end inside WavList::run itself.
        Transcriber* transcriber = makeTranscriber().release();
        WavList::run(*list, results, *transcriber, VocabStore(AppPaths::vocabURL()).corrector(),
                     [transcriber, finished](bool written) {
                         transcriber->deleteLater();
                         finished(written ? 0 : 1);
                     });
        return true;
    }
    const auto stress = environment("QUORVEL_STRESS");
    if (const auto cycles = stress ? parseInteger(*stress) : std::nullopt; cycles && *cycles >= 0) {
        StressRun::run(*cycles, stressSamples(), makeTranscriber(), std::move(finished));
        return true;
    }
    if (stress) Log::warn("QUORVEL_STRESS=" + *stress + " is not a number of cycles; no stress run");
    const auto probe = environment("QUORVEL_PROBE");
    if (!probe) return false;
    if (*probe == "punct")
        ProbeRuns::runPunct(std::move(finished));
    else if (*probe == "pipeline")
        ProbeRuns::runPipeline(std::move(finished));
    else if (*probe == "store_churn")
        StoreChurn::run(std::move(finished));
    else
        ProbeRuns::runProbe(*probe, std::move(finished));
    return true;
}

}  // namespace quorvel::HeadlessRunner
