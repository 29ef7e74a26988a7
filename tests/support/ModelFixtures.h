#pragma once
// Bytes that pass for a model's files: a small but genuine ONNX ModelProto and a token list.

#include <cstdint>
#include <string>

namespace quorvel::testing {

inline std::string protobufVarint(std::uint64_t value) {
    std::string out;
    do {
        const auto low = static_cast<unsigned char>(value & 0x7f);
        value >>= 7;
        out += static_cast<char>(value ? (low | 0x80) : low);
    } while (value);
    return out;
}

inline std::string protobufField(int number, const std::string& bytes) {
    return protobufVarint(static_cast<std::uint64_t>(number) << 3 | 2) +
           protobufVarint(bytes.size()) + bytes;
}

// A ModelProto: format version 8, its producer, a graph holding `weightBytes` bytes of weights
// (an initializer's raw data), and one opset import.
inline std::string onnxModel(std::size_t weightBytes = 300) {
    const std::string initializer =
        protobufField(8, "weights") + protobufField(9, std::string(weightBytes, '\x3f'));
    const std::string graph = protobufField(2, "main") + protobufField(5, initializer);
    const std::string opset = std::string("\x10", 1) + protobufVarint(17);
    return std::string("\x08\x08", 2) + protobufField(2, "quorvel-tests") + protobufField(7, graph) +
           protobufField(8, opset);
}

inline std::string tokenList() {
    return "<blk> 0\n\xe2\x96\x81\xd0\xbf\xd1\x80\xd0\xb8 1\n  2\nIQ== 3\n";
}

// What `file` of a catalog model holds in a copy that counts as installed.
inline std::string modelFileContent(const std::string& file) {
    if (file.ends_with(".onnx")) return onnxModel();
    if (file.ends_with("tokens.txt")) return tokenList();
    return "data of " + file;
}

}  // namespace quorvel::testing
