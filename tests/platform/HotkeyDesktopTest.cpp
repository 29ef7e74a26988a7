// The hot keys on a real X server: keys are injected with XTest by explicit keycode (so left and
// right modifiers stay apart) and must reach the callbacks on the main thread. The test is another
// program's synthetic keyboard (as a VNC server would be), except inside ownKeyEvents::Scope,
// where it stands for our own insertion.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/HotkeyManager.h"
#include "platform/OwnKeyEvents.h"
#include "platform/fake/FakeKeyEventSource.h"
#include "platform/x11/X11KeyListener.h"
#include "platform/x11/X11TextInjector.h"
#include "services/Log.h"
#include "support/TempHome.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

// X keycodes (evdev + 8).
constexpr unsigned kSuperL = 133, kSuperR = 134, kShiftL = 50, kAltL = 64, kCtrlL = 37, kEsc = 9, kK = 45, kF5 = 71;

using Strings = std::vector<std::string>;

class HotkeyDesktopTest : public testing::TempHome {
protected:
    // A foreign key stamped within the listener's grace after our burst counts as ours: wait well
    // beyond it (the server's clock steps in milliseconds, and a busy machine reads late).
    static bool ourBurstLongOver() {
        return QTest::qWaitFor([] { return !ownKeyEvents::active(std::chrono::milliseconds(600)); }, 3000);
    }

    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "test.log");
        display_ = testing::openInjector();
        ASSERT_NE(display_, nullptr) << "needs an X server with XTest (run under tests/desktop/with-desktop)";
        // Keys posted while an earlier test's burst still counts would be taken for ours.
        ASSERT_TRUE(ourBurstLongOver());
    }

    void TearDown() override {
        manager_.reset();
        if (display_) {
            for (unsigned keycode : held_) testing::fakeKey(display_, keycode, false);
            testing::closeInjector(display_);
        }
        TempHome::TearDown();
    }

    // Both kinds of source are real X listeners unless the test asks for a broken tap.
    void makeManager(bool tapWorks = true) {
        manager_ = std::make_unique<HotkeyManager>([=](KeySourceKind kind) -> std::unique_ptr<KeyEventSource> {
            if (kind == KeySourceKind::listener && !tapWorks) return std::make_unique<FakeKeyEventSource>(false);
            return makeKeyEventSource(kind);  // the program's own listeners
        });
        auto note = [this](const std::string& what) {
            seen_.push_back(what + (QThread::currentThread() == qApp->thread() ? "" : " (off the main thread!)"));
        };
        manager_->onToggleDown = [note] { note("down"); };
        manager_->onToggleUp = [note](double) { note("up"); };
        manager_->onCancel = [note] { note("cancel"); };
        manager_->onChangeMode = [note] { note("mode"); };
        manager_->onModeShortcut = [note](const std::string& id) { note("shortcut " + id); };
    }

    void key(unsigned keycode, bool down) {
        testing::fakeKey(display_, keycode, down);
        if (down) held_.insert(keycode);
        else held_.erase(keycode);
    }
    // Presses the keys in order and releases them in reverse.
    void chord(std::initializer_list<unsigned> keycodes, int holdMs = 0) {
        for (unsigned k : keycodes) key(k, true);
        if (holdMs > 0) QTest::qWait(holdMs);
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
};

