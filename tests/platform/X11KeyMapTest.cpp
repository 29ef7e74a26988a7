#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "core/KeyCombo.h"
#include "platform/x11/X11KeyMap.h"

namespace quorvel {
namespace {

constexpr uint64_t kCmd = KeyCombo::maskCmd, kOpt = KeyCombo::maskOpt, kShift = KeyCombo::maskShift,
                   kCtrl = KeyCombo::maskCtrl;

KeyEvent flagsEvent(int64_t keyCode, uint64_t flags) {
    return {KeyEvent::Type::flagsChanged, keyCode, flags};
}
KeyEvent downEvent(int64_t keyCode, uint64_t flags) {
    return {KeyEvent::Type::keyDown, keyCode, flags};
}

TEST(X11KeyMap, CharacterKeysByTheirUsLayoutPosition) {
    // X keycode of the first key of each row, and the row's characters on a US keyboard.
    const std::pair<unsigned, std::string> rows[] = {
        {10, "1234567890-="}, {24, "QWERTYUIOP[]"}, {38, "ASDFGHJKL;'`"}, {51, "\\ZXCVBNM,./"}};
    std::set<int64_t> codes;
    for (const auto& [first, characters] : rows) {
        for (size_t i = 0; i < characters.size(); ++i) {
            const int64_t code = X11KeyMap::keyCodeFor(first + static_cast<unsigned>(i));
            EXPECT_EQ(KeyCombo::keyName(code), characters.substr(i, 1)) << "X keycode " << first + i;
            codes.insert(code);
        }
    }
    EXPECT_EQ(codes.size(), 47u);
}

TEST(X11KeyMap, NamedKeys) {
    const std::pair<unsigned, const char*> rows[] = {
        {9, "Esc"},     {22, "Delete"},  {23, "Tab"},   {36, "Return"},  {104, "Enter"},  {65, "Space"},
        {67, "F1"},     {68, "F2"},      {69, "F3"},    {70, "F4"},      {71, "F5"},      {72, "F6"},
        {73, "F7"},     {74, "F8"},      {75, "F9"},    {76, "F10"},     {95, "F11"},     {96, "F12"},
        {110, "Home"},  {115, "End"},    {112, "PageUp"}, {117, "PageDown"}, {113, "←"},  {114, "→"},
        {111, "↑"},     {116, "↓"},      {133, "⌘"},    {134, "⌘"},      {50, "⇧"},       {62, "⇧"},
        {64, "⌥"},      {37, "⌃"},       {108, "key61"}, {105, "key62"}, {66, "key57"},   {119, "key117"},
    };
    for (const auto& [xKeycode, name] : rows) EXPECT_EQ(KeyCombo::keyName(X11KeyMap::keyCodeFor(xKeycode)), name) << xKeycode;
}

TEST(X11KeyMap, ModifierSidesAndUnknownKeys) {
    const std::pair<unsigned, int64_t> modifiers[] = {{133, 55}, {134, 54}, {64, 58}, {108, 61},
                                                      {37, 59},  {105, 62}, {50, 56}, {62, 60}};
    for (const auto& [xKeycode, code] : modifiers) EXPECT_EQ(X11KeyMap::keyCodeFor(xKeycode), code) << xKeycode;
    for (unsigned xKeycode : {0u, 8u, 255u, 256u, 1000u}) {
        EXPECT_EQ(X11KeyMap::keyCodeFor(xKeycode), X11KeyMap::unknownKey) << xKeycode;
    }
}

TEST(X11KeyMap, EachModifierKeySetsItsMaskAndSide) {
    const std::pair<unsigned, uint64_t> rows[] = {
        {37, kCtrl | KeyCombo::sideLeftCtrl},   {105, kCtrl | KeyCombo::sideRightCtrl},
        {50, kShift | KeyCombo::sideLeftShift}, {62, kShift | KeyCombo::sideRightShift},
        {64, kOpt | KeyCombo::sideLeftOpt},     {108, kOpt | KeyCombo::sideRightOpt},
        {133, kCmd | KeyCombo::sideLeftCmd},    {134, kCmd | KeyCombo::sideRightCmd},
    };
    for (const auto& [xKeycode, flags] : rows) {
        X11KeyMap map;
        const int64_t code = X11KeyMap::keyCodeFor(xKeycode);
        EXPECT_EQ(map.press(xKeycode), flagsEvent(code, flags)) << xKeycode;
        EXPECT_EQ(map.press(xKeycode), std::nullopt) << "no change while held: " << xKeycode;
        EXPECT_EQ(map.release(xKeycode), flagsEvent(code, 0)) << xKeycode;
        EXPECT_EQ(map.release(xKeycode), std::nullopt) << xKeycode;
    }
}

TEST(X11KeyMap, BothSidesHeldKeepTheMaskUntilTheLastRelease) {
    X11KeyMap map;
    EXPECT_EQ(map.press(134), flagsEvent(54, 0x100010));
    EXPECT_EQ(map.press(133), flagsEvent(55, 0x100018));
    EXPECT_EQ(map.release(134), flagsEvent(54, 0x100008));
    EXPECT_EQ(map.release(133), flagsEvent(55, 0));
    // The same presses in the other release order.
    map.press(134);
    map.press(133);
    EXPECT_EQ(map.release(133), flagsEvent(55, 0x100010));
    EXPECT_EQ(map.release(134), flagsEvent(54, 0));
    // Which the default record key reads as: down, no match while both are held, released.
    EXPECT_EQ(KeyCombo::defaultToggle.modifierState(0x100018), ModifierState::noMatch);
}

TEST(X11KeyMap, OrdinaryKeysCarryTheHeldModifiers) {
    X11KeyMap map;
    map.press(108);  // right Alt
    map.press(133);  // left Super
    const auto k = map.press(45);
    EXPECT_EQ(k, downEvent(40, kOpt | kCmd | KeyCombo::sideRightOpt | KeyCombo::sideLeftCmd));
    ASSERT_TRUE(k);
    EXPECT_TRUE(KeyCombo::defaultMode.matchesKeyDown(k->keyCode, k->flags));
    EXPECT_EQ(map.release(45), std::nullopt);  // key up is no event
    EXPECT_EQ(map.press(66), std::nullopt);    // Caps Lock neither
    EXPECT_EQ(map.press(200), std::nullopt);   // nor an unknown key
    EXPECT_EQ(map.press(9), downEvent(53, map.flags()));  // repeats are reported again
    EXPECT_EQ(map.press(9), downEvent(53, map.flags()));
    map.reset();
    EXPECT_EQ(map.flags(), 0u);
}

TEST(X11KeyMap, PolledBitmapsGiveReleasesThenPresses) {
    auto bitmap = [](std::initializer_list<unsigned> keycodes) {
        X11KeyMap::KeyBitmap keys{};
        for (unsigned k : keycodes) keys[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
        return keys;
    };
    X11KeyMap map;
    EXPECT_EQ(map.diff(bitmap({}), bitmap({134})), std::vector<KeyEvent>{flagsEvent(54, 0x100010)});
    EXPECT_EQ(map.diff(bitmap({134}), bitmap({133, 45})),
              (std::vector<KeyEvent>{flagsEvent(54, 0), downEvent(40, 0), flagsEvent(55, 0x100008)}));
    EXPECT_EQ(map.diff(bitmap({133, 45}), bitmap({133, 45})), std::vector<KeyEvent>{});
    EXPECT_EQ(map.diff(bitmap({133, 45}), bitmap({})), std::vector<KeyEvent>{flagsEvent(55, 0)});
}

}  // namespace
}  // namespace quorvel
