#include <gtest/gtest.h>

#include <cstring>

#include "core/memory.h"
#include "sink_recorder.h"

namespace {

constexpr uint64_t kHalfOfRange = uint64_t{1} << 32;  // its square is 2^64

void expectOneOutOfMemory(const RecordingSink& sink) {
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, 0x80000005u);
    EXPECT_NE(sink.received[0].backTracePointer, nullptr);
}

}  // namespace

// --- allocArray / reallocArray ---

TEST(AllocArray, GivesBlockOfCountTimesSize) {
    RecordingSink sink;
    auto* block = static_cast<uint8_t*>(allocArray(processHeap(), 7, 13, &sink.sink));
    ASSERT_NE(block, nullptr);
    memset(block, 0xA5, 7 * 13);  // the whole block is usable (ASan checks the size)
    freeBytes(block);
    EXPECT_TRUE(sink.received.empty());
}

TEST(AllocArray, ProductOverflowReportsOutOfMemoryWithoutAskingTheHeap) {
    struct Case {
        uint64_t count, elementSize;
    };
    for (Case c : {Case{kHalfOfRange, kHalfOfRange}, Case{UINT64_MAX, 2}, Case{3, UINT64_MAX / 2}}) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.elementSize);
        RecordingSink sink;
        HeapFailureGuard oneRequestLeft(1);
        EXPECT_EQ(allocArray(processHeap(), c.count, c.elementSize, &sink.sink), nullptr);
        expectOneOutOfMemory(sink);
        // The overflow did not use up the one request the seam still allows.
        void* block = allocArray(processHeap(), 1, 1, &sink.sink);
        EXPECT_NE(block, nullptr);
        freeBytes(block);
    }
}

TEST(AllocArray, OverflowWithoutSinkIsSilent) {
    EXPECT_EQ(allocArray(processHeap(), kHalfOfRange, kHalfOfRange, nullptr), nullptr);
}

TEST(AllocArray, HeapFailureReportsOutOfMemory) {
    RecordingSink sink;
    HeapFailureGuard noRequests(0);
    EXPECT_EQ(allocArray(processHeap(), 4, 4, &sink.sink), nullptr);
    expectOneOutOfMemory(sink);
}

TEST(ReallocArray, KeepsContentsWhenGrowing) {
    auto* block = static_cast<uint8_t*>(allocArray(processHeap(), 16, 1, nullptr));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) block[i] = static_cast<uint8_t>(i);
    auto* grown = static_cast<uint8_t*>(reallocArray(processHeap(), block, 1000, 4, nullptr));
    ASSERT_NE(grown, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(grown[i], i);
    memset(grown, 0, 4000);
    freeBytes(grown);
}

TEST(ReallocArray, FailureKeepsOldBlockValidAndUnchanged) {
    auto* block = static_cast<uint8_t*>(allocArray(processHeap(), 32, 1, nullptr));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 32; ++i) block[i] = static_cast<uint8_t>(100 + i);

    {
        RecordingSink sink;
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(reallocArray(processHeap(), block, 4096, 1, &sink.sink), nullptr);
        expectOneOutOfMemory(sink);
    }
    {
        RecordingSink sink;
        EXPECT_EQ(reallocArray(processHeap(), block, kHalfOfRange, kHalfOfRange, &sink.sink), nullptr);
        expectOneOutOfMemory(sink);
    }
    // Still the caller's block: readable, unchanged, and freed exactly once (ASan checks).
    for (int i = 0; i < 32; ++i) EXPECT_EQ(block[i], 100 + i);
    freeBytes(block);
}

// --- growBuffer ---

