#include "platform/OwnKeyEvents.h"

#include <atomic>

namespace quorvel::ownKeyEvents {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> postingNow{0};
std::atomic<Clock::rep> lastEnd{0};  // 0: nothing posted yet

}  // namespace

void beginPosting() { postingNow.fetch_add(1, std::memory_order_acq_rel); }

void endPosting() {
    lastEnd.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
    postingNow.fetch_sub(1, std::memory_order_acq_rel);
}

bool active(std::chrono::milliseconds grace) {
    if (postingNow.load(std::memory_order_acquire) > 0) return true;
    const Clock::rep ended = lastEnd.load(std::memory_order_acquire);
    return ended != 0 && Clock::now() - Clock::time_point(Clock::duration(ended)) < grace;
}

}  // namespace quorvel::ownKeyEvents
