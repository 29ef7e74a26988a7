#include "core/TextProcessing.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvel {
namespace {

using namespace TextProcessing;

TEST(TextProcessing, ShouldPunctuateOnlyWhenSwitchedOnAndNotExactlyWhisper) {
    for (const char* type : {"nemo", "whisper", "Whisper", ""}) {
        EXPECT_FALSE(shouldPunctuate(type, false)) << type;
        EXPECT_EQ(shouldPunctuate(type, true), std::string(type) != "whisper") << type;
    }
}

TEST(TextProcessing, CharacterCountUsesGraphemeClusters) {
    EXPECT_EQ(characterCount(""), 0);
    EXPECT_EQ(characterCount("привет"), 6);
    EXPECT_EQ(characterCount("e\u0301"), 1);                                       // e + combining acute
    EXPECT_EQ(characterCount("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1);  // family emoji
    EXPECT_EQ(characterCount("\U0001F1F7\U0001F1FA"), 1);                         // two regional indicators
    EXPECT_EQ(characterCount("\r\n"), 1);
}

TEST(TextProcessing, CyrillicRatio) {
    struct Case {
        const char* text;
        double ratio;
    };
    const Case cases[] = {
        {"", 0.0},
        {"Ёж1", 2.0 / 3.0},   // capital Ё counts through its lower-case form
        {"ПРИВЕТ", 1.0},
        {"ёлка", 1.0},
        {"їжак", 3.0 / 4.0},  // Ukrainian ї is outside а..я
        {"е\u0308ж", 1.0},    // decomposed ё is one character and counts
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(cyrillicRatio(c.text), c.ratio) << c.text;
}

TEST(TextProcessing, SanePunctuated) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    struct Case {
        std::string punctuated;
        std::string original;
        bool accepted;  // and then returned exactly as given
    };
    const Case cases[] = {
        {"Привет, мир.", "привет мир", true},
        {" привет, мир ", "привет мир", true},  // no trimming
        {"", "привет мир", false},
        {"", "", false},
        {"**Привет**, мир.", "привет мир", false},
        {"Привет, м**ир.", "привет мир", false},
        {"```привет мир```", "привет мир", false},
        {"abcdefghijklmn", "abcdefghij", false},  // 14 vs 10: 0.4 > 0.35
        {"abcdefghijklm", "abcdefghij", true},    // 13 vs 10: 0.3
        {"abcdef", "abcdefghij", false},          // 6 vs 10: 0.4
        {"abcdefg", "abcdefghij", true},          // 7 vs 10: 0.3
        {"hello world", "привет мир", false},     // Latin answer for a Russian text
        {"anything at all, really", "", true},    // empty original: the length test is skipped
        {"дом", "", false},                       // ... but the Cyrillic test still applies
        // Three characters: a byte or code point count would reject this.
        {family + family + family + ".", family + family + family, true},
    };
    for (const Case& c : cases) {
        const auto out = sanePunctuated(c.punctuated, c.original);
        EXPECT_EQ(out.has_value(), c.accepted) << "'" << c.punctuated << "' for '" << c.original << "'";
        if (out) {
            EXPECT_EQ(*out, c.punctuated);
        }
    }
}

TEST(TextProcessing, CapitalizeFirstAndTrimWhitespace) {
    struct Case {
        std::string (*clean)(std::string_view);
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {capitalizeFirst, "", ""},
        {capitalizeFirst, "привет мир", "Привет мир"},
        {capitalizeFirst, "ßtraße", "SStraße"},           // full mapping; the rest is untouched
        {capitalizeFirst, "ǆemal", "Ǆemal"},              // upper case, not the title-case ǅ
        {capitalizeFirst, "e\u0301cole", "E\u0301cole"},  // the whole first cluster
        {capitalizeFirst, " space", " space"},
        {trimWhitespace, "   ", ""},
        {trimWhitespace, "\n\t Привет, мир. \r\n", "Привет, мир."},
        {trimWhitespace, "\u00A0\u2028text\u3000\u0085", "text"},  // NBSP, line separator, ideographic space, NEL
        {trimWhitespace, "a  b", "a  b"},
        {trimWhitespace, " \xFF ", "\xFF"},  // invalid bytes are not white space and are kept as they are
    };
    for (const Case& c : cases) EXPECT_EQ(c.clean(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace quorvel
