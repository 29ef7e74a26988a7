#pragma once
// Texts of the settings window in Russian and English, picked by the interface language.

#include <optional>
#include <string>
#include <vector>

namespace quorvel::L10n {

// The current interface language code; "ru" until the settings window sets `uiLanguage`.
// Read and written on the main thread only.
const std::string& language();
void setLanguage(std::string code);

// The text of `key` in the current language; Russian for an unknown language; the key itself
// for an unknown key.
std::string t(const std::string& key);

// The table's keys in order, and one entry's text in one language (for the settings pages and
// for checks of the table).
std::vector<std::string> keys();
std::optional<std::string> text(const std::string& key, const std::string& code);

}  // namespace quorvel::L10n
