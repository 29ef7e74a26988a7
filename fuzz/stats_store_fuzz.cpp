// The statistics file on arbitrary bytes, loaded the way the program loads it (from the file),
// then one session recorded and the derived figures computed.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "core/AtomicFile.h"
#include "core/StatsStore.h"

namespace {
std::filesystem::path statsFile() { return quorvel::fuzz::sandboxHome() / "stats.json"; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    if (!files::writeAtomically(statsFile(), fuzz::asText(data, size))) return 0;
    StatsStore store(statsFile());
    (void)store.hoursSaved();
    (void)store.shareText({});
    const int64_t words = store.wordsTotal();
    const int64_t sessions = store.sessionsTotal();
    store.recordSession(3, std::string("fuzz"));
    // Totals only ever grow (saturating is fine, wrapping around is not).
    check(store.wordsTotal() >= words, "word total went down");
    check(store.sessionsTotal() >= sessions, "session total went down");
    StatsStore reloaded(statsFile());
    check(reloaded.wordsTotal() == store.wordsTotal(), "saved word total not read back");
    check(reloaded.sessionsTotal() == store.sessionsTotal(), "saved session total not read back");
    return 0;
}
