#pragma once
// Small UTF-8 / Unicode helpers on top of ICU, shared by the stores and the text processing.

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::unicode {

bool isValidUtf8(std::string_view text);

// Unicode White_Space property (line breaks included).
bool isWhitespace(char32_t codePoint);

// Number of maximal runs of non-whitespace characters. Invalid bytes count as non-whitespace.
int64_t wordCount(std::string_view text);

// Full Unicode case mappings (root locale): "ß" upper-cases to "SS".
std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);
std::string foldCase(std::string_view text);

// Number of code points (invalid bytes count one each).
int64_t codePointCount(std::string_view text);

}  // namespace quorvel::unicode
