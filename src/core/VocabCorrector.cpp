#include "core/VocabCorrector.h"

#include "core/CoreLog.h"
#include "core/Unicode.h"

#include <unicode/regex.h>
#include <unicode/uniset.h>
#include <unicode/utf8.h>
#include <unicode/utext.h>

#include <string.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// Neither preceded nor followed by a letter, a digit (any script) or an underscore.
constexpr std::string_view kBefore = "(?<![\\p{L}\\p{N}_])";
constexpr std::string_view kAfter = "(?![\\p{L}\\p{N}_])";
constexpr std::string_view kMetacharacters = "\\*?+[](){}^$|./";

std::string escapePhrase(std::string_view phrase) {
    std::string out;
    out.reserve(phrase.size() + 8);
    for (char c : phrase) {
        if (kMetacharacters.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

// One part of a replacement template: literal text, or the whole match.
struct Piece {
    bool isMatch = false;
    std::string literal;
};

// "$0" is the match; "$" with another digit names a capture group, and the patterns have none,
// so it stands for nothing (further digits are taken only while the number stays 0, as the
// engine does). "\" makes the next character literal; a trailing "\" is dropped. Any other "$"
// is literal. Parsing never fails, so no template can lose the text.
std::vector<Piece> parseTemplate(std::string_view tmpl) {
    std::vector<Piece> pieces;
    std::string literal;
    const auto flush = [&] {
        if (!literal.empty()) pieces.push_back({false, std::move(literal)});
        literal.clear();
    };
    size_t i = 0;
    while (i < tmpl.size()) {
        const char c = tmpl[i];
        if (c == '\\') {
            if (++i >= tmpl.size()) break;
            literal += tmpl[i++];  // the whole next character, all of its UTF-8 bytes
            while (i < tmpl.size() && isContinuationByte(tmpl[i])) literal += tmpl[i++];
        } else if (c == '$' && i + 1 < tmpl.size() && isDigit(tmpl[i + 1])) {
            const bool wholeMatch = tmpl[i + 1] == '0';
            i += 2;
            while (wholeMatch && i < tmpl.size() && tmpl[i] == '0') ++i;
            flush();
            if (wholeMatch) pieces.push_back({true, {}});
        } else {
            literal += c;
            ++i;
        }
    }
    flush();
    return pieces;
}

}  // namespace

struct VocabCorrector::Rules {
    struct Rule {
        std::string phrase;  // as the user wrote it, for the log
        std::string escapedPhrase;  // compiled alone: the boundaries are checked by applyRule
        std::string foldedPhrase;  // for the cheap "can it match at all" test
        std::vector<Piece> replacement;

        // Compiled on first use: most rules never get past the substring test, and compiling
        // a thousand patterns up front would cost more than correcting a text.
        const icu::RegexPattern* pattern() const {
            std::call_once(once, [this] {
                UErrorCode status = U_ZERO_ERROR;
                UParseError parseError{};
                std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
                    icu::UnicodeString::fromUTF8(escapedPhrase), UREGEX_CASE_INSENSITIVE, parseError, status));
                if (U_SUCCESS(status)) compiledPattern = std::move(compiled);
            });
            return compiledPattern.get();
        }

    private:
        mutable std::once_flag once;
        mutable std::unique_ptr<icu::RegexPattern> compiledPattern;
    };

    explicit Rules(size_t count) : list(count) {}
    std::vector<Rule> list;  // never resized: rules hold once_flags
};

