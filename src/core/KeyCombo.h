#pragma once
// One global hot key: an ordinary key with an exact set of modifiers (⌥⌘K), or a modifier key
// alone, optionally bound to one side of the keyboard (right ⌘). Key codes and flag bits are the
// stored values of the configuration file; platform backends translate their own events to them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/JsonFields.h"

namespace quorvel {

enum class ModifierState { noMatch, down, released };

struct KeyCombo {
    int64_t keyCode = 0;
    uint64_t modifiers = 0;
    uint64_t deviceBit = 0;

    // Device-independent modifier bits of the flag word.
    static constexpr uint64_t maskShift = 0x20000;
    static constexpr uint64_t maskCtrl = 0x40000;
    static constexpr uint64_t maskOpt = 0x80000;
    static constexpr uint64_t maskCmd = 0x100000;

    // Device-dependent side bits of the flag word.
    static constexpr uint64_t sideLeftCtrl = 0x1;
    static constexpr uint64_t sideLeftShift = 0x2;
    static constexpr uint64_t sideRightShift = 0x4;
    static constexpr uint64_t sideLeftCmd = 0x8;
    static constexpr uint64_t sideRightCmd = 0x10;
    static constexpr uint64_t sideLeftOpt = 0x20;
    static constexpr uint64_t sideRightOpt = 0x40;
    static constexpr uint64_t sideRightCtrl = 0x2000;

    static const KeyCombo defaultToggle;  // right ⌘ alone
    static const KeyCombo defaultCancel;  // Esc
    static const KeyCombo defaultMode;    // ⌥⌘K

    // Key codes that can form a modifier-only combination: 54, 55, 56, 58, 59, 60.
    static bool isModifierKeyCode(int64_t code);
    // The mask a modifier key code must carry to be modifier-only; 0 for other codes.
    static uint64_t expectedMask(int64_t code);

    bool isModifierOnly() const;
    bool matchesKeyDown(int64_t eventKeyCode, uint64_t rawFlags) const;
    ModifierState modifierState(uint64_t rawFlags) const;
    // The name the log uses (⌘, ⌥, ⌃, ⇧).
    std::string displayName() const;
    // The name a person reads on Linux: "правый Super" for the right Super key alone,
    // "Alt+Super+K" for ⌥⌘K. Every window, menu and tool shows keys this way.
    std::string label() const;

    static uint64_t counterpart(uint64_t sideBit);
    static std::string keyName(int64_t code);

    // The JSON object {"keyCode","modifiers","deviceBit"}; all three required when reading.
    static KeyCombo fromJson(const json::Json& value);
    json::Json toJson() const;

    friend bool operator==(const KeyCombo&, const KeyCombo&) = default;
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::KeyCombo> {
    size_t operator()(const quorvel::KeyCombo& combo) const noexcept;
};
