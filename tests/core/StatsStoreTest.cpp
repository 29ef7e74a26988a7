#include "core/StatsStore.h"

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

class StatsStoreTest : public testing::TempHome {
  protected:
    static HistoryEntry timed(const std::string& text, int64_t elapsedMs,
                              std::optional<int64_t> durationMs) {
        return HistoryEntry{.text = text, .elapsedMs = elapsedMs, .durationMs = durationMs};
    }
    static std::string wordsText(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += (i % 2 ? "слово " : "word\n");
        return text;
    }
};

TEST_F(StatsStoreTest, StartsFromInitialValuesWithoutAFile) {
    const StatsStore stats(AppPaths::statsURL());
    EXPECT_EQ(stats.wordsTotal(), 0);
    EXPECT_EQ(stats.sessionsTotal(), 0);
    EXPECT_TRUE(stats.appsUsed().empty());
    EXPECT_EQ(stats.typedWPM(), 40);
    EXPECT_EQ(stats.hoursSaved(), 0);
    EXPECT_FALSE(std::filesystem::exists(AppPaths::statsURL()));
}

TEST_F(StatsStoreTest, LoadsPartialFilesAndRejectsWrongTypesAsAWhole) {
    const std::vector<std::tuple<std::string, int64_t, int64_t, size_t, double>> table = {
        {R"({"wordsTotal":120})", 120, 0, 0, 40},
        {R"({"wordsTotal":5,"sessionsTotal":2.0,"appsUsed":["b","a","b"],"typedWPM":55.5})", 5, 2,
         2, 55.5},
        {R"({"wordsTotal":null,"appsUsed":null,"typedWPM":null,"extra":[1]})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"sessionsTotal":"2"})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"appsUsed":["a",1]})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"typedWPM":"fast"})", 0, 0, 0, 40},
        {R"([1,2])", 0, 0, 0, 40},
        {"not json", 0, 0, 0, 40},
    };
    for (const auto& [content, words, sessions, apps, typed] : table) {
        SCOPED_TRACE(content);
        writeFile(AppPaths::statsURL(), content);
        const StatsStore stats(AppPaths::statsURL());
        EXPECT_EQ(stats.wordsTotal(), words);
        EXPECT_EQ(stats.sessionsTotal(), sessions);
        EXPECT_EQ(stats.appsUsed().size(), apps);
        EXPECT_EQ(stats.typedWPM(), typed);
        EXPECT_EQ(readFile(AppPaths::statsURL()), content);  // loading never writes
    }
}

TEST_F(StatsStoreTest, RecordSessionAddsUpAndSavesSortedApps) {
    StatsStore stats(AppPaths::statsURL());
    stats.recordSession(10, std::nullopt);
    EXPECT_EQ(stats.wordsTotal(), 10);
    EXPECT_EQ(stats.sessionsTotal(), 1);
    stats.recordSession(0, std::string());
    EXPECT_TRUE(stats.appsUsed().empty());
    stats.recordSession(3, "Kate");
    stats.recordSession(4, "Firefox");
    stats.recordSession(5, "Kate");
    EXPECT_EQ(stats.appsUsed(), (std::set<std::string>{"Firefox", "Kate"}));
    EXPECT_EQ(
        readFile(AppPaths::statsURL()),
        R"({"wordsTotal":22,"sessionsTotal":5,"appsUsed":["Firefox","Kate"],"typedWPM":40.0})");

    const StatsStore reloaded(AppPaths::statsURL());
    EXPECT_EQ(reloaded.wordsTotal(), 22);
    EXPECT_EQ(reloaded.sessionsTotal(), 5);
    EXPECT_EQ(reloaded.appsUsed(), stats.appsUsed());
}