namespace {

using Rule = VocabCorrector::Rules::Rule;

void appendReplacement(const std::vector<Piece>& pieces, std::string_view match, std::string& out) {
    for (const Piece& piece : pieces) {
        if (piece.isMatch)
            out += match;
        else
            out += piece.literal;
    }
}

// The letter, digit and underscore class of the rule boundaries, closed over case the way the
// engine closes every class of a case-insensitive pattern. The engine needs milliseconds to build
// that class, and it would do so for every rule; checking the boundaries here against one shared
// copy gives the same matches for a fraction of the cost.
class WordCharacters {
public:
    WordCharacters() {
        UErrorCode status = U_ZERO_ERROR;
        set_.applyPattern(icu::UnicodeString(u"[\\p{L}\\p{N}_]"), status);
        set_.closeOver(USET_CASE_INSENSITIVE);
        set_.removeAllStrings();
        set_.freeze();
    }
    bool contains(UChar32 c) const { return c >= 0 && set_.contains(c); }

private:
    icu::UnicodeSet set_;
};

const WordCharacters& wordCharacters() {
    static const WordCharacters instance;
    return instance;
}

// The code point at byte `at` (negative when the bytes there are not UTF-8) and the offset
// after it.
std::pair<UChar32, int64_t> codePointAt(std::string_view text, int64_t at) {
    const std::string_view window = text.substr(static_cast<size_t>(at), 4);
    const auto* bytes = reinterpret_cast<const uint8_t*>(window.data());
    int32_t next = 0;
    UChar32 c;
    U8_NEXT(bytes, next, static_cast<int32_t>(window.size()), c);
    return {c, at + next};
}

// The code point that ends at byte `at`; negative when the bytes there are not UTF-8.
UChar32 codePointBefore(std::string_view text, int64_t at) {
    int64_t lead = at - 1;
    while (lead > 0 && at - lead < 4 && isContinuationByte(text[static_cast<size_t>(lead)])) --lead;
    const auto [c, next] = codePointAt(text, lead);
    return next == at ? c : -1;
}

// True when neither the character before `start` nor the one at `end` belongs to a word.
bool standsAlone(std::string_view text, int64_t start, int64_t end) {
    if (start > 0 && wordCharacters().contains(codePointBefore(text, start))) return false;
    const auto length = static_cast<int64_t>(text.size());
    return end >= length || !wordCharacters().contains(codePointAt(text, end).first);
}

enum class Applied { Unchanged, Changed, TooLong };

// Replaces every non-overlapping whole-word match in `text`. A candidate that touches a word
// character is passed over and the search goes on from its next character, as a look-around
// pattern would. The text is left as it was on any engine error, and when the result would
// exceed `maxSize` bytes (found out while building it, so it never grows far beyond).
Applied applyRule(const Rule& rule, std::string& text, size_t maxSize) {
    const icu::RegexPattern* pattern = rule.pattern();
    if (pattern == nullptr) return Applied::Unchanged;
    UErrorCode status = U_ZERO_ERROR;
    // Matching on the UTF-8 bytes directly: match positions are byte offsets into `text`.
    UText* input = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::string out;
    bool matched = false;
    {
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(status));
        if (U_SUCCESS(status)) matcher->reset(input);
        const auto length = static_cast<int64_t>(text.size());
        int64_t copied = 0;
        int64_t from = 0;
        while (U_SUCCESS(status) && from < length && matcher->find(from, status)) {
            const int64_t start = matcher->start64(status);
            const int64_t end = matcher->end64(status);
            if (U_FAILURE(status)) break;
            if (start < copied || end <= start || !standsAlone(text, start, end)) {
                from = std::max(codePointAt(text, start).second, from + 1);
                continue;
            }
            out.append(text, static_cast<size_t>(copied), static_cast<size_t>(start - copied));
            appendReplacement(rule.replacement,
                              std::string_view(text).substr(static_cast<size_t>(start), static_cast<size_t>(end - start)),
                              out);
            copied = from = end;
            matched = true;
            if (out.size() > maxSize) break;
        }
        if (matched) out.append(text, static_cast<size_t>(copied));
    }
    utext_close(input);
    if (U_FAILURE(status) || !matched || out == text) return Applied::Unchanged;
    if (out.size() > maxSize) return Applied::TooLong;
    text.swap(out);
    return Applied::Changed;
}

}  // namespace

VocabCorrector::VocabCorrector(const Pairs& pairs) {
    struct Draft {
        std::string_view phrase;
        std::string_view replacement;
        std::string escaped;
        int64_t length;
    };
    std::vector<Draft> drafts;
    drafts.reserve(pairs.size());
    for (const auto& [phrase, replacement] : pairs) {
        if (phrase.empty()) continue;
        std::string escaped = escapePhrase(phrase);
        const int64_t length = unicode::codePointCount(escaped);
        drafts.push_back({phrase, replacement, std::move(escaped), length});
    }
    // The boundary parts are the same for every rule, so the escaped phrase's length orders
    // the whole patterns: longer phrases go before the shorter ones they may contain.
    std::stable_sort(drafts.begin(), drafts.end(),
                     [](const Draft& a, const Draft& b) { return a.length > b.length; });

    auto rules = std::make_shared<Rules>(drafts.size());
    for (size_t i = 0; i < drafts.size(); ++i) {
        Rule& rule = rules->list[i];
        rule.phrase = drafts[i].phrase;
        rule.escapedPhrase = std::move(drafts[i].escaped);
        rule.foldedPhrase = unicode::foldCase(drafts[i].phrase);
        rule.replacement = parseTemplate(drafts[i].replacement);
    }
    rules_ = std::move(rules);
}

VocabCorrector::~VocabCorrector() = default;
VocabCorrector::VocabCorrector(const VocabCorrector&) = default;
VocabCorrector& VocabCorrector::operator=(const VocabCorrector&) = default;
VocabCorrector::VocabCorrector(VocabCorrector&&) noexcept = default;
VocabCorrector& VocabCorrector::operator=(VocabCorrector&&) noexcept = default;

std::string VocabCorrector::correct(std::string_view input) const {
    std::string text(input);
    if (!rules_ || rules_->list.empty()) return text;
    // Case-insensitive matching is full case folding, so a rule can only match where its
    // folded phrase occurs in the folded text; all other rules are skipped unscanned.
    // (memmem rather than find: in Cyrillic text nearly every other byte is the same lead byte.)
    std::string folded = unicode::foldCase(text);
    const size_t maxSize = maxCorrectedSize(input.size());
    for (const Rule& rule : rules_->list) {
        if (::memmem(folded.data(), folded.size(), rule.foldedPhrase.data(), rule.foldedPhrase.size()) == nullptr) continue;
        const Applied applied = applyRule(rule, text, maxSize);
        if (applied == Applied::Changed) folded = unicode::foldCase(text);
        if (applied == Applied::TooLong) {
            corelog::warn("vocabulary rule \"" + rule.phrase + "\" would make the text longer than " +
                          std::to_string(maxSize) + " bytes: it and the rules after it are skipped");
            break;
        }
    }
    return text;
}

bool VocabCorrector::isEmpty() const {
    if (!rules_) return true;
    return std::none_of(rules_->list.begin(), rules_->list.end(),
                        [](const Rule& rule) { return rule.pattern() != nullptr; });
}

bool VocabCorrector::isWordCharacter(char32_t c) {
    return wordCharacters().contains(static_cast<UChar32>(c));
}

std::string VocabCorrector::patternText(std::string_view phrase) {
    return std::string(kBefore) + escapePhrase(phrase) + std::string(kAfter);
}

}  // namespace quorvel
