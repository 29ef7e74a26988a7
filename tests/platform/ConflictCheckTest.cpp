// The dictation-tool check when pgrep hangs, is missing or fails (the pages run the real one).
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

TEST_F(ConflictCheckTest, AHangingMissingOrFailingPgrepMeansNoConflict) {
    EXPECT_TRUE(ConflictCheck::conflictApps(200ms, script("slow", "sleep 30\nexit 0\n")).empty());
    EXPECT_TRUE(ConflictCheck::conflictApps(1s, (home() / "missing").string()).empty());
    EXPECT_TRUE(ConflictCheck::conflictApps(1s, script("broken", "kill -9 $$\n")).empty());
}

}  // namespace
}  // namespace quorvel
