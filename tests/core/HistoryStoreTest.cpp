#include "core/HistoryStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "core/AppPaths.h"
#include "core/FileLock.h"
#include "support/CoreLogCapture.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

constexpr double kDay = 86400;
using Texts = std::vector<std::string>;
using Removal = HistoryStore::Removal;

using testing::FileSizeLimit;

ino_t inode(const std::filesystem::path& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_ino;
}

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

    // The texts, cut short so that a failure does not print megabytes.
    static Texts texts(const std::vector<HistoryEntry>& entries) {
        Texts out;
        for (const auto& e : entries) out.push_back(e.text.substr(0, 80));
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

    // A pipe in the file's place would swallow every entry without a trace.
    std::filesystem::remove(store.url());
    ASSERT_EQ(::mkfifo(store.url().c_str(), 0600), 0);
    const testing::CoreLogCapture log;
    store.append(entry("into a pipe"));
    EXPECT_EQ(log.count(corelog::Level::Error, store.url().string()), 1u);
}

// Lines longer than a read block, empty lines and a missing final line feed; lines that do not
// decode or are too long are skipped but count against the limit.
TEST_F(HistoryStoreTest, ReadGivesTheNewestLinesFirstAcrossBlocksAndSkipsUndecodableLines) {
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

    // A line too long to read counts like one that does not decode, even when it would decode.
    const std::string giant = line(entry(std::string(HistoryStore::kMaxLineBytes, 'x')));
    writeFile(store.url(), line(entry("a")) + line(entry("b")) + giant + "{broken\n" +
                               R"({"text":7})" + "\n{\"text\":\"bad \xFF\"}\n" + line(entry("c")));
    EXPECT_EQ(texts(store.read(10)), (Texts{"c", "b", "a"}));
    // The last five lines hold one good entry; one stray byte does not hide the rest of the file.
    EXPECT_EQ(texts(store.read(5)), (Texts{"c"}));
    EXPECT_EQ(texts(store.read(6)), (Texts{"c", "b"}));
}

// Whatever a delete or clean-up does not mean to remove stays byte for byte: lines that do not
// decode, fields of an unexpected type, hand-written entries, lines too long to read, blank
// lines, entries without a date and a torn last line.
TEST_F(HistoryStoreTest, RemoveMatchesIdsInAnyCaseAndWithCleanupKeepsEveryOtherLineByteForByte) {
    const HistoryStore store = makeStore();
    const std::string decoyId = "3F2504E0-4F89-41D3-9A0C-0305E82C33FF";  // as text, not as its id
    const std::vector<std::string> kept = {
        line(entry(decoyId)),
        "{broken\n",
        R"({"text":7,"createdAt":0})" "\n",
        "{\"text\":\"bad \xFF\",\"createdAt\":0}\n",
        "\n\n",
        R"({"createdAt":4102444800,"elapsedMs":2.0,"text":"hand\u0439\/",)"
        R"("id":"3f2504e0-4f89-41d3-9a0c-0305e82c3301","extra":{"a":[1]}})" "\n",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3302","text":"undated"})" "\n",
        line(entry("expired but too long " + std::string(HistoryStore::kMaxLineBytes, 'x'),
                   40 * kDay)),
        line(entry("fresh")),
        R"({"id":"3F2504E0-4F89-41D3-9A0C-03)",
    };
    const auto audio = writeFile(store.recordingsDir() / "rec-1.wav", "RIFF");
    const HistoryEntry byId = entry("by id", 0, audio.string());
    // The last two hide their real age from a quick look at the text.
    const std::vector<std::string> doomed = {
        line(byId), line(entry("old", 40 * kDay)), line(entry("older", 400 * kDay)),
        R"({"extra":{"createdAt":4102444800},"createdAt":0})" "\n",
        R"({"extra":{"createdAt":4102444800},"\u0063reatedAt":0})" "\n"};
    std::string content, expected;
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i < doomed.size()) content += doomed[i];
        content += kept[i];
        expected += kept[i];
    }
    writeFile(store.url(), content);
    const ino_t original = inode(store.url());
    for (const std::string& unknown : {decoyId, std::string("not an id")})
        EXPECT_EQ(store.remove(unknown), Removal{}) << unknown;
    EXPECT_EQ(inode(store.url()), original) << "an unknown id leaves the file alone";
    std::string lower = byId.id;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(store.remove(lower), Removal{.removed = 1});
    EXPECT_FALSE(std::filesystem::exists(audio));
    EXPECT_EQ(store.remove(byId.id), Removal{});
    EXPECT_EQ(store.cleanup(KeepPolicy::d30), Removal{.removed = 4});
    EXPECT_TRUE(readFile(store.url()) == expected);  // not printed: megabytes
}

