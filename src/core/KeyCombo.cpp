#include "core/KeyCombo.h"

#include <array>
#include <map>

namespace quorvel {

const KeyCombo KeyCombo::defaultToggle{55, KeyCombo::maskCmd, KeyCombo::sideRightCmd};
const KeyCombo KeyCombo::defaultCancel{53, 0, 0};
const KeyCombo KeyCombo::defaultMode{40, KeyCombo::maskOpt | KeyCombo::maskCmd, 0};

namespace {

struct Glyph {
    uint64_t mask;
    const char* text;   // in the log's names
    const char* label;  // in the names people read on Linux
};
// Order of the modifiers in a combination's name.
constexpr std::array<Glyph, 4> kGlyphOrder{{{KeyCombo::maskCtrl, "⌃", "Ctrl"},
                                            {KeyCombo::maskOpt, "⌥", "Alt"},
                                            {KeyCombo::maskShift, "⇧", "Shift"},
                                            {KeyCombo::maskCmd, "⌘", "Super"}}};

// Character keys of the ANSI layout, by virtual key code.
const std::map<int64_t, const char*>& characterKeys() {
    static const std::map<int64_t, const char*> keys{
        {0, "A"},  {1, "S"},  {2, "D"},  {3, "F"},  {4, "H"},  {5, "G"},  {6, "Z"},  {7, "X"},
        {8, "C"},  {9, "V"},  {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"},
        {17, "T"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
        {25, "9"}, {26, "7"}, {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "O"}, {32, "U"},
        {33, "["}, {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {39, "'"}, {40, "K"}, {41, ";"},
        {42, "\\"}, {43, ","}, {44, "/"}, {45, "N"}, {46, "M"}, {47, "."}, {50, "`"}};
    return keys;
}

const std::map<int64_t, const char*>& namedKeys() {
    static const std::map<int64_t, const char*> keys{
        {36, "Return"}, {48, "Tab"},  {49, "Space"}, {51, "Delete"}, {53, "Esc"},  {76, "Enter"},
        {115, "Home"},  {116, "PageUp"}, {119, "End"}, {121, "PageDown"}, {123, "←"}, {124, "→"},
        {125, "↓"},     {126, "↑"},   {122, "F1"},   {120, "F2"},    {99, "F3"},   {118, "F4"},
        {96, "F5"},     {97, "F6"},   {98, "F7"},    {100, "F8"},    {101, "F9"},  {109, "F10"},
        {103, "F11"},   {111, "F12"}, {54, "⌘"},     {55, "⌘"},      {56, "⇧"},    {60, "⇧"},
        {58, "⌥"},      {59, "⌃"}};
    return keys;
}

}  // namespace

uint64_t KeyCombo::expectedMask(int64_t code) {
    switch (code) {
        case 54:
        case 55: return maskCmd;
        case 56:
        case 60: return maskShift;
        case 58: return maskOpt;
        case 59: return maskCtrl;
        default: return 0;
    }
}

bool KeyCombo::isModifierKeyCode(int64_t code) { return expectedMask(code) != 0; }

bool KeyCombo::isModifierOnly() const {
    return isModifierKeyCode(keyCode) && modifiers == expectedMask(keyCode);
}

bool KeyCombo::matchesKeyDown(int64_t eventKeyCode, uint64_t rawFlags) const {
    if (isModifierOnly()) return false;
    return eventKeyCode == keyCode && (rawFlags & ~uint64_t{0xFF}) == modifiers;
}

ModifierState KeyCombo::modifierState(uint64_t rawFlags) const {
    if (!isModifierOnly()) return ModifierState::noMatch;
    const bool held = (modifiers & rawFlags) == modifiers;
    if (deviceBit == 0) return held ? ModifierState::down : ModifierState::released;
    if (!held) return ModifierState::released;
    const uint64_t other = counterpart(deviceBit);
    if (other != 0 && (rawFlags & other) != 0) return ModifierState::noMatch;
    return (rawFlags & deviceBit) != 0 ? ModifierState::down : ModifierState::noMatch;
}

uint64_t KeyCombo::counterpart(uint64_t sideBit) {
    switch (sideBit) {
        case sideLeftCtrl: return sideRightCtrl;
        case sideRightCtrl: return sideLeftCtrl;
        case sideLeftShift: return sideRightShift;
        case sideRightShift: return sideLeftShift;
        case sideLeftCmd: return sideRightCmd;
        case sideRightCmd: return sideLeftCmd;
        case sideLeftOpt: return sideRightOpt;
        case sideRightOpt: return sideLeftOpt;
        default: return 0;
    }
}

std::string KeyCombo::label() const {
    constexpr uint64_t rightSides = sideRightCmd | sideRightOpt | sideRightShift | sideRightCtrl;
    if (isModifierOnly()) {
        std::string name;
        for (const auto& m : kGlyphOrder)
            if (modifiers == m.mask) name = m.label;
        if (deviceBit == 0) return name;
        return ((deviceBit & rightSides) ? "правый " : "левый ") + name;
    }
    std::string text;
    for (const auto& m : kGlyphOrder)
        if (modifiers & m.mask) text += std::string(m.label) + "+";
    return text + keyName(keyCode);
}

std::string KeyCombo::displayName() const {
    if (isModifierOnly()) {
        std::string name = deviceBit != 0 ? "правый " : "";
        const char* glyph = "?";
        for (const auto& g : kGlyphOrder)
            if (modifiers == g.mask) glyph = g.text;
        return name + glyph;
    }
    std::string name;
    for (const auto& g : kGlyphOrder)
        if ((modifiers & g.mask) != 0) name += g.text;
    return name + keyName(keyCode);
}

std::string KeyCombo::keyName(int64_t code) {
    if (const auto it = characterKeys().find(code); it != characterKeys().end()) return it->second;
    if (const auto it = namedKeys().find(code); it != namedKeys().end()) return it->second;
    return "key" + std::to_string(code);
}

KeyCombo KeyCombo::fromJson(const json::Json& value) {
    json::requireObject(value, "KeyCombo");
    for (const char* key : {"keyCode", "modifiers", "deviceBit"}) {
        const auto it = value.find(key);
        if (it == value.end() || it->is_null())
            throw json::DecodeError(std::string("KeyCombo: missing ") + key);
    }
    KeyCombo combo;
    json::read(value, "keyCode", combo.keyCode);
    json::read(value, "modifiers", combo.modifiers);
    json::read(value, "deviceBit", combo.deviceBit);
    return combo;
}

json::Json KeyCombo::toJson() const {
    json::Json j = json::Json::object();
    j["keyCode"] = keyCode;
    j["modifiers"] = modifiers;
    j["deviceBit"] = deviceBit;
    return j;
}

}  // namespace quorvel

size_t std::hash<quorvel::KeyCombo>::operator()(const quorvel::KeyCombo& combo) const noexcept {
    size_t seed = std::hash<int64_t>{}(combo.keyCode);
    for (uint64_t part : {combo.modifiers, combo.deviceBit})
        seed ^= std::hash<uint64_t>{}(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}
