#include "core/OnnxHeader.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace quorvel {
namespace {

// A ModelProto holds a handful of top-level fields (versions, producer, graph, opsets, metadata);
// this many means it is something else. Each field costs a read, and the check runs whenever the
// program asks whether a model is installed.
constexpr int kMaxFields = 1000;
// Format versions released so far are single digits; a wild value means it is not ONNX.
constexpr std::uint64_t kMaxIrVersion = 100;

enum WireType : std::uint64_t { Varint = 0, Fixed64 = 1, LengthDelimited = 2, Fixed32 = 5 };
constexpr std::uint64_t kIrVersionField = 1;
constexpr std::uint64_t kGraphField = 7;

// Reads a base-128 varint from bytes[at, end); advances `at`. Nothing when it does not end there.
std::optional<std::uint64_t> readVarint(const unsigned char* bytes, std::size_t end,
                                        std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64 && at < end; shift += 7) {
        const unsigned char byte = bytes[at++];
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) return value;
    }
    return std::nullopt;
}

std::size_t readAt(int fd, unsigned char* buffer, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

std::optional<std::string> onnxHeaderProblem(int fd, std::uint64_t size) {
    std::optional<std::uint64_t> irVersion;
    bool hasGraph = false;
    std::uint64_t pos = 0;
    for (int fields = 0; pos < size; ++fields) {
        if (fields == kMaxFields) return "not an ONNX model (too many fields)";
        // A tag and a length are two varints of at most ten bytes each.
        std::array<unsigned char, 20> head{};
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(20, size - pos));
        const std::size_t got = readAt(fd, head.data(), wanted, pos);
        if (got != wanted) return "unreadable";
        std::size_t at = 0;
        const std::optional<std::uint64_t> tag = readVarint(head.data(), got, at);
        if (!tag || (*tag >> 3) == 0) return "not an ONNX model";
        const std::uint64_t field = *tag >> 3;
        std::uint64_t skip = 0;
        switch (*tag & 7) {
            case Varint: {
                const std::optional<std::uint64_t> value = readVarint(head.data(), got, at);
                if (!value) return "cut short";
                if (field == kIrVersionField) irVersion = value;
                break;
            }
            case Fixed64:
                skip = 8;
                break;
            case Fixed32:
                skip = 4;
                break;
            case LengthDelimited: {
                const std::optional<std::uint64_t> length = readVarint(head.data(), got, at);
                if (!length) return "cut short";
                skip = *length;
                if (field == kGraphField && skip > 0) hasGraph = true;
                break;
            }
            default:
                return "not an ONNX model";
        }
        pos += at;
        if (skip > size - pos) return "cut short";
        pos += skip;
    }
    if (!irVersion || *irVersion == 0 || *irVersion > kMaxIrVersion) return "not an ONNX model";
    if (!hasGraph) return "an ONNX file without a graph";
    return std::nullopt;
}

}  // namespace quorvel
