// History file speed on a realistic 100 000-entry history: reading the newest 300 entries (the
// settings pages), deleting one entry (a full rewrite) and the hourly clean-up when nothing has
// expired (it decodes every line while holding the lock that appends wait for).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "core/HistoryStore.h"

namespace quorvel {
namespace {

constexpr int kEntries = 100000;

// About 200 characters of mixed Russian and English dictation.
std::string dictationText(int i) {
    return "Запись номер " + std::to_string(i) +
           ": отправь, пожалуйста, отчёт по проекту Quorvel до пятницы, and add the meeting notes "
           "from Monday; проверь также deadline для release candidate и напиши Ивану.";
}

HistoryEntry realisticEntry(int i, double createdAt) {
    return HistoryEntry{
        .ts = "2024-05-01 10:00:00",
        .text = dictationText(i),
        .originalText = i % 4 == 0 ? std::optional<std::string>(dictationText(i)) : std::nullopt,
        .elapsedMs = 4200 + i % 900,
        .modeName = "Обычный",
        .audioPath = "/home/user/.local/share/Quorvel/Recordings/rec-" +
                     std::to_string(1714557600 + i) + ".wav",
        .durationMs = 3900 + i % 700,
        .modelName = "gigaam-v2-rnnt",
        .sourceApp = i % 3 ? "firefox" : "org.kde.kate",
        .createdAt = createdAt + i};
}

// A scratch folder holding a 100 000-line history; made once per process.
struct Fixture {
    std::filesystem::path dir;
    std::filesystem::path history;
    std::string content;
    std::vector<std::string> ids;
    std::optional<std::string> savedDataHome;

    Fixture() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
        if (const char* previous = ::getenv("XDG_DATA_HOME")) savedDataHome = previous;
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(),
                 1);  // the store creates the support folder
        history = dir / "history.jsonl";
        for (int i = 0; i < kEntries; ++i) {
            const HistoryEntry entry = realisticEntry(i, 1714557600);
            ids.push_back(entry.id);
            content += entry.toJson().dump() + "\n";
        }
        files::writeAtomically(history, content);
    }
    ~Fixture() {
        savedDataHome ? ::setenv("XDG_DATA_HOME", savedDataHome->c_str(), 1)
                      : ::unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_HistoryRead300(benchmark::State& state) {
    Fixture& f = fixture();
    files::writeAtomically(f.history, f.content);
    const HistoryStore store(f.history, f.dir / "Recordings");
    for (auto _ : state) {
        auto entries = store.read(300);
        if (entries.size() != 300) state.SkipWithError("expected 300 entries");
        benchmark::DoNotOptimize(entries);
    }
}
BENCHMARK(BM_HistoryRead300)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_HistoryDeleteOne(benchmark::State& state) {
    Fixture& f = fixture();
    const HistoryStore store(f.history, f.dir / "Recordings");
    for (auto _ : state) {
        state.PauseTiming();
        files::writeAtomically(f.history, f.content);
        state.ResumeTiming();
        if (store.remove(f.ids[kEntries / 2]).removed != 1) state.SkipWithError("entry not found");
    }
}
BENCHMARK(BM_HistoryDeleteOne)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_HistoryCleanupNothingExpired(benchmark::State& state) {
    Fixture& f = fixture();
    const double now = localtime::nowSeconds();
    std::string fresh;
    for (int i = 0; i < kEntries; ++i) fresh += realisticEntry(i, now - kEntries).toJson().dump() + "\n";
    files::writeAtomically(f.history, fresh);
    const HistoryStore store(f.history, f.dir / "Recordings");
    for (auto _ : state) {
        if (store.cleanup(KeepPolicy::d30).removed != 0) state.SkipWithError("nothing expires");
    }
}
BENCHMARK(BM_HistoryCleanupNothingExpired)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace quorvel
