#include "core/VocabRows.h"

#include "core/AppPaths.h"
#include "core/Uuid.h"
#include "core/VocabStore.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

using Rule = std::pair<std::string, std::string>;

std::vector<Rule> rulesOf(const std::vector<VocabPair>& rows) {
    std::vector<Rule> rules;
    for (const auto& row : rows) rules.emplace_back(row.wrong, row.right);
    return rules;
}

std::vector<VocabPair> rowsOf(const std::vector<Rule>& rules) {
    std::vector<VocabPair> rows;
    for (const auto& [wrong, right] : rules) rows.push_back({uuid::generate(), wrong, right});
    return rows;
}

class VocabRowsTest : public testing::TempHome {};

TEST_F(VocabRowsTest, LoadingGivesSortedRowsWithFreshIdsAndSavingKeepsTheLastOfEachPhrase) {
    const auto rows =
        VocabRows::load({{"яблоко", "Apple"}, {"гпт", "GPT"}, {"Zeta", "z"}, {"alpha", "a"}});
    EXPECT_EQ(rulesOf(rows),
              (std::vector<Rule>{{"Zeta", "z"}, {"alpha", "a"}, {"гпт", "GPT"}, {"яблоко", "Apple"}}));
    std::set<std::string> ids;
    for (const auto& row : rows) {
        EXPECT_EQ(uuid::canonical(row.id), row.id);
        ids.insert(row.id);
    }
    EXPECT_EQ(ids.size(), rows.size());

    // Saving skips empty phrases and the later duplicate wins.
    VocabStore store(AppPaths::vocabURL());
    VocabRows::save(rowsOf({{"a", "1"}, {"", "lost"}, {"b", ""}, {"a", "2"}}), store);
    EXPECT_EQ(store.pairs(), (VocabStore::Pairs{{"a", "2"}, {"b", ""}}));
    EXPECT_EQ(VocabStore(AppPaths::vocabURL()).pairs(), store.pairs());
}

TEST_F(VocabRowsTest, CsvImport) {
    struct Case {
        const char* name;
        std::vector<Rule> existing;
        std::string csv;
        int added;
        std::vector<Rule> rows;
    } const cases[] = {
        {"same pair three ways", {}, "гпт; GPT\nгпт,GPT\nгпт;GPT;лишнее", 1, {{"гпт", "GPT"}}},
        {"three fields by semicolon, no separator", {}, "a;b;c\nпросто фраза\nword", 0, {}},
        {"commas stay in the replacement", {}, "phrase,a, b, c", 1, {{"phrase", "a, b, c"}}},
        {"leading and doubled commas", {}, ",,a,b\nc,,d", 2, {{"a", "b"}, {"c", ",d"}}},
        {"semicolons win over commas", {}, "a;b,c", 1, {{"a", "b,c"}}},
        {"lone semicolon falls back to commas", {}, "a,b;\nc;", 1, {{"a", "b;"}}},
        {"empty pieces between semicolons", {}, ";;a;;b;", 1, {{"a", "b"}}},
        {"blanks of any kind", {}, "\t a\u00a0; \u2003b c\t\u3000", 1, {{"a", "b c"}}},
        {"blank field, trailing comma only", {}, " \t; b\na;\u00a0\na,\n,a", 0, {}},
        {"every line break", {}, "a;1\r\nb;2\rc;3\u2028d;4\u0085e;5\n\n", 5,
         {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}}},
        {"existing rows are never changed", {{"a", "x"}}, "a;y\nA;z", 1, {{"a", "x"}, {"A", "z"}}},
        {"first of duplicates in the file", {}, "a;1\na;2", 1, {{"a", "1"}}},
        {"header is a rule", {}, "wrong;right\nгпт;GPT", 2, {{"wrong", "right"}, {"гпт", "GPT"}}},
        {"empty text", {{"a", "x"}}, "", 0, {{"a", "x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(AppPaths::vocabURL());
        VocabStore store(AppPaths::vocabURL());
        auto rows = rowsOf(c.existing);
        EXPECT_EQ(VocabRows::importCsv(c.csv, rows, store), c.added);
        EXPECT_EQ(rulesOf(rows), c.rows);
        // The rows are saved even when nothing was added.
        EXPECT_EQ(store.pairs(), VocabRows::toPairs(rows));
        EXPECT_EQ(VocabStore(AppPaths::vocabURL()).pairs(), store.pairs());
    }
}

}  // namespace
}  // namespace quorvel
