#pragma once
// The user's vocabulary: replacement rules kept in "vocab.json" (one JSON object of strings,
// phrase → replacement). Used from the main thread only; the correctors it hands out are
// independent values.

#include "core/VocabCorrector.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

class VocabStore {
public:
    using Pairs = std::map<std::string, std::string>;

    // Loads `url`; when it is missing or does not decode, imports the earlier generation's file
    // once (its bytes are copied unchanged to `url`). Never fails: the fallback is no rules. A
    // file that exists but cannot be read, or is larger than files::kMaxStoreFileBytes, is
    // logged, left as it is and never saved over.
    explicit VocabStore(std::filesystem::path url);

    const Pairs& pairs() const { return pairs_; }
    // Changes the rules in memory only; `save` writes them.
    void setPairs(Pairs pairs) { pairs_ = std::move(pairs); }
    // Makes `pairs` the current rules and saves them.
    void replaceAll(Pairs pairs);
    // Writes the rules to `url` atomically. The rules in memory stay as they are either way;
    // the result only says whether the file now holds them (never when the file was kept aside).
    bool save() const;

    // A fresh corrector built from the current rules.
    VocabCorrector corrector() const { return VocabCorrector(pairs_); }

    const std::filesystem::path& url() const { return url_; }

    // The rules in a vocabulary file's bytes; nothing unless they are a JSON object whose
    // values are all strings. Of repeated phrases the last wins. Both directions take
    // O(n log n) time in the number of rules.
    static std::optional<Pairs> decode(std::string_view bytes);
    // The compact JSON text of the rules. Bytes that are not UTF-8 become U+FFFD rather than
    // making the whole file unwritable.
    static std::string encode(const Pairs& pairs);

private:
    std::filesystem::path url_;
    Pairs pairs_;
    bool fileKeptAside_ = false;  // the file exists but could not be read: never save over it
};

}  // namespace quorvel
