#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "core/KeyCombo.h"
#include "platform/x11/X11KeyMap.h"

namespace quorvel {
namespace {

using K = KeyCombo;

KeyEvent flagsEvent(int64_t keyCode, uint64_t flags) { return {KeyEvent::Type::flagsChanged, keyCode, flags}; }

TEST(X11KeyMap, CharacterAndNamedKeysByTheirUsLayoutPosition) {
    // X keycode of the first key of each row, and the row's characters on a US keyboard.
    const std::pair<unsigned, std::string> rows[] = {
        {10, "1234567890-="}, {24, "QWERTYUIOP[]"}, {38, "ASDFGHJKL;'`"}, {51, "\\ZXCVBNM,./"}};
    std::set<int64_t> codes;
    for (const auto& [first, characters] : rows) {
        for (size_t i = 0; i < characters.size(); ++i) {
            const int64_t code = X11KeyMap::keyCodeFor(first + static_cast<unsigned>(i));
            EXPECT_EQ(K::keyName(code), characters.substr(i, 1)) << "X keycode " << first + i;
            codes.insert(code);
        }
    }
    EXPECT_EQ(codes.size(), 47u);
    for (unsigned i = 0; i < 10; ++i) EXPECT_EQ(K::keyName(X11KeyMap::keyCodeFor(67 + i)), "F" + std::to_string(i + 1));
    for (const auto& [xKeycode, name] : {std::pair<unsigned, const char*>{9, "Esc"}, {113, "←"}, {66, "key57"}})
        EXPECT_EQ(K::keyName(X11KeyMap::keyCodeFor(xKeycode)), name) << xKeycode;
    for (unsigned xKeycode : {0u, 8u, 255u, 256u, 1000u})
        EXPECT_EQ(X11KeyMap::keyCodeFor(xKeycode), X11KeyMap::unknownKey) << xKeycode;
}

TEST(X11KeyMap, EachModifierKeyHasItsCodeNameMaskAndSide) {
    struct Row { unsigned xKeycode; int64_t code; const char* name; uint64_t flags; };
    const Row rows[] = {
        {37, 59, "⌃", K::maskCtrl | K::sideLeftCtrl},     {105, 62, "key62", K::maskCtrl | K::sideRightCtrl},
        {50, 56, "⇧", K::maskShift | K::sideLeftShift},   {62, 60, "⇧", K::maskShift | K::sideRightShift},
        {64, 58, "⌥", K::maskOpt | K::sideLeftOpt},       {108, 61, "key61", K::maskOpt | K::sideRightOpt},
        {133, 55, "⌘", K::maskCmd | K::sideLeftCmd},      {134, 54, "⌘", K::maskCmd | K::sideRightCmd},
    };
    for (const Row& row : rows) {
        X11KeyMap map;
        EXPECT_EQ(X11KeyMap::keyCodeFor(row.xKeycode), row.code) << row.xKeycode;
        EXPECT_EQ(K::keyName(row.code), row.name) << row.xKeycode;
        EXPECT_EQ(map.press(row.xKeycode), flagsEvent(row.code, row.flags)) << row.xKeycode;
        EXPECT_EQ(map.press(row.xKeycode), std::nullopt) << "no change while held: " << row.xKeycode;
        EXPECT_EQ(map.release(row.xKeycode), flagsEvent(row.code, 0)) << row.xKeycode;
        EXPECT_EQ(map.release(row.xKeycode), std::nullopt) << row.xKeycode;
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
    EXPECT_EQ(K::defaultToggle.modifierState(0x100018), ModifierState::noMatch);
}

}  // namespace
}  // namespace quorvel
