#include <gtest/gtest.h>

#include <unordered_set>

#include "core/KeyCombo.h"

namespace quorvel {
namespace {

constexpr uint64_t kCmd = KeyCombo::maskCmd, kOpt = KeyCombo::maskOpt, kShift = KeyCombo::maskShift,
                   kCtrl = KeyCombo::maskCtrl;
using State = ModifierState;

TEST(KeyCombo, DisplayNames) {
    const std::pair<KeyCombo, const char*> rows[] = {
        {KeyCombo::defaultToggle, "правый ⌘"}, {KeyCombo::defaultCancel, "Esc"},
        {KeyCombo::defaultMode, "⌥⌘K"}, {{49, kOpt, 0}, "⌥Space"}, {{96, 0, 0}, "F5"},
        {{55, kCmd, 0}, "⌘"}, {{59, kCtrl, 0}, "⌃"}, {{10, 0, 0}, "key10"},
        {{56, kShift, 0x2}, "правый ⇧"},  // any non-zero side bit gives the prefix
        {{0, kCmd | kShift | kOpt | kCtrl, 0}, "⌃⌥⇧⌘A"}, {{55, kCmd | kShift, 0}, "⇧⌘⌘"},
        {{40, kCmd | 0x100, 0}, "⌘K"}};  // bits outside the four masks show nothing
    for (const auto& [combo, expected] : rows) EXPECT_EQ(combo.displayName(), expected);
}

TEST(KeyCombo, KeyNames) {
    // The codes follow the keyboard, not the alphabet: a few of each kind.
    const std::pair<int64_t, const char*> rows[] = {
        {0, "A"},        {12, "Q"},      {18, "1"},         {27, "-"},    {42, "\\"},   {50, "`"},
        {36, "Return"},  {51, "Delete"}, {76, "Enter"},     {116, "PageUp"}, {123, "←"}, {126, "↑"},
        {122, "F1"},     {99, "F3"},     {111, "F12"},      {54, "⌘"},    {58, "⌥"},    {57, "key57"},
        {61, "key61"},   {-3, "key-3"}};
    for (const auto& [code, name] : rows) EXPECT_EQ(KeyCombo::keyName(code), name) << code;
    int named = 0;
    for (int64_t code = 0; code <= 50; ++code)
        if (KeyCombo::keyName(code).rfind("key", 0) != 0) ++named;
    EXPECT_EQ(named, 50) << "47 ANSI character keys plus Return, Tab and Space";
}

TEST(KeyCombo, ModifierOnlyNeedsTheExactExpectedMask) {
    const std::pair<KeyCombo, bool> rows[] = {
        {{55, kCmd, 0x10}, true},         {{54, kCmd, 0}, true},  {{60, kShift, 0}, true},
        {{58, kOpt, 0}, true},            {{58, kCmd, 0}, false}, {{49, 0, 0}, false},
        {{55, kCmd | kShift, 0}, false},  {{61, kOpt, 0}, false}};  // right Option is not in the set
    for (const auto& [combo, expected] : rows)
        EXPECT_EQ(combo.isModifierOnly(), expected) << combo.keyCode << "/" << combo.modifiers;
}

TEST(KeyCombo, ModifierStates) {
    const KeyCombo &toggle = KeyCombo::defaultToggle, eitherCmd{55, kCmd, 0},
                   leftCtrl{59, kCtrl, 0x1}, odd{56, kShift, 0x80};
    const std::tuple<KeyCombo, uint64_t, State> rows[] = {
        {toggle, 0x100010, State::down},      {toggle, 0x100008, State::noMatch},
        {toggle, 0x100018, State::noMatch},   {toggle, 0x10, State::released},
        {toggle, 0, State::released},         {toggle, 0x120010, State::down},
        {toggle, 0x100110, State::down},      {eitherCmd, 0x100008, State::down},
        {eitherCmd, 0x100000, State::down},   {eitherCmd, 0x20000, State::released},
        // left Control has its counterpart at 0x2000
        {leftCtrl, 0x40001, State::down},     {leftCtrl, 0x42001, State::noMatch},
        {leftCtrl, 0x42000, State::noMatch},
        // either side with its counterpart also down
        {{56, kShift, 0x2}, 0x20006, State::noMatch}, {{56, kShift, 0x4}, 0x20006, State::noMatch},
        {{58, kOpt, 0x20}, 0x80060, State::noMatch},  {{58, kOpt, 0x40}, 0x80060, State::noMatch},
        {{55, kCmd, 0x8}, 0x100018, State::noMatch},  {{59, kCtrl, 0x2000}, 0x42001, State::noMatch},
        // a side bit without a counterpart only needs itself
        {odd, 0x20080, State::down},          {odd, 0x20000, State::noMatch},
        {KeyCombo::defaultMode, 0x180000, State::noMatch},
        {KeyCombo::defaultCancel, 0, State::noMatch}};
    for (const auto& [combo, flags, expected] : rows)
        EXPECT_EQ(combo.modifierState(flags), expected)
            << combo.displayName() << " with flags " << std::hex << flags;
}

TEST(KeyCombo, KeyDownMatchingIsExactAboveTheLowByte) {
    const KeyCombo &mode = KeyCombo::defaultMode, &cancel = KeyCombo::defaultCancel;
    const std::tuple<KeyCombo, int64_t, uint64_t, bool> rows[] = {
        {mode, 40, 0x180000, true},    {mode, 40, 0x180028, true},
        {mode, 40, 0x1A0000, false},   // Shift also held
        {mode, 40, 0x180100, false},   // an extra flag bit prevents a match
        {mode, 41, 0x180000, false},   {cancel, 53, 0x0, true}, {cancel, 53, 0x20000, false},
        {KeyCombo::defaultToggle, 55, 0x100010, false}};  // modifier-only never matches
    for (const auto& [combo, code, flags, expected] : rows)
        EXPECT_EQ(combo.matchesKeyDown(code, flags), expected)
            << combo.displayName() << " " << code << " " << std::hex << flags;
}

TEST(KeyCombo, JsonRoundTripStrictDecodingEqualityAndHash) {
    EXPECT_EQ(KeyCombo::defaultToggle.toJson().dump(), R"({"keyCode":55,"modifiers":1048576,"deviceBit":16})");
    EXPECT_EQ(KeyCombo::defaultMode.toJson().dump(), R"({"keyCode":40,"modifiers":1572864,"deviceBit":0})");
    for (const KeyCombo& combo : {KeyCombo::defaultToggle, KeyCombo::defaultMode, KeyCombo{-1, ~0ULL, 0x2000}})
        EXPECT_EQ(KeyCombo::fromJson(combo.toJson()), combo);

    const char* bad[] = {R"({"keyCode":55,"modifiers":1048576})",
                         R"({"keyCode":55,"modifiers":1048576,"deviceBit":null})",
                         R"({"keyCode":"55","modifiers":0,"deviceBit":0})",
                         R"({"keyCode":55,"modifiers":-1,"deviceBit":0})",
                         R"({"keyCode":55.5,"modifiers":0,"deviceBit":0})", R"([55,0,0])"};
    for (const char* text : bad)
        EXPECT_THROW(KeyCombo::fromJson(json::Json::parse(text)), json::DecodeError) << text;
    EXPECT_EQ(KeyCombo::fromJson(json::Json::parse(R"({"deviceBit":0,"keyCode":53,"modifiers":0,"x":1})")),
              KeyCombo::defaultCancel);

    std::unordered_set<KeyCombo> set{KeyCombo{55, kCmd, 0x10}, KeyCombo{55, kCmd, 0x8}, KeyCombo{55, kCmd, 0x10}};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(std::hash<KeyCombo>{}(KeyCombo::defaultMode), std::hash<KeyCombo>{}(KeyCombo{40, 0x180000, 0}));
}

}  // namespace
}  // namespace quorvel
