#include <gtest/gtest.h>

#include <unordered_set>

#include "core/KeyCombo.h"

namespace quorvel {
namespace {

constexpr uint64_t kCmd = KeyCombo::maskCmd, kOpt = KeyCombo::maskOpt, kShift = KeyCombo::maskShift,
                   kCtrl = KeyCombo::maskCtrl;

TEST(KeyCombo, DisplayNames) {
    struct Row {
        KeyCombo combo;
        const char* expected;
    };
    const Row rows[] = {
        {KeyCombo::defaultToggle, "правый ⌘"},
        {KeyCombo::defaultCancel, "Esc"},
        {KeyCombo::defaultMode, "⌥⌘K"},
        {{49, kOpt, 0}, "⌥Space"},
        {{96, 0, 0}, "F5"},
        {{55, kCmd, 0}, "⌘"},
        {{56, kShift, 0x2}, "правый ⇧"},  // any non-zero side bit gives the prefix
        {{59, kCtrl, 0}, "⌃"},
        {{0, kCmd | kShift | kOpt | kCtrl, 0}, "⌃⌥⇧⌘A"},
        {{40, kCmd | 0x100, 0}, "⌘K"},  // bits outside the four masks show nothing
        {{55, kCmd | kShift, 0}, "⇧⌘⌘"},
        {{10, 0, 0}, "key10"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.combo.displayName(), row.expected) << row.expected;
}

TEST(KeyCombo, KeyNames) {
    const std::pair<int64_t, const char*> rows[] = {
        {0, "A"},   {1, "S"},     {12, "Q"},     {18, "1"},   {24, "="},    {27, "-"},   {30, "]"},
        {33, "["},  {39, "'"},    {41, ";"},     {42, "\\"},  {43, ","},    {44, "/"},   {47, "."},
        {50, "`"},  {36, "Return"}, {48, "Tab"}, {51, "Delete"}, {76, "Enter"}, {115, "Home"},
        {116, "PageUp"}, {119, "End"}, {121, "PageDown"}, {123, "←"}, {124, "→"}, {125, "↓"},
        {126, "↑"}, {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {97, "F6"}, {98, "F7"},
        {100, "F8"}, {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"}, {54, "⌘"}, {60, "⇧"},
        {58, "⌥"},  {59, "⌃"},   {57, "key57"}, {61, "key61"}, {-3, "key-3"}};
    for (const auto& [code, name] : rows) EXPECT_EQ(KeyCombo::keyName(code), name) << code;
    int named = 0;
    for (int64_t code = 0; code <= 50; ++code)
        if (KeyCombo::keyName(code).rfind("key", 0) != 0) ++named;
    EXPECT_EQ(named, 50) << "47 ANSI character keys plus Return, Tab and Space";
}

TEST(KeyCombo, ModifierOnlyNeedsTheExactExpectedMask) {
    EXPECT_TRUE((KeyCombo{55, kCmd, 0x10}.isModifierOnly()));
    EXPECT_TRUE((KeyCombo{54, kCmd, 0}.isModifierOnly()));
    EXPECT_TRUE((KeyCombo{60, kShift, 0}.isModifierOnly()));
    EXPECT_TRUE((KeyCombo{58, kOpt, 0}.isModifierOnly()));
    EXPECT_FALSE((KeyCombo{55, kCmd | kShift, 0}.isModifierOnly()));
    EXPECT_FALSE((KeyCombo{58, kCmd, 0}.isModifierOnly()));
    EXPECT_FALSE((KeyCombo{61, kOpt, 0}.isModifierOnly())) << "right Option is not in the set";
    EXPECT_FALSE((KeyCombo{49, 0, 0}.isModifierOnly()));
}

TEST(KeyCombo, ModifierStateOfTheDefaultRecordKey) {
    const KeyCombo& toggle = KeyCombo::defaultToggle;
    const std::pair<uint64_t, ModifierState> rows[] = {
        {0x100010, ModifierState::down},     {0x100008, ModifierState::noMatch},
        {0x100018, ModifierState::noMatch},  {0x10, ModifierState::released},
        {0, ModifierState::released},        {0x120010, ModifierState::down},
        {0x100110, ModifierState::down}};
    for (const auto& [flags, expected] : rows)
        EXPECT_EQ(toggle.modifierState(flags), expected) << std::hex << flags;
}

TEST(KeyCombo, ModifierStateOfEitherSideAndOfOrdinaryCombos) {
    const KeyCombo eitherCmd{55, kCmd, 0};
    EXPECT_EQ(eitherCmd.modifierState(0x100008), ModifierState::down);
    EXPECT_EQ(eitherCmd.modifierState(0x100000), ModifierState::down);
    EXPECT_EQ(eitherCmd.modifierState(0x20000), ModifierState::released);
    // left Control has its counterpart at 0x2000
    const KeyCombo leftCtrl{59, kCtrl, 0x1};
    EXPECT_EQ(leftCtrl.modifierState(0x40001), ModifierState::down);
    EXPECT_EQ(leftCtrl.modifierState(0x42001), ModifierState::noMatch);
    EXPECT_EQ(leftCtrl.modifierState(0x42000), ModifierState::noMatch);
    // a side bit without a counterpart only needs itself
    const KeyCombo odd{56, kShift, 0x80};
    EXPECT_EQ(odd.modifierState(0x20080), ModifierState::down);
    EXPECT_EQ(odd.modifierState(0x20000), ModifierState::noMatch);
    EXPECT_EQ(KeyCombo::defaultMode.modifierState(0x180000), ModifierState::noMatch);
    EXPECT_EQ(KeyCombo::defaultCancel.modifierState(0), ModifierState::noMatch);
}

TEST(KeyCombo, KeyDownMatchingIsExactAboveTheLowByte) {
    const KeyCombo& mode = KeyCombo::defaultMode;
    EXPECT_TRUE(mode.matchesKeyDown(40, 0x180000));
    EXPECT_TRUE(mode.matchesKeyDown(40, 0x180028));
    EXPECT_FALSE(mode.matchesKeyDown(40, 0x1A0000)) << "Shift also held";
    EXPECT_FALSE(mode.matchesKeyDown(40, 0x180100)) << "an extra flag bit prevents a match";
    EXPECT_FALSE(mode.matchesKeyDown(41, 0x180000));
    EXPECT_TRUE(KeyCombo::defaultCancel.matchesKeyDown(53, 0x0));
    EXPECT_FALSE(KeyCombo::defaultCancel.matchesKeyDown(53, 0x20000));
    EXPECT_FALSE(KeyCombo::defaultToggle.matchesKeyDown(55, 0x100010)) << "modifier-only never matches";
}

TEST(KeyCombo, CounterpartsArePairs) {
    const std::pair<uint64_t, uint64_t> pairs[] = {{0x1, 0x2000}, {0x2, 0x4}, {0x8, 0x10}, {0x20, 0x40}};
    for (const auto& [a, b] : pairs) {
        EXPECT_EQ(KeyCombo::counterpart(a), b);
        EXPECT_EQ(KeyCombo::counterpart(b), a);
    }
    EXPECT_EQ(KeyCombo::counterpart(0), 0u);
    EXPECT_EQ(KeyCombo::counterpart(0x18), 0u);
}

TEST(KeyCombo, JsonRoundTripAndStrictDecoding) {
    EXPECT_EQ(KeyCombo::defaultToggle.toJson().dump(), R"({"keyCode":55,"modifiers":1048576,"deviceBit":16})");
    EXPECT_EQ(KeyCombo::defaultMode.toJson().dump(), R"({"keyCode":40,"modifiers":1572864,"deviceBit":0})");
    for (const KeyCombo& combo : {KeyCombo::defaultToggle, KeyCombo::defaultMode, KeyCombo{-1, ~0ULL, 0x2000}})
        EXPECT_EQ(KeyCombo::fromJson(combo.toJson()), combo);

    const char* bad[] = {R"({"keyCode":55,"modifiers":1048576})",
                         R"({"keyCode":55,"modifiers":1048576,"deviceBit":null})",
                         R"({"keyCode":"55","modifiers":0,"deviceBit":0})",
                         R"({"keyCode":55,"modifiers":-1,"deviceBit":0})",
                         R"({"keyCode":55.5,"modifiers":0,"deviceBit":0})",
                         R"([55,0,0])"};
    for (const char* text : bad)
        EXPECT_THROW(KeyCombo::fromJson(json::Json::parse(text)), json::DecodeError) << text;
    EXPECT_EQ(KeyCombo::fromJson(json::Json::parse(R"({"deviceBit":0,"keyCode":53,"modifiers":0,"x":1})")),
              KeyCombo::defaultCancel);
}

TEST(KeyCombo, EqualityAndHashCoverAllThreeFields) {
    std::unordered_set<KeyCombo> set{KeyCombo{55, kCmd, 0x10}, KeyCombo{55, kCmd, 0x8}, KeyCombo{55, kCmd, 0x10}};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_NE((KeyCombo{40, kCmd, 0}), (KeyCombo{40, kOpt, 0}));
    EXPECT_EQ(std::hash<KeyCombo>{}(KeyCombo::defaultMode), std::hash<KeyCombo>{}(KeyCombo{40, 0x180000, 0}));
}

}  // namespace
}  // namespace quorvel
