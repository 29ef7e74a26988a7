// Costs of the settings window over a realistic store: its first show with 300 recordings (each
// with its audio), 1 000 vocabulary rules and every catalog model installed (target ≤ 400 ms); one
// switch to another page, painted (≤ 50 ms); and deleting a recording from a 100 000-entry
// history, where the main thread must not wait for the file to be rewritten. Runs on a desktop
// (make bench uses tests/desktop/with-desktop) or with QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ScratchHome.h"
#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "core/WavWriter.h"
#include "services/ModelStore.h"
#include "support/ModelFixtures.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsWindow.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct QuietActions : SettingsActions {
    void configChanged() override {}
    void runTypingTest() override {}
    void shareStats() override {}
    std::string checkForUpdates() override { return {}; }
    bool launchOnLogin() override { return false; }
    bool setLaunchOnLogin(bool enabled) override { return enabled; }
    void pasteToPreviousApp(const std::string&) override {}
    void restartWorker() override {}
    void openSystemSettings(SystemSettings::Permission) override {}
};

// The user's stores in a scratch HOME: `entries` recordings (the newest 300 with a second of
// audio each), 1 000 vocabulary rules and a valid copy of every catalog model.
class Stores {
public:
    explicit Stores(int entries) {
        const std::string audio = WavWriter::encode(std::vector<float>(16000, 0.1f), 16000).value_or("");
        for (int i = 0; i < entries; ++i) {
            HistoryEntry entry{.ts = "2024-05-01 10:00:00",
                               .text = "Запись " + std::to_string(i) + ": пришли, пожалуйста, отчёт до пятницы "
                                       "and add the meeting notes from Monday.",
                               .originalText = i % 4 ? std::nullopt : std::optional<std::string>("запись"),
                               .elapsedMs = 4200 + i % 900,
                               .modeName = "Обычный",
                               .durationMs = 3900 + i % 700,
                               .modelName = "gigaam-v2-rnnt",
                               .sourceApp = "firefox",
                               .createdAt = 1714557600.0 + i};
            if (entries - i <= static_cast<int>(SettingsModel::kHistoryLimit)) {
                entry.audioPath = "rec-" + std::to_string(i) + ".wav";
                std::ofstream(AppPaths::recordingsDir() / *entry.audioPath, std::ios::binary) << audio;
            }
            historyLines_ += entry.toJson().dump() + "\n";
        }
        restoreHistory();
        VocabStore::Pairs rules;
        for (int i = 0; i < 1000; ++i) rules["термин " + std::to_string(i)] = "term " + std::to_string(i);
        vocab.replaceAll(std::move(rules));
        for (const STTModel& entry : ModelCatalog::all()) {
            for (const std::string& file : entry.files) {
                const auto path = ModelCatalog::modelsDir() / entry.dirName / file;
                std::filesystem::create_directories(path.parent_path());
                std::ofstream(path, std::ios::binary) << testing::modelFileContent(file);
            }
        }
    }
    // Puts the history file back as it was made (a deletion rewrote it).
    void restoreHistory() const { files::writeAtomically(AppPaths::historyURL(), historyLines_); }

    std::unique_ptr<SettingsModel> settingsModel() {
        return std::make_unique<SettingsModel>(config, vocab, history, stats, models, actions);
    }

private:
    bench::ScratchHome home_;  // first: the stores below live in it
    std::string historyLines_;

public:
    ConfigStore config{AppPaths::configURL()};
    VocabStore vocab{AppPaths::vocabURL()};
    HistoryStore history{AppPaths::historyURL(), AppPaths::recordingsDir()};
    StatsStore stats{AppPaths::statsURL()};
    ModelStore models{ModelCatalog(home_.dir() / "no-system-model")};
    QuietActions actions;
};

void reportMedian(benchmark::State& state, const char* name, const std::vector<double>& ms, double target) {
    state.counters[name] = median(ms);
    if (median(ms) > target) state.SetLabel(std::string(name) + " over its target");
}

void BM_SettingsFirstShow(benchmark::State& state) {
    Stores stores(300);
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto model = stores.settingsModel();
        SettingsWindow window(*model);
        window.present();
        if (!QTest::qWaitForWindowExposed(&window)) state.SkipWithError("the window never showed");
        QApplication::processEvents();
        times.push_back(msSince(start));
        state.SetIterationTime(times.back() / 1000);
        if (times.size() == 1) state.counters["first_ms"] = times.back();
    }
    reportMedian(state, "median_ms", times, 400);
}
BENCHMARK(BM_SettingsFirstShow)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SettingsPageSwitch(benchmark::State& state) {
    Stores stores(300);
    auto model = stores.settingsModel();
    SettingsWindow window(*model);
    window.present();
    if (!QTest::qWaitForWindowExposed(&window)) state.SkipWithError("the window never showed");
    std::vector<double> times;
    std::vector<double> slowest(SettingsWindow::meetings, 0);
    int next = SettingsWindow::home;
    for (auto _ : state) {
        next = (next + 1) % SettingsWindow::meetings;
        const auto start = Clock::now();
        window.showSection(next);
        window.repaint();
        times.push_back(msSince(start));
        slowest[static_cast<std::size_t>(next)] = std::max(slowest[static_cast<std::size_t>(next)], times.back());
        state.SetIterationTime(times.back() / 1000);
        QApplication::processEvents();  // what the page queued for later (further cards, checks)
    }
    reportMedian(state, "median_ms", times, 50);
    const char* names[] = {"home", "modes", "vocab", "config", "sound", "models", "history"};
    for (std::size_t i = 0; i < slowest.size(); ++i) state.counters[std::string("max_ms_") + names[i]] = slowest[i];
}
BENCHMARK(BM_SettingsPageSwitch)->Iterations(70)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SettingsDeleteFromLongHistory(benchmark::State& state) {
    Stores stores(100000);
    auto model = stores.settingsModel();
    SettingsWindow window(*model, SettingsWindow::history);
    window.present();
    if (!QTest::qWaitForWindowExposed(&window)) state.SkipWithError("the window never showed");
    std::vector<double> mainThread, background;
    for (auto _ : state) {
        stores.restoreHistory();
        model->reloadHistory();
        QApplication::processEvents();
        const std::string id = model->history().at(2).id;
        const auto start = Clock::now();
        model->deleteEntry(id);
        mainThread.push_back(msSince(start));
        state.SetIterationTime(mainThread.back() / 1000);
        while (model->removalsPending()) QTest::qWait(1);
        background.push_back(msSince(start));
        if (std::ranges::any_of(stores.history.read(3), [&](const HistoryEntry& e) { return e.id == id; }))
            state.SkipWithError("the entry is still in the file");
    }
    state.counters["main_thread_median_ms"] = median(mainThread);
    state.counters["background_median_ms"] = median(background);
}
BENCHMARK(BM_SettingsDeleteFromLongHistory)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel
