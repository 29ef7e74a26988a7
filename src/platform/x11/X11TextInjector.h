#pragma once
// Synthetic keys on X11 through the XTest extension, over a private connection. Text is typed by
// mapping each character's keysym onto a spare (unused) keycode: a small pool of them is used in
// turn, so a client that reads the keymap a little late still finds the character it was sent.
// The spare keycodes are emptied again a second after the last typing and on destruction.

#include <QTimer>
#include <string>
#include <vector>

#include "platform/TextInjector.h"
#include "platform/x11/X11Display.h"

namespace quorvel {

class X11TextInjector : public TextInjector {
public:
    X11TextInjector();
    ~X11TextInjector() override;

    bool available() override;
    bool postPasteShortcut(bool withShift) override;
    bool postReturn() override;
    bool typeText(const std::u32string& text) override;
    bool modifiersHeld() override;

    // Keysym for a Unicode scalar: Latin-1 directly, line feed → Return, tab → Tab, other control
    // characters and surrogates → 0 (not typed), everything else the Unicode keysym range.
    static unsigned long keysymFor(char32_t scalar);

private:
    struct Slot {
        unsigned char keycode;
        unsigned long keysym;  // 0 while the keycode is empty
    };
    void findSpareKeycodes();
    unsigned char keycodeFor(unsigned long keysym);
    void clearSpareKeycodes();
    void tap(unsigned char keycode, int holdMs, int pauseMs);

    X11Display display_;
    std::vector<Slot> slots_;
    size_t nextSlot_ = 0;
    QTimer clearTimer_;
};

}  // namespace quorvel
