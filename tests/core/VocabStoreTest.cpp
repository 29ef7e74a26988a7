#include "core/VocabStore.h"

#include "core/AppPaths.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class VocabStoreTest : public testing::TempHome {
  protected:
    static fs::path legacyURL() { return AppPaths::legacyDir() / "vocab.json"; }
};

TEST_F(VocabStoreTest, LoadsTheVocabularyFile) {
    writeFile(AppPaths::vocabURL(), R"({"гпт":"GPT","эээ":"","a\"b":"c\\d"})");
    writeFile(legacyURL(), R"({"old":"rule"})");

    const VocabStore store(AppPaths::vocabURL());
    const VocabStore::Pairs expected = {{"гпт", "GPT"}, {"эээ", ""}, {"a\"b", "c\\d"}};
    EXPECT_EQ(store.pairs(), expected);
}

TEST_F(VocabStoreTest, LegacyFileIsCopiedUnchangedOnceAndThenTheNewFileIsRead) {
    // Formatting and escapes that a re-encoding would not reproduce.
    const std::string legacyBytes =
        "{\n  \"\\u0433\\u043f\\u0442\" : \"GPT\",\n  \"x\": \"y\"\n}\n";
    writeFile(legacyURL(), legacyBytes);
    {
        const VocabStore store(AppPaths::vocabURL());
        const VocabStore::Pairs expected = {{"гпт", "GPT"}, {"x", "y"}};
        EXPECT_EQ(store.pairs(), expected);
    }
    EXPECT_EQ(readFile(AppPaths::vocabURL()), legacyBytes);

    // The legacy file no longer matters once the new one exists.
    writeFile(legacyURL(), R"({"other":"rule"})");
    const VocabStore again(AppPaths::vocabURL());
    const VocabStore::Pairs expected = {{"гпт", "GPT"}, {"x", "y"}};
    EXPECT_EQ(again.pairs(), expected);
    EXPECT_EQ(readFile(AppPaths::vocabURL()), legacyBytes);
}

TEST_F(VocabStoreTest, UnreadableCurrentFileFallsBackToTheLegacyFile) {
    writeFile(AppPaths::vocabURL(), R"({"a":1})");
    writeFile(legacyURL(), R"({"old":"rule"})");
    const VocabStore store(AppPaths::vocabURL());
    const VocabStore::Pairs expected = {{"old", "rule"}};
    EXPECT_EQ(store.pairs(), expected);
    EXPECT_EQ(readFile(AppPaths::vocabURL()), R"({"old":"rule"})");
}

TEST_F(VocabStoreTest, MalformedFilesGiveNoRulesAndWriteNothing) {
    const std::vector<std::string> malformed = {
        "",
        "not json",
        "[]",
        R"(["a","b"])",
        R"("text")",
        "42",
        "null",
        R"({"a":1})",
        R"({"a":"b","c":null})",
        R"({"a":{"b":"c"}})",
        R"({"a":["b"]})",
        R"({"a":"b")",
        "{\"a\":\"\xff\"}",
    };
    for (const std::string& bytes : malformed) {
        fs::remove_all(AppPaths::supportDir());
        writeFile(legacyURL(), bytes);
        const VocabStore fromLegacy(AppPaths::vocabURL());
        EXPECT_TRUE(fromLegacy.pairs().empty()) << bytes;
        EXPECT_FALSE(fs::exists(AppPaths::vocabURL())) << bytes;

        // A malformed current file with a malformed legacy file: both stay as they are.
        writeFile(AppPaths::vocabURL(), bytes);
        const VocabStore fromBoth(AppPaths::vocabURL());
        EXPECT_TRUE(fromBoth.pairs().empty()) << bytes;
        EXPECT_EQ(readFile(AppPaths::vocabURL()), bytes);
    }
}

TEST_F(VocabStoreTest, NoFilesAtAllGiveNoRulesAndCreateNothing) {
    const VocabStore store(AppPaths::vocabURL());
    EXPECT_TRUE(store.pairs().empty());
    EXPECT_TRUE(store.corrector().isEmpty());
    EXPECT_FALSE(fs::exists(AppPaths::supportDir()));
}

TEST_F(VocabStoreTest, ReplaceAllSavesCompactJsonThatLoadsBack) {
    VocabStore store(AppPaths::vocabURL());
    const VocabStore::Pairs pairs = {
        {"гпт", "GPT"}, {"эээ", ""}, {"quote\"d", "back\\slash"}, {"c++", "$0!"}};
    store.replaceAll(pairs);  // the support folder does not exist yet

    EXPECT_EQ(store.pairs(), pairs);
    const std::string bytes = readFile(AppPaths::vocabURL());
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_EQ(bytes.find(": "), std::string::npos);
    EXPECT_EQ(VocabStore::decode(bytes), pairs);
    EXPECT_EQ(VocabStore(AppPaths::vocabURL()).pairs(), pairs);
}

TEST_F(VocabStoreTest, SaveWritesWhatWasSetAndTheCorrectorFollowsThePairs) {
    VocabStore store(AppPaths::vocabURL());
    store.setPairs({{"гпт", "GPT"}});
    EXPECT_FALSE(fs::exists(AppPaths::vocabURL()));  // setting alone writes nothing
    EXPECT_EQ(store.corrector().correct("мой гпт"), "мой GPT");

    EXPECT_TRUE(store.save());
    const VocabStore::Pairs expected = {{"гпт", "GPT"}};
    EXPECT_EQ(VocabStore(AppPaths::vocabURL()).pairs(), expected);
}

TEST_F(VocabStoreTest, FailedSaveKeepsTheRulesInMemory) {
    const fs::path blocker = writeFile(home() / "blocker", "a file, not a folder");
    VocabStore store(blocker / "vocab.json");
    store.replaceAll({{"a", "b"}});
    const VocabStore::Pairs expected = {{"a", "b"}};
    EXPECT_EQ(store.pairs(), expected);
    EXPECT_FALSE(store.save());
}

TEST_F(VocabStoreTest, TextThatIsNotUtf8StillSaves) {
    VocabStore store(AppPaths::vocabURL());
    store.replaceAll({{"ok", "fine"}, {"bad\xff", "x"}});
    const auto loaded = VocabStore(AppPaths::vocabURL()).pairs();
    const VocabStore::Pairs expected = {{"ok", "fine"}, {"bad\xef\xbf\xbd", "x"}};
    EXPECT_EQ(loaded, expected);
}

}  // namespace
}  // namespace quorvel
