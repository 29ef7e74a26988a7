// decodeWav on arbitrary bytes: never reads outside them, never overflows, and what it returns
// is 16 kHz mono audio in range.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "core/WavDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using quorvel::fuzz::check;
    const auto samples = quorvel::decodeWav(quorvel::fuzz::asText(data, size));
    if (!samples) return 0;
    check(size > 44, "a file of 44 bytes or less decoded");
    // 16-bit values over channels and resampling never grow more than 16-fold (1 kHz minimum).
    check(samples->size() <= size * 8, "more samples than the data can describe");
    for (const float s : *samples) check(std::isfinite(s) && s >= -1.0f && s <= 1.0f, "sample out of range");
    return 0;
}