TEST_F(StatsStoreTest, RecordingManySessionsAtOnceEqualsOneCallEach) {
    const std::vector<StatsStore::Session> sessions = {
        {12, "Kate"}, {0, std::nullopt}, {7, ""}, {30, "Firefox"}, {1, "Kate"}, {9, "konsole"}};
    StatsStore oneByOne(home() / "a" / "stats.json");
    StatsStore batch(home() / "b" / "stats.json");
    files::createDirectories(home() / "a");
    files::createDirectories(home() / "b");
    for (const auto& s : sessions) oneByOne.recordSession(s.words, s.sourceApp);
    batch.recordSessions(sessions);
    EXPECT_EQ(readFile(home() / "b" / "stats.json"), readFile(home() / "a" / "stats.json"));

    // The start-up migration counts words the way the history does.
    std::vector<HistoryEntry> history;
    for (const auto& s : sessions)
        history.push_back(HistoryEntry{.text = wordsText(int(s.words)), .sourceApp = s.sourceApp});
    StatsStore migrated(home() / "c" / "stats.json");
    files::createDirectories(home() / "c");
    migrated.migrateFrom(history);
    EXPECT_EQ(readFile(home() / "c" / "stats.json"), readFile(home() / "a" / "stats.json"));
}

TEST_F(StatsStoreTest, HoursSavedUsesTypingSpeedWithAFloorOfOne) {
    StatsStore stats(AppPaths::statsURL());
    stats.recordSession(2400, std::nullopt);
    EXPECT_DOUBLE_EQ(stats.hoursSaved(), 1.0);
    stats.setTypedWPM(0.5);
    EXPECT_DOUBLE_EQ(stats.hoursSaved(), 40.0);
    EXPECT_EQ(StatsStore(AppPaths::statsURL()).typedWPM(), 0.5);
}

TEST_F(StatsStoreTest, AverageDictationSpeedKeepsPlausibleRatesOnly) {
    EXPECT_EQ(StatsStore::averageDictationWPM({timed(wordsText(30), 0, 6000)}), 300.0);
    EXPECT_FALSE(StatsStore::averageDictationWPM({timed(wordsText(50), 0, 6000)}));    // 500 wpm
    EXPECT_FALSE(StatsStore::averageDictationWPM({timed(wordsText(30), 9000, 500)}));  // too short
    EXPECT_FALSE(StatsStore::averageDictationWPM({timed("", 0, 6000)}));               // no words
    EXPECT_EQ(StatsStore::averageDictationWPM({timed(wordsText(30), 12000, std::nullopt)}), 150.0);
    EXPECT_FALSE(StatsStore::averageDictationWPM({}));
    // Every entry weighs the same: (300 + 150 + 10) / 3, the others left out.
    const auto mean = StatsStore::averageDictationWPM(
        {timed(wordsText(30), 0, 6000), timed(wordsText(30), 12000, std::nullopt),
         timed(wordsText(10), 0, 60000), timed(wordsText(50), 0, 6000),
         timed(wordsText(3), 501, 400)});
    ASSERT_TRUE(mean);
    EXPECT_NEAR(*mean, 460.0 / 3, 1e-9);
}

TEST_F(StatsStoreTest, ShareTextHasTheExactWording) {
    StatsStore stats(AppPaths::statsURL());
    EXPECT_EQ(
        stats.shareText({}),
        "Tovik — статистика (локально, всё время)\nСлов: 0\nСредняя скорость диктовки: — WPM\n"
        "Скорость моей печати: 40 WPM\nПриложений использовано: 0\nСэкономлено времени: 0.0 ч");

    stats.recordSessions({{3000, "Kate"}, {600, "Firefox"}});
    stats.setTypedWPM(62.5);
    EXPECT_EQ(
        stats.shareText({timed(wordsText(30), 0, 6000), timed(wordsText(19), 0, 6000)}),
        "Tovik — статистика (локально, всё время)\nСлов: 3600\nСредняя скорость диктовки: 245 WPM\n"
        "Скорость моей печати: 62 WPM\nПриложений использовано: 2\nСэкономлено времени: 1.0 ч");
}

}  // namespace
}  // namespace quorvel
