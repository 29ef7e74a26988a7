#include "app/StoreChurn.h"

#include <QObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "app/HeadlessRunner.h"
#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "services/Log.h"

namespace quorvel::StoreChurn {
namespace {

constexpr std::string_view kEntryPrefix = "churn round ";
constexpr size_t kNewestLinesScanned = 8;  // a torn last line counts against the read's limit

long long highestRound(const HistoryStore& history) {
    long long highest = 0;
    for (const HistoryEntry& entry : history.read(kNewestLinesScanned)) {
        if (!entry.text.starts_with(kEntryPrefix)) continue;
        if (const auto n = HeadlessRunner::parseInteger(entry.text.substr(kEntryPrefix.size())))
            highest = std::max(highest, *n);
    }
    return highest;
}

// The stores are opened in the order the program opens them at start.
class Churn : public QObject {
public:
    explicit Churn(std::function<void(int)> finished)
        : finished_(std::move(finished)),
          config_(AppPaths::configURL()),
          vocab_(AppPaths::vocabURL()),
          history_(AppPaths::historyURL(), AppPaths::recordingsDir()),
          stats_(AppPaths::statsURL()),
          round_(highestRound(history_)) {
        Log::info("store churn: going on after round " + std::to_string(round_));
    }

    void next() {
        const std::string n = std::to_string(++round_);
        config_.update([&](AppConfig& config) { config.ollamaModel = "churn-" + n; });
        VocabStore::Pairs rules = vocab_.pairs();
        rules["churn" + n] = "round " + n;
        vocab_.setPairs(std::move(rules));
        // A round that cannot be saved (a read-only or full folder) must never be acknowledged.
        if (!vocab_.save()) return stop("round " + n + " cannot be saved to " + AppPaths::vocabURL().string());
        const std::string text = std::string(kEntryPrefix) + n;
        stats_.recordSession(3, "churn");
        history_.append(HistoryEntry{.text = text, .modeName = "churn", .sourceApp = "churn"});
        std::printf("churn %s\n", n.c_str());
        std::fflush(stdout);
        QTimer::singleShot(0, this, [this] { next(); });
    }

private:
    void stop(const std::string& why) {
        Log::error("store churn: " + why);
        std::fprintf(stderr, "store churn: %s\n", why.c_str());
        finished_(1);
    }

    std::function<void(int)> finished_;
    ConfigStore config_;
    VocabStore vocab_;
    HistoryStore history_;
    StatsStore stats_;
    long long round_;
};

}  // namespace

void run(std::function<void(int)> finished) {
    HeadlessRunner::keepUntilQuit(std::make_unique<Churn>(std::move(finished)))->next();
}

}  // namespace quorvel::StoreChurn
