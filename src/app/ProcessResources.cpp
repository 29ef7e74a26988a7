#include "app/ProcessResources.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace quorvel {

ProcessResources ProcessResources::now() {
    ProcessResources resources;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kilobytes = 0;
            status >> kilobytes;
            resources.residentMB = static_cast<double>(kilobytes) / 1024.0;
        } else if (key == "Threads:") {
            status >> resources.threads;
        }
        status.ignore(1 << 16, '\n');
    }
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++resources.fileDescriptors;
    // The iterator's own descriptor is one of them.
    if (resources.fileDescriptors > 0) --resources.fileDescriptors;
    return resources;
}

std::string ProcessResources::compare(const ProcessResources& warm, long long warmCycles, const ProcessResources& end) {
    char line[160];
    std::snprintf(line, sizeof line, "rss %.1f MB after %lld cycles, %.1f MB at end; fds %ld/%ld; threads %ld/%ld",
                  warm.residentMB, warmCycles, end.residentMB, warm.fileDescriptors, end.fileDescriptors, warm.threads,
                  end.threads);
    return line;
}

}  // namespace quorvel
