// ConfigStore: load and save of a configuration with 20 modes (each save is a durable write).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/ConfigStore.h"

namespace {

using namespace quorvel;

void BM_ConfigLoadSave20Modes(benchmark::State& state) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-config-bench-XXXXXX").string();
    const std::filesystem::path dir = ::mkdtemp(tmpl.data());
    const auto file = dir / "config.json";
    {
        AppConfig config;
        config.modes.clear();
        for (int i = 0; i < 20; ++i) {
            DictationMode mode;
            mode.name = "Режим " + std::to_string(i);
            mode.prompt = "Перепиши в деловом стиле, сохрани смысл и термины проекта.";
            mode.activateApps = {"Slack", "Telegram", "Code"};
            mode.shortcut = KeyCombo{18 + i % 10, KeyCombo::maskCtrl | KeyCombo::maskOpt, 0};
            config.modes.push_back(mode);
        }
        ConfigStore(file).replace(config);
    }
    for (auto _ : state) {
        ConfigStore store(file);
        store.update([](AppConfig& c) { c.soundVolume = c.soundVolume == 0.8 ? 0.7 : 0.8; });
        benchmark::DoNotOptimize(store.config().modes.size());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ConfigLoadSave20Modes)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
