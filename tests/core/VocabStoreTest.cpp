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
using Pairs = VocabStore::Pairs;

class VocabStoreTest : public testing::TempHome {
  protected:
    static fs::path legacyURL() { return AppPaths::legacyDir() / "vocab.json"; }
    static Pairs load() { return VocabStore(AppPaths::vocabURL()).pairs(); }
};

TEST_F(VocabStoreTest, LegacyFileIsCopiedUnchangedOnceAndUsedAgainOnlyWhenTheNewOneIsBroken) {
    const VocabStore none(AppPaths::vocabURL());
    EXPECT_TRUE(none.pairs().empty());
    EXPECT_TRUE(none.corrector().isEmpty());
    EXPECT_FALSE(fs::exists(AppPaths::supportDir())) << "no files at all create nothing";

    // Formatting and escapes that a re-encoding would not reproduce.
    const std::string legacyBytes =
        "{\n  \"\\u0433\\u043f\\u0442\" : \"GPT\",\n  \"x\": \"y\"\n}\n";
    writeFile(legacyURL(), legacyBytes);
    EXPECT_EQ(load(), (Pairs{{"гпт", "GPT"}, {"x", "y"}}));
    EXPECT_EQ(readFile(AppPaths::vocabURL()), legacyBytes);

    writeFile(legacyURL(), R"({"other":"rule"})");
    EXPECT_EQ(load(), (Pairs{{"гпт", "GPT"}, {"x", "y"}}));
    EXPECT_EQ(readFile(AppPaths::vocabURL()), legacyBytes);

    writeFile(AppPaths::vocabURL(), R"({"a":1})");
    EXPECT_EQ(load(), (Pairs{{"other", "rule"}}));
    EXPECT_EQ(readFile(AppPaths::vocabURL()), R"({"other":"rule"})");
}

TEST_F(VocabStoreTest, MalformedFilesGiveNoRulesAndWriteNothing) {
    const std::vector<std::string> malformed = {
        "", "not json", "[]", R"(["a","b"])", R"("text")", "42", "null", R"({"a":1})",
        R"({"a":"b","c":null})", R"({"a":{"b":"c"}})", R"({"a":["b"]})", R"({"a":"b")",
        "{\"a\":\"\xff\"}"};
    for (const std::string& bytes : malformed) {
        fs::remove_all(AppPaths::supportDir());
        writeFile(legacyURL(), bytes);
        EXPECT_TRUE(load().empty()) << bytes;
        EXPECT_FALSE(fs::exists(AppPaths::vocabURL())) << bytes;

        // A malformed current file with a malformed legacy file: both stay as they are.
        writeFile(AppPaths::vocabURL(), bytes);
        EXPECT_TRUE(load().empty()) << bytes;
        EXPECT_EQ(readFile(AppPaths::vocabURL()), bytes);
    }
}

TEST_F(VocabStoreTest, SavingWritesCompactJsonThatLoadsBackAndAFailedSaveKeepsTheRules) {
    VocabStore store(AppPaths::vocabURL());
    const Pairs pairs = {{"гпт", "GPT"}, {"эээ", ""}, {"quote\"d", "back\\slash"}, {"c++", "$0!"}};
    store.replaceAll(pairs);  // the support folder does not exist yet
    EXPECT_EQ(store.pairs(), pairs);
    const std::string bytes = readFile(AppPaths::vocabURL());
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_EQ(bytes.find(": "), std::string::npos);
    EXPECT_EQ(VocabStore::decode(bytes), pairs);
    EXPECT_EQ(load(), pairs);

    store.setPairs({{"гпт", "GPT"}});
    EXPECT_EQ(load(), pairs) << "setting alone writes nothing";
    EXPECT_EQ(store.corrector().correct("мой гпт эээ"), "мой GPT эээ");
    EXPECT_TRUE(store.save());
    EXPECT_EQ(load(), (Pairs{{"гпт", "GPT"}}));

    // Text that is not UTF-8 still saves.
    store.replaceAll({{"ok", "fine"}, {"bad\xff", "x"}});
    EXPECT_EQ(load(), (Pairs{{"ok", "fine"}, {"bad\xef\xbf\xbd", "x"}}));

    // A failed save keeps the rules in memory.
    VocabStore blocked(writeFile(home() / "blocker", "a file, not a folder") / "vocab.json");
    blocked.replaceAll({{"a", "b"}});
    EXPECT_EQ(blocked.pairs(), (Pairs{{"a", "b"}}));
    EXPECT_FALSE(blocked.save());
}

}  // namespace
}  // namespace quorvel
