#pragma once
// The vocabulary as the settings window edits it: a list of rows, turned into the store's map
// and back, and filled from CSV text.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class VocabStore;

// One editable row. `id` only tells rows apart on screen; it is never stored.
struct VocabPair {
    std::string id;
    std::string wrong;
    std::string right;
};

namespace VocabRows {

using Pairs = std::map<std::string, std::string>;

// One row per rule, each with a new id, sorted by `wrong`.
std::vector<VocabPair> load(const Pairs& pairs);

// The rules the rows describe: rows with an empty `wrong` are left out (an empty `right` is a
// rule that removes the phrase); of rows with the same `wrong` the later one wins.
Pairs toPairs(const std::vector<VocabPair>& rows);

// Makes the rows the store's rules and saves the store.
void save(const std::vector<VocabPair>& rows, VocabStore& store);

// Appends a row for every usable "phrase;replacement" or "phrase,replacement" line of `csv`
// whose phrase is not a row yet, saves the rows into the store (also when nothing was added)
// and returns how many rows were added.
int importCsv(std::string_view csv, std::vector<VocabPair>& rows, VocabStore& store);

}  // namespace VocabRows
}  // namespace quorvel
