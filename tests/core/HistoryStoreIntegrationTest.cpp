// The history file shared with a second process, and a history holding one enormous line.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "core/AppPaths.h"
#include "core/FileSplice.h"
#include "core/HistoryStore.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

constexpr double kDay = 86400;
using Removal = HistoryStore::Removal;

class HistoryStoreIntegrationTest : public testing::TempHome {
  protected:
    static HistoryStore makeStore() {
        return HistoryStore(AppPaths::historyURL(), AppPaths::recordingsDir());
    }
    static HistoryEntry entry(const std::string& text, double ageSeconds = 0) {
        return HistoryEntry{.text = text, .createdAt = localtime::nowSeconds() - ageSeconds};
    }
};

TEST_F(HistoryStoreIntegrationTest, AppendsFromAnotherProcessSurviveDeletesAndCleanups) {
    constexpr int kAppends = 2000;
    const HistoryStore store = makeStore();
    const pid_t child = testing::startChild([&] {
        for (int i = 0; i < kAppends; ++i) store.append(entry("child " + std::to_string(i)));
        return 0;
    });
    // Rewrites while the child appends; a bounded number, as the child waits for each one.
    int rewrites = 0;
    int status = 0;
    pid_t done = 0;
    while (rewrites < 100 && (done = ::waitpid(child, &status, WNOHANG)) == 0) {
        store.append(entry("expired", 40 * kDay));
        EXPECT_EQ(store.cleanup(KeepPolicy::d30), Removal{.removed = 1});
        const HistoryEntry mine = entry("mine");
        store.append(mine);
        EXPECT_EQ(store.remove(mine.id), Removal{.removed = 1});
        rewrites += 2;
    }
    if (done == 0) ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::map<std::string, int> seen;
    for (const auto& e : store.read(100000)) ++seen[e.text];
    EXPECT_EQ(seen.size(), size_t{kAppends}) << "after " << rewrites << " rewrites";
    for (int i = 0; i < kAppends; ++i) EXPECT_EQ(seen["child " + std::to_string(i)], 1) << i;
}

// An append that gave up waiting for the lock (its holder stopped mid-rewrite for longer than
// the wait) writes to the file the rewrite is about to replace: the rewrite carries it over.
TEST_F(HistoryStoreIntegrationTest, ARewriteKeepsWhatAnAppendAddedBehindItsBack) {
    const HistoryStore store = makeStore();
    const std::string doomed = "{\"doomed\":1}\n", kept = "{\"kept\":1}\n";
    writeFile(store.url(), doomed + kept);
    const int source = ::open(store.url().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(source, 0);
    const off_t scanned = static_cast<off_t>(doomed.size() + kept.size());
    EXPECT_EQ(testing::runInChild([&] { return store.append(entry("behind its back")) ? 0 : 1; }), 0);
    std::string why;
    EXPECT_TRUE(files::writeWithout(store.url(), source, scanned,
                                    {{0, static_cast<off_t>(doomed.size())}}, why)) << why;
    ::close(source);
    const auto newest = store.read(1);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0].text, "behind its back");
    EXPECT_EQ(readFile(store.url()).substr(0, kept.size() + 1), kept + "{");
}

// A run under sudo leaves the lock file owned by root; the user's deletes must still get the lock.
TEST_F(HistoryStoreIntegrationTest, ALockFileLeftByRootStillLocksForTheUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can leave a file of another user";
    const HistoryStore store = makeStore();
    store.append(entry("expired", 40 * kDay));  // makes the lock file, as root
    namespace fs = std::filesystem;
    for (const fs::path& file : {store.url().parent_path(), store.url()})
        ASSERT_EQ(::chown(file.c_str(), testing::kNobody, testing::kNobody), 0);
    fs::permissions(home(), fs::perms::owner_all | fs::perms::others_exec);
    EXPECT_EQ(testing::runInChild([&] { return store.cleanup(KeepPolicy::d30).removed == 1 ? 0 : 1; }, true), 0);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimitWorks = false;  // the sanitizer reserves terabytes up front
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

// A history that ends in an enormous line without a line feed (a 3 GB one was seen): reading,
// deleting and cleaning up cost no more memory than on a short line, and the line is kept.
TEST_F(HistoryStoreIntegrationTest, AnEnormousLineIsNeverHeldInMemory) {
    if (!kAddressSpaceLimitWorks) GTEST_SKIP() << "no address space limit under the sanitizer";
    constexpr off_t kGiant = off_t{80} << 20;
    constexpr rlim_t kHeadroom = rlim_t{32} << 20;
    const HistoryStore store = makeStore();
    const HistoryEntry expired = entry("expired", 40 * kDay), fresh = entry("fresh");
    const std::string head = expired.toJson().dump() + "\n" + fresh.toJson().dump() + "\n";
    writeFile(store.url(), head);
    std::filesystem::resize_file(store.url(), head.size() + kGiant);  // zero bytes, no line feed

    const int status = testing::runInChild([&] {
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages;
        const rlimit limit{pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + kHeadroom,
                           RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) return 1;
        const auto entries = store.read(10);
        return entries.size() == 2 && entries[0].id == fresh.id &&
                       store.remove(fresh.id) == Removal{.removed = 1} &&
                       store.cleanup(KeepPolicy::d7) == Removal{.removed = 1} && store.read(10).empty()
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::filesystem::file_size(store.url()), static_cast<uintmax_t>(kGiant));
}

}  // namespace
}  // namespace quorvel
