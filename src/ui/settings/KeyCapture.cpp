#include "ui/settings/KeyCapture.h"

namespace quorvel {
namespace {

constexpr int64_t kEscape = 53;
constexpr int64_t kCapsLock = 57;
constexpr uint64_t kLowFlagBits = 0xFF;

struct ModifierKind {
    unsigned xMask;
    uint64_t mask;
    uint64_t sides;
};

constexpr ModifierKind kKinds[] = {
    {KeyCapture::xShift, KeyCombo::maskShift, KeyCombo::sideLeftShift | KeyCombo::sideRightShift},
    {KeyCapture::xControl, KeyCombo::maskCtrl, KeyCombo::sideLeftCtrl | KeyCombo::sideRightCtrl},
    {KeyCapture::xAlt, KeyCombo::maskOpt, KeyCombo::sideLeftOpt | KeyCombo::sideRightOpt},
    {KeyCapture::xSuper, KeyCombo::maskCmd, KeyCombo::sideLeftCmd | KeyCombo::sideRightCmd},
};

bool anyModifier(unsigned xState) {
    for (const auto& kind : kKinds)
        if (xState & kind.xMask) return true;
    return false;
}

}  // namespace

uint64_t KeyCapture::flagsFor(unsigned xState) const {
    // The X state says which modifiers are held; the keys seen going down say on which side
    // (right Control has a bit of its own above the low eight). A modifier held since before the
    // capture started has no known side.
    const uint64_t heldSides = keys_.flags();
    uint64_t flags = 0;
    for (const auto& kind : kKinds)
        if (xState & kind.xMask) flags |= kind.mask | (heldSides & kind.sides);
    return flags;
}

KeyCombo KeyCapture::modifierAlone(int64_t keyCode) {
    int64_t code = keyCode;
    if (code == 61) code = 58;  // right Alt → the Option key code
    if (code == 62) code = 59;  // right Control → the Control key code
    return KeyCombo{code, KeyCombo::expectedMask(code), X11KeyMap::sideBitFor(keyCode)};
}

KeyCapture::Result KeyCapture::press(unsigned xKeycode, unsigned xState) {
    const int64_t keyCode = X11KeyMap::keyCodeFor(xKeycode);
    if (keyCode == X11KeyMap::unknownKey || keyCode == kCapsLock) return {};
    if (X11KeyMap::sideBitFor(keyCode) != 0) {
        const bool othersHeld = anyModifier(xState) || keys_.flags() != 0;
        keys_.press(xKeycode);
        if (othersHeld) {
            loneModifier_.reset();
        } else {
            loneModifier_ = keyCode;
        }
        return {};
    }
    loneModifier_.reset();
    if (keyCode == kEscape && !anyModifier(xState)) return {Outcome::cancelled, {}};
    return {Outcome::captured, KeyCombo{keyCode, flagsFor(xState) & ~kLowFlagBits, 0}};
}

KeyCapture::Result KeyCapture::release(unsigned xKeycode) {
    const int64_t keyCode = X11KeyMap::keyCodeFor(xKeycode);
    if (keyCode == X11KeyMap::unknownKey || X11KeyMap::sideBitFor(keyCode) == 0) return {};
    keys_.release(xKeycode);
    if (loneModifier_ != keyCode) return {};
    loneModifier_.reset();
    return {Outcome::captured, modifierAlone(keyCode)};
}

}  // namespace quorvel
