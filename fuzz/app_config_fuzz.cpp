// The configuration file decoder on arbitrary bytes: no crash, and whatever it accepts survives
// an encode/decode round trip unchanged (the settings window saves what it loaded).
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "core/AppConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using quorvel::fuzz::check;
    const auto config = quorvel::AppConfig::decode(quorvel::fuzz::asText(data, size));
    if (!config) return 0;
    const auto bytes = config->encode();
    check(bytes.has_value(), "a decoded configuration cannot be encoded");
    const auto again = quorvel::AppConfig::decode(*bytes);
    check(again.has_value(), "an encoded configuration does not decode");
    check(*again == *config, "configuration changed in a round trip");
    return 0;
}
