#pragma once
// Fixed-size sample ring shared by the capture thread (writer) and the main thread (reader).
// The storage is allocated once; write() copies under the lock and never allocates, so it is
// safe on the real-time audio path. When full, the oldest samples are overwritten.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace quorvel {

class RingBuffer {
public:
    // 120 s at 16 kHz: what the recorder keeps of one dictation.
    static constexpr int64_t kRecorderCapacity = 1'920'000;

    explicit RingBuffer(int64_t capacity);
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Appends the samples in order, overwriting the oldest when full. A ring of capacity 0
    // holds nothing and ignores writes.
    void write(std::span<const float> samples);

    // The valid samples, oldest first; the ring is unchanged.
    std::vector<float> snapshot() const;

    // Forgets the contents (the storage keeps its size).
    void reset();

    int64_t sampleCount() const;
    int64_t capacity() const { return capacity_; }

private:
    const int64_t capacity_;
    mutable std::mutex lock_;
    std::vector<float> storage_;  // guarded by lock_
    int64_t writeIndex_ = 0;      // guarded by lock_
    int64_t count_ = 0;           // guarded by lock_
};

}  // namespace quorvel
