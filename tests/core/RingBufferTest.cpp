#include "core/RingBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

// Counts the allocations of the calling thread, to prove the capture thread's write allocates
// nothing.
namespace {
thread_local int64_t allocationsOnThisThread = 0;
}  // namespace

void* operator new(std::size_t size) {
    ++allocationsOnThisThread;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace quorvel {
namespace {

using Samples = std::vector<float>;

TEST(RingBuffer, KeepsNewestSamplesOldestFirst) {
    struct Case {
        const char* name;
        int64_t capacity;
        std::vector<Samples> writes;
        Samples expected;
    };
    const Case cases[] = {
        {"partly full", 4, {{1, 2, 3}}, {1, 2, 3}},
        {"wrapped", 4, {{1, 2, 3}, {4, 5, 6}}, {3, 4, 5, 6}},
        {"exactly full", 3, {{1, 2, 3}}, {1, 2, 3}},
        {"a sample at a time", 3, {{1, 2, 3}, {4}, {5}, {6}, {7}}, {5, 6, 7}},
        {"block larger than the ring keeps its tail", 4, {{1}, {10, 11, 12, 13, 14, 15, 16}}, {13, 14, 15, 16}},
        {"... and its position", 4, {{1}, {10, 11, 12, 13, 14, 15, 16}, {17, 18}}, {15, 16, 17, 18}},
        {"empty writes change nothing", 4, {{}, {1, 2}, {}}, {1, 2}},
        {"zero capacity holds nothing", 0, {{1, 2, 3}}, {}},
    };
    for (const Case& c : cases) {
        RingBuffer ring(c.capacity);
        for (const Samples& w : c.writes) ring.write(w);
        EXPECT_EQ(ring.snapshot(), c.expected) << c.name;
        EXPECT_EQ(ring.sampleCount(), static_cast<int64_t>(c.expected.size())) << c.name;
        EXPECT_EQ(ring.snapshot(), c.expected) << c.name << ": the snapshot does not consume";
        ring.reset();
        ring.write(Samples{7});
        EXPECT_EQ(ring.snapshot(), c.capacity ? Samples{7} : Samples{}) << c.name << " after a reset";
    }
}

TEST(RingBuffer, WriteAllocatesNothing) {
    RingBuffer ring(RingBuffer::kRecorderCapacity);
    const Samples block(4096, 0.5f);
    const Samples huge(RingBuffer::kRecorderCapacity + 5000, 0.25f);
    const int64_t before = allocationsOnThisThread;
    for (int i = 0; i < 1000; ++i) ring.write(block);
    ring.write(huge);
    EXPECT_EQ(allocationsOnThisThread, before);
    // The counter does see allocations, so the check above can fail.
    (void)ring.snapshot();
    EXPECT_GT(allocationsOnThisThread, before);
}

// A snapshot taken while another thread writes whole blocks must never see half a block:
// every block is a run of one value, so each snapshot is a sequence of complete runs.
TEST(RingBuffer, ConcurrentSnapshotsSeeWholeBlocks) {
    constexpr int64_t kBlock = 64;
    RingBuffer ring(kBlock * 16);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        Samples block(kBlock);
        for (int i = 1; i <= 20000; ++i) {
            std::fill(block.begin(), block.end(), static_cast<float>(i));
            ring.write(block);
        }
        done = true;
    });
    int checked = 0;
    while (!done || checked == 0) {
        const Samples snap = ring.snapshot();
        ASSERT_EQ(snap.size() % kBlock, 0u);
        for (size_t i = 0; i < snap.size(); i += kBlock) {
            for (size_t j = i; j < i + kBlock; ++j) ASSERT_EQ(snap[j], snap[i]);
            if (i > 0) {
                ASSERT_EQ(snap[i], snap[i - kBlock] + 1);
            }
        }
        ++checked;
    }
    writer.join();
}

}  // namespace
}  // namespace quorvel
