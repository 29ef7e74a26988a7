#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>
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
        makeManager();
    }

    void makeManager() {
        manager_.reset();
        tap_ = polling_ = nullptr;
        manager_ = std::make_unique<HotkeyManager>(
            [this](KeySourceKind kind) {
                const bool listener = kind == KeySourceKind::listener;
                auto source = std::make_unique<FakeKeyEventSource>(listener ? tapAvailable_ : true);
                (listener ? tap_ : polling_) = source.get();
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
        if (!tap_) {
            EXPECT_TRUE(manager_->startTap());
        }
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

    bool logged(const std::string& text) const {
        Log::flush();
        return readFile(home() / "test.log").find(text) != std::string::npos;
    }

    bool tapAvailable_ = true;
    double now_ = 100.0;
    FakeKeyEventSource* tap_ = nullptr;
    FakeKeyEventSource* polling_ = nullptr;
    Strings seen_;
    std::unique_ptr<HotkeyManager> manager_;
};

// The sides of the default record key are checked with real keys on the desktop.
TEST_F(HotkeyManagerTest, DefaultRecordKeyIgnoresRepeatsAndStrayReleases) {
    struct Row { const char* name; std::vector<KeyEvent> events; Strings expected; };
    const Row rows[] = {
        {"right press and release", {flags(kCmd | kRightCmd), flags(0)}, {"down", "up 0.250000"}},
        {"down twice without release", {flags(kCmd | kRightCmd), flags(kCmd | kRightCmd | 0x100)}, {"down"}},
        {"release without down", {flags(0), flags(kRightCmd)}, {}},
    };
    for (const Row& row : rows) {
        makeManager();  // the bookkeeping must not leak between rows
        EXPECT_EQ(feed(row.events), row.expected) << row.name;
    }
}

TEST_F(HotkeyManagerTest, KeyDownMatchingOrder) {
    const KeyCombo f5{96, 0, 0}, optK{40, kCmd | kOpt, 0};
    manager_->setCombos(KeyCombo::defaultToggle, KeyCombo::defaultCancel, optK,
                        {{{1, kCmd, 0}, "A-ID"}, {f5, "FIRST"}, {f5, "SECOND"}});
    const std::pair<KeyEvent, Strings> rows[] = {
        {down(53, 0), {"cancel"}},
        {down(53, 0x20), {"cancel"}},  // side bits in the low byte do not count
        {down(53, kShift | 0x2), {}},  // Esc with Shift
        {down(40, kCmd | kOpt | 0x28), {"mode"}},
        {down(40, kCmd | kOpt | kShift), {}},
        {down(96, 0), {"shortcut FIRST"}},  // the first of two matching shortcuts
        {down(1, kCmd | kRightCmd), {"shortcut A-ID"}},
        {down(55, kCmd), {}},  // the record key is never matched on key down
    };
    for (const auto& [event, expected] : rows)
        EXPECT_EQ(feed({event}), expected) << event.keyCode << " " << event.flags;
}

TEST_F(HotkeyManagerTest, NewCombinationsApplyFromTheNextEvent) {
    EXPECT_EQ(feed({down(53, 0)}), Strings{"cancel"});
    manager_->setCombos({55, kCmd, kLeftCmd}, {96, 0, 0}, KeyCombo::defaultMode, {});
    EXPECT_EQ(feed({down(53, 0), down(96, 0), flags(kCmd | kRightCmd), flags(0), flags(kCmd | kLeftCmd)}),
              (Strings{"cancel", "down"}));
    EXPECT_EQ(manager_->snapshot()->cancel, (KeyCombo{96, 0, 0}));

    // Cancel beats next-mode on the same combination, and auto-repeat delivers again.
    const KeyCombo same{40, kCmd, 0};
    manager_->setCombos(KeyCombo::defaultToggle, same, same, {{same, "M"}});
    EXPECT_EQ(feed({down(40, kCmd), down(40, kCmd)}), (Strings{"cancel", "cancel"}));

    // A record key that is not modifier-only does nothing.
    makeManager();
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

TEST_F(HotkeyManagerTest, StartingReportsAndFallsBack) {
    ASSERT_TRUE(manager_->startTap());
    EXPECT_TRUE(manager_->hasTap());
    EXPECT_TRUE(tap_->isRunning());
    EXPECT_TRUE(logged("INFO: CGEventTap создан (слушаю настраиваемые хоткеи)"));

    tapAvailable_ = false;
    makeManager();
    EXPECT_FALSE(manager_->startTap());
    EXPECT_FALSE(manager_->hasTap());
    ASSERT_TRUE(manager_->startGlobalMonitorFallback());
    EXPECT_TRUE(manager_->isListening());
    EXPECT_FALSE(manager_->startTap());  // never two listeners feeding the same bookkeeping
    polling_->keyDown(53, 0);
    polling_->flagsChanged(kCmd | kRightCmd);
    EXPECT_EQ(delivered(), (Strings{"cancel", "down"}));
    EXPECT_TRUE(logged("ERROR: CGEventTapCreate failed (нет Input Monitoring?)"));
}

TEST_F(HotkeyManagerTest, WithoutAnXServerNothingStarts) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    ::unsetenv("DISPLAY");
    HotkeyManager system;  // the real backends
    EXPECT_FALSE(system.startTap());
    EXPECT_FALSE(system.startGlobalMonitorFallback());
    EXPECT_FALSE(system.isListening());
    if (display) ::setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_TRUE(logged("CGEventTapCreate failed"));
}

}  // namespace
}  // namespace quorvel
