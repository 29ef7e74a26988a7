#pragma once
// Text checks and clean-ups around recognition: whether punctuation restoration runs, whether a
// language model's punctuated answer is still the same text, the capitalisation of a result and
// the trimming of model answers. Pure functions on UTF-8 text.

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::TextProcessing {

// True when punctuation restoration should run for a model of this type: the switch is on and
// the model is not Whisper, which punctuates on its own (exact, case-sensitive "whisper").
bool shouldPunctuate(std::string_view modelType, bool punctRestore);

// The punctuated answer when it is still plausibly the original text with punctuation added;
// nothing when it is empty, contains markdown ("**", "```"), differs in length by more than 35 %
// or in its share of Russian letters by more than half. Lengths count grapheme clusters.
std::optional<std::string> sanePunctuated(std::string_view punctuated, std::string_view original);

// Share of grapheme clusters that are Russian letters (а..я and ё, any case); 0 for an empty text.
double cyrillicRatio(std::string_view text);

// Number of user-perceived characters (extended grapheme clusters).
int64_t characterCount(std::string_view text);

// The text with its first character (grapheme cluster) upper-cased by the full Unicode mapping,
// so a leading "ß" becomes "SS"; the rest is unchanged.
std::string capitalizeFirst(std::string_view text);

// The text without leading and trailing white space and line breaks (Unicode White_Space).
std::string trimWhitespace(std::string_view text);

}  // namespace quorvel::TextProcessing
