// Speed of the audio path: the clean-up of a finished recording, the per-buffer capture
// conversion, WAV writing and decoding, and the ring write the capture thread does while the
// main thread takes a snapshot.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/AudioProcessing.h"
#include "core/CaptureConverter.h"
#include "core/RingBuffer.h"
#include "core/WavDecoder.h"
#include "core/WavWriter.h"

namespace quorvel {
namespace {

constexpr int kRate = 16000;

// Syllable-like bursts: a few harmonics under a 4 Hz envelope, pauses between phrases, room
// noise throughout and a second of silence at both ends.
std::vector<float> speechLike(double seconds, int rate = kRate) {
    const auto n = static_cast<size_t>(seconds * rate);
    std::vector<float> s(n);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.002f);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const bool speaking = t > 1.0 && t < seconds - 1.0 && std::fmod(t, 6.0) < 5.0;
        double v = 0.0;
        if (speaking) {
            const double envelope = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * 4.0 * t));
            const double f0 = 120.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.5 * t);
            for (int h = 1; h <= 4; ++h) v += std::sin(2.0 * std::numbers::pi * f0 * h * t) / h;
            v *= 0.15 * envelope;
        }
        s[i] = static_cast<float>(v) + noise(rng);
    }
    return s;
}

void BM_TrimAndNormalize120s(benchmark::State& state) {
    const std::vector<float> recording = speechLike(120.0);
    for (auto _ : state) {
        std::vector<float> trimmed = AudioProcessing::trimSilence(recording, 0.008f, 30, 150, kRate);
        std::vector<float> out = AudioProcessing::normalize(std::move(trimmed), 0.2f, 0.95f);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_TrimAndNormalize120s)->Unit(benchmark::kMillisecond);

// One 4096-frame buffer of 48 kHz planar stereo per iteration; "realtime" is how many seconds
// of audio are converted per second.
void BM_CaptureResample48kStereo(benchmark::State& state) {
    constexpr size_t kFrames = 4096;
    const std::vector<float> left = speechLike(static_cast<double>(kFrames) / 48000.0, 48000);
    std::vector<float> right(left.rbegin(), left.rend());
    const float* channels[] = {left.data(), right.data()};
    const auto buffer = CaptureBuffer::planar(channels, kFrames, 48000.0);
    std::vector<float> out;
    out.reserve(kFrames);
    for (auto _ : state) {
        CaptureConverter::resample(buffer, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / 48000.0,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CaptureResample48kStereo);

std::filesystem::path makeTempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return std::filesystem::temp_directory_path();
    return tmpl;
}

void BM_WavWrite120s(benchmark::State& state) {
    const std::vector<float> recording = speechLike(120.0);
    const auto folder = makeTempFolder();
    const auto file = folder / "rec-bench.wav";
    for (auto _ : state) {
        if (WavWriter::write(recording, kRate, file)) state.SkipWithError("WAV write failed");
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_WavWrite120s)->Unit(benchmark::kMillisecond);

// 60 s of 44.1 kHz stereo 16-bit, built by hand (the writer only makes mono).
std::string stereoWav44k(double seconds) {
    const auto frames = static_cast<uint32_t>(seconds * 44100);
    const std::vector<float> mono = speechLike(seconds, 44100);
    const auto le = [](std::string& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    std::string b = "RIFF";
    le(b, 36 + frames * 4, 4);
    b += "WAVEfmt ";
    le(b, 16, 4);
    le(b, 1, 2);
    le(b, 2, 2);
    le(b, 44100, 4);
    le(b, 44100 * 4, 4);
    le(b, 4, 2);
    le(b, 16, 2);
    b += "data";
    le(b, frames * 4, 4);
    for (uint32_t f = 0; f < frames; ++f) {
        const auto v = static_cast<uint16_t>(WavWriter::toPcm16(mono[f]));
        le(b, v, 2);
        le(b, static_cast<uint16_t>(-static_cast<int16_t>(v) / 2), 2);
    }
    return b;
}

void BM_DecodeWav60sStereo44k(benchmark::State& state) {
    const std::string bytes = stereoWav44k(60.0);
    for (auto _ : state) {
        auto samples = decodeWav(bytes);
        benchmark::DoNotOptimize(samples);
    }
}
BENCHMARK(BM_DecodeWav60sStereo44k)->Unit(benchmark::kMillisecond);

// The capture thread's write of one converted block into the full recorder ring while another
// thread takes snapshots back to back (far more often than the controller ever does). Each write
// is timed on its own; the time reported is their mean, and the counters give the median and the
// worst, which is bounded by one whole-ring snapshot copy.
void BM_RingWriteWhileSnapshotting(benchmark::State& state) {
    RingBuffer ring(RingBuffer::kRecorderCapacity);
    const std::vector<float> fill(RingBuffer::kRecorderCapacity, 0.1f);
    ring.write(fill);
    const std::vector<float> block(4096, 0.25f);
    std::atomic<bool> stop{false};
    std::atomic<int64_t> snapshots{0};
    std::thread reader([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            benchmark::DoNotOptimize(ring.snapshot().data());
            snapshots.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ring.write(block);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        if (micros.size() < micros.capacity()) micros.push_back(took.count() * 1e6);
    }
    stop = true;
    reader.join();
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
        state.counters["max_us"] = micros.back();
    }
    state.counters["snapshots"] = static_cast<double>(snapshots.load());
}
BENCHMARK(BM_RingWriteWhileSnapshotting)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel
