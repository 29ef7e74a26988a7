// The hot keys on a real X server: keys are injected with XTest by explicit keycode (so left and
// right modifiers stay apart) and must reach the callbacks on the main thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/HotkeyManager.h"
#include "platform/fake/FakeKeyEventSource.h"
#include "platform/x11/X11KeyListener.h"
#include "services/Log.h"
#include "support/TempHome.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

using testing::closeInjector;
using testing::fakeKey;
using testing::openInjector;

// X keycodes (evdev + 8).
constexpr unsigned kSuperL = 133, kSuperR = 134, kShiftL = 50, kAltL = 64, kEsc = 9, kK = 45, kF5 = 71;

using Strings = std::vector<std::string>;

class HotkeyDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "test.log");
        display_ = openInjector();
        ASSERT_NE(display_, nullptr) << "needs an X server with XTest (run under tests/desktop/with-desktop)";
    }

    void TearDown() override {
        manager_.reset();
        if (display_) {
            for (unsigned keycode : held_) fakeKey(display_, keycode, false);
            closeInjector(display_);
        }
        TempHome::TearDown();
    }

    // Both kinds of source are real X listeners unless the test asks for a broken tap.
    void makeManager(bool tapWorks = true, bool ignoreSynthetic = false) {
        manager_ = std::make_unique<HotkeyManager>([=](KeySourceKind kind) -> std::unique_ptr<KeyEventSource> {
            if (kind == KeySourceKind::listener && !tapWorks) return std::make_unique<FakeKeyEventSource>(false);
            X11KeyListener::Options options;
            options.mode = kind == KeySourceKind::polling ? X11KeyListener::Mode::polling : X11KeyListener::Mode::rawEvents;
            options.ignoreSynthetic = ignoreSynthetic;
            return std::make_unique<X11KeyListener>(options);
        });
        auto note = [this](std::string what) {
            if (QThread::currentThread() != qApp->thread()) what += " (off the main thread!)";
            seen_.push_back(what);
        };
        manager_->onToggleDown = [note] { note("down"); };
        manager_->onToggleUp = [this, note](double held) {
            held_seconds_ = held;
            note("up");
        };
        manager_->onCancel = [note] { note("cancel"); };
        manager_->onChangeMode = [note] { note("mode"); };
        manager_->onModeShortcut = [note](const std::string& id) { note("shortcut " + id); };
    }

    void key(unsigned keycode, bool down) {
        fakeKey(display_, keycode, down);
        if (down) {
            held_.insert(keycode);
        } else {
            held_.erase(keycode);
        }
    }

    // Waits until `count` deliveries have arrived in all.
    bool waitFor(size_t count) {
        return QTest::qWaitFor([&] { return seen_.size() >= count; }, 3000);
    }

    _XDisplay* display_ = nullptr;
    std::set<unsigned> held_;
    std::unique_ptr<HotkeyManager> manager_;
    Strings seen_;
    double held_seconds_ = -1;
};

TEST_F(HotkeyDesktopTest, RightSuperIsTheRecordKeyAndLeftSuperIsNot) {
    makeManager();
    ASSERT_TRUE(manager_->startTap());
    key(kSuperL, true);  // left alone: nothing
    key(kSuperL, false);
    key(kSuperR, true);
    ASSERT_TRUE(waitFor(1));
    QTest::qWait(30);  // a measurable hold
    key(kSuperR, false);
    ASSERT_TRUE(waitFor(2));
    EXPECT_EQ(seen_, (Strings{"down", "up"}));
    EXPECT_GE(held_seconds_, 0.025);
    EXPECT_LT(held_seconds_, 3.0);
}

TEST_F(HotkeyDesktopTest, BothSuperKeysGiveOneDownAndOneUp) {
    makeManager();
    ASSERT_TRUE(manager_->startTap());
    key(kSuperR, true);
    key(kSuperL, true);
    key(kSuperR, false);
    key(kSuperL, false);
    key(kEsc, true);  // a marker: every earlier event has been handled when it arrives
    key(kEsc, false);
    ASSERT_TRUE(waitFor(3));
    EXPECT_EQ(seen_, (Strings{"down", "up", "cancel"}));
}

TEST_F(HotkeyDesktopTest, CancelModeKeyAndModeShortcuts) {
    makeManager();
    manager_->setCombos(KeyCombo::defaultToggle, KeyCombo::defaultCancel, KeyCombo::defaultMode,
                        {{{96, 0, 0}, "F5-MODE"}, {{96, 0, 0}, "SHADOWED"}});
    ASSERT_TRUE(manager_->startTap());
    key(kShiftL, true);  // Esc with Shift: nothing
    key(kEsc, true);
    key(kEsc, false);
    key(kShiftL, false);
    key(kAltL, true);  // ⌥⌘K
    key(kSuperL, true);
    key(kK, true);
    key(kK, false);
    key(kSuperL, false);
    key(kAltL, false);
    key(kF5, true);
    key(kF5, false);
    key(kEsc, true);
    key(kEsc, false);
    ASSERT_TRUE(waitFor(3));
    EXPECT_EQ(seen_, (Strings{"mode", "shortcut F5-MODE", "cancel"}));
}

TEST_F(HotkeyDesktopTest, OwnSyntheticKeysAreIgnoredWhenAsked) {
    makeManager(true, true);
    ASSERT_TRUE(manager_->startTap());
    // A second listener that takes synthetic keys shows when the key has gone by.
    X11KeyListener witness(X11KeyListener::Options{X11KeyListener::Mode::rawEvents, false, {}});
    std::atomic<int> witnessed{0};
    ASSERT_TRUE(witness.start([&](const KeyEvent& event) {
        if (event.keyCode == 53) ++witnessed;
    }));
    key(kEsc, true);
    key(kEsc, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return witnessed == 1; }, 3000));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !seen_.empty(); }, 300));
}

TEST_F(HotkeyDesktopTest, PollingFallbackWhenTheListenerCannotStart) {
    makeManager(false);
    EXPECT_FALSE(manager_->startTap());
    ASSERT_TRUE(manager_->startGlobalMonitorFallback());
    // Polling sees what is down at each look, so every key is held until it has been seen.
    key(kSuperR, true);
    ASSERT_TRUE(waitFor(1));
    key(kSuperR, false);
    ASSERT_TRUE(waitFor(2));
    key(kEsc, true);
    ASSERT_TRUE(waitFor(3));
    key(kEsc, false);
    EXPECT_EQ(seen_, (Strings{"down", "up", "cancel"}));
    Log::flush();
    EXPECT_NE(readFile(home() / "test.log").find("CGEventTapCreate failed"), std::string::npos);
}

TEST_F(HotkeyDesktopTest, ListenerStopsAndStartsAgain) {
    X11KeyListener listener(X11KeyListener::Options{X11KeyListener::Mode::rawEvents, false, {}});
    EXPECT_TRUE(listener.isAvailable());
    std::atomic<int> escapes{0};
    auto count = [&](const KeyEvent& event) {
        if (event.keyCode == 53) ++escapes;
    };
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(listener.start(count));
        EXPECT_FALSE(listener.start(count));  // already running
        key(kEsc, true);
        key(kEsc, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return escapes == round; }, 3000)) << round;
        listener.stop();
    }
    listener.stop();
}

}  // namespace
}  // namespace quorvel
