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
                auto source = std::make_unique<FakeKeyEventSource>(kind == KeySourceKind::listener ? tapAvailable_ : true);
                (kind == KeySourceKind::listener ? tap_ : polling_) = source.get();
                return source;
            },
            [this] { return now_; });
        wire(*manager_);
    }

    void wire(HotkeyManager& manager) {
        manager.onToggleDown = [this] { seen_.push_back("down"); };
        manager.onToggleUp = [this](double held) { seen_.push_back("up " + std::to_string(held)); };
        manager.onCancel = [this] { seen_.push_back("cancel"); };
        manager.onChangeMode = [this] { seen_.push_back("mode"); };
        manager.onModeShortcut = [this](const std::string& id) { seen_.push_back("shortcut " + id); };
    }

    // Starts the listener on the fake tap.
    FakeKeyEventSource& tap() {
        if (!tap_) {
            EXPECT_TRUE(manager_->startTap());
        }
        return *tap_;
    }

    std::vector<std::string> delivered() {
        QCoreApplication::sendPostedEvents();
        return std::exchange(seen_, {});
    }

    bool tapAvailable_ = true;
    double now_ = 100.0;
    FakeKeyEventSource* tap_ = nullptr;
    FakeKeyEventSource* polling_ = nullptr;
    std::vector<std::string> seen_;
    std::unique_ptr<HotkeyManager> manager_;
};

using Strings = std::vector<std::string>;

TEST_F(HotkeyManagerTest, DefaultRecordKeyFollowsTheRightCommandKeyOnly) {
    struct Row {
        const char* name;
        std::vector<uint64_t> flags;  // one flags-changed event each, 0.25 s apart
        Strings expected;
    };
    const Row rows[] = {
        {"right press and release", {kCmd | kRightCmd, 0}, {"down", "up 0.250000"}},
        {"left alone", {kCmd | kLeftCmd, 0}, {}},
        {"right, left too, right up, left up",
         {kCmd | kRightCmd, kCmd | kRightCmd | kLeftCmd, kCmd | kLeftCmd, 0},
         {"down", "up 0.750000"}},
        {"down twice without release", {kCmd | kRightCmd, kCmd | kRightCmd | 0x100}, {"down"}},
        {"release without down", {0, kRightCmd}, {}},
    };
    for (const Row& row : rows) {
        makeManager();  // the bookkeeping must not leak between rows
        for (uint64_t flags : row.flags) {
            tap().flagsChanged(flags);
            now_ += 0.25;
        }
        EXPECT_EQ(delivered(), row.expected) << row.name;
    }
}

TEST_F(HotkeyManagerTest, KeyDownMatchingOrder) {
    const KeyCombo f5{96, 0, 0}, optK{40, kCmd | kOpt, 0};
    manager_->setCombos(KeyCombo::defaultToggle, KeyCombo::defaultCancel, optK,
                        {{{1, kCmd, 0}, "A-ID"}, {f5, "FIRST"}, {f5, "SECOND"}});
    struct Row {
        int64_t keyCode;
        uint64_t flags;
        Strings expected;
    };
    const Row rows[] = {
        {53, 0, {"cancel"}},
        {53, 0x20, {"cancel"}},           // side bits in the low byte do not count
        {53, kShift | 0x2, {}},           // Esc with Shift
        {40, kCmd | kOpt | 0x28, {"mode"}},
        {40, kCmd | kOpt | kShift, {}},
        {96, 0, {"shortcut FIRST"}},      // the first of two matching shortcuts
        {1, kCmd | kRightCmd, {"shortcut A-ID"}},
        {55, kCmd, {}},                   // the record key is never matched on key down
    };
    for (const Row& row : rows) {
        tap().keyDown(row.keyCode, row.flags);
        EXPECT_EQ(delivered(), row.expected) << row.keyCode << " " << row.flags;
    }
}

TEST_F(HotkeyManagerTest, CancelBeatsNextModeAndAutoRepeatDeliversAgain) {
    const KeyCombo same{40, kCmd, 0};
    manager_->setCombos(KeyCombo::defaultToggle, same, same, {{same, "M"}});
    for (int repeat = 0; repeat < 3; ++repeat) tap().keyDown(40, kCmd);
    EXPECT_EQ(delivered(), (Strings{"cancel", "cancel", "cancel"}));
}