TEST(GrowBuffer, GrowsToTwiceUsedOrNeeded) {
    GrowBuffer buffer{nullptr, 0, 0};
    ASSERT_NE(growBuffer(&buffer, 93, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 93u);
    buffer.used = 93;
    ASSERT_NE(growBuffer(&buffer, 186, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 186u);
    buffer.used = 186;
    ASSERT_NE(growBuffer(&buffer, 279, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 372u);
    freeBytes(buffer.data);
}

TEST(GrowBuffer, DoublesFromUsedNotFromCapacity) {
    // An emptied buffer grows only to the new need, not to twice its old capacity.
    GrowBuffer buffer{nullptr, 0, 0};
    ASSERT_NE(growBuffer(&buffer, 100, processHeap(), nullptr), nullptr);
    buffer.used = 0;
    ASSERT_NE(growBuffer(&buffer, 150, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 150u);
    buffer.used = 10;
    ASSERT_NE(growBuffer(&buffer, 151, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 151u);
    freeBytes(buffer.data);
}

TEST(GrowBuffer, KeepsContentsAndLeavesUsedToCaller) {
    GrowBuffer buffer{nullptr, 0, 0};
    ASSERT_NE(growBuffer(&buffer, 8, processHeap(), nullptr), nullptr);
    memcpy(buffer.data, "12345678", 8);
    buffer.used = 8;
    void* data = growBuffer(&buffer, 20, processHeap(), nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data, buffer.data);
    EXPECT_EQ(buffer.used, 8u);
    EXPECT_EQ(buffer.capacity, 20u);
    EXPECT_EQ(memcmp(buffer.data, "12345678", 8), 0);
    freeBytes(buffer.data);
}

TEST(GrowBuffer, FailureLeavesBufferUnchanged) {
    GrowBuffer buffer{nullptr, 0, 0};
    ASSERT_NE(growBuffer(&buffer, 10, processHeap(), nullptr), nullptr);
    memcpy(buffer.data, "abcdefghij", 10);
    buffer.used = 10;
    const GrowBuffer before = buffer;

    RecordingSink sink;
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(growBuffer(&buffer, 11, processHeap(), &sink.sink), nullptr);
        EXPECT_EQ(growBuffer(&buffer, 11, processHeap(), nullptr), nullptr);  // silent variant
    }
    expectOneOutOfMemory(sink);
    EXPECT_EQ(buffer.data, before.data);
    EXPECT_EQ(buffer.used, before.used);
    EXPECT_EQ(buffer.capacity, before.capacity);
    EXPECT_EQ(memcmp(buffer.data, "abcdefghij", 10), 0);
    freeBytes(buffer.data);
}

TEST(GrowBuffer, FailureOnEmptyBufferLeavesItEmpty) {
    GrowBuffer buffer{nullptr, 0, 0};
    RecordingSink sink;
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(growBuffer(&buffer, 93, processHeap(), &sink.sink), nullptr);
    }
    expectOneOutOfMemory(sink);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.used, 0u);
    EXPECT_EQ(buffer.capacity, 0u);
}

// --- failure seam ---

TEST(HeapFailureSeam, FailsAfterTheAllowedNumberOfRequests) {
    std::vector<void*> blocks;
    {
        HeapFailureGuard twoRequests(2);
        blocks.push_back(allocBytes(8));
        blocks.push_back(allocArray(processHeap(), 2, 8, nullptr));
        EXPECT_EQ(allocBytes(8), nullptr);
        EXPECT_EQ(allocArray(processHeap(), 1, 8, nullptr), nullptr);
        EXPECT_EQ(reallocArray(processHeap(), blocks[0], 64, 1, nullptr), nullptr);
    }
    EXPECT_NE(blocks[0], nullptr);
    EXPECT_NE(blocks[1], nullptr);
    void* later = allocBytes(8);  // a negative count ends the failures
    EXPECT_NE(later, nullptr);
    blocks.push_back(later);
    for (void* block : blocks) freeBytes(block);
}

TEST(HeapFailureSeam, AppliesToPrivateHeaps) {
    HeapHandle heap = createPrivateHeap();
    ASSERT_NE(heap, nullptr);
    RecordingSink sink;
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(allocArray(heap, 1, 16, &sink.sink), nullptr);
    }
    expectOneOutOfMemory(sink);
    destroyPrivateHeap(heap);
}

// --- private heaps ---

TEST(PrivateHeap, DestroyFreesEveryBlock) {
    // Natively the leak checker fails the run if any of these blocks survive.
    for (int round = 0; round < 3; ++round) {
        HeapHandle heap = createPrivateHeap();
        ASSERT_NE(heap, nullptr);
        for (int i = 1; i <= 50; ++i) {
            auto* block = static_cast<uint8_t*>(allocArray(heap, static_cast<uint64_t>(i), 24, nullptr));
            ASSERT_NE(block, nullptr);
            memset(block, i, static_cast<size_t>(i) * 24);
            if (i % 5 == 0) {
                block = static_cast<uint8_t*>(reallocArray(heap, block, static_cast<uint64_t>(i) * 40, 24, nullptr));
                ASSERT_NE(block, nullptr);
            }
            if (i % 7 == 0) heapFree(heap, block);
        }
        GrowBuffer buffer{nullptr, 0, 0};
        for (uint64_t need = 1; need < 5000; need = need * 3 + 1) {
            ASSERT_NE(growBuffer(&buffer, need, heap, nullptr), nullptr);
            buffer.used = need;
        }
        destroyPrivateHeap(heap);
    }
}

TEST(PrivateHeap, BlocksOfSeparateHeapsAreIndependent) {
    HeapHandle first = createPrivateHeap();
    HeapHandle second = createPrivateHeap();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto* kept = static_cast<uint8_t*>(allocArray(second, 64, 1, nullptr));
    ASSERT_NE(kept, nullptr);
    memset(kept, 0x5A, 64);
    for (int i = 0; i < 20; ++i) ASSERT_NE(allocArray(first, 100, 1, nullptr), nullptr);
    destroyPrivateHeap(first);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(kept[i], 0x5A);  // ASan: still live
    destroyPrivateHeap(second);
}
