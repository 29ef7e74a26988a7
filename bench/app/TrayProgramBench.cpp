// The real `quorvel` tray program on a desktop (make bench runs this under
// tests/desktop/with-desktop), in a temporary HOME, with the fake worker of tests/fixtures
// standing in for the recogniser (it answers at once). One program start gives three figures:
// resident memory after 5 s idle (worker not started; target ≤ 80 MB), CPU over the next 20 s
// idle (target ≤ 0.3 % of a core), and the time from the record key's release (held ~1 s with
// XTest over the virtual microphone's silence) until another process's text field shows the
// text (target: median ≤ 80 ms).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QProcess>
#include <QTest>
#include <chrono>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "ScratchHome.h"
#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "support/FieldApp.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr unsigned kSuperR = 134;  // the default record key
constexpr size_t kDictations = 15;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

// The program hands its worker script first; the fake worker takes its place.
fs::path fakePython(const fs::path& home) {
    const fs::path script = home / "fake-python";
    std::ofstream(script) << "#!/bin/sh\nshift\nexec /usr/bin/python3 " QUORVEL_SOURCE_DIR
                             "/tests/fixtures/fake_worker.py \"$@\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

void configure(const fs::path& python) {
    ConfigStore config(AppPaths::configURL());
    config.update([&](AppConfig& c) {
        c.pythonPath = python.string();
        c.modes.front().sttModelID = "pocketsphinx-en-us";  // counts as installed with Debian's package
        c.modes.front().language = "en";
        c.activeModeID = c.modes.front().id;
        c.punctRestore = false;  // no language model here
        c.onboarded = true;      // the first-run panel would take the focus from the field
    });
    config.save();
}

double residentMegabytes(qint64 pid) {
    std::istringstream status(readText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// utime + stime in seconds; the command name in field 2 may hold spaces, so count after ')'.
double cpuSeconds(qint64 pid) {
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field) fields >> skip;
    long long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Holds the record key ~1 s, releases it and returns how long the field took to change.
std::optional<double> releaseToText(_XDisplay* keys, testing::FieldApp& field) {
    testing::fakeKey(keys, kSuperR, true);
    QTest::qWait(1000);
    const std::string before = field.text();
    const auto released = Clock::now();
    testing::fakeKey(keys, kSuperR, false);
    // Short sleeps, not qWaitFor's 10 ms steps: those would be measured too.
    while (field.text() == before) {
        if (Clock::now() - released > std::chrono::seconds(10)) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - released).count();
    QTest::qWait(1500);  // the paster puts the clipboard back before the next dictation
    return seconds;
}

void BM_TrayProgram(benchmark::State& state) {
    bench::ScratchHome home;
    ::setenv("FAKE_WORKER_TEXT", "bench words", 1);
    configure(fakePython(home.dir()));
    _XDisplay* keys = testing::openInjector();
    if (!keys) return state.SkipWithError("no X server with XTest: run under tests/desktop/with-desktop");
    QProcess program;
    program.setStandardOutputFile(QString::fromStdString((home.dir() / "stdout.txt").string()));
    program.setStandardErrorFile(QString::fromStdString((home.dir() / "stderr.txt").string()));
    program.start(QUORVEL_BINARY_DIR "/bin/quorvel", QStringList{});
    auto log = [] { return readText(AppPaths::logURL()); };
    // Ready once the settings window, which comes forward at every launch, is up.
    const bool ready = QTest::qWaitFor([&] { return log().find("окно настроек показано") != std::string::npos; }, 20000);
    QTest::qWait(500);
    for (auto _ : state) {
        if (!ready) {
            state.SkipWithError(("the program did not become ready (another copy running?)\n" + log()).c_str());
            break;
        }
        QTest::qWait(5000);
        state.counters["rss_mb"] = residentMegabytes(program.processId());
        const double cpuBefore = cpuSeconds(program.processId());
        QTest::qWait(20000);
        state.counters["idle_cpu_percent"] = (cpuSeconds(program.processId()) - cpuBefore) / 20.0 * 100.0;

        testing::FieldApp field(home.dir() / "field.txt");
        if (!field.waitUntilFocused() || !releaseToText(keys, field)) {  // the first one starts the worker
            state.SkipWithError(("no text field, or the first dictation put no text in it\n" + log()).c_str());
            break;
        }
        std::vector<double> latencies;
        for (size_t i = 0; i < kDictations; ++i)
            if (const auto seconds = releaseToText(keys, field)) latencies.push_back(*seconds * 1000);
        // Every dictation's text, whether or not the first letter was capitalised.
        if (latencies.size() < kDictations || count(field.text(), "ench words") != kDictations + 1)
            state.SkipWithError(("not every dictation put the worker's text into the field: " + field.text()).c_str());
        std::sort(latencies.begin(), latencies.end());
        const double median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
        state.counters["release_to_text_median_ms"] = median;
        state.counters["release_to_text_max_ms"] = latencies.empty() ? 0 : latencies.back();
        state.SetIterationTime(median / 1000);
    }
    program.terminate();
    if (!program.waitForFinished(10000)) program.kill();
    program.waitForFinished(3000);
    testing::closeInjector(keys);
}
BENCHMARK(BM_TrayProgram)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quorvel
