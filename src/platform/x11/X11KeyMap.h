#pragma once
// Translates X keycodes (evdev code + 8) into the stored key codes and keeps the flag word of the
// modifiers held. X raw key events carry no modifier state, so the flag word is rebuilt from the
// modifier keys seen going down and coming up, side by side (right Super = right Command).

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/KeyEventSource.h"

namespace quorvel {

class X11KeyMap {
public:
    static constexpr int64_t unknownKey = -1;
    // The bitmap XQueryKeymap fills: bit k of byte k/8 is set while keycode k is down.
    using KeyBitmap = std::array<uint8_t, 32>;

    // Stored key code of an X keycode; unknownKey for keys without one.
    static int64_t keyCodeFor(unsigned xKeycode);
    // Side bit of a modifier key code (left/right Command, Shift, Option, Control); 0 otherwise.
    static uint64_t sideBitFor(int64_t keyCode);
    // Mask bits plus side bits for a set of held side bits.
    static uint64_t flagWord(uint64_t sideBits);

    // A key went down: a modifier gives flagsChanged (when the flag word changes), any other
    // known key gives keyDown with the current flags.
    std::optional<KeyEvent> press(unsigned xKeycode);
    // A key came up: only a held modifier gives an event (flagsChanged).
    std::optional<KeyEvent> release(unsigned xKeycode);
    // The events between two polled bitmaps, releases before presses, each in keycode order.
    std::vector<KeyEvent> diff(const KeyBitmap& before, const KeyBitmap& after);

    uint64_t flags() const { return flagWord(sides_); }
    void reset() { sides_ = 0; }

private:
    uint64_t sides_ = 0;
};

}  // namespace quorvel
