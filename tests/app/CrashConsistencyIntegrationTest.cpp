// The `quorvel` binary killed at random moments while it saves its settings, vocabulary and
// statistics and appends to its history (the store churn run): after every kill each file
// still loads as it was last saved, and the history has every acknowledged entry exactly once.
#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <thread>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

constexpr int kKills = 200;

class CrashConsistencyTest : public testing::TempHome {
protected:
    // Starts the churn, waits for its first acknowledged round, kills it `delayMs` later and
    // returns the highest round it acknowledged.
    long long churnAndKill(int delayMs) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QUORVEL_TEST_WAVS", "QUORVEL_STRESS", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(name);
        env.insert("QUORVEL_PROBE", "store_churn");
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QString(QUORVEL_BINARY_DIR) + "/bin/quorvel", QStringList{});
        QByteArray output;
        while (!output.contains("churn ") && process.waitForReadyRead(30000)) output += process.readAllStandardOutput();
        EXPECT_TRUE(output.contains("churn ")) << "no round acknowledged\n" << readFile(AppPaths::logURL());
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(30000);
        output += process.readAllStandardOutput();
        long long highest = 0;
        const std::string text = output.toStdString();
        const std::regex line("churn (\\d+)\n");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
            highest = std::max(highest, std::stoll((*it)[1]));
        return highest;
    }

    // The history's highest round, after checking its lines against what was acknowledged.
    long long checkHistory(long long acknowledged) {
        const std::string bytes = readFile(AppPaths::historyURL());
        std::map<long long, int> seen;
        size_t index = 0;
        for (size_t start = 0; start < bytes.size(); ++index) {
            const size_t end = std::min(bytes.find('\n', start), bytes.size());
            const std::string line = bytes.substr(start, end - start);
            const bool last = end + 1 >= bytes.size();
            start = end + 1;
            EXPECT_EQ(line.find("churn round "), line.rfind("churn round ")) << "entries glued together on line " << index << ": " << line;
            const auto entry = nlohmann::json::parse(line, nullptr, false);
            if (entry.is_discarded()) {
                // Torn by a kill: allowed as the last line, and where a kill once left the last line.
                EXPECT_TRUE(last || tornLines_.count(index)) << "line " << index << " does not decode: " << line;
                if (last) tornLines_.insert(index);
                continue;
            }
            ++seen[std::stoll(entry.value("text", "").substr(std::string("churn round ").size()))];
        }
        for (const auto& [round, count] : seen) EXPECT_EQ(count, 1) << "round " << round << " in the history " << count << " times";
        for (long long round = 1; round <= acknowledged; ++round) EXPECT_TRUE(seen.count(round)) << "acknowledged round " << round << " lost";
        return seen.empty() ? 0 : seen.rbegin()->first;
    }

    // Each store's file decodes and holds the last round's values or the next one's: not the
    // defaults a failed load falls back to.
    void checkStores(long long round, int kills) {
        const auto dir = AppPaths::supportDir();
        for (const auto& file : {AppPaths::configURL(), AppPaths::vocabURL(), AppPaths::statsURL()})
            EXPECT_TRUE(nlohmann::json::accept(readFile(file))) << file << ":\n" << readFile(file);
        const std::string model = ConfigStore(AppPaths::configURL()).config().ollamaModel;
        EXPECT_TRUE(model == "churn-" + std::to_string(round) || model == "churn-" + std::to_string(round + 1)) << model << ", round " << round;
        const auto rules = static_cast<long long>(VocabStore(AppPaths::vocabURL()).pairs().size());
        EXPECT_TRUE(rules >= std::max(rules_, round) && rules <= round + 1) << rules << " rules after " << rules_ << ", round " << round;
        const int64_t sessions = StatsStore(AppPaths::statsURL()).sessionsTotal();
        // A round killed between its session and its entry is done again: one more session.
        EXPECT_TRUE(sessions >= std::max<int64_t>(sessions_, round) && sessions <= round + kills) << sessions << " sessions after " << sessions_;
        rules_ = rules;
        sessions_ = sessions;
        size_t temporaries = 0;
        for (const auto& item : std::filesystem::directory_iterator(dir)) {
            const std::string name = item.path().filename().string();
            EXPECT_EQ(name.find(".unreadable"), std::string::npos) << "a store fell back to its defaults: " << name;
            temporaries += name.find(".tmp-") != std::string::npos;
        }
        EXPECT_LE(temporaries, 1u) << "temporary files left beside the stores";
    }

    std::set<size_t> tornLines_;
    long long rules_ = 0;
    int64_t sessions_ = 0;
};

TEST_F(CrashConsistencyTest, EveryFileLoadsAsLastSavedAfterEachOfManyKills) {
    const char* fixed = std::getenv("QUORVEL_CHURN_SEED");
    const unsigned seed = fixed ? static_cast<unsigned>(std::stoul(fixed)) : std::random_device{}();
    std::printf("seed %u (QUORVEL_CHURN_SEED repeats it)\n", seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(5, 150);
    long long acknowledged = 0;
    for (int kill = 1; kill <= kKills && !HasFailure(); ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
        acknowledged = std::max(acknowledged, churnAndKill(delayMs(random)));
        checkStores(checkHistory(acknowledged), kill);
    }
    EXPECT_GT(acknowledged, kKills);
}

}  // namespace
}  // namespace quorvel
