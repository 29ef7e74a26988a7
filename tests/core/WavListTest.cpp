#include <gtest/gtest.h>

#include "core/WavList.h"

namespace quorvel {
namespace {

TEST(WavList, ParsesPathsAndOptionalTranscripts) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    const std::pair<const char*, Entries> rows[] = {
        {"/a.wav\tone two\textra\n\n/b.wav\n/c d.wav\t\n", {{"/a.wav", "one two"}, {"/b.wav", ""}, {"/c d.wav", ""}}},
        // Saved by a Windows editor: byte order mark, CRLF line ends, a blank line.
        {"\xEF\xBB\xBF/a.wav\tone two\r\n\r\n/b.wav\r\n", {{"/a.wav", "one two"}, {"/b.wav", ""}}},
    };
    for (const auto& [text, expected] : rows) {
        Entries entries;
        for (const auto& e : WavList::parse(text)) entries.emplace_back(e.path, e.expected);
        EXPECT_EQ(entries, expected) << text;
    }
}

TEST(WavList, Verdicts) {
    struct Row { const char* got; const char* expected; const char* verdict; };
    const Row rows[] = {
        {"", "", "?"},
        {"anything", "", "?"},
        {"  Hello World ", "hello world", "exact"},
        {"ПРИВЕТ мир", "привет Мир", "exact"},
        {"one two three four", "one two three four five", "partial"},  // 4/5 = 0.8
        {"one", "one two three four five", "diff"},                      // 1/5 = 0.2
        {"a b c", "x y z w v", "diff"},                                    // 3/5 = 0.6, not above
        {"one two three four five six", "one two three four five", "partial"},
        {"", "one", "diff"},
    };
    for (const auto& row : rows) EXPECT_EQ(WavList::verdict(row.got, row.expected), row.verdict) << row.got;
}

TEST(WavList, ResultLinesAreCompactAndEscaped) {
    EXPECT_EQ(WavList::decodeLine("/x.wav"), R"({"file":"/x.wav","error":"decode"})");
    EXPECT_EQ(WavList::resultLine("/a.wav", "", "", 1.25),
              R"({"file":"/a.wav","expected":"","got":"","ok":"?","elapsed_s":1.25})");
    EXPECT_EQ(WavList::resultLine("/q\"uote.wav", "say \"hi\"", "say \"hi\"", 0.004),
              R"({"file":"/q\"uote.wav","expected":"say \"hi\"","got":"say \"hi\"","ok":"exact","elapsed_s":0.00})");
}

}  // namespace
}  // namespace quorvel
