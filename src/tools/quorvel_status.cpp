// quorvel-status: loads the user's configuration, vocabulary, history and statistics from their
// real locations and prints a readable summary. It changes nothing beyond what the stores do
// whenever they are opened: the one-time import of the earlier generation's files and the
// creation of the support and recordings folders.

#include <cstdio>
#include <iostream>
#include <string>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/KeepPolicy.h"
#include "core/ModeRules.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "core/WorkerPrefs.h"

namespace {

using namespace quorvel;

void printPath(const char* label, const std::filesystem::path& path) {
    std::error_code ec;
    const bool present = std::filesystem::exists(path, ec);
    std::printf("  %-14s %s%s\n", label, path.c_str(), present ? "" : "  (not created yet)");
}

void printPaths(const AppConfig& config) {
    std::printf("Locations\n");
    printPath("support", AppPaths::supportDir());
    printPath("config", AppPaths::configURL());
    printPath("vocabulary", AppPaths::vocabURL());
    printPath("history", AppPaths::historyURL());
    printPath("statistics", AppPaths::statsURL());
    printPath("recordings", config.recordingsDirectory());
    printPath("log", AppPaths::logURL());
    printPath("models", AppPaths::modelsDir());
}

void printModes(const AppConfig& config) {
    const DictationMode active = ModeRules::activeMode(config);
    std::printf("\nModes (%zu)\n", config.modes.size());
    const ModelCatalog catalog;
    for (const auto& mode : config.modes) {
        const std::string model = chosenModelID(mode, config);
        const auto entry = ModelCatalog::model(model);
        const char* installed = entry && catalog.isDownloaded(*entry) ? "" : ", not installed";
        std::printf("  %s %s%s  [language %s, model %s%s]\n", mode.id == active.id ? "*" : " ",
                    mode.name.empty() ? "(unnamed)" : mode.name.c_str(), mode.enabled ? "" : " (disabled)",
                    mode.language.c_str(), model.c_str(), installed);
    }
    std::printf("  active mode:   %s\n", active.name.c_str());
    std::printf("  record key:    %s, cancel: %s, next mode: %s\n", config.keyToggle.label().c_str(),
                config.keyCancel.label().c_str(), config.keyMode.label().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: %s\n  prints a summary of the user's Tovik data\n", argv[0]);
        return std::string(argv[1]) == "--help" ? 0 : 2;
    }
    const ConfigStore configStore(AppPaths::configURL());
    const AppConfig& config = configStore.config();
    const VocabStore vocab(AppPaths::vocabURL());
    const HistoryStore history(AppPaths::historyURL(),
                               config.recordingsDirectory());
    const StatsStore stats(AppPaths::statsURL());
    const auto entries = history.read(100000);

    std::printf("Tovik (Quorvel) — local dictation: user data summary\n\n");
    printPaths(config);
    printModes(config);
    std::printf("\nRecognition model: %s, interface language: %s, keep recordings: %s\n",
                config.sttModelID.c_str(), config.uiLanguage.c_str(), config.keepRecordings.c_str());
    std::printf("Vocabulary rules:  %zu\n", vocab.pairs().size());
    std::printf("History entries:   %zu\n", entries.size());
    std::printf("Words dictated:    %lld in %lld sessions\n", static_cast<long long>(stats.wordsTotal()),
                static_cast<long long>(stats.sessionsTotal()));
    std::printf("\n%s\n", stats.shareText(entries).c_str());
    return 0;
}
