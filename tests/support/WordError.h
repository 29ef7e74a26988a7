#pragma once
// Word error rate for recognition checks: word-level edit distance over the reference's length,
// case and punctuation aside.
#include <algorithm>
#include <cctype>
#include <iterator>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace quorvel::testing {

inline double wordError(const std::string& reference, const std::string& hypothesis) {
    auto words = [](std::string text) {
        for (char& c : text) {
            const auto u = static_cast<unsigned char>(c);
            c = std::isalnum(u) || c == '\'' ? static_cast<char>(std::tolower(u)) : ' ';
        }
        std::istringstream in(text);
        return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
    };
    const auto ref = words(reference), hyp = words(hypothesis);
    std::vector<size_t> row(hyp.size() + 1);
    std::iota(row.begin(), row.end(), size_t{0});
    for (size_t i = 1; i <= ref.size(); ++i) {
        size_t diagonal = row[0]++;
        for (size_t j = 1; j <= hyp.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return static_cast<double>(row.back()) / static_cast<double>(std::max<size_t>(ref.size(), 1));
}

}  // namespace quorvel::testing
