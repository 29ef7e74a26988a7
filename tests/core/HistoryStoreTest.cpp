#include "core/HistoryStore.h"

#include <algorithm>
#include <regex>

#include "core/AppPaths.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

constexpr double kDay = 86400;
using Texts = std::vector<std::string>;

class HistoryStoreTest : public testing::TempHome {
  protected:
    HistoryStore makeStore() const {
        return HistoryStore(AppPaths::historyURL(), AppPaths::recordingsDir());
    }

    static HistoryEntry entry(const std::string& text, double ageSeconds = 0,
                              std::optional<std::string> audio = std::nullopt) {
        return HistoryEntry{.ts = "2024-01-01 12:00:00", .text = text, .elapsedMs = 1000,
                            .modeName = "m", .audioPath = std::move(audio),
                            .createdAt = localtime::nowSeconds() - ageSeconds};
    }

    static std::string line(const HistoryEntry& e) { return e.toJson().dump() + "\n"; }

    static Texts texts(const std::vector<HistoryEntry>& entries) {
        Texts out;
        for (const auto& e : entries) out.push_back(e.text);
        return out;
    }

    static size_t lineCount(const std::string& content) {
        return static_cast<size_t>(std::count(content.begin(), content.end(), '\n'));
    }
};

TEST_F(HistoryStoreTest, AppendCreatesTheFileFillsAnEmptyTimeKeepsBadUtf8AndMendsATornLine) {
    const auto recordings = home() / "elsewhere" / "rec";
    const HistoryStore store(AppPaths::historyURL(), recordings);
    EXPECT_TRUE(std::filesystem::is_directory(recordings));
    EXPECT_TRUE(std::filesystem::is_directory(AppPaths::supportDir()));

    // A stray byte (say, in another program's window name) must not cost the dictation.
    HistoryEntry odd = entry("bad \xFF byte");
    odd.sourceApp = "Caf\xE9";
    ASSERT_TRUE(store.append(odd));
    const auto kept = store.read(1);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].text, "bad \uFFFD byte");
    EXPECT_EQ(kept[0].sourceApp, "Caf\uFFFD");
    std::filesystem::remove(store.url());
    HistoryEntry first = entry("first");
    first.ts = "";
    ASSERT_TRUE(store.append(first));
    ASSERT_TRUE(store.append(entry("second")));
    const std::string content = readFile(store.url());
    EXPECT_EQ(lineCount(content), 2u);
    const auto entries = store.read(10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].ts, "2024-01-01 12:00:00");
    EXPECT_TRUE(std::regex_match(entries[1].ts, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << entries[1].ts;
    EXPECT_EQ(entries[1].id, first.id);

    writeFile(store.url(), content + R"({"id":"3F2504E0-4F89-41D3-9A0C-03)");  // a torn last line
    ASSERT_TRUE(store.append(entry("third")));
    EXPECT_EQ(texts(store.read(10)), (Texts{"third", "second", "first"}));
    EXPECT_EQ(lineCount(readFile(store.url())), 4u);
}

// Lines longer than a read block, empty lines and a missing final line feed.
TEST_F(HistoryStoreTest, ReadGivesTheNewestLinesFirstAcrossBlocksAndBlankLines) {
    const HistoryStore store = makeStore();
    EXPECT_TRUE(store.read(300).empty());  // no file yet
    std::string content = "\n\n";
    Texts expected;  // newest first
    for (int i = 0; i < 40; ++i) {
        const std::string padding(i % 7 == 0 ? 70000 : 3000, 'x');
        content += line(entry(std::to_string(i) + padding)) + (i % 5 == 0 ? "\n\n" : "");
        expected.insert(expected.begin(), std::to_string(i));
    }
    content.pop_back();
    writeFile(store.url(), content);
    for (size_t limit : {0u, 1u, 2u, 7u, 39u, 40u, 41u, 100000u}) {
        Texts got;
        for (const auto& e : store.read(limit)) got.push_back(e.text.substr(0, e.text.find('x')));
        EXPECT_EQ(got, Texts(expected.begin(), expected.begin() + std::min<size_t>(limit, 40)))
            << "limit " << limit;
    }
}

TEST_F(HistoryStoreTest, UndecodableLinesAreSkippedButCountAgainstTheLimit) {
    const HistoryStore store = makeStore();
    writeFile(store.url(), line(entry("a")) + line(entry("b")) + "{broken\n" +
                               R"({"text":7})" + "\n{\"text\":\"bad \xFF\"}\n" + line(entry("c")));
    EXPECT_EQ(texts(store.read(10)), (Texts{"c", "b", "a"}));
    // The last four lines hold one good entry; one stray byte does not hide the rest of the file.
    EXPECT_EQ(texts(store.read(4)), (Texts{"c"}));
    EXPECT_EQ(texts(store.read(5)), (Texts{"c", "b"}));
}

TEST_F(HistoryStoreTest, RemoveMatchesIdsInAnyCaseDeletesTheAudioAndDropsCorruptLines) {
    const HistoryStore store = makeStore();
    const auto audio = writeFile(store.recordingsDir() / "rec-1.wav", "RIFF");
    const HistoryEntry doomed = entry("doomed", 0, audio.string());
    // The decoy holds an id's text, but not as its own id.
    const std::string decoyId = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const std::string content = line(entry("a")) + "garbage\n\n\xC3\x28\n" + line(doomed) +
                                line(HistoryEntry{.text = decoyId});
    writeFile(store.url(), content);
    for (const std::string& unknown : {decoyId, std::string("not an id")})
        EXPECT_FALSE(store.remove(unknown)) << unknown;
    EXPECT_EQ(readFile(store.url()), content) << "an unknown id leaves the file byte for byte";

    std::string lower = doomed.id;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_TRUE(store.remove(lower));
    EXPECT_FALSE(std::filesystem::exists(audio));
    EXPECT_EQ(texts(store.read(10)), (Texts{decoyId, "a"}));
    EXPECT_EQ(lineCount(readFile(store.url())), 2u);
    EXPECT_FALSE(store.remove(doomed.id));
}

// A rewrite writes every surviving entry exactly as an append would have written it.
TEST_F(HistoryStoreTest, RewrittenLinesAreTheCanonicalEncodingOfEachEntry) {
    const HistoryStore store = makeStore();
    std::vector<HistoryEntry> kept;
    for (double createdAt : {1714557600.123456, 1714557600.0, 1e21, 4.9e-324}) {
        kept.push_back(HistoryEntry{
            .text = "quote \" backslash \\ slash / tab\t lf\n cr\r bell\x07 del\x7F \x01 ё 👍",
            .originalText = "\b\f\x1F", .elapsedMs = -5, .translatedTo = "en",
            .durationMs = INT64_MAX, .modelName = "", .sourceApp = "App \"X\"",
            .createdAt = createdAt});
    }
    const std::string handWritten =
        R"({"createdAt":1714557600,"elapsedMs":2.0,"text":"hand\u0439\/",)"
        R"("id":"3f2504e0-4f89-41d3-9a0c-0305e82c3301","extra":{"a":[1]}})";
    kept.push_back(HistoryEntry::fromJson(json::Json::parse(handWritten)));
    const HistoryEntry doomed = entry("doomed");

    std::string content, expected;
    for (size_t i = 0; i + 1 < kept.size(); ++i) content += line(kept[i]);
    content += handWritten + "\n" + line(doomed);
    for (const auto& e : kept) expected += line(e);
    writeFile(store.url(), content);
    ASSERT_TRUE(store.remove(doomed.id));
    EXPECT_EQ(readFile(store.url()), expected);
}

TEST_F(HistoryStoreTest, CleanupRemovesExpiredEntriesWithTheirAudioAndDatesUndatedOnes) {
    const HistoryStore store = makeStore();
    const auto oldAudio = writeFile(store.recordingsDir() / "rec-old.wav", "RIFF");
    const auto newAudio = writeFile(store.recordingsDir() / "rec-new.wav", "RIFF");
    const auto orphan = writeFile(store.recordingsDir() / "rec-orphan.wav", "RIFF");
    writeFile(store.url(), line(entry("old", 31 * kDay, oldAudio.string())) +
                               line(entry("new", 29 * kDay, newAudio.string())) +
                               R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","text":"undated"})"
                               "\nnot json\n");
    const double before = localtime::nowSeconds();
    EXPECT_EQ(store.cleanup(KeepPolicy::d30), 1u);
    EXPECT_EQ(texts(store.read(10)), (Texts{"undated", "new"}));
    const std::string after = readFile(store.url());
    EXPECT_EQ(lineCount(after), 2u);
    const auto undated = json::Json::parse(after.substr(after.find('\n') + 1));
    EXPECT_GE(undated.value("createdAt", 0.0), before) << "written back with a creation time";
    EXPECT_FALSE(std::filesystem::exists(oldAudio));
    EXPECT_TRUE(std::filesystem::exists(newAudio));
    EXPECT_TRUE(std::filesystem::exists(orphan));

    const std::string content = line(entry("ancient", 3650 * kDay)) + "garbage\n";
    writeFile(store.url(), content);
    EXPECT_EQ(store.cleanup(KeepPolicy::forever), 0u);
    EXPECT_EQ(readFile(store.url()), content);
}

TEST(KeepPolicy, RawValuesAndRetention) {
    const std::vector<std::tuple<KeepPolicy, std::string, std::optional<int64_t>>> table = {
        {KeepPolicy::forever, "forever", std::nullopt}, {KeepPolicy::d30, "30d", 2592000},
        {KeepPolicy::d7, "7d", 604800}};
    for (const auto& [policy, raw, seconds] : table) {
        EXPECT_EQ(policy.rawValue(), raw);
        EXPECT_EQ(policy.retentionSeconds(), seconds);
        EXPECT_EQ(KeepPolicy::fromRaw(raw), policy);
    }
    for (const char* unknown : {"14d", "", "Forever", "30D", " 7d"})
        EXPECT_FALSE(KeepPolicy::fromRaw(unknown)) << unknown;
}

// The rewrite after a delete or clean-up works from the whole file, not only its newest lines.
TEST_F(HistoryStoreTest, RemoveAndCleanupKeepEntriesBeyondTheNewestHundredThousand) {
    const HistoryStore store = makeStore();
    constexpr int kLines = 100010;
    std::vector<std::string> ids;
    std::string content;
    content.reserve(kLines * 120);
    const std::string now = std::to_string(localtime::nowSeconds());
    for (int i = 0; i < kLines; ++i) {
        ids.push_back(uuid::generate());
        content += R"({"id":")" + ids.back() + R"(","ts":"","text":"entry )" + std::to_string(i) +
                   R"(","elapsedMs":0,"modeName":"","createdAt":)" + now + "}\n";
    }
    writeFile(store.url(), content);

    EXPECT_TRUE(store.remove(ids[3]));  // among the oldest ten
    EXPECT_EQ(store.cleanup(KeepPolicy::d30), 0u);
    const std::string after = readFile(store.url());
    EXPECT_EQ(lineCount(after), size_t{kLines - 1});
    EXPECT_EQ(after.find(ids[3]), std::string::npos);
    for (int i : {0, 2, 4, 9, 10, kLines - 1})
        EXPECT_NE(after.find(ids[i]), std::string::npos) << i;
    EXPECT_EQ(texts(store.read(1)), (Texts{"entry " + std::to_string(kLines - 1)}));
}

}  // namespace
}  // namespace quorvel
