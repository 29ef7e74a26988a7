#include "app/RecordingFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

#include "core/LocalTime.h"
#include "core/WavWriter.h"
#include "services/Log.h"

namespace quorvel::RecordingFiles {
namespace {

namespace fs = std::filesystem;

// Enough for any burst of recordings in one second; past it something else is wrong.
constexpr int kMaxSameSecond = 1000;

// The user loses this audio: the log says where it should have gone and why it did not.
std::nullopt_t notSaved(const fs::path& path, const std::string& reason) {
    Log::error("запись не сохранена: " + path.string() + ": " + reason);
    return std::nullopt;
}

// Claims `path` by creating it; false when it exists or cannot be created (`failed` then).
bool claim(const fs::path& path, bool& failed) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        failed = error != EEXIST;
        if (failed) notSaved(path, std::strerror(error));
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
        if (const auto error = WavWriter::write(samples, 16000, path)) {
            fs::remove(path, ec);
            return notSaved(path, error->message);
        }
        return path;
    }
    return notSaved(dir / (stem + ".wav"), "every name of this second is taken");
}

std::optional<fs::path> save(std::span<const float> samples, const fs::path& dir) {
    return save(samples, dir, static_cast<int64_t>(std::floor(localtime::nowSeconds())));
}

}  // namespace quorvel::RecordingFiles
