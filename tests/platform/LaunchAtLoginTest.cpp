#include <gtest/gtest.h>

#include "platform/LaunchAtLogin.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

class LaunchAtLoginTest : public testing::TempHome {};

TEST_F(LaunchAtLoginTest, EnablingWritesTheAutostartEntryAndDisablingRemovesIt) {
    const auto entry = home() / ".config" / "autostart" / "com.brellun.quorvel.desktop";
    EXPECT_EQ(LaunchAtLogin::entryPath(), entry);
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    EXPECT_TRUE(LaunchAtLogin::setEnabled(true, "/opt/tovik/bin/quorvel"));
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_EQ(readFile(entry),
              "[Desktop Entry]\nType=Application\nName=Tovik\nComment=Local dictation\n"
              "Exec=\"/opt/tovik/bin/quorvel\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");

    EXPECT_TRUE(LaunchAtLogin::setEnabled(false, "/opt/tovik/bin/quorvel"));
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(LaunchAtLogin::setEnabled(false, "/opt/tovik/bin/quorvel")) << "absent is no error";

    // The Exec line quotes awkward paths; the entry follows XDG_CONFIG_HOME.
    ::setenv("XDG_CONFIG_HOME", (home() / "cfg").c_str(), 1);
    const std::string text = LaunchAtLogin::desktopEntry(R"(/home/a b/100% "x"/$HOME/`c`\d)");
    EXPECT_NE(text.find(R"(Exec="/home/a b/100%% \\"x\\"/\\$HOME/\\`c\\`\\\\d")" "\n"), std::string::npos)
        << text;
    EXPECT_TRUE(LaunchAtLogin::setEnabled(true, "/x"));
    EXPECT_TRUE(std::filesystem::exists(home() / "cfg" / "autostart" / "com.brellun.quorvel.desktop"));
}

TEST_F(LaunchAtLoginTest, AFolderThatCannotBeCreatedFailsTheChange) {
    writeFile(home() / ".config" / "autostart", "a file where the folder should be");
    EXPECT_FALSE(LaunchAtLogin::setEnabled(true, "/x"));
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
}

}  // namespace
}  // namespace quorvel
