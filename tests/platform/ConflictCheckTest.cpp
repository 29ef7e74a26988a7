// The dictation-tool check against stand-in pgrep scripts (the settings pages run the real one).
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "platform/ConflictCheck.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class ConflictCheckTest : public testing::TempHome {
protected:
    std::string script(const std::string& name, const std::string& body) {
        const auto path = writeFile(home() / name, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path.string();
    }
};

TEST_F(ConflictCheckTest, ListsTheNamesPgrepFindsWithItsArguments) {
    const auto args = home() / "args";
    const auto pgrep = script("pgrep", "echo \"$@\" >> '" + args.string() +
                                           "'\n[ \"$3\" = whisper ] && { echo '42 whisper'; exit 0; }\n"
                                           "echo noise >&2; exit 1\n");
    EXPECT_EQ(ConflictCheck::conflictApps(5s, pgrep), std::vector<std::string>{"whisper"});
    EXPECT_EQ(readFile(args), "-i -l superwhisper\n-i -l whisper\n");
}

TEST_F(ConflictCheckTest, AHangingMissingOrFailingPgrepMeansNoConflict) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(ConflictCheck::conflictApps(200ms, script("slow", "sleep 30\nexit 0\n")).empty());
    EXPECT_LT(timer.elapsed(), 5000) << "bounded";
    EXPECT_TRUE(ConflictCheck::conflictApps(1s, (home() / "missing").string()).empty());
    EXPECT_TRUE(ConflictCheck::conflictApps(1s, script("broken", "kill -9 $$\n")).empty());
}

}  // namespace
}  // namespace quorvel
