#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/HotkeyManager.h"
#include "platform/fake/FakeKeyEventSource.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

constexpr uint64_t kCmd = KeyCombo::maskCmd, kShift = KeyCombo::maskShift, kOpt = KeyCombo::maskOpt;
constexpr uint64_t kLeftCmd = KeyCombo::sideLeftCmd, kRightCmd = KeyCombo::sideRightCmd;
using Strings = std::vector<std::string>;

KeyEvent down(int64_t keyCode, uint64_t flags) { return {KeyEvent::Type::keyDown, keyCode, flags}; }
KeyEvent flags(uint64_t flags) { return {KeyEvent::Type::flagsChanged, 0, flags}; }

class HotkeyManagerTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "test.log");
        manager_ = std::make_unique<HotkeyManager>(
            [this](KeySourceKind) {
                auto source = std::make_unique<FakeKeyEventSource>(true);
                tap_ = source.get();
                return source;
            },
            [this] { return now_; });
        manager_->onToggleDown = [this] { seen_.push_back("down"); };
        manager_->onToggleUp = [this](double held) { seen_.push_back("up " + std::to_string(held)); };
        manager_->onCancel = [this] { seen_.push_back("cancel"); };
        manager_->onChangeMode = [this] { seen_.push_back("mode"); };
        manager_->onModeShortcut = [this](const std::string& id) { seen_.push_back("shortcut " + id); };
    }

    // Plays the events on the (started) fake tap, 0.25 s apart, and returns what was delivered.
    Strings feed(const std::vector<KeyEvent>& events) {
        EXPECT_TRUE(tap_ || manager_->startTap());
        for (const KeyEvent& event : events) {
            tap_->play(event);
            now_ += 0.25;
        }
        return delivered();
    }

    Strings delivered() {
        QCoreApplication::sendPostedEvents();
        return std::exchange(seen_, {});
    }

    double now_ = 100.0;
    FakeKeyEventSource* tap_ = nullptr;
    Strings seen_;
    std::unique_ptr<HotkeyManager> manager_;
};

// Matching itself is the desktop test's, with real keys; here the manager's own rules.
TEST_F(HotkeyManagerTest, NewCombinationsApplyFromTheNextEvent) {
    EXPECT_EQ(feed({down(53, 0)}), Strings{"cancel"});
    manager_->setCombos({55, kCmd, kLeftCmd}, {96, 0, 0}, KeyCombo::defaultMode, {});
    EXPECT_EQ(feed({down(53, 0), down(96, 0), flags(kCmd | kRightCmd), flags(0),
                    flags(kCmd | kLeftCmd), flags(0)}),
              (Strings{"cancel", "down", "up 0.250000"}));

    // Cancel beats next-mode on the same combination, and auto-repeat delivers again.
    const KeyCombo same{40, kCmd, 0};
    manager_->setCombos(KeyCombo::defaultToggle, same, same, {{same, "M"}});
    EXPECT_EQ(feed({down(40, kCmd), down(40, kCmd)}), (Strings{"cancel", "cancel"}));

    // A record key that is not modifier-only does nothing.
    manager_->setCombos({96, 0, 0}, KeyCombo::defaultCancel, KeyCombo::defaultMode, {});
    EXPECT_EQ(feed({down(96, 0), flags(kCmd | kRightCmd), flags(0), flags(kShift | 0x2)}), Strings{});
}

TEST_F(HotkeyManagerTest, DeliveriesComeLaterOnTheMainThreadInOrderAndAreDroppedWithTheManager) {
    ASSERT_TRUE(manager_->startTap());
    std::thread([this] {
        tap_->keyDown(53, 0);
        tap_->flagsChanged(kCmd | kRightCmd);
        tap_->keyDown(40, kCmd | kOpt);
    }).join();
    EXPECT_TRUE(seen_.empty()) << "never inline";
    // The callback is read when the delivery runs, not when it is posted.
    auto note = [this](std::string what) {
        return [this, what] { seen_.push_back(what + (QThread::currentThread() == qApp->thread() ? "" : " off main")); };
    };
    manager_->onCancel = note("replaced cancel");
    manager_->onToggleDown = note("replaced down");
    manager_->onChangeMode = nullptr;
    EXPECT_EQ(delivered(), (Strings{"replaced cancel", "replaced down"}));

    tap_->keyDown(53, 0);
    tap_->flagsChanged(0);
    manager_.reset();
    EXPECT_EQ(delivered(), Strings{});
}

TEST_F(HotkeyManagerTest, WithoutAnXServerNothingStarts) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    HotkeyManager system;  // the real backends
    EXPECT_FALSE(system.startTap());
    EXPECT_FALSE(system.startGlobalMonitorFallback());
    EXPECT_FALSE(system.isListening());
    if (!display.isEmpty()) qputenv("DISPLAY", display);
}

}  // namespace
}  // namespace quorvel