TEST_F(HistoryStoreTest, CleanupRemovesExpiredEntriesThenTheirAudioAndRewritesOnlyOnChange) {
    const HistoryStore store = makeStore();
    const auto oldAudio = writeFile(store.recordingsDir() / "rec-old.wav", "RIFF");
    const auto newAudio = writeFile(store.recordingsDir() / "rec-new.wav", "RIFF");
    const auto orphan = writeFile(store.recordingsDir() / "rec-orphan.wav", "RIFF");
    const std::string kept = line(entry("new", 29 * kDay, newAudio.string())) + "not json\n";
    writeFile(store.url(), line(entry("old", 31 * kDay, oldAudio.string())) + kept);
    EXPECT_EQ(store.cleanup(KeepPolicy::d30), Removal{.removed = 1});
    EXPECT_EQ(readFile(store.url()), kept);
    EXPECT_FALSE(std::filesystem::exists(oldAudio));
    EXPECT_TRUE(std::filesystem::exists(newAudio));
    EXPECT_TRUE(std::filesystem::exists(orphan));

    const ino_t original = inode(store.url());
    EXPECT_EQ(store.cleanup(KeepPolicy::d30), Removal{});
    EXPECT_EQ(inode(store.url()), original) << "nothing expired: no rewrite";
    const std::string content = line(entry("ancient", 3650 * kDay)) + "garbage\n";
    writeFile(store.url(), content);
    EXPECT_EQ(store.cleanup(KeepPolicy::forever), Removal{});
    EXPECT_EQ(readFile(store.url()), content);
    // The configuration names a policy by its exact raw text only.
    EXPECT_EQ(KeepPolicy::fromRaw(KeepPolicy(KeepPolicy::d7).rawValue()), KeepPolicy::d7);
    EXPECT_FALSE(KeepPolicy::fromRaw("30D"));
}

// On a full disk, or when the lock cannot be had (as in a read-only folder), nothing is removed:
// not the lines, not the audio; the caller is told, and no temporary file is left behind.
TEST_F(HistoryStoreTest, AFailedRewriteIsReportedAndKeepsTheFileAndTheAudio) {
    const HistoryStore store = makeStore();
    const auto lockFile = FileLock::lockFileFor(store.url());
    // No lock: something other than a file stands in the lock file's place.
    for (const char* fault : {"full disk", "folder as lock", "pipe as lock"}) {
        SCOPED_TRACE(fault);
        const bool fullDisk = fault == std::string_view("full disk");
        const auto audio = writeFile(store.recordingsDir() / "rec-1.wav", "RIFF");
        const HistoryEntry doomed = entry("doomed", 40 * kDay, audio.string());
        const std::string content = line(entry("a")) + line(doomed) + line(entry("b"));
        writeFile(store.url(), content);
        std::filesystem::remove_all(lockFile);
        if (fault == std::string_view("folder as lock")) std::filesystem::create_directory(lockFile);
        if (fault == std::string_view("pipe as lock")) {
            ASSERT_EQ(::mkfifo(lockFile.c_str(), 0600), 0);
        }
        {
            std::optional<FileSizeLimit> limit;
            if (fullDisk) limit.emplace(content.size() / 2);
            EXPECT_EQ(store.remove(doomed.id), Removal{.failed = true});
            EXPECT_EQ(store.cleanup(KeepPolicy::d7), Removal{.failed = true});
        }
        EXPECT_EQ(readFile(store.url()), content);
        EXPECT_TRUE(std::filesystem::exists(audio));
        for (const auto& item : std::filesystem::directory_iterator(store.url().parent_path()))
            EXPECT_EQ(item.path().filename().string().find(".tmp-"), std::string::npos) << item.path();
    }
}

}  // namespace
}  // namespace quorvel
