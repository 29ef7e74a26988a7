// Worker client figures: the overhead of transcribe → completion for 30 s of audio with a worker
// that answers at once (the fake worker), and the embedded recogniser's load time and decode
// time as a fraction of the audio length (flite speech).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/WavDecoder.h"
#include "services/Log.h"
#include "services/Transcriber.h"

namespace {

using namespace quorvel;
namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path dir = [] {
        std::string tmpl = (fs::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        return fs::path(::mkdtemp(tmpl.data()));
    }();
    return dir;
}

std::unique_ptr<Transcriber> makeTranscriber(const fs::path& script, WorkerPrefs prefs) {
    Transcriber::Options options{.workerURL = script, .tempDir = scratch() / "tmp"};
    return std::make_unique<Transcriber>("/usr/bin/python3", [prefs] { return prefs; }, options);
}

// Runs one request to completion; returns the wall time in seconds.
double timeRequest(Transcriber& transcriber, std::vector<float> samples, std::string* text = nullptr) {
    // A local event loop, not QTest::qWaitFor: its polling sleeps would be measured too.
    bool done = false;
    QEventLoop loop;
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    transcriber.transcribe(std::move(samples), [&](std::optional<std::string> result) {
        if (text) *text = result.value_or("");
        done = true;
        loop.quit();
    });
    if (!done) loop.exec();
    if (!done) return -1;
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

void BM_TranscribeOverhead30s(benchmark::State& state) {
    fs::create_directories(scratch() / "model");
    auto transcriber = makeTranscriber(QUORVEL_SOURCE_DIR "/tests/fixtures/fake_worker.py",
                                       WorkerPrefs{(scratch() / "model").string(), "nemo", "ru"});
    const std::vector<float> samples(30 * 16000, 0.25f);
    timeRequest(*transcriber, samples);  // start the worker outside the measurement
    for (auto _ : state) {
        const double seconds = timeRequest(*transcriber, samples);
        if (seconds < 0) return state.SkipWithError("the fake worker did not answer");
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_TranscribeOverhead30s)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

std::vector<float> fliteSpeech() {
    const fs::path wav = scratch() / "speech.wav";
    const std::string command = "flite -voice kal16 -t 'The meeting is moved to Thursday afternoon, please tell "
                                "everyone on the team and bring the quarterly report.' -o " + wav.string();
    if (std::system(command.c_str()) != 0) return {};
    std::ifstream in(wav, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return decodeWav(bytes).value_or(std::vector<float>{});
}

void BM_EmbeddedWorker(benchmark::State& state) {
    const auto speech = fliteSpeech();
    if (speech.empty()) return state.SkipWithError("flite speech could not be made");
    const double seconds = static_cast<double>(speech.size()) / 16000.0;
    double load = 0, decodeRatio = 0;
    for (auto _ : state) {
        auto transcriber = makeTranscriber(QUORVEL_SOURCE_DIR "/worker/stt_worker.py",
                                           {"/usr/share/pocketsphinx/model/en-us", "pocketsphinx", "en"});
        QElapsedTimer clock;
        clock.start();
        transcriber->restart();
        if (!QTest::qWaitFor([&] { return transcriber->state() != Transcriber::State::starting; }, 60000))
            return state.SkipWithError("the embedded worker did not start");
        load = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        std::string text;
        decodeRatio = timeRequest(*transcriber, speech, &text) / seconds;
        state.SetIterationTime(load);
        if (text.empty()) state.SkipWithError("the embedded worker recognised nothing");
    }
    state.counters["load_s"] = load;
    state.counters["decode_x_audio"] = decodeRatio;
    state.counters["audio_s"] = seconds;
}
BENCHMARK(BM_EmbeddedWorker)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Log::setFile(scratch() / "bench.log");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Log::flush();
    fs::remove_all(scratch());
    return 0;
}
