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
            X11KeyListener::Options options;  // the default poll interval stays
            options.mode = kind == KeySourceKind::polling ? X11KeyListener::Mode::polling : X11KeyListener::Mode::rawEvents;
            options.ignoreSynthetic = ignoreSynthetic;
            return std::make_unique<X11KeyListener>(options);
        });
        auto note = [this](const std::string& what) {
            seen_.push_back(what + (QThread::currentThread() == qApp->thread() ? "" : " (off the main thread!)"));
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
        if (down) held_.insert(keycode);
        else held_.erase(keycode);
    }
    // Presses the keys in order and releases them in reverse.
    void chord(std::initializer_list<unsigned> keycodes) {
        for (unsigned k : keycodes) key(k, true);
        for (auto k = std::rbegin(keycodes); k != std::rend(keycodes); ++k) key(*k, false);
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

TEST_F(HotkeyDesktopTest, RecordKeySidesCancelModeKeyAndModeShortcuts) {
    makeManager();
    manager_->setCombos(KeyCombo::defaultToggle, KeyCombo::defaultCancel, KeyCombo::defaultMode,
                        {{{96, 0, 0}, "F5-MODE"}, {{96, 0, 0}, "SHADOWED"}});
    ASSERT_TRUE(manager_->startTap());
    chord({kSuperL});  // left alone: nothing
    key(kSuperR, true);
    ASSERT_TRUE(waitFor(1));
    QTest::qWait(30);  // a measurable hold
    key(kSuperR, false);
    ASSERT_TRUE(waitFor(2));
    EXPECT_GE(held_seconds_, 0.025);
    EXPECT_LT(held_seconds_, 3.0);
    // Right down, left down, right up, left up: one down and one up.
    key(kSuperR, true);
    key(kSuperL, true);
    key(kSuperR, false);
    key(kSuperL, false);
    chord({kShiftL, kEsc});  // Esc with Shift: nothing
    chord({kAltL, kSuperL, kK});  // ⌥⌘K
    chord({kF5});
    chord({kEsc});
    ASSERT_TRUE(waitFor(7));
    EXPECT_EQ(seen_, (Strings{"down", "up", "down", "up", "mode", "shortcut F5-MODE", "cancel"}));
}

TEST_F(HotkeyDesktopTest, OwnSyntheticKeysAreIgnoredWhenAskedAndAListenerStartsAgain) {
    makeManager(true, true);
    ASSERT_TRUE(manager_->startTap());
    // A second listener that takes synthetic keys shows when the key has gone by.
    X11KeyListener witness(X11KeyListener::Options{X11KeyListener::Mode::rawEvents, false, {}});
    EXPECT_TRUE(witness.isAvailable());
    std::atomic<int> escapes{0};
    auto count = [&](const KeyEvent& event) {
        if (event.keyCode == 53) ++escapes;
    };
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(witness.start(count));
        EXPECT_FALSE(witness.start(count));  // already running
        chord({kEsc});
        EXPECT_TRUE(QTest::qWaitFor([&] { return escapes == round; }, 3000)) << round;
        witness.stop();
    }
    witness.stop();
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
}

}  // namespace
}  // namespace quorvel
