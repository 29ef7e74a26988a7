#include "core/StatsStore.h"

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/FileLock.h"
#include "support/ChildProcess.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

class StatsStoreTest : public testing::TempHome {
  protected:
    static HistoryEntry timed(int words, int64_t elapsedMs, std::optional<int64_t> durationMs) {
        return HistoryEntry{
            .text = wordsText(words), .elapsedMs = elapsedMs, .durationMs = durationMs};
    }
    static std::string wordsText(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += (i % 2 ? "слово " : "word\n");
        return text;
    }
    // A stats file in a folder of its own.
    std::filesystem::path freshURL(const char* folder) const {
        files::createDirectories(home() / folder);
        return home() / folder / "stats.json";
    }
};

TEST_F(StatsStoreTest, LoadsPartialFilesRejectsWrongTypesAsAWholeAndNeverWrites) {
    const std::vector<std::tuple<std::string, int64_t, int64_t, size_t, double>> table = {
        {"", 0, 0, 0, 40},  // no file
        {R"({"wordsTotal":120})", 120, 0, 0, 40},
        {R"({"wordsTotal":5,"sessionsTotal":2.0,"appsUsed":["b","a","b"],"typedWPM":55.5})", 5, 2,
         2, 55.5},
        {R"({"wordsTotal":null,"appsUsed":null,"typedWPM":null,"extra":[1]})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"sessionsTotal":"2"})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"appsUsed":["a",1]})", 0, 0, 0, 40},
        {R"({"wordsTotal":5,"typedWPM":"fast"})", 0, 0, 0, 40},
        {R"([1,2])", 0, 0, 0, 40},
        {"not json", 0, 0, 0, 40}};
    for (const auto& [content, words, sessions, apps, typed] : table) {
        SCOPED_TRACE(content);
        if (!content.empty()) writeFile(AppPaths::statsURL(), content);
        const StatsStore stats(AppPaths::statsURL());
        EXPECT_EQ(stats.wordsTotal(), words);
        EXPECT_EQ(stats.sessionsTotal(), sessions);
        EXPECT_EQ(stats.appsUsed().size(), apps);
        EXPECT_EQ(stats.typedWPM(), typed);
        if (content.empty()) EXPECT_FALSE(std::filesystem::exists(AppPaths::statsURL()));
        else EXPECT_EQ(readFile(AppPaths::statsURL()), content);
    }
}

TEST_F(StatsStoreTest, RecordSessionAddsUpSavesSortedAppsAndGivesHoursSaved) {
    StatsStore stats(AppPaths::statsURL());
    stats.recordSession(10, std::nullopt);
    stats.recordSession(0, std::string());
    stats.recordSession(3, "Kate");
    stats.recordSession(4, "Firefox");
    stats.recordSession(5, "Kate");
    EXPECT_EQ(stats.appsUsed(), (std::set<std::string>{"Firefox", "Kate"}));
    EXPECT_EQ(
        readFile(AppPaths::statsURL()),
        R"({"wordsTotal":22,"sessionsTotal":5,"appsUsed":["Firefox","Kate"],"typedWPM":40.0})");

    // Hours saved use the typing speed, with a floor of one word a minute.
    stats.recordSession(2378, std::nullopt);
    EXPECT_DOUBLE_EQ(stats.hoursSaved(), 1.0);
    stats.setTypedWPM(0.5);
    EXPECT_DOUBLE_EQ(stats.hoursSaved(), 40.0);
    EXPECT_EQ(StatsStore(AppPaths::statsURL()).typedWPM(), 0.5);

    // A name that is not UTF-8 (window classes are Latin-1) must not stop every later save.
    stats.recordSession(1, "Caf\xE9");
    stats.recordSession(1, "Kate");
    const StatsStore reloaded(AppPaths::statsURL());
    EXPECT_EQ(reloaded.sessionsTotal(), 8);
    EXPECT_EQ(reloaded.appsUsed().count("Caf\uFFFD"), 1u);
}

// The batch and the start-up migration (which counts words the way the history does) must
// leave the same file as one call per session.
TEST_F(StatsStoreTest, RecordingManySessionsAtOnceOrMigratingEqualsOneCallEach) {
    const std::vector<StatsStore::Session> sessions = {
        {12, "Kate"}, {0, std::nullopt}, {7, ""}, {30, "Firefox"}, {1, "Kate"}, {9, "konsole"}};
    StatsStore oneByOne(freshURL("a")), batch(freshURL("b")), migrated(freshURL("c"));
    std::vector<HistoryEntry> history;
    for (const auto& s : sessions) {
        oneByOne.recordSession(s.words, s.sourceApp);
        history.push_back(HistoryEntry{.text = wordsText(int(s.words)), .sourceApp = s.sourceApp});
    }
    batch.recordSessions(sessions);
    migrated.migrateFrom(history);
    EXPECT_EQ(readFile(freshURL("b")), readFile(freshURL("a")));
    EXPECT_EQ(readFile(freshURL("c")), readFile(freshURL("a")));
}

