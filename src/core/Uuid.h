#pragma once
// Random (version 4) UUIDs in their canonical upper-case text form.

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::uuid {

// A new random identifier, e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301".
std::string generate();

// The canonical upper-case form of a UUID text in either case; nothing when it is not a UUID.
std::optional<std::string> canonical(std::string_view text);

}  // namespace quorvel::uuid
