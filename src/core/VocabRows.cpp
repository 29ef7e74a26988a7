#include "core/VocabRows.h"

#include "core/Uuid.h"
#include "core/VocabStore.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace quorvel::VocabRows {
namespace {

// A code point and where it starts and ends in the UTF-8 text; invalid bytes come out negative.
struct CodePoint {
    UChar32 value;
    size_t begin;
    size_t end;
};

std::vector<CodePoint> codePoints(std::string_view text) {
    std::vector<CodePoint> out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t begin = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        out.push_back({c, static_cast<size_t>(begin), static_cast<size_t>(i)});
    }
    return out;
}

bool isLineBreak(UChar32 c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Space characters of any kind and tabs; line breaks never reach here.
bool isBlank(UChar32 c) { return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR); }

std::vector<std::string_view> nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t lineBegin = 0;
    const auto addLine = [&](size_t end) {
        if (end > lineBegin) lines.push_back(text.substr(lineBegin, end - lineBegin));
    };
    for (const CodePoint& c : codePoints(text)) {
        if (!isLineBreak(c.value)) continue;
        addLine(c.begin);
        lineBegin = c.end;
    }
    addLine(text.size());
    return lines;
}

std::string_view trimBlanks(std::string_view field) {
    const auto points = codePoints(field);
    const auto first = std::find_if(points.begin(), points.end(), [](const CodePoint& c) { return !isBlank(c.value); });
    if (first == points.end()) return {};
    const auto last = std::find_if(points.rbegin(), points.rend(), [](const CodePoint& c) { return !isBlank(c.value); });
    return field.substr(first->begin, last->end - first->begin);
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view line, char separator) {
    std::vector<std::string_view> pieces;
    size_t begin = 0;
    while (begin <= line.size()) {
        size_t end = line.find(separator, begin);
        if (end == std::string_view::npos) end = line.size();
        if (end > begin) pieces.push_back(line.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

// At most one split, at the first comma that ends a non-empty piece; the rest of the line,
// commas and all, is the second field unless it is empty.
std::vector<std::string_view> splitAtFirstComma(std::string_view line) {
    const size_t start = line.find_first_not_of(',');
    if (start == std::string_view::npos) return {};
    const size_t comma = line.find(',', start);
    if (comma == std::string_view::npos || comma + 1 == line.size()) return {line.substr(start, comma - start)};
    return {line.substr(start, comma - start), line.substr(comma + 1)};
}

// The (phrase, replacement) of one CSV line, or nothing when the line is not usable.
std::optional<std::pair<std::string_view, std::string_view>> parseLine(std::string_view line) {
    auto fields = splitDroppingEmpty(line, ';');
    if (fields.size() < 2) fields = splitAtFirstComma(line);
    if (fields.size() != 2) return std::nullopt;
    const std::string_view wrong = trimBlanks(fields[0]);
    const std::string_view right = trimBlanks(fields[1]);
    if (wrong.empty() || right.empty()) return std::nullopt;
    return std::pair{wrong, right};
}

}  // namespace

std::vector<VocabPair> load(const Pairs& pairs) {
    std::vector<VocabPair> rows;
    rows.reserve(pairs.size());
    for (const auto& [wrong, right] : pairs) rows.push_back({uuid::generate(), wrong, right});
    std::stable_sort(rows.begin(), rows.end(), [](const VocabPair& a, const VocabPair& b) { return a.wrong < b.wrong; });
    return rows;
}

Pairs toPairs(const std::vector<VocabPair>& rows) {
    Pairs pairs;
    for (const VocabPair& row : rows) {
        if (!row.wrong.empty()) pairs[row.wrong] = row.right;
    }
    return pairs;
}

void save(const std::vector<VocabPair>& rows, VocabStore& store) {
    store.setPairs(toPairs(rows));
    store.save();
}

int importCsv(std::string_view csv, std::vector<VocabPair>& rows, VocabStore& store) {
    int added = 0;
    std::set<std::string, std::less<>> known;
    for (const VocabPair& row : rows) known.insert(row.wrong);
    for (const std::string_view line : nonEmptyLines(csv)) {
        const auto fields = parseLine(line);
        if (!fields) continue;
        const auto& [wrong, right] = *fields;
        // An import never changes an existing rule.
        if (!known.insert(std::string(wrong)).second) continue;
        rows.push_back({uuid::generate(), std::string(wrong), std::string(right)});
        ++added;
    }
    save(rows, store);
    return added;
}

}  // namespace quorvel::VocabRows