TEST_F(HotkeyManagerTest, RecordKeyThatIsNotModifierOnlyDoesNothing) {
    manager_->setCombos({96, 0, 0}, KeyCombo::defaultCancel, KeyCombo::defaultMode, {});
    tap().keyDown(96, 0);
    tap().flagsChanged(kCmd | kRightCmd);
    tap().flagsChanged(0);
    tap().flagsChanged(kShift | 0x2);
    EXPECT_EQ(delivered(), Strings{});
}

TEST_F(HotkeyManagerTest, NewCombinationsApplyFromTheNextEvent) {
    tap().keyDown(53, 0);
    manager_->setCombos({55, kCmd, kLeftCmd}, {96, 0, 0}, KeyCombo::defaultMode, {});
    tap().keyDown(53, 0);
    tap().keyDown(96, 0);
    tap().flagsChanged(kCmd | kRightCmd);
    tap().flagsChanged(0);
    tap().flagsChanged(kCmd | kLeftCmd);
    EXPECT_EQ(delivered(), (Strings{"cancel", "cancel", "down"}));
    EXPECT_EQ(manager_->snapshot()->cancel, (KeyCombo{96, 0, 0}));
}

TEST_F(HotkeyManagerTest, DeliveriesAreLaterAndReadTheCallbackWhenTheyRun) {
    tap().keyDown(53, 0);
    EXPECT_TRUE(seen_.empty());  // never inline
    manager_->onCancel = [this] { seen_.push_back("replaced"); };
    manager_->onChangeMode = nullptr;
    tap().keyDown(40, kCmd | kOpt);
    EXPECT_EQ(delivered(), Strings{"replaced"});
}

TEST_F(HotkeyManagerTest, DeliveriesAreDroppedWhenTheManagerIsGone) {
    tap().keyDown(53, 0);
    tap().flagsChanged(kCmd | kRightCmd);
    manager_.reset();
    EXPECT_EQ(delivered(), Strings{});
}

TEST_F(HotkeyManagerTest, EventsFromTheListenerThreadArriveOnTheMainThreadInOrder) {
    FakeKeyEventSource& source = tap();
    std::vector<bool> onMain;
    manager_->onCancel = [&] { onMain.push_back(QThread::currentThread() == qApp->thread()); };
    manager_->onToggleDown = manager_->onCancel;
    std::thread listener([&] {
        source.keyDown(53, 0);
        source.flagsChanged(kCmd | kRightCmd);
    });
    listener.join();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(onMain, (std::vector<bool>{true, true}));
}

TEST_F(HotkeyManagerTest, StartingReportsAndFallsBack) {
    tapAvailable_ = false;
    EXPECT_FALSE(manager_->startTap());
    EXPECT_FALSE(manager_->hasTap());
    ASSERT_TRUE(manager_->startGlobalMonitorFallback());
    EXPECT_TRUE(manager_->isListening());
    EXPECT_FALSE(manager_->startTap());  // never two listeners feeding the same bookkeeping
    polling_->keyDown(53, 0);
    polling_->flagsChanged(kCmd | kRightCmd);
    EXPECT_EQ(delivered(), (Strings{"cancel", "down"}));
    Log::flush();
    EXPECT_NE(readFile(home() / "test.log").find("ERROR: CGEventTapCreate failed (нет Input Monitoring?)"),
              std::string::npos);
}

TEST_F(HotkeyManagerTest, TapSuccessIsLogged) {
    ASSERT_TRUE(manager_->startTap());
    EXPECT_TRUE(manager_->hasTap());
    EXPECT_TRUE(tap_->isRunning());
    Log::flush();
    EXPECT_NE(readFile(home() / "test.log").find("INFO: CGEventTap создан (слушаю настраиваемые хоткеи)"),
              std::string::npos);
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
    Log::flush();
    EXPECT_NE(readFile(home() / "test.log").find("CGEventTapCreate failed"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
