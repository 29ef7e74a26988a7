// Hot-key latency on a real X server: a key injected with XTest (and flushed) until the record
// key's onToggleDown runs on the main thread. Run under tests/desktop/with-desktop.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/HotkeyManager.h"
#include "platform/x11/X11KeyListener.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

using testing::closeInjector;
using testing::fakeKey;
using testing::openInjector;

constexpr unsigned kSuperR = 134;

// Runs the main event loop until `done` or two seconds; false on time-out.
template <typename Done>
bool runUntil(Done done) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;  // bounds each wait when nothing arrives
    wake.start(50);
    while (!done()) {
        if (clock.elapsed() > 2000) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

void BM_InjectedKeyToToggleDown(benchmark::State& state) {
    _XDisplay* display = openInjector();
    if (!display) {
        state.SkipWithError("needs an X server with XTest");
        return;
    }
    // The injected keys are another program's synthetic keys: the listener takes them.
    HotkeyManager manager([](KeySourceKind) { return std::make_unique<X11KeyListener>(); });
    int downs = 0, ups = 0;
    std::chrono::steady_clock::time_point arrived;
    manager.onToggleDown = [&] {
        arrived = std::chrono::steady_clock::now();
        ++downs;
    };
    manager.onToggleUp = [&](double) { ++ups; };
    if (!manager.startTap()) {
        closeInjector(display);
        state.SkipWithError("XInput2 listener did not start");
        return;
    }
    std::vector<double> millis;
    for (auto _ : state) {
        const auto sent = std::chrono::steady_clock::now();
        fakeKey(display, kSuperR, true);
        if (!runUntil([&] { return downs == ups + 1; })) {
            state.SkipWithError("onToggleDown did not arrive");
            break;
        }
        const double seconds = std::chrono::duration<double>(arrived - sent).count();
        state.SetIterationTime(seconds);
        millis.push_back(seconds * 1000);
        fakeKey(display, kSuperR, false);
        if (!runUntil([&] { return ups == downs; })) {
            state.SkipWithError("onToggleUp did not arrive");
            break;
        }
    }
    state.counters["p50_ms"] = percentile(millis, 0.50);
    state.counters["p99_ms"] = percentile(millis, 0.99);
    state.counters["max_ms"] = percentile(millis, 1.0);
    closeInjector(display);
}
BENCHMARK(BM_InjectedKeyToToggleDown)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel
