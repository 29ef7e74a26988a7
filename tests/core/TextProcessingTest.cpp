#include "core/TextProcessing.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

using TextProcessing::capitalizeFirst;
using TextProcessing::characterCount;
using TextProcessing::cyrillicRatio;
using TextProcessing::sanePunctuated;
using TextProcessing::shouldPunctuate;
using TextProcessing::trimWhitespace;

struct InOut {
    const char* in;
    const char* out;
};

TEST(TextProcessing, ShouldPunctuateOnlyWhenSwitchedOnAndNotExactlyWhisper) {
    for (const char* type : {"nemo", "whisper", "Whisper", "gigaam", ""}) {
        EXPECT_FALSE(shouldPunctuate(type, false)) << type;
    }
    EXPECT_FALSE(shouldPunctuate("whisper", true));
    EXPECT_TRUE(shouldPunctuate("Whisper", true));
    EXPECT_TRUE(shouldPunctuate("nemo", true));
    EXPECT_TRUE(shouldPunctuate("", true));
}

TEST(TextProcessing, CharacterCountUsesGraphemeClusters) {
    EXPECT_EQ(characterCount(""), 0);
    EXPECT_EQ(characterCount("abc"), 3);
    EXPECT_EQ(characterCount("привет"), 6);
    EXPECT_EQ(characterCount("e\u0301"), 1);                       // e + combining acute
    EXPECT_EQ(characterCount("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1);  // family emoji
    EXPECT_EQ(characterCount("\U0001F1F7\U0001F1FA"), 1);         // flag: two regional indicators
    EXPECT_EQ(characterCount("\r\n"), 1);
}

TEST(TextProcessing, CyrillicRatio) {
    struct Case {
        const char* text;
        double ratio;
    };
    const Case cases[] = {
        {"", 0.0},
        {"abc", 0.0},
        {"Ёж1", 2.0 / 3.0},             // capital Ё counts through its lower-case form
        {"ПРИВЕТ", 1.0},
        {"ёлка", 1.0},
        {"їжак", 3.0 / 4.0},            // Ukrainian ї is outside а..я
        {"е\u0308ж", 1.0},              // decomposed ё is one character and counts
        {"дом 1", 3.0 / 5.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(cyrillicRatio(c.text), c.ratio) << c.text;
}

TEST(TextProcessing, SanePunctuatedAcceptsAddedPunctuation) {
    const std::string original = "привет мир";      // 10 characters, 9 Russian letters
    const std::string punctuated = "Привет, мир.";  // 12 characters
    EXPECT_EQ(sanePunctuated(punctuated, original), punctuated);
    // Returned exactly as given: no trimming.
    EXPECT_EQ(sanePunctuated(" привет, мир ", original), " привет, мир ");
}

TEST(TextProcessing, SanePunctuatedRejections) {
    struct Case {
        const char* punctuated;
        const char* original;
        bool accepted;
    };
    const Case cases[] = {
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
        {"Hello, world.", "hello world", true},
        {"anything at all, really", "", true},    // empty original: the length test is skipped
        {"дом", "", false},                       // ... but the Cyrillic test still applies
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sanePunctuated(c.punctuated, c.original).has_value(), c.accepted)
            << "'" << c.punctuated << "' for '" << c.original << "'";
    }
}

TEST(TextProcessing, SanePunctuatedCountsClustersNotBytes) {
    // Five emoji families are five characters: a byte or code point count would reject this.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    EXPECT_TRUE(sanePunctuated(family + family + family + ".", family + family + family).has_value());
}

TEST(TextProcessing, CapitalizeFirst) {
    const InOut cases[] = {
        {"", ""},
        {"hello world", "Hello world"},
        {"привет мир", "Привет мир"},
        {"ßtraße", "SStraße"},         // full mapping; the rest is untouched
        {"ǆemal", "Ǆemal"},            // upper case, not the title-case ǅ
        {"1st", "1st"},
        {"e\u0301cole", "E\u0301cole"},  // the whole first cluster
        {"Already", "Already"},
        {" space", " space"},
    };
    for (const InOut& c : cases) EXPECT_EQ(capitalizeFirst(c.in), c.out) << c.in;
}

TEST(TextProcessing, TrimWhitespace) {
    const InOut cases[] = {
        {"", ""},
        {"   ", ""},
        {"\n\t Привет, мир. \r\n", "Привет, мир."},
        {"\u00A0\u2028text\u3000\u0085", "text"},  // no-break space, line separator, ideographic space, NEL
        {"a  b", "a  b"},
        {"\"quoted\" ", "\"quoted\""},
        {"x", "x"},
    };
    for (const InOut& c : cases) EXPECT_EQ(trimWhitespace(c.in), c.out) << c.in;
    // Invalid bytes are not white space and are kept as they are.
    EXPECT_EQ(trimWhitespace(" \xFF "), "\xFF");
}

}  // namespace
}  // namespace quorvel
