#pragma once
// Tells an ONNX model file from what a download can bring instead (an error page, a file cut
// short) without reading the weights: an ONNX file is one serialised ModelProto, so its top-level
// protobuf fields must run exactly to the file's end, and among them must be the format version
// (field 1) and the graph (field 7). Only each field's tag and length are read.

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// Why the `size` bytes readable from the descriptor `fd` are not an ONNX model, or nothing when
// they are.
std::optional<std::string> onnxHeaderProblem(int fd, std::uint64_t size);

}  // namespace quorvel
