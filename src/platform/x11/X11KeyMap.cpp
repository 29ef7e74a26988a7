#include "platform/x11/X11KeyMap.h"

#include <utility>

#include "core/KeyCombo.h"

namespace quorvel {
namespace {

// X keycode (evdev + 8) → stored key code, by physical position on an ANSI keyboard.
constexpr std::pair<uint8_t, int16_t> kKeycodes[] = {
    {9, 53},    // Escape
    {10, 18},   {11, 19},  {12, 20},  {13, 21},  {14, 23},  {15, 22},  {16, 26},  {17, 28},
    {18, 25},   {19, 29},  // 1..9, 0
    {20, 27},   {21, 24},  {22, 51},  {23, 48},  // - = BackSpace Tab
    {24, 12},   {25, 13},  {26, 14},  {27, 15},  {28, 17},  {29, 16},  {30, 32},  {31, 34},
    {32, 31},   {33, 35},  {34, 33},  {35, 30},  // Q..P [ ]
    {36, 36},   {37, 59},  // Return, Control_L
    {38, 0},    {39, 1},   {40, 2},   {41, 3},   {42, 5},   {43, 4},   {44, 38},  {45, 40},
    {46, 37},   {47, 41},  {48, 39},  {49, 50},  // A..L ; ' `
    {50, 56},   {51, 42},  // Shift_L, backslash
    {52, 6},    {53, 7},   {54, 8},   {55, 9},   {56, 11},  {57, 45},  {58, 46},  {59, 43},
    {60, 47},   {61, 44},  // Z..M , . /
    {62, 60},   {63, 67},  {64, 58},  {65, 49},  {66, 57},  // Shift_R KP_* Alt_L space Caps_Lock
    {67, 122},  {68, 120}, {69, 99},  {70, 118}, {71, 96},  {72, 97},  {73, 98},  {74, 100},
    {75, 101},  {76, 109}, {95, 103}, {96, 111},  // F1..F12
    {77, 71},   {79, 89},  {80, 91},  {81, 92},  {82, 78},  {83, 86},  {84, 87},  {85, 88},
    {86, 69},   {87, 83},  {88, 84},  {89, 85},  {90, 82},  {91, 65},  {106, 75}, {125, 81},  // keypad
    {94, 10},   // the extra key of ISO keyboards
    {104, 76},  {105, 62}, {108, 61},  // KP_Enter, Control_R, Alt_R
    {110, 115}, {111, 126}, {112, 116}, {113, 123}, {114, 124}, {115, 119}, {116, 125},
    {117, 121}, {119, 117},  // Home Up PageUp Left Right End Down PageDown Delete
    {133, 55},  {134, 54},   // Super_L, Super_R
};

constexpr std::array<int16_t, 256> buildTable() {
    std::array<int16_t, 256> table{};
    for (auto& entry : table) entry = -1;
    for (const auto& [xKeycode, keyCode] : kKeycodes) table[xKeycode] = keyCode;
    return table;
}

constexpr std::array<int16_t, 256> kTable = buildTable();

struct ModifierSides {
    uint64_t mask;
    uint64_t sides;
};

constexpr ModifierSides kModifierSides[] = {
    {KeyCombo::maskCtrl, KeyCombo::sideLeftCtrl | KeyCombo::sideRightCtrl},
    {KeyCombo::maskShift, KeyCombo::sideLeftShift | KeyCombo::sideRightShift},
    {KeyCombo::maskCmd, KeyCombo::sideLeftCmd | KeyCombo::sideRightCmd},
    {KeyCombo::maskOpt, KeyCombo::sideLeftOpt | KeyCombo::sideRightOpt},
};

bool isDown(const X11KeyMap::KeyBitmap& keys, unsigned keycode) {
    return (keys[keycode / 8] >> (keycode % 8)) & 1u;
}

}  // namespace

int64_t X11KeyMap::keyCodeFor(unsigned xKeycode) {
    return xKeycode < kTable.size() ? kTable[xKeycode] : unknownKey;
}

uint64_t X11KeyMap::sideBitFor(int64_t keyCode) {
    switch (keyCode) {
        case 59: return KeyCombo::sideLeftCtrl;
        case 62: return KeyCombo::sideRightCtrl;
        case 56: return KeyCombo::sideLeftShift;
        case 60: return KeyCombo::sideRightShift;
        case 55: return KeyCombo::sideLeftCmd;
        case 54: return KeyCombo::sideRightCmd;
        case 58: return KeyCombo::sideLeftOpt;
        case 61: return KeyCombo::sideRightOpt;
        default: return 0;
    }
}

uint64_t X11KeyMap::flagWord(uint64_t sideBits) {
    uint64_t flags = sideBits;
    for (const auto& modifier : kModifierSides) {
        if (sideBits & modifier.sides) flags |= modifier.mask;
    }
    return flags;
}

std::optional<KeyEvent> X11KeyMap::press(unsigned xKeycode) {
    const int64_t keyCode = keyCodeFor(xKeycode);
    if (keyCode == unknownKey) return std::nullopt;
    const uint64_t side = sideBitFor(keyCode);
    if (side == 0) {
        // Caps Lock changes no flag we keep and is no key-down either.
        if (keyCode == 57) return std::nullopt;
        return KeyEvent{KeyEvent::Type::keyDown, keyCode, flags()};
    }
    if (sides_ & side) return std::nullopt;
    sides_ |= side;
    return KeyEvent{KeyEvent::Type::flagsChanged, keyCode, flags()};
}

std::optional<KeyEvent> X11KeyMap::release(unsigned xKeycode) {
    const int64_t keyCode = keyCodeFor(xKeycode);
    const uint64_t side = keyCode == unknownKey ? 0 : sideBitFor(keyCode);
    if (side == 0 || !(sides_ & side)) return std::nullopt;
    sides_ &= ~side;
    return KeyEvent{KeyEvent::Type::flagsChanged, keyCode, flags()};
}

std::vector<KeyEvent> X11KeyMap::diff(const KeyBitmap& before, const KeyBitmap& after) {
    std::vector<KeyEvent> events;
    for (unsigned keycode = 0; keycode < 256; ++keycode) {
        if (isDown(before, keycode) && !isDown(after, keycode)) {
            if (auto event = release(keycode)) events.push_back(*event);
        }
    }
    for (unsigned keycode = 0; keycode < 256; ++keycode) {
        if (!isDown(before, keycode) && isDown(after, keycode)) {
            if (auto event = press(keycode)) events.push_back(*event);
        }
    }
    return events;
}

}  // namespace quorvel
