// Start-up migration of the statistics from a 100 000-entry history: count every entry's words
// and applications, then write the file once.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchScratch.h"
#include "core/StatsStore.h"

namespace quorvel {
namespace {

std::vector<HistoryEntry> realisticHistory(int count) {
    std::vector<HistoryEntry> history;
    history.reserve(static_cast<size_t>(count));
    const char* apps[] = {"firefox", "org.kde.kate", "konsole", "Telegram", "code"};
    for (int i = 0; i < count; ++i) {
        history.push_back(HistoryEntry{
            .text =
                "Запись номер " + std::to_string(i) +
                ": отправь, пожалуйста, отчёт по проекту Quorvel до пятницы, and add the meeting "
                "notes from Monday; проверь также deadline для release candidate и напиши Ивану.",
            .elapsedMs = 4200,
            .sourceApp = apps[i % 5]});
    }
    return history;
}

void BM_StatsMigration100k(benchmark::State& state) {
    const std::vector<HistoryEntry> history = realisticHistory(100000);
    const bench::ScratchFolder scratch;
    const std::filesystem::path& dir = scratch.dir();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(dir / "stats.json");
        StatsStore stats(dir / "stats.json");
        state.ResumeTiming();
        stats.migrateFrom(history);
        if (stats.sessionsTotal() != 100000) state.SkipWithError("wrong session count");
    }
}
BENCHMARK(BM_StatsMigration100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace quorvel
