#include <sys/stat.h>

#include <regex>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/LocalTime.h"
#include "core/Unicode.h"
#include "core/Uuid.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using testing::TempHome;

TEST(Uuid, GeneratesDistinctCanonicalVersion4AndCanonicalAcceptsOnlyWellFormedText) {
    const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    const std::string a = uuid::generate(), b = uuid::generate();
    EXPECT_TRUE(std::regex_match(a, shape)) << a;
    EXPECT_NE(a, b);
    EXPECT_EQ(uuid::canonical(a), a);
    EXPECT_EQ(uuid::canonical("3f2504e0-4f89-41d3-9a0c-0305e82c3301"),
              "3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    for (const char* bad : {"", "3f2504e0-4f89-41d3-9a0c-0305e82c330",
                            "3f2504e0x4f89-41d3-9a0c-0305e82c3301",
                            "3g2504e0-4f89-41d3-9a0c-0305e82c3301"})
        EXPECT_FALSE(uuid::canonical(bad)) << bad;
}

TEST(Unicode, WordCountAndCaseMappingCoverAllOfUnicode) {
    // no-break space, em space and line separator separate words as well
    const std::pair<const char*, int64_t> counts[] = {
        {"", 0}, {" \n\t ", 0}, {"one", 1}, {"  привет,  мир!\nещё\tраз ", 4},
        {"a\u00A0b\u2003c\u2028d", 4}, {"emoji 👍🏽 counts", 3}};
    for (const auto& [text, words] : counts) EXPECT_EQ(unicode::wordCount(text), words) << text;
    EXPECT_EQ(unicode::toUpper("ßtraße"), "SSTRASSE");
    EXPECT_EQ(unicode::toLower("ГПТ Gpt"), "гпт gpt");
    EXPECT_EQ(unicode::foldCase("Straße"), "strasse");
    EXPECT_TRUE(unicode::isValidUtf8("привет 👍"));
    EXPECT_FALSE(unicode::isValidUtf8("\xD0"));
    EXPECT_FALSE(unicode::isValidUtf8("a\xFF" "b"));
    EXPECT_EQ(unicode::codePointCount("яa👍"), 3);
}

TEST(LocalTime, FormatsLocalWallClock) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(localtime::format(0), "1970-01-01 00:00:00");
    EXPECT_EQ(localtime::format(1700000000.9), "2023-11-14 22:13:20");
    EXPECT_EQ(localtime::formatWithMillis(1700000000.25), "2023-11-14 22:13:20.250");
    ::unsetenv("TZ");
    ::tzset();
}

class Files : public TempHome {};

TEST_F(Files, AtomicWriteReplacesTheWholeFileLeavesNoTemporariesAndNeedsTheFolder) {
    const auto target = home() / "data" / "f.json";
    EXPECT_FALSE(files::writeAtomically(target, "x"));
    EXPECT_FALSE(files::readWhole(target));
    EXPECT_FALSE(files::readWhole(home()));  // a folder is not a file
    files::createDirectories(target.parent_path());
    ASSERT_TRUE(files::writeAtomically(target, "first version, rather long"));
    ::chmod(target.c_str(), 0640);
    ASSERT_TRUE(files::writeAtomically(target, "second"));
    EXPECT_EQ(files::readWhole(target), "second");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "an existing file keeps its permissions";
    const auto entries = std::distance(std::filesystem::directory_iterator(target.parent_path()),
                                       std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
}

TEST_F(Files, AtomicWriteGoesThroughSymbolicLinks) {
    const auto real = home() / "dotfiles" / "config.json";
    files::createDirectories(real.parent_path());
    files::createDirectories(home() / "app");
    ASSERT_TRUE(files::writeAtomically(real, "old"));
    const auto link = home() / "app" / "config.json";
    std::filesystem::create_symlink("../dotfiles/config.json", link);
    ASSERT_TRUE(files::writeAtomically(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(files::readWhole(real), "new");
}

TEST_F(Files, PathsFollowHomeAndXdgVariables) {
    EXPECT_EQ(AppPaths::configURL(), home() / ".local/share/Quorvel/config.json");
    EXPECT_EQ(AppPaths::legacyDir(), home() / "quorvel");
    EXPECT_EQ(AppPaths::logURL(), home() / ".local/state/Quorvel/quorvelmac.log");
    EXPECT_EQ(AppPaths::modelsDir(), home() / "quorvelkit/Models");
    ::setenv("XDG_DATA_HOME", (home() / "data").c_str(), 1);
    EXPECT_EQ(AppPaths::historyURL(), home() / "data/Quorvel/history.jsonl");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(AppPaths::recordingsDir(), home() / ".local/share/Quorvel/Recordings");
    EXPECT_FALSE(std::filesystem::exists(AppPaths::supportDir())) << "paths never create anything";
}

}  // namespace
}  // namespace quorvel
