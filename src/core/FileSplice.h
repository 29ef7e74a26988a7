#pragma once
// Rewrites a file without some of its byte ranges, streaming: the kept bytes go from the old file
// to a temporary one in the same folder without passing through memory as a whole, so a delete
// from a long file costs no more memory than from a short one.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::files {

struct ByteSpan {
    off_t offset = 0;
    off_t length = 0;
};

// Replaces `target` by the bytes of `source` (an open descriptor of the file `target` names, of
// `sourceSize` bytes when it was scanned) minus the spans in `drop` (in file order, not
// overlapping), plus whatever was appended to it since, up to the rename. The bytes go to
// ".<name>.tmp-XXXXXX" beside the file (behind a symbolic link, beside the file it points to),
// which is flushed and renamed over it: a crash leaves the old or the new file (and, where the
// file system allows, no temporary: it has no name until the rename). The mode bits are
// kept. On a failure false is returned with the reason in `why`, the temporary removed and the
// target untouched (unless only flushing the folder failed after the rename: then the new file
// may or may not survive a crash).
bool writeWithout(const std::filesystem::path& target, int source, off_t sourceSize,
                  const std::vector<ByteSpan>& drop, std::string& why);

}  // namespace quorvel::files
