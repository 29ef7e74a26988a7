#include "core/WavList.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/Unicode.h"

namespace quorvel::WavList {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string quoted(const std::string& value) {
    return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string trimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

size_t spaceSeparatedWords(const std::string& text) {
    size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c != ' ' && !inWord) ++words;
        inWord = c != ' ';
    }
    return words;
}

Entry parseLine(std::string_view line) {
    const size_t tab = line.find('\t');
    Entry entry{std::string(line.substr(0, tab)), ""};
    if (tab != std::string_view::npos) {
        const size_t next = line.find('\t', tab + 1);
        entry.expected = line.substr(tab + 1, next == std::string_view::npos ? std::string_view::npos : next - tab - 1);
    }
    return entry;
}

}  // namespace

std::vector<Entry> parse(std::string_view listText) {
    if (listText.starts_with(kByteOrderMark)) listText.remove_prefix(kByteOrderMark.size());
    std::vector<Entry> entries;
    while (!listText.empty()) {
        const size_t end = listText.find('\n');
        std::string_view line = listText.substr(0, end);
        listText.remove_prefix(end == std::string_view::npos ? listText.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty()) entries.push_back(parseLine(line));
    }
    return entries;
}

std::string verdict(const std::string& got, const std::string& expected) {
    if (expected.empty()) return "?";
    if (unicode::toLower(trimBlanks(got)) == unicode::toLower(trimBlanks(expected))) return "exact";
    const double g = static_cast<double>(spaceSeparatedWords(got));
    const double e = static_cast<double>(spaceSeparatedWords(expected));
    return std::min(g, e) / std::max(e, 1.0) > 0.6 ? "partial" : "diff";
}

std::string decodeLine(const std::string& file) { return "{\"file\":" + quoted(file) + ",\"error\":\"decode\"}"; }

std::string resultLine(const std::string& file, const std::string& expected, const std::string& got,
                       double elapsedSeconds) {
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f", elapsedSeconds);
    return "{\"file\":" + quoted(file) + ",\"expected\":" + quoted(expected) + ",\"got\":" + quoted(got) +
           ",\"ok\":" + quoted(verdict(got, expected)) + ",\"elapsed_s\":" + elapsed + "}";
}

}  // namespace quorvel::WavList
