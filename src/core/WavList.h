#pragma once
// The WAV-list file a script hands the program: one file per line with the text it should give,
// and the JSON result lines written for it.

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::WavList {

struct Entry {
    std::string path;
    std::string expected;
};

// Lines of "path[\texpected[\t…]]"; empty lines are skipped. Lines may end in "\r\n" and the
// text may start with a UTF-8 byte order mark (a list saved by a Windows editor): neither is
// part of a path or an expected text.
std::vector<Entry> parse(std::string_view listText);

// "?" with no expected text, "exact" when equal apart from case and surrounding blanks,
// "partial" when the word counts are close enough (min(G,E)/max(E,1) > 0.6), else "diff".
std::string verdict(const std::string& got, const std::string& expected);

// Compact JSON lines; bytes that are not UTF-8 are written as U+FFFD.
std::string decodeLine(const std::string& file);
std::string resultLine(const std::string& file, const std::string& expected, const std::string& got,
                       double elapsedSeconds);

}  // namespace quorvel::WavList
