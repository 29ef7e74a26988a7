#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/LocalTime.h"
#include "core/StatsStore.h"
#include "core/Unicode.h"
#include "core/Uuid.h"
#include "core/VocabStore.h"
#include "support/ChildProcess.h"
#include "support/CoreLogCapture.h"
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

TEST_F(Files, AtomicWriteReplacesTheWholeFileLeavesNoTemporariesNeedsTheFolderAndFollowsLinks) {
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

    // A link (say, into a dotfiles folder) is written through, and stays a link.
    const auto link = home() / "app" / "config.json";
    files::createDirectories(link.parent_path());
    std::filesystem::create_symlink("../data/f.json", link);
    ASSERT_TRUE(files::writeAtomically(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(files::readWhole(target), "new");
    std::filesystem::create_symlink("loop.json", link.parent_path() / "loop.json");
    EXPECT_FALSE(files::writeAtomically(link.parent_path() / "loop.json", "x")) << "a loop of links stays as it is";
    EXPECT_TRUE(std::filesystem::is_symlink(link.parent_path() / "loop.json"));
}

// Only a missing file means defaults. A store that finds its file but cannot use it works with
// the defaults in memory, logs an ERROR naming the file, and never saves over it.
TEST_F(Files, StoresNeverSaveOverAFileTheyCannotRead) {
    namespace fs = std::filesystem;
    struct Store {
        const char* name;
        std::string content;  // the user's data
        std::function<bool(const fs::path&)> loadAndChange;  // true when memory held the defaults
    };
    const std::vector<Store> stores = {
        {"config.json", R"({"maxRecordSeconds":90})",
         [](const fs::path& file) {
             ConfigStore store(file);
             const bool defaults = store.config().maxRecordSeconds == AppConfig().maxRecordSeconds;
             store.update([](AppConfig& c) { c.maxRecordSeconds = 120; });
             return defaults;
         }},
        {"vocab.json", R"({"гпт":"GPT"})",
         [](const fs::path& file) {
             VocabStore store(file);
             const bool defaults = store.pairs().empty();
             store.replaceAll({{"a", "b"}});
             return defaults && !store.save();
         }},
        {"stats.json", R"({"wordsTotal":98765,"sessionsTotal":4321})",
         [](const fs::path& file) {
             StatsStore store(file);
             const bool defaults = store.sessionsTotal() == 0;
             store.recordSession(3, "Kate");
             return defaults && store.sessionsTotal() == 1;
         }},
    };
    struct Fault {
        const char* name;
        bool asAnotherUser;  // as root, a user whom permissions bind
        std::function<void(const fs::path&, const std::string&)> make;
        std::function<bool(const fs::path&, const std::string&)> untouched;
    };
    constexpr std::uintmax_t kHuge = 100'000'000;  // sparse: costs nothing to make
    const std::vector<Fault> faults = {
        {"folder in its place", false,
         [](const fs::path& file, const std::string&) { fs::create_directories(file / "inside"); },
         [](const fs::path& file, const std::string&) { return fs::is_directory(file / "inside"); }},
        {"FIFO in its place", false,
         [](const fs::path& file, const std::string&) { ::mkfifo(file.c_str(), 0600); },
         [](const fs::path& file, const std::string&) { return fs::is_fifo(file); }},
        {"no read permission", true,
         [this](const fs::path& file, const std::string& content) {
             writeFile(file, content);
             fs::permissions(file, fs::perms::none);
             if (::geteuid() == 0) ::chown(file.parent_path().c_str(), testing::kNobody, testing::kNobody);
         },
         [](const fs::path& file, const std::string& content) {
             fs::permissions(file, fs::perms::owner_read);
             return readFile(file) == content;
         }},
        {"larger than any store file", false,
         [this](const fs::path& file, const std::string& content) {
             writeFile(file, content);
             fs::resize_file(file, kHuge);
         },
         [](const fs::path& file, const std::string& content) {
             std::string head(content.size(), '\0');
             std::ifstream(file, std::ios::binary).read(head.data(), static_cast<std::streamsize>(head.size()));
             return fs::file_size(file) == kHuge && head == content;
         }},
    };
    fs::permissions(home(), fs::perms::owner_all | fs::perms::others_exec);  // reachable for kNobody
    for (const Fault& fault : faults) {
        for (const Store& store : stores) {
            SCOPED_TRACE(std::string(fault.name) + ", " + store.name);
            const fs::path file = home() / (std::string(store.name) + "-" + fault.name) / store.name;
            fs::create_directories(file.parent_path());
            fault.make(file, store.content);
            const int status = testing::runInChild(
                [&] {
                    const testing::CoreLogCapture log;
                    const bool defaults = store.loadAndChange(file);
                    const bool logged = log.count(corelog::Level::Error, file.string()) == 1;
                    return (defaults ? 0 : 1) | (logged ? 0 : 2);
                },
                fault.asAnotherUser);
            EXPECT_EQ(status, 0) << "1: not the defaults in memory, 2: no ERROR naming the file";
            EXPECT_TRUE(fault.untouched(file, store.content));
        }
    }
}

// A writer killed between writing its temporary and renaming it leaves the temporary behind,
// dictated text and all. Each store removes its own that no running save holds.
TEST_F(Files, StoresRemoveTheirOwnStaleTemporariesWhenTheyLoad) {
    namespace fs = std::filesystem;
    const auto plant = [&](const std::string& name, std::chrono::hours age) {
        const fs::path file = writeFile(AppPaths::supportDir() / name, "dictated text");
        fs::last_write_time(file, fs::file_time_type::clock::now() - age);
        return file;
    };
    std::vector<fs::path> stale, kept;
    std::vector<int> writers;  // the locks of saves still running
    for (const std::string name : {"config.json", "vocab.json", "stats.json", "history.jsonl"}) {
        stale.push_back(plant("." + name + ".tmp-a1B2c3", std::chrono::hours(2)));
        stale.push_back(plant("." + name + ".tmp-k7L8m9", std::chrono::hours(0)));  // its writer was killed
        kept.push_back(plant("." + name + ".tmp-d4E5f6", std::chrono::hours(2)));  // a stopped save still runs
        writers.push_back(::open(kept.back().c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(writers.back(), LOCK_EX), 0);
    }
    kept.push_back(plant(".notes.txt.tmp-a1B2c3", std::chrono::hours(2)));  // no store's
    if (::geteuid() == 0) {
        kept.push_back(plant(".stats.json.tmp-g7H8i9", std::chrono::hours(2)));
        ASSERT_EQ(::chown(kept.back().c_str(), testing::kNobody, testing::kNobody), 0);  // not ours
    }
    const ConfigStore config(AppPaths::configURL());
    const VocabStore vocab(AppPaths::vocabURL());
    const StatsStore stats(AppPaths::statsURL());
    const HistoryStore history(AppPaths::historyURL(), AppPaths::recordingsDir());
    for (const fs::path& file : stale) EXPECT_FALSE(fs::exists(file)) << file;
    for (const fs::path& file : kept) EXPECT_TRUE(fs::exists(file)) << file;
    for (const int fd : writers) ::close(fd);
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
