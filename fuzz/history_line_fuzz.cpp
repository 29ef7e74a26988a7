// One history line on arbitrary bytes: parse, decode (DecodeError is the expected refusal),
// and a round trip of what was accepted.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "core/HistoryEntry.h"
#include "core/JsonFields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    const auto value = json::parse(fuzz::asText(data, size));
    if (!value) return 0;
    HistoryEntry entry;
    try {
        entry = HistoryEntry::fromJson(*value);
    } catch (const json::DecodeError&) {
        return 0;
    }
    (void)entry.words();
    (void)entry.wpm();
    const auto line = json::dump(entry.toJson());
    if (!line) return 0;  // text that is not UTF-8 cannot be written back; the store skips it
    const auto reparsed = json::parse(*line);
    check(reparsed.has_value(), "a written history line does not parse");
    check(HistoryEntry::fromJson(*reparsed) == entry, "history entry changed in a round trip");
    return 0;
}
