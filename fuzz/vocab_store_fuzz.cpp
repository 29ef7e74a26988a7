// The vocabulary file decoder on arbitrary bytes, a round trip of what it accepts, and the
// corrector built from those rules applied to a text (rules are user data, so are patterns).
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "core/VocabCorrector.h"
#include "core/VocabStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    const auto pairs = VocabStore::decode(fuzz::asText(data, size));
    if (!pairs) return 0;
    const auto again = VocabStore::decode(VocabStore::encode(*pairs));
    check(again.has_value(), "encoded vocabulary does not decode");
    check(*again == *pairs, "vocabulary changed in a round trip");
    (void)VocabCorrector(*pairs).correct("Привет, мир! hello world гпт 123");
    return 0;
}
