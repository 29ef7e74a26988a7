#pragma once
// Checks that a model's folder holds what the worker will load, not an error page, a file cut
// short or a link to somewhere else. Everything is looked at with lstat and opened without
// following links, and only the heads of files are read, so the check is cheap enough to decide
// whether a model counts as installed.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::modelfiles {

// Why `dir` is not a usable copy of a model made of `files` (paths relative to it), or nothing.
// `dir` and every folder on the way to a file must be real folders, each file a non-empty
// regular file; "*.onnx" files must be ONNX models and "*tokens.txt" files token lists.
std::optional<std::string> folderProblem(const std::filesystem::path& dir,
                                         const std::vector<std::string>& files);

// The first entry below `dir` (relative to it) that is a link, a hard-linked file or anything but
// a plain folder or file, with what it is; nothing when there is none. Unpacked archives must not
// bring such entries: they could make a model file stand for any file of the user.
std::optional<std::string> firstNonPlainEntry(const std::filesystem::path& dir);

// What the entries below `dir` take: the sum of their sizes (a sparse file counts whole) and
// their number. Links are not followed. The walk stops once more than `maxEntries` are counted.
struct TreeUse {
    std::uint64_t bytes = 0;
    std::size_t entries = 0;
};
TreeUse treeUse(const std::filesystem::path& dir, std::size_t maxEntries);

// Removes `path` and everything below it without following links. Folders that an archive left
// without write or search permission for us are opened up first, or nothing in them could go.
bool removeTree(const std::filesystem::path& path);

// Flushes every file and folder below `dir`, and `dir` itself, to disk; false on any failure.
bool syncTree(const std::filesystem::path& dir);

}  // namespace quorvel::modelfiles
