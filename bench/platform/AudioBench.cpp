// Microphone start-up latency: AudioRecorder::start() until the first converted samples are in
// the ring, with the virtual microphone of tests/desktop/with-desktop. Target: at most 150 ms.
// Run under with-desktop; without a sound server the benchmark reports an error. The binary's
// main (with the application object the recorder needs) is shared by the platform benchmarks.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/AudioRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls: the ring is filled by the capture thread, which posts nothing the main loop could wait for.
bool waitForFirstSamples(const quorvel::AudioRecorder& recorder, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (recorder.ring().sampleCount() == 0) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void BM_RecorderStartToFirstSamples(benchmark::State& state) {
    quorvel::AudioRecorder recorder;
    for (auto _ : state) {
        const auto begin = Clock::now();
        if (!recorder.start()) {
            state.SkipWithError("the recorder did not start (no sound server?)");
            break;
        }
        const bool arrived = waitForFirstSamples(recorder, std::chrono::seconds(5));
        const auto elapsed = Clock::now() - begin;
        recorder.stop();
        if (!arrived) {
            state.SkipWithError("no samples within 5 s");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
}
BENCHMARK(BM_RecorderStartToFirstSamples)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
