#pragma once
// How long dictations (history lines and their audio) are kept; stored in the configuration's
// `keepRecordings` as the raw text.

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

class KeepPolicy {
  public:
    enum Case { forever, d30, d7 };

    constexpr KeepPolicy(Case value) : value_(value) {}  // NOLINT: implicit on purpose

    // "forever", "30d" or "7d"; nothing for any other text.
    static constexpr std::optional<KeepPolicy> fromRaw(std::string_view raw) {
        for (Case c : {forever, d30, d7})
            if (KeepPolicy(c).rawValue() == raw) return KeepPolicy(c);
        return std::nullopt;
    }

    constexpr std::string_view rawValue() const {
        switch (value_) {
            case d30:
                return "30d";
            case d7:
                return "7d";
            case forever:
                break;
        }
        return "forever";
    }

    // Age in seconds after which an entry expires; nothing when entries never expire.
    constexpr std::optional<int64_t> retentionSeconds() const {
        switch (value_) {
            case d30:
                return int64_t{30} * 86400;
            case d7:
                return int64_t{7} * 86400;
            case forever:
                break;
        }
        return std::nullopt;
    }

    constexpr Case value() const { return value_; }
    constexpr bool operator==(const KeepPolicy&) const = default;

  private:
    Case value_;
};

}  // namespace quorvel
