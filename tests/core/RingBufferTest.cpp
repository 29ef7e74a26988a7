#include "core/RingBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <numeric>
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
    RingBuffer ring(4);
    ring.write(Samples{1, 2, 3});
    EXPECT_EQ(ring.snapshot(), (Samples{1, 2, 3}));
    EXPECT_EQ(ring.sampleCount(), 3);
    ring.write(Samples{4, 5, 6});
    EXPECT_EQ(ring.snapshot(), (Samples{3, 4, 5, 6}));
    EXPECT_EQ(ring.sampleCount(), 4);
    EXPECT_EQ(ring.capacity(), 4);
    // The snapshot does not consume.
    EXPECT_EQ(ring.snapshot(), (Samples{3, 4, 5, 6}));
}

TEST(RingBuffer, ExactlyFullAndSampleAtATime) {
    RingBuffer ring(3);
    ring.write(Samples{1, 2, 3});
    EXPECT_EQ(ring.snapshot(), (Samples{1, 2, 3}));
    for (float s : {4.0f, 5.0f, 6.0f, 7.0f}) ring.write(Samples{s});
    EXPECT_EQ(ring.snapshot(), (Samples{5, 6, 7}));
}

TEST(RingBuffer, BlockLargerThanCapacityKeepsItsTailAndPosition) {
    RingBuffer ring(4);
    ring.write(Samples{1});
    ring.write(Samples{10, 11, 12, 13, 14, 15, 16});
    EXPECT_EQ(ring.snapshot(), (Samples{13, 14, 15, 16}));
    ring.write(Samples{17, 18});
    EXPECT_EQ(ring.snapshot(), (Samples{15, 16, 17, 18}));
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

TEST(RingBuffer, ResetForgetsAndStartsAgain) {
    RingBuffer ring(4);
    ring.write(Samples{1, 2, 3, 4, 5});
    ring.reset();
    EXPECT_EQ(ring.sampleCount(), 0);
    EXPECT_TRUE(ring.snapshot().empty());
    ring.write(Samples{7});
    EXPECT_EQ(ring.snapshot(), (Samples{7}));
}

TEST(RingBuffer, EmptyWritesAndZeroCapacityChangeNothing) {
    RingBuffer ring(4);
    ring.write(Samples{});
    EXPECT_EQ(ring.sampleCount(), 0);
    ring.write(Samples{1, 2});
    ring.write(Samples{});
    EXPECT_EQ(ring.snapshot(), (Samples{1, 2}));

    RingBuffer none(0);
    none.write(Samples{1, 2, 3});
    EXPECT_EQ(none.sampleCount(), 0);
    EXPECT_TRUE(none.snapshot().empty());
}

TEST(RingBuffer, RecorderCapacityKeepsNewestTwoMinutes) {
    RingBuffer ring(RingBuffer::kRecorderCapacity);
    Samples block(4096);
    float next = 0;
    const int64_t blocks = RingBuffer::kRecorderCapacity / 4096 + 10;
    for (int64_t b = 0; b < blocks; ++b) {
        for (float& s : block) s = next++;
        ring.write(block);
    }
    const Samples all = ring.snapshot();
    ASSERT_EQ(static_cast<int64_t>(all.size()), RingBuffer::kRecorderCapacity);
    EXPECT_EQ(all.back(), next - 1);
    EXPECT_EQ(all.front(), next - static_cast<float>(RingBuffer::kRecorderCapacity));
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
