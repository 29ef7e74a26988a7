#include "core/Unicode.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace quorvel::unicode {
namespace {

// Walks the code points of a UTF-8 text; invalid sequences come out as negative values.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        visit(c);
    }
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    bool valid = true;
    forEachCodePoint(text, [&](UChar32 c) { valid = valid && c >= 0; });
    return valid;
}

bool isWhitespace(char32_t codePoint) {
    return u_isUWhiteSpace(static_cast<UChar32>(codePoint));
}

int64_t wordCount(std::string_view text) {
    int64_t words = 0;
    bool inWord = false;
    forEachCodePoint(text, [&](UChar32 c) {
        const bool space = c >= 0 && u_isUWhiteSpace(c);
        if (!space && !inWord) ++words;
        inWord = !space;
    });
    return words;
}

std::string toLower(std::string_view text) {
    return toUtf8(fromUtf8(text).toLower(icu::Locale::getRoot()));
}

std::string toUpper(std::string_view text) {
    return toUtf8(fromUtf8(text).toUpper(icu::Locale::getRoot()));
}

std::string foldCase(std::string_view text) {
    return toUtf8(fromUtf8(text).foldCase(U_FOLD_CASE_DEFAULT));
}

int64_t codePointCount(std::string_view text) {
    int64_t count = 0;
    forEachCodePoint(text, [&](UChar32) { ++count; });
    return count;
}

}  // namespace quorvel::unicode
