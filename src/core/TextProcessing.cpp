#include "core/TextProcessing.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "core/Unicode.h"

namespace quorvel::TextProcessing {
namespace {

constexpr double kMaxLengthDrift = 0.35;
constexpr double kMaxCyrillicDrift = 0.5;

// Calls visit(begin, end) with the byte range of each grapheme cluster of a UTF-8 text, in order,
// until it returns false. Invalid bytes are read as U+FFFD and still get a range of their own.
template <typename Visit>
void forEachCluster(std::string_view text, Visit visit) {
    if (text.empty()) return;
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        utext_close(ut);
        return;
    }
    it->setText(ut, status);
    if (U_SUCCESS(status)) {
        int32_t begin = it->first();
        for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next()) {
            if (!visit(static_cast<size_t>(begin), static_cast<size_t>(end))) break;
            begin = end;
        }
    }
    it.reset();
    utext_close(ut);
}

// Lower-cased and composed, so "Ё" and "Е" + combining diaeresis both read as "ё".
std::string lowerComposed(std::string_view cluster) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString lower =
        icu::UnicodeString::fromUTF8(icu::StringPiece(cluster.data(), static_cast<int32_t>(cluster.size())))
            .toLower(icu::Locale::getRoot());
    std::string out;
    if (U_SUCCESS(status) && nfc) {
        nfc->normalize(lower, status).toUTF8String(out);
        if (U_SUCCESS(status)) return out;
        out.clear();
    }
    lower.toUTF8String(out);
    return out;
}

// UTF-8 byte order equals code point order, so the range test is a plain string comparison.
bool isRussianLetter(std::string_view cluster) {
    static const std::string first = "\u0430";  // а
    static const std::string last = "\u044F";   // я
    static const std::string yo = "\u0451";     // ё
    const std::string lower = lowerComposed(cluster);
    return (lower >= first && lower <= last) || lower == yo;
}

}  // namespace

bool shouldPunctuate(std::string_view modelType, bool punctRestore) {
    return punctRestore && modelType != "whisper";
}

int64_t characterCount(std::string_view text) {
    int64_t count = 0;
    forEachCluster(text, [&](size_t, size_t) {
        ++count;
        return true;
    });
    return count;
}

double cyrillicRatio(std::string_view text) {
    int64_t total = 0;
    int64_t cyrillic = 0;
    forEachCluster(text, [&](size_t begin, size_t end) {
        ++total;
        if (isRussianLetter(text.substr(begin, end - begin))) ++cyrillic;
        return true;
    });
    if (total == 0) return 0.0;
    return static_cast<double>(cyrillic) / static_cast<double>(total);
}

std::optional<std::string> sanePunctuated(std::string_view punctuated, std::string_view original) {
    if (punctuated.empty()) return std::nullopt;
    if (punctuated.find("**") != std::string_view::npos) return std::nullopt;
    if (punctuated.find("```") != std::string_view::npos) return std::nullopt;
    const int64_t originalCount = characterCount(original);
    if (originalCount > 0) {
        const double drift =
            std::abs(static_cast<double>(characterCount(punctuated) - originalCount)) /
            static_cast<double>(originalCount);
        if (drift > kMaxLengthDrift) return std::nullopt;
    }
    if (std::abs(cyrillicRatio(punctuated) - cyrillicRatio(original)) > kMaxCyrillicDrift) {
        return std::nullopt;
    }
    return std::string(punctuated);
}

std::string capitalizeFirst(std::string_view text) {
    size_t firstEnd = 0;
    forEachCluster(text, [&](size_t, size_t end) {
        firstEnd = end;
        return false;
    });
    if (firstEnd == 0) return std::string(text);
    std::string out = unicode::toUpper(text.substr(0, firstEnd));
    out.append(text.substr(firstEnd));
    return out;
}

std::string trimWhitespace(std::string_view text) {
    // One forward pass: the kept range runs from the first to the end of the last code point that
    // is not white space. Invalid bytes are kept (they are not white space).
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t begin = -1;
    int32_t end = 0;
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && unicode::isWhitespace(static_cast<char32_t>(c))) continue;
        if (begin < 0) begin = start;
        end = i;
    }
    if (begin < 0) return {};
    return std::string(text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)));
}

}  // namespace quorvel::TextProcessing
