// The tray menu's rows in each press state: what the status line says and which commands the
// user may pick.
#include <gtest/gtest.h>

#include "app/TrayMenu.h"

namespace quorvel {
namespace {

using Command = TrayMenu::Command;

const TrayMenu::Row* find(const std::vector<TrayMenu::Row>& rows, Command command) {
    for (const auto& row : rows)
        if (row.command == command) return &row;
    return nullptr;
}

TEST(TrayMenuTest, RowsFollowThePressState) {
    struct Case {
        TrayMenu::State state;
        std::string status, stopTitle;
        bool start, stop, cancel;
    };
    const Case cases[] = {
        {{false, false, "Vosk EN", "ready"}, "○ готов · Vosk EN · STT ready", "Отпустить → вставка", true, false, false},
        {{false, false, "gigaam-v2-ru", "?"}, "○ готов · gigaam-v2-ru · STT ?", "Отпустить → вставка", true, false, false},
        {{true, false, "x", "ready"}, "● записываю… (push)", "Отпустить → вставка", false, false, true},
        {{true, true, "x", "ready"}, "● записываю… (toggle)", "Остановить и вставить", false, true, true},
    };
    for (const Case& c : cases) {
        const auto rows = TrayMenu::rows(c.state);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.front().title, c.status);
        EXPECT_FALSE(rows.front().enabled) << "the status line is not a command";
        EXPECT_EQ(find(rows, Command::stop)->title, c.stopTitle);
        EXPECT_EQ(find(rows, Command::start)->enabled, c.start) << c.status;
        EXPECT_EQ(find(rows, Command::stop)->enabled, c.stop) << c.status;
        EXPECT_EQ(find(rows, Command::cancel)->enabled, c.cancel) << c.status;
        for (Command always : {Command::togglePill, Command::openSettings, Command::recognizeFile, Command::quit})
            EXPECT_TRUE(find(rows, always)->enabled);
        EXPECT_EQ(find(rows, Command::quit)->shortcut, "Ctrl+Q");
        EXPECT_EQ(find(rows, Command::openSettings)->shortcut, "Ctrl+,");
    }
}

}  // namespace
}  // namespace quorvel
