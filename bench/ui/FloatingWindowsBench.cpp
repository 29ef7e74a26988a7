// Costs of the floating windows. Targets: a process showing the collapsed pill for 20 s uses at
// most 0.2 % of one core and wakes no timer; one frame of the recording pill and one of a
// 32 000-sample waveform 100 px wide take at most 1 ms each. Runs on a desktop (make bench
// uses tests/desktop/with-desktop) or with QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ui/BarsIndicatorView.h"
#include "ui/PillPanel.h"
#include "ui/WaveView.h"

namespace {

using namespace quorvel;

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Counts every timer event the application delivers, except to one timer of our own.
class TimerCounter : public QObject {
public:
    explicit TimerCounter(int ignoredTimerId) : ignored_(ignoredTimerId) { qApp->installEventFilter(this); }
    ~TimerCounter() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer && static_cast<QTimerEvent*>(event)->timerId() != ignored_) ++count;
        return false;
    }

private:
    int ignored_;
};

void BM_CollapsedPillIdle(benchmark::State& state) {
    PillPanel pill;
    pill.applySavedPosition(std::nullopt, std::nullopt);
    pill.setState(PillState::collapsed);
    pill.showWithoutActivating();
    QApplication::processEvents();
    for (auto _ : state) {
        // Let the window settle (expose, first paint) before measuring.
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();

        QEventLoop idle;
        QTimer end;
        end.setSingleShot(true);
        QObject::connect(&end, &QTimer::timeout, &idle, &QEventLoop::quit);
        end.start(20000);
        TimerCounter timers(end.timerId());
        const double before = processCpuSeconds();
        idle.exec();
        const double cpuPercent = (processCpuSeconds() - before) / 20.0 * 100.0;
        state.SetIterationTime(20);
        state.counters["cpu_percent"] = cpuPercent;
        state.counters["timer_wakeups"] = timers.count;
        if (cpuPercent > 0.2 || timers.count > 0) state.SkipWithError("the idle pill costs more than it may");
    }
}
BENCHMARK(BM_CollapsedPillIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_RecordingPillFrame(benchmark::State& state) {
    PillPanel pill;
    pill.setState(PillState::recording);
    QImage frame(pill.size() * pill.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(pill.devicePixelRatio());
    double t = 0;
    for (auto _ : state) {
        pill.bars().pushLevel(static_cast<float>(0.2 + 0.15 * std::sin(t * 7)));
        pill.bars().tick(t);
        frame.fill(Qt::transparent);
        pill.render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
        t += 1.0 / 30;
    }
    pill.hide();
}
BENCHMARK(BM_RecordingPillFrame)->Unit(benchmark::kMicrosecond);

void BM_WaveViewFrame(benchmark::State& state) {
    WaveView wave(nullptr);
    wave.resize(100, 36);
    wave.setRecording(true);
    std::vector<float> samples(32000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(0.4 * std::sin(static_cast<double>(i) / 9));
    wave.appendSamples(samples);
    QImage frame(wave.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        wave.render(&frame);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_WaveViewFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
