#include "core/RingBuffer.h"

#include <algorithm>

namespace quorvel {

RingBuffer::RingBuffer(int64_t capacity)
    : capacity_(std::max<int64_t>(0, capacity)), storage_(static_cast<size_t>(capacity_), 0.0f) {}

void RingBuffer::write(std::span<const float> samples) {
    if (samples.empty() || capacity_ == 0) return;
    std::lock_guard guard(lock_);
    const auto n = static_cast<int64_t>(samples.size());
    // Only the newest `capacity_` samples can survive; the ones before them would be overwritten
    // anyway, but they still move the write position.
    const int64_t kept = std::min(n, capacity_);
    int64_t index = (writeIndex_ + (n - kept)) % capacity_;
    const float* source = samples.data() + (n - kept);
    int64_t remaining = kept;
    while (remaining > 0) {
        const int64_t chunk = std::min(remaining, capacity_ - index);
        std::copy_n(source, chunk, storage_.data() + index);
        source += chunk;
        remaining -= chunk;
        index = (index + chunk) % capacity_;
    }
    writeIndex_ = index;
    count_ = std::min(capacity_, count_ + kept);
}

std::vector<float> RingBuffer::snapshot() const {
    // Size (and touch) the copy before taking the lock, so the capture thread never waits for
    // an allocation or page faults; only a ring that grew meanwhile resizes under the lock.
    std::vector<float> out(static_cast<size_t>(sampleCount()));
    std::lock_guard guard(lock_);
    out.resize(static_cast<size_t>(count_));
    if (count_ == capacity_) {
        // Wrapped (or exactly full): oldest first is [writeIndex, end) then [0, writeIndex).
        const auto tail = std::copy(storage_.begin() + writeIndex_, storage_.end(), out.begin());
        std::copy(storage_.begin(), storage_.begin() + writeIndex_, tail);
    } else {
        std::copy_n(storage_.begin(), count_, out.begin());
    }
    return out;
}

void RingBuffer::reset() {
    std::lock_guard guard(lock_);
    writeIndex_ = 0;
    count_ = 0;
}

int64_t RingBuffer::sampleCount() const {
    std::lock_guard guard(lock_);
    return count_;
}

}  // namespace quorvel
