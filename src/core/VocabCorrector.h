#pragma once
// Applies the user's vocabulary to recognised text: every phrase is a whole-word,
// case-insensitive rule, longer phrases first, each replacement a small template ("$0" is the
// match, "\" makes the next character literal).
//
// A corrector is an immutable value once built and may be used from any thread. Copies share
// the same rules.

#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel {

class VocabCorrector {
public:
    using Pairs = std::map<std::string, std::string>;

    // Builds the rules from (phrase → replacement) pairs. Empty phrases are left out: they
    // would match between any two non-word characters and scatter the replacement over the text.
    explicit VocabCorrector(const Pairs& pairs);
    ~VocabCorrector();
    VocabCorrector(const VocabCorrector&);
    VocabCorrector& operator=(const VocabCorrector&);
    VocabCorrector(VocabCorrector&&) noexcept;
    VocabCorrector& operator=(VocabCorrector&&) noexcept;

    // The text with every rule applied in order; unchanged when there are no rules. Rules work
    // on the earlier rules' output, so a few of them could multiply the text without end: when
    // a rule would make it longer than maxCorrectedSize(input), that rule and all later ones
    // are skipped, the text so far is kept and a WARN names the rule.
    std::string correct(std::string_view text) const;

    // The most a text of `inputSize` bytes may grow to: four times as long plus 4 KB.
    static size_t maxCorrectedSize(size_t inputSize) { return 4 * inputSize + 4096; }

    // True when no rule can ever apply.
    bool isEmpty() const;

    // The regular expression a phrase stands for: the escaped phrase, neither preceded nor
    // followed by a letter, a digit or an underscore. Rules are ordered by its length.
    static std::string patternText(std::string_view phrase);

    // What the boundaries of that expression count as part of a word (the case-insensitive
    // closure of letters, digits and the underscore).
    static bool isWordCharacter(char32_t c);

    struct Rules;

private:
    std::shared_ptr<const Rules> rules_;
};

}  // namespace quorvel
