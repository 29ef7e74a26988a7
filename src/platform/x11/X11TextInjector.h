#pragma once
// Synthetic keys on X11 through the XTest extension, over a private connection. Text is typed by
// mapping each character's keysym onto a spare (unused) keycode. A target that falls behind
// translates its queued key events with the keymap it fetches when it catches up, so a keycode
// that holds a keysym keeps it (typing that character again needs no remap), and it gets another
// keysym only once every window that received its events is proven to have read them (they
// answered a ping, or are gone). Without that proof typeText stops and the caller pastes the
// rest. Caps Lock is released while typing (and locked again after), so letters come out as
// written. Spare keycodes whose events were read are emptied a while after the last typing; all
// of them on destruction.

#include <QTimer>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TextInjector.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11KeyReceipts.h"

namespace quorvel {

class X11TextInjector : public TextInjector {
public:
    X11TextInjector();  // on the main thread (the clean-up timer lives there)
    ~X11TextInjector() override;

    bool available() override;
    bool postPasteShortcut(bool withShift) override;
    bool postInsertSelection() override;
    bool postReturn() override;
    std::size_t typeText(const std::u32string& text, const std::function<bool()>& beforeEach) override;
    bool modifiersHeld() override;
    bool latestKeysRead() override;

    // Keysym for a Unicode scalar: Latin-1 directly, line feed → Return, tab → Tab, other control
    // characters and surrogates → 0 (not typed), everything else the Unicode keysym range.
    static unsigned long keysymFor(char32_t scalar);

private:
    struct Slot {
        unsigned char keycode;
        unsigned long keysym;  // 0 while the keycode is empty
        std::uint64_t lastTap = 0;
        std::vector<unsigned long> sentTo;  // windows that got its events (maybe not read yet)
        bool reserved = false;              // mapped ahead for the typing in progress
    };
    void findSpareKeycodes();
    // The slot for `keysym`, mapping it onto a free one (empty, or all its events read) when
    // needed; null when none is free. `remapped` tells whether the keymap changed.
    Slot* slotFor(unsigned long keysym, bool& remapped);
    bool mapAhead(const std::u32string& text);
    Slot* settledSlot();
    bool proveSlotsRead();
    bool settled(Slot& slot);
    void clearSettledSlots(bool all);
    void tap(unsigned char keycode);
    bool postChord(std::initializer_list<unsigned long> modifiers, unsigned long key);
    bool tapWithoutModifiers(Slot& slot, const std::function<bool()>& wait);
    bool capsLockOn();
    void setCapsLock(bool on);

    std::mutex mutex_;  // the display and the slots
    X11Display display_;
    X11KeyReceipts receipts_;
    std::vector<Slot> slots_;  // never resized after the search: typing keeps pointers into it
    bool spareKeycodesSearched_ = false;
    bool typing_ = false;
    std::uint64_t taps_ = 0;
    QTimer clearTimer_;
};

}  // namespace quorvel
