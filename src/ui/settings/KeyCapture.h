#pragma once
// Turns the key presses of a shortcut capture into the combination the global hot-key listener
// reports for the same keys, so a captured combination matches when it is pressed later. Keys
// arrive as X keycodes (evdev code + 8, what Qt's key events carry as their native scan code on
// X11 and Wayland) with the X modifier state of the event, and go through the listener's own
// keycode table.
//
// An ordinary key is taken on its press, with the modifiers held: key code, flag word without its
// low eight bits, deviceBit 0. A modifier pressed and released with no other key in between is
// taken on its release as a modifier-only combination bound to its side (right Super alone, left
// Control alone). Esc without modifiers cancels.

#include <cstdint>
#include <optional>

#include "core/KeyCombo.h"
#include "platform/x11/X11KeyMap.h"

namespace quorvel {

class KeyCapture {
public:
    enum class Outcome { waiting, captured, cancelled };
    struct Result {
        Outcome outcome = Outcome::waiting;
        KeyCombo combo;  // when captured

        friend bool operator==(const Result&, const Result&) = default;
    };

    // X modifier state bits (the core protocol's ShiftMask, ControlMask, Mod1Mask, Mod4Mask).
    static constexpr unsigned xShift = 0x1;
    static constexpr unsigned xControl = 0x4;
    static constexpr unsigned xAlt = 0x8;
    static constexpr unsigned xSuper = 0x40;

    Result press(unsigned xKeycode, unsigned xState);
    Result release(unsigned xKeycode);

    // The modifier-only combination of a modifier key, by the KeyCombo rules: the key code of its
    // kind that KeyCombo knows (right Control and right Alt have none of their own) and the side
    // bit of the key itself.
    static KeyCombo modifierAlone(int64_t keyCode);

private:
    uint64_t flagsFor(unsigned xState) const;

    X11KeyMap keys_;  // which sides of the modifiers are held, tracked as the listener does
    std::optional<int64_t> loneModifier_;
};

}  // namespace quorvel
