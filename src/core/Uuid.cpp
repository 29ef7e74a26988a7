#include "core/Uuid.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <random>

namespace quorvel::uuid {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::array<size_t, 4> kDashes{8, 13, 18, 23};

bool isDashPosition(size_t i) {
    for (size_t d : kDashes)
        if (d == i) return true;
    return false;
}

std::mt19937_64& generator() {
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine;
}

}  // namespace

std::string generate() {
    std::array<uint8_t, 16> bytes{};
    const uint64_t high = generator()(), low = generator()();
    for (size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(high >> (8 * i));
        bytes[8 + i] = static_cast<uint8_t>(low >> (8 * i));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

std::optional<std::string> canonical(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (isDashPosition(i)) {
            if (c != '-') return std::nullopt;
        } else if (std::isxdigit(c)) {
            out[i] = static_cast<char>(std::toupper(c));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace quorvel::uuid