// Two running copies of the program (say, a headless run beside the tray program) each
// counting sessions: every one of them ends up in the file.
TEST_F(StatsStoreTest, TwoProcessesRecordingAtOnceLoseNoSession) {
    StatsStore before(AppPaths::statsURL());  // opened before either writes
    const auto writer = [](const char* app) {
        return [app] {
            StatsStore stats(AppPaths::statsURL());  // each opens the file once, as the program does
            for (int i = 0; i < 100; ++i) stats.recordSession(2, std::string(app));
            return 0;
        };
    };
    const pid_t first = testing::startChild(writer("Kate"));
    const pid_t second = testing::startChild(writer("Firefox"));
    EXPECT_EQ(testing::waitChild(first), 0);
    EXPECT_EQ(testing::waitChild(second), 0);
    const StatsStore after(AppPaths::statsURL());
    EXPECT_EQ(after.sessionsTotal(), 200);
    EXPECT_EQ(after.wordsTotal(), 400);
    EXPECT_EQ(after.appsUsed(), (std::set<std::string>{"Firefox", "Kate"}));
    // A store opened earlier adds to what is in the file now, not to what it once read.
    before.recordSession(1, std::nullopt);
    EXPECT_EQ(StatsStore(AppPaths::statsURL()).sessionsTotal(), 201);
}

TEST_F(StatsStoreTest, AverageDictationSpeedKeepsPlausibleRatesOnly) {
    EXPECT_FALSE(StatsStore::averageDictationWPM({}));
    // Too fast (400 wpm), too short (500 ms or less; the recording's length wins over the
    // time taken) or without words: nothing to average.
    EXPECT_FALSE(StatsStore::averageDictationWPM(
        {timed(40, 0, 6000), timed(30, 9000, 500), timed(2, 500, std::nullopt), timed(0, 0, 6000)}));
    // Every entry weighs the same: (300 + 150 + 10 + 1 / (501 / 60000)) / 4, the others left out.
    const auto mean = StatsStore::averageDictationWPM(
        {timed(30, 0, 6000), timed(30, 12000, std::nullopt), timed(10, 0, 60000), timed(1, 0, 501),
         timed(40, 0, 6000), timed(3, 501, 400), timed(0, 0, 6000)});
    ASSERT_TRUE(mean);
    EXPECT_NEAR(*mean, (460.0 + 60000.0 / 501) / 4, 1e-9);
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
        stats.shareText({timed(30, 0, 6000), timed(19, 0, 6000)}),
        "Tovik — статистика (локально, всё время)\nСлов: 3600\nСредняя скорость диктовки: 245 WPM\n"
        "Скорость моей печати: 62 WPM\nПриложений использовано: 2\nСэкономлено времени: 1.0 ч");
}

// A session that could not be saved (full disk, or another process held the lock for longer
// than the wait, say stopped in the middle of its own save) is saved with the next one: never
// written over what that other process saved, never dropped when the file is read again.
TEST_F(StatsStoreTest, ASessionThatCouldNotBeSavedIsSavedWithTheNextOne) {
    for (const bool fullDisk : {true, false}) {
        SCOPED_TRACE(fullDisk ? "full disk" : "lock held by a stopped process");
        const auto url = freshURL(fullDisk ? "full" : "locked");
        writeFile(url, R"({"sessionsTotal":10})");
        StatsStore stats(url, std::chrono::milliseconds(20));
        {
            std::optional<testing::FileSizeLimit> full;
            std::optional<FileLock> otherProcess;
            if (fullDisk) full.emplace(8);
            else otherProcess.emplace(url);
            stats.recordSession(1, "Kate");
            EXPECT_EQ(stats.sessionsTotal(), 11);
            // The other process's own save, from what it read before this one tried.
            if (!fullDisk) writeFile(url, R"({"sessionsTotal":20})");
        }
        stats.recordSession(1, std::nullopt);
        EXPECT_EQ(stats.sessionsTotal(), fullDisk ? 12 : 22);
        const StatsStore saved(url);
        EXPECT_EQ(saved.sessionsTotal(), fullDisk ? 12 : 22);
        EXPECT_EQ(saved.appsUsed(), std::set<std::string>{"Kate"});
    }
}

}  // namespace
}  // namespace quorvel
