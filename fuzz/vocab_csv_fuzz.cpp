// The vocabulary CSV import on arbitrary text: no crash, and every added row is a usable rule.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "core/VocabRows.h"
#include "core/VocabStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    VocabStore store(fuzz::sandboxHome() / "vocab.json");
    std::vector<VocabPair> rows = VocabRows::load({{"гпт", "GPT"}});
    const size_t before = rows.size();
    const int added = VocabRows::importCsv(fuzz::asText(data, size), rows, store);
    check(added >= 0 && rows.size() == before + static_cast<size_t>(added), "row count does not match");
    for (size_t i = before; i < rows.size(); ++i) check(!rows[i].wrong.empty(), "imported row without a phrase");
    check(store.pairs() == VocabRows::toPairs(rows), "store does not hold the imported rows");
    return 0;
}
