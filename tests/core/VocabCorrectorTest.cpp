#include "core/VocabCorrector.h"

#include "support/CoreLogCapture.h"

#include <gtest/gtest.h>
#include <unicode/regex.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

using Case = std::pair<const char*, const char*>;  // input, expected

std::unique_ptr<icu::RegexPattern> compile(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    std::unique_ptr<icu::RegexPattern> pattern(
        icu::RegexPattern::compile(text, UREGEX_CASE_INSENSITIVE, parseError, status));
    return U_SUCCESS(status) ? std::move(pattern) : nullptr;
}

TEST(VocabCorrectorTest, WholeWordsInAnyCaseLiteralMetacharactersAndLongerPhrasesFirst) {
    const std::vector<std::pair<VocabCorrector::Pairs, std::vector<Case>>> rows = {
        {{{"гпт", "GPT"}},
         {{"гпт", "GPT"}, {"ГПТ", "GPT"}, {"Гпт и гПт", "GPT и GPT"},
          {"спроси гпт сегодня", "спроси GPT сегодня"},
          // letters of any script, digits of any script and underscores bind
          {"агпт гпта", "агпт гпта"}, {"xгпт гптx", "xгпт гптx"},
          {"гпт5 5гпт гпт٣", "гпт5 5гпт гпт٣"}, {"_гпт гпт_", "_гпт гпт_"},
          // punctuation and brackets do not
          {"(гпт), [гпт]. «гпт»! гпт-4 гпт?", "(GPT), [GPT]. «GPT»! GPT-4 GPT?"},
          {"гпт,гпт", "GPT,GPT"}}},
        {{{"c++", "C++"}, {"a.b", "X"}, {"(x|y)*", "Z"}, {"$^\\/?{2}[]", "W"}},
         {{"я пишу на c++ и C++", "я пишу на C++ и C++"}, {"cc c+", "cc c+"},
          {"a.b axb a-b", "X axb a-b"}, {"(x|y)* x xy", "Z x xy"},
          {"see $^\\/?{2}[] here", "see W here"}}},
        // The map orders "open" before "open ai"; the longer phrase must still go first.
        {{{"open", "Open"}, {"open ai", "OpenAI"}},
         {{"open ai and open source", "OpenAI and Open source"}}},
        // The skip test must look at the text as it is after each change, not as it came in.
        {{{"джипити чат", "gpt chat"}, {"gpt", "GPT"}}, {{"открой джипити чат", "открой GPT chat"}}},
    };
    for (const auto& [pairs, cases] : rows) {
        const VocabCorrector corrector(pairs);
        for (const auto& [input, expected] : cases)
            EXPECT_EQ(corrector.correct(input), expected) << "input: " << input;
    }
}

TEST(VocabCorrectorTest, ReplacementIsATemplate) {
    // $0 is the match as it was written, groups that do not exist give nothing, a backslash
    // makes the next character (of any length) literal and a trailing one has nothing to escape.
    const std::vector<std::pair<const char*, const char*>> templates = {
        {"[$0]", "[Гпт]"}, {"$0$0", "ГптГпт"}, {"x$1y$9", "xy"},     {"$01", "Гпт1"},
        {"\\$0", "$0"},     {"a\\\\b", "a\\b"},  {"\\п\\р", "пр"},     {"cost $5", "cost "},
        {"$ and $x", "$ and $x"}, {"end\\", "end"}, {"", ""}};  // the last removes the phrase
    for (const auto& [tmpl, expected] : templates) {
        const VocabCorrector corrector(VocabCorrector::Pairs{{"гпт", tmpl}});
        EXPECT_EQ(corrector.correct("<Гпт>"), std::string("<") + expected + ">") << "template: " << tmpl;
    }
}

