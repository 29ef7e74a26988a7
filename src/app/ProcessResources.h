#pragma once
// What this process holds right now, from /proc/self: resident memory, open file descriptors
// and threads. Long runs compare a reading after warm-up with one at the end to show leaks.

#include <string>

namespace quorvel {

struct ProcessResources {
    double residentMB = 0;  // VmRSS
    long fileDescriptors = 0;
    long threads = 0;

    // Zeros for whatever /proc does not tell.
    static ProcessResources now();

    // "rss <a> MB after <n> cycles, <b> MB at end; fds <c>/<d>; threads <e>/<f>"
    static std::string compare(const ProcessResources& warm, long long warmCycles, const ProcessResources& end);
};

}  // namespace quorvel
