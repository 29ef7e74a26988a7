#pragma once
// Synthetic keys on X11 through the XTest extension, over a private connection. Text is typed by
// mapping each character's keysym onto a spare (unused) keycode, all of one text's characters
// before its first key event. A target that falls behind translates its queued key events with
// the keymap it reads when it catches up, so a keycode is never remapped while events of the
// same typing may be pending, nor within a few seconds of its last use; when the spare keycodes
// run out typeText stops and the caller pastes the rest. Caps Lock is released while typing (and
// locked again after), so letters come out as written. The spare keycodes are emptied again a
// while after the last typing and on destruction.

#include <QTimer>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TextInjector.h"
#include "platform/x11/X11Display.h"

namespace quorvel {

class X11TextInjector : public TextInjector {
public:
    X11TextInjector();  // on the main thread (the clean-up timer lives there)
    ~X11TextInjector() override;

    bool available() override;
    bool postPasteShortcut(bool withShift) override;
    bool postReturn() override;
    std::size_t typeText(const std::u32string& text, const std::function<bool()>& beforeEach) override;
    bool modifiersHeld() override;

    // Keysym for a Unicode scalar: Latin-1 directly, line feed → Return, tab → Tab, other control
    // characters and surrogates → 0 (not typed), everything else the Unicode keysym range.
    static unsigned long keysymFor(char32_t scalar);

private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        unsigned char keycode;
        unsigned long keysym;  // 0 while the keycode is empty
        Clock::time_point lastUsed;
        bool inUse = false;  // taken by the typing in progress
    };
    void findSpareKeycodes();
    // Maps every character of `text` onto a slot, in order, until no slot is left; returns how
    // many leading scalars are covered and the keycode for each (0: not typable, skipped).
    std::size_t planTyping(const std::u32string& text, std::vector<unsigned char>& keycodes);
    Slot* slotFor(unsigned long keysym);
    void releaseSlots();
    void clearSpareKeycodes();
    void tap(unsigned char keycode);
    bool tapWithoutModifiers(unsigned char keycode, const std::function<bool()>& wait);
    bool capsLockOn();
    void setCapsLock(bool on);

    std::mutex mutex_;  // the display and the slots
    X11Display display_;
    std::vector<Slot> slots_;
    bool spareKeycodesSearched_ = false;
    QTimer clearTimer_;
};

}  // namespace quorvel