std::string repeated(std::string_view piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Each rule works on the earlier rules' output. The text may grow to four times the input plus
// 4 KB; the rule that would pass that is skipped with every rule after it, the text so far kept.
TEST(VocabCorrectorTest, GrowthStopsAtTheRuleThatWouldPassTheBound) {
    struct Row {
        std::string input;
        VocabCorrector::Pairs pairs;
        std::string expected;
        const char* skippedRule;  // named in a WARN, or nullptr
    };
    const std::string bs = repeated("b ", 300), cs = repeated("c ", 300), ds = repeated("d ", 300);
    const std::string as = repeated("a ", 1000);  // 2 000 bytes: at most 12 096
    const std::vector<Row> rows = {
        {"a", {{"a", bs}, {"b", cs}, {"c", ds}}, bs, "b"},  // would be 54 MB after the third
        {"x", {{"x", repeated("y", 4100)}}, repeated("y", 4100), nullptr},  // exactly at the bound
        {"x", {{"x", repeated("y", 4101)}}, "x", "x"},
        {"x z", {{"x", repeated("y", 5000)}, {"z", "w"}}, "x z", "x"},  // later rules skipped too
        {as, {{"a", "aaaaaa"}}, repeated("aaaaaa ", 1000), nullptr},
        {as, {{"a", "aaaaaaaaaaaa"}}, as, "a"},
    };
    for (const Row& row : rows) {
        const testing::CoreLogCapture log;
        EXPECT_EQ(VocabCorrector(row.pairs).correct(row.input), row.expected) << row.input.substr(0, 20);
        const std::string named = std::string("\"") + (row.skippedRule ? row.skippedRule : "") + "\"";
        EXPECT_EQ(log.count(corelog::Level::Warn, row.skippedRule ? named : "vocabulary rule"),
                  row.skippedRule ? 1u : 0u) << row.input.substr(0, 20);
    }
}

TEST(VocabCorrectorTest, WithoutRulesTextIsUnchangedAndBytesOutsideMatchesAreKeptEvenWhenNotUtf8) {
    // An empty phrase would match between any two non-word characters.
    for (const VocabCorrector::Pairs& pairs : {VocabCorrector::Pairs{}, {{"", "X"}}}) {
        const VocabCorrector corrector(pairs);
        EXPECT_TRUE(corrector.isEmpty());
        EXPECT_EQ(corrector.correct("Привет - , мир"), "Привет - , мир");
    }
    const VocabCorrector corrector(VocabCorrector::Pairs{{"гпт", "GPT"}});
    EXPECT_FALSE(corrector.isEmpty());
    EXPECT_EQ(corrector.correct("\xff гпт \xfe\xc3"), "\xff GPT \xfe\xc3");
    EXPECT_EQ(corrector.correct("\xff gpt \xfe"), "\xff gpt \xfe");
    EXPECT_EQ(corrector.correct("\xff\x80гпт\xe2\x82"), "\xff\x80GPT\xe2\x82");  // broken bytes do not bind
}

// The corrector skips rules whose folded phrase is absent from the folded text and checks the
// word boundaries itself. Compare with the engine running each rule's whole pattern, on texts
// where case folding or overlapping candidates are tricky.
TEST(VocabCorrectorTest, MatchesWhatTheWholePatternMatches) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"straße", "STRASSE strasse Straße STRAẞE"}, {"strasse", "Straße STRASSE"},
        {"ß", "ß ss SS ẞ"}, {"ss", "ß ẞ"}, {"kelvin k", "KELVIN K kelvin K"},
        {"σοφία", "ΣΟΦΊΑ σοφία"}, {"λόγος", "ΛΌΓΟΣ λόγος λόγοσ"}, {"file", "ﬁle FILE"},
        {"ﬁle", "file ﬁle"}, {"istanbul", "İSTANBUL ISTANBUL ıstanbul"},
        {"ёлка", "ЁЛКА елка Ёлка"}, {"ǆ", "Ǆ ǅ ǆ"},
        {"x", "\u0345x x\u0345 ⅰx xⅠ ⓐx x"},  // a mark that folds to a letter binds
        {"a a", "xa a a"},                        // a rejected candidate overlaps a good one
        {"a-a", "a-a-a xa-a-a"}, {"aa", "aaa aa aaaa"}};
    for (const auto& [phrase, text] : cases) {
        const auto pattern =
            compile(icu::UnicodeString::fromUTF8(VocabCorrector::patternText(phrase)));
        ASSERT_TRUE(pattern) << phrase;
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);  // kept by reference
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
        std::string expected;
        matcher->replaceAll(icu::UnicodeString(u"#"), status).toUTF8String(expected);
        ASSERT_TRUE(U_SUCCESS(status)) << phrase;
        EXPECT_EQ(VocabCorrector(VocabCorrector::Pairs{{phrase, "#"}}).correct(text), expected)
            << "phrase: " << phrase;
    }
}

// Every code point, against what the engine's case-insensitive look-behind and look-ahead say.
TEST(VocabCorrectorTest, WordCharactersAreWhatThePatternBoundariesSee) {
    const auto before = compile(icu::UnicodeString(u"(?<![\\p{L}\\p{N}_])x"));
    const auto after = compile(icu::UnicodeString(u"x(?![\\p{L}\\p{N}_])"));
    ASSERT_TRUE(before && after);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> beforeMatcher(before->matcher(status));
    std::unique_ptr<icu::RegexMatcher> afterMatcher(after->matcher(status));
    int mismatches = 0;
    for (UChar32 c = 0; c <= 0x10FFFF && mismatches < 5; ++c) {
        if (U_IS_SURROGATE(c)) continue;
        const icu::UnicodeString prefixed = icu::UnicodeString(c).append(u'x');
        const icu::UnicodeString suffixed = icu::UnicodeString(u'x').append(c);
        beforeMatcher->reset(prefixed);
        afterMatcher->reset(suffixed);
        const bool blocksBefore = !beforeMatcher->find(prefixed.length() - 1, status);
        const bool blocksAfter = !afterMatcher->lookingAt(status);
        const bool word = VocabCorrector::isWordCharacter(static_cast<char32_t>(c));
        if (blocksBefore != word || blocksAfter != word) {
            ++mismatches;
            ADD_FAILURE() << "U+" << std::hex << c << ": before " << blocksBefore << ", after "
                          << blocksAfter;
        }
    }
    EXPECT_TRUE(U_SUCCESS(status));
}

TEST(VocabCorrectorTest, OneCorrectorServesSeveralThreads) {
    VocabCorrector::Pairs pairs;
    for (int i = 0; i < 200; ++i) pairs["слово" + std::to_string(i)] = "word" + std::to_string(i);
    const std::string text = "слово1 и слово42, потом Слово199 и слово7.";
    const VocabCorrector shared(pairs);  // nothing compiled yet: the threads race to compile
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) threads.emplace_back([&] { result = shared.correct(text); });
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, "word1 и word42, потом word199 и word7.");
}

}  // namespace
}  // namespace quorvel
