#include "app/RecordingFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <system_error>

#include "core/LocalTime.h"
#include "core/WavWriter.h"

namespace quorvel::RecordingFiles {
namespace {

namespace fs = std::filesystem;

// Enough for any burst of recordings in one second; past it something else is wrong.
constexpr int kMaxSameSecond = 1000;

// Claims `path` by creating it; false when it exists or cannot be created (`failed` then).
bool claim(const fs::path& path, bool& failed) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        failed = errno != EEXIST;
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

std::optional<fs::path> save(std::span<const float> samples, const fs::path& dir,
                             int64_t secondsSince1970) {
    if (samples.empty()) return std::nullopt;
    std::error_code ec;
    fs::create_directories(dir, ec);  // a failure shows at the claim
    const std::string stem = "rec-" + std::to_string(secondsSince1970);
    for (int n = 1; n <= kMaxSameSecond; ++n) {
        const fs::path path =
            dir / (n == 1 ? stem + ".wav" : stem + "-" + std::to_string(n) + ".wav");
        bool failed = false;
        if (!claim(path, failed)) {
            if (failed) return std::nullopt;
            continue;
        }
        // The atomic write replaces our own empty claim: readers never see half a file.
        if (WavWriter::write(samples, 16000, path)) {
            fs::remove(path, ec);
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

std::optional<fs::path> save(std::span<const float> samples, const fs::path& dir) {
    return save(samples, dir, static_cast<int64_t>(std::floor(localtime::nowSeconds())));
}

}  // namespace quorvel::RecordingFiles