TEST_F(HotkeyDesktopTest, RecordKeySidesCancelModeKeyAndModeShortcuts) {
    makeManager();
    manager_->setCombos(KeyCombo::defaultToggle, KeyCombo::defaultCancel, KeyCombo::defaultMode,
                        {{{96, 0, 0}, "F5-MODE"}, {{96, 0, 0}, "SHADOWED"}});
    ASSERT_TRUE(manager_->startTap());
    chord({kSuperL});  // left alone: nothing
    chord({kSuperR});
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

struct OwnKeysRow {
    const char* name;
    bool listener;  // false: the polling fallback
    KeyCombo record;
    unsigned recordKey;
};

const OwnKeysRow kOwnKeysRows[] = {
    {"listener, right Super", true, KeyCombo::defaultToggle, kSuperR},
    {"polling, right Super", false, KeyCombo::defaultToggle, kSuperR},
    {"polling, Control alone", false, {59, KeyCombo::maskCtrl, 0}, kCtrlL},
};

TEST_F(HotkeyDesktopTest, OtherProgramsSyntheticKeysCountAndOurOwnNeverDo) {
    X11TextInjector injector;
    ASSERT_TRUE(injector.available());
    for (const OwnKeysRow& row : kOwnKeysRows) {
        SCOPED_TRACE(row.name);
        seen_.clear();
        makeManager(row.listener);
        manager_->setCombos(row.record, KeyCombo::defaultCancel, KeyCombo::defaultMode, {{{96, 0, 0}, "F5-MODE"}});
        ASSERT_EQ(manager_->startTap(), row.listener);
        ASSERT_TRUE(row.listener || manager_->startGlobalMonitorFallback());
        // Polling sees what is down at each look, so every key is held until it has been seen.
        key(row.recordKey, true);
        ASSERT_TRUE(waitFor(1));
        key(row.recordKey, false);
        ASSERT_TRUE(waitFor(2));
        key(kEsc, true);
        ASSERT_TRUE(waitFor(3));
        key(kEsc, false);
        {
            // Our own paste chord and typed keys, each held long enough for a poll to see it.
            ownKeyEvents::Scope ours;
            ASSERT_TRUE(injector.postPasteShortcut(false));
            for (unsigned typed : {row.recordKey, kEsc, kF5}) chord({typed}, 30);
            chord({kAltL, kSuperL, kK}, 30);
        }
        ASSERT_TRUE(ourBurstLongOver());
        // Held before our burst and released during it: the release still arrives.
        key(row.recordKey, true);
        ASSERT_TRUE(waitFor(4));
        {
            ownKeyEvents::Scope ours;
            key(row.recordKey, false);
        }
        ASSERT_TRUE(waitFor(5));
        // Pressed during our burst and released right after it: neither down nor up.
        {
            ownKeyEvents::Scope ours;
            key(row.recordKey, true);
            QTest::qWait(30);
        }
        key(row.recordKey, false);
        ASSERT_TRUE(ourBurstLongOver());
        key(kEsc, true);
        ASSERT_TRUE(waitFor(6));
        key(kEsc, false);
        EXPECT_EQ(seen_, (Strings{"down", "up", "cancel", "down", "up", "cancel"}));
    }
}

TEST_F(HotkeyDesktopTest, OurKeysReadLateAreStillLeftOutAndAListenerStartsAgain) {
    X11KeyListener listener;
    EXPECT_TRUE(listener.isAvailable());
    std::vector<int64_t> codes;
    QObject receiver;  // destroyed before `codes`, dropping the deliveries still queued for it
    std::atomic<bool> stalled{false}, resume{false};
    // The first F5 holds the listener's thread until the test lets it go (5 s at most).
    auto handler = [&](const KeyEvent& event) {
        QMetaObject::invokeMethod(&receiver,
                                  [&codes, code = event.keyCode] { codes.push_back(code); });
        if (event.keyCode != 96 || stalled.exchange(true)) return;
        for (int i = 0; i < 500 && !resume; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    ASSERT_TRUE(listener.start(handler));
    EXPECT_FALSE(listener.start(handler));  // already running
    chord({kF5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled.load(); }, 3000));
    {
        ownKeyEvents::Scope ours;
        chord({kCtrlL, kSuperR});
    }
    // Our keys wait unread until well after the burst ended.
    ASSERT_TRUE(ourBurstLongOver());
    resume = true;
    chord({kEsc});
    EXPECT_TRUE(QTest::qWaitFor([&] { return codes.size() >= 2; }, 3000));
    EXPECT_EQ(codes, (std::vector<int64_t>{96, 53}));

    listener.stop();
    ASSERT_TRUE(listener.start(handler));
    chord({kEsc});
    EXPECT_TRUE(QTest::qWaitFor([&] { return codes.size() >= 3; }, 3000));
    EXPECT_EQ(codes, (std::vector<int64_t>{96, 53, 53}));
    listener.stop();
}

}  // namespace
}  // namespace quorvel
