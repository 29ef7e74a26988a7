// What the dictation pipeline itself adds to a dictation: the time from the key's release to the
// end of insertion minus the recognition time (the two numbers of the PIPELINE line), for 30 s
// of audio and a worker that answers at once. Real stores, paster and worker client (with the
// fake worker of tests/fixtures); the microphone is scripted and the paste goes to the fake
// text injector (the clipboard is the real one). Target: median ≤ 15 ms. And the same rig over
// 500 dictations in a row, for what grows with them.
#include <benchmark/benchmark.h>

#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <numbers>

#include "ScratchHome.h"
#include "app/DictationPipeline.h"
#include "app/ProcessResources.h"
#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "platform/Paster.h"
#include "platform/fake/FakeSystemQueries.h"
#include "platform/fake/FakeTextInjector.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "support/ModelFixtures.h"
#include "support/ScriptedRecorder.h"
#include "ui/PillPanel.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A 220 Hz tone whose loudness swells and fades twice a second, so trimming and normalising
// have the work they have with speech.
std::vector<float> speechLike(double seconds) {
    std::vector<float> samples(static_cast<size_t>(seconds * 16000));
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000;
        samples[i] = static_cast<float>(0.3 * std::abs(std::sin(2 * std::numbers::pi * t)) *
                                        std::sin(2 * std::numbers::pi * 220 * t));
    }
    return samples;
}

// The model the dictations use, installed in the scratch folder as the built-in one.
fs::path installedModel(const fs::path& dir) {
    const auto model = ModelCatalog::model("pocketsphinx-en-us");
    for (const auto& file : model->files) {
        fs::create_directories((dir / file).parent_path());
        files::writeAtomically(dir / file, testing::modelFileContent(file));
    }
    return dir;
}

// On a busy machine the wall time mostly measures waiting for a core; this does not.
double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct PipelineRig {
    explicit PipelineRig(const fs::path& home)
        : transcriber("/usr/bin/python3", [home] { return WorkerPrefs{(home / "system-model").string(), "nemo", ""}; },
                      Transcriber::Options{.workerURL = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/fake_worker.py",
                                           .tempDir = home / "tmp"}),
          catalog(installedModel(home / "system-model")) {
        queries.frontApplication = "Kate";
        config.update([](AppConfig& c) {
            c.modes.front().sttModelID = "pocketsphinx-en-us";
            c.activeModeID = c.modes.front().id;
            c.punctRestore = false;
        });
    }

    ConfigStore config{AppPaths::configURL()};
    VocabStore vocab{AppPaths::vocabURL()};
    HistoryStore history{AppPaths::historyURL(), AppPaths::recordingsDir()};
    StatsStore stats{AppPaths::statsURL()};
    PressStateMachine machine{0.3};
    testing::ScriptedRecorder recorder;
    PillPanel pill;
    Transcriber transcriber;
    FakeTextInjector injector;
    FakeSystemQueries queries;
    Paster paster{injector, queries};
    ModelCatalog catalog;
    DictationPipeline pipeline{
        PipelineParts{config, vocab, [this]() -> HistoryStore& { return history; }, stats, machine, recorder, pill,
                      [this] { return &transcriber; }, paster, queries, catalog},
        PipelineHooks{}};

    struct Cost {
        double wallSeconds;
        double mainThreadCpuSeconds;
    };
    // Records `samples` and waits for the dictation's end; its cost from the release on.
    // `settle`: waits out the clipboard's restore afterwards.
    std::optional<Cost> dictate(std::vector<float> samples, bool settle = true) {
        QEventLoop loop;
        bool ended = false;
        pipeline.onDictationEnded = [&](bool) { ended = true, loop.quit(); };
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        recorder.next = std::move(samples);
        pipeline.pressDown();
        const auto released = Clock::now();
        const double cpuAtRelease = threadCpuSeconds();
        pipeline.pressUp(30.0);
        if (!ended) loop.exec();
        const Cost cost{std::chrono::duration<double>(Clock::now() - released).count(),
                        threadCpuSeconds() - cpuAtRelease};
        // The fake injector's "target" fetches the pasted text, as a real one does: unfetched,
        // the paster would hold the next paste back. The clipboard's restore after 1.2 s stays
        // out of the next measurement, as it would with a user's pause.
        if (const QMimeData* pasted = QGuiApplication::clipboard()->mimeData()) pasted->text();
        QEventLoop pause;
        QTimer::singleShot(settle ? 1300 : 0, &pause, &QEventLoop::quit);
        pause.exec();
        return ended ? std::optional(cost) : std::nullopt;
    }
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void BM_PipelineOverhead30s(benchmark::State& state) {
    bench::ScratchHome home;
    Log::setFile(home.dir() / "bench.log");
    ::setenv("FAKE_WORKER_TEXT", "привет мир", 1);
    PipelineRig rig(home.dir());
    const std::vector<float> audio = speechLike(30);
    if (!rig.dictate(audio)) return state.SkipWithError("the first dictation did not end");  // starts the worker

    std::vector<double> overheads, recognitions, cpu;
    for (auto _ : state) {
        const auto cost = rig.dictate(audio);
        const auto entries = rig.history.read(1);
        if (!cost || entries.empty()) return state.SkipWithError("a dictation did not reach the history");
        // The history keeps the recognition time in whole milliseconds, as the PIPELINE line does.
        const double recognition = static_cast<double>(entries.front().elapsedMs) / 1000.0;
        const double overhead = cost->wallSeconds - recognition;
        overheads.push_back(overhead * 1000);
        recognitions.push_back(recognition * 1000);
        cpu.push_back(cost->mainThreadCpuSeconds * 1000);
        state.SetIterationTime(overhead);
    }
    state.counters["overhead_median_ms"] = median(overheads);
    state.counters["stt_median_ms"] = median(recognitions);
    // Everything the main thread did from the release on, the request's encoding included.
    state.counters["main_thread_cpu_median_ms"] = median(cpu);
    if (rig.injector.events.size() != overheads.size() + 1) state.SkipWithError("not every dictation was pasted");
    Log::flush();
}
BENCHMARK(BM_PipelineOverhead30s)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// Dictations back to back, the next one as soon as the text is pasted: nothing may grow with
// them. Limits: memory after the first 100 grows by at most 5 MB, and the file descriptors and
// threads at the end are those after the first 100.
void BM_PipelineSoak(benchmark::State& state) {
    constexpr long long kWarmUp = 100;
    bench::ScratchHome home;
    Log::setFile(home.dir() / "bench.log");
    ::setenv("FAKE_WORKER_TEXT", "привет мир", 1);
    PipelineRig rig(home.dir());
    const std::vector<float> audio = speechLike(1);
    long long dictations = 0, failures = 0;
    ProcessResources warm;
    for (auto _ : state) {
        if (!rig.dictate(audio, false)) ++failures;
        if (++dictations == kWarmUp) warm = ProcessResources::now();
    }
    const ProcessResources end = ProcessResources::now();
    Log::info("SOAK RESOURCES: " + ProcessResources::compare(warm, kWarmUp, end));
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["rss_growth_mb"] = end.residentMB - warm.residentMB;
    state.counters["fds_added"] = static_cast<double>(end.fileDescriptors - warm.fileDescriptors);
    state.counters["threads_added"] = static_cast<double>(end.threads - warm.threads);
    if (rig.history.read(dictations).size() != static_cast<size_t>(dictations - failures))
        state.SkipWithError("not every dictation reached the history");
    Log::flush();
}
BENCHMARK(BM_PipelineSoak)->Unit(benchmark::kMillisecond)->Iterations(500);

}  // namespace
}  // namespace quorvel
