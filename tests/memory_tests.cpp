#include <gtest/gtest.h>

#include <cstring>

#include "core/memory.h"
#include "tests/sink_recorder.h"

namespace {

constexpr uint64_t kHalfOfRange = uint64_t{1} << 32;  // its square is 2^64

void expectOneOutOfMemory(const RecordingSink& sink) {
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, 0x80000005u);
    EXPECT_NE(sink.received[0].backTracePointer, nullptr);
}

}  // namespace

// Overflowing products fail before asking the heap (the one request the seam
// allows is still there afterwards); heap failures fail too. Either way one
// report, null, and a block being resized stays the caller's, unchanged.
TEST(AllocArray, FailuresReportOutOfMemoryAndKeepTheOldBlock) {
    struct Case {
        uint64_t count, elementSize;
        int64_t requestsLeft;
    };
    const Case kCases[] = {{kHalfOfRange, kHalfOfRange, 1}, {UINT64_MAX, 2, 1}, {3, UINT64_MAX / 2, 1}, {4096, 1, 0}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.elementSize);
        auto* block = static_cast<uint8_t*>(allocArray(processHeap(), 32, 1, nullptr));
        ASSERT_NE(block, nullptr);
        memset(block, 0x5A, 32);
        RecordingSink allocSink, reallocSink;
        {
            HeapFailureGuard guard(c.requestsLeft);
            EXPECT_EQ(allocArray(processHeap(), c.count, c.elementSize, &allocSink.sink), nullptr);
            EXPECT_EQ(reallocArray(processHeap(), block, c.count, c.elementSize, &reallocSink.sink), nullptr);
            void* spare = allocArray(processHeap(), 1, 1, nullptr);
            EXPECT_EQ(spare != nullptr, c.requestsLeft == 1);
            freeBytes(spare);
        }
        expectOneOutOfMemory(allocSink);
        expectOneOutOfMemory(reallocSink);
        for (int i = 0; i < 32; ++i) ASSERT_EQ(block[i], 0x5A);
        freeBytes(block);  // exactly once (ASan checks)
    }
}

// Twice the used size or the need, whichever is larger: an emptied buffer
// grows only to the new need. Contents are kept, `used` is the caller's.
TEST(GrowBuffer, GrowsToTwiceUsedOrNeeded) {
    struct Step {
        uint64_t used, need, capacity;
    };
    const Step kSteps[] = {{0, 93, 93}, {93, 186, 186}, {186, 279, 372}, {0, 400, 400}, {10, 401, 401}, {300, 500, 600}};
    GrowBuffer buffer{nullptr, 0, 0};
    for (const Step& s : kSteps) {
        SCOPED_TRACE(testing::Message() << s.used << " used, " << s.need << " needed");
        buffer.used = s.used;
        if (s.used) memset(buffer.data, int(s.used), s.used);
        ASSERT_NE(growBuffer(&buffer, s.need, processHeap(), nullptr), nullptr);
        EXPECT_EQ(buffer.capacity, s.capacity);
        EXPECT_EQ(buffer.used, s.used);
        for (uint64_t i = 0; i < s.used; ++i) ASSERT_EQ(static_cast<uint8_t*>(buffer.data)[i], uint8_t(s.used));
    }
    freeBytes(buffer.data);
}

TEST(GrowBuffer, FailureLeavesBufferUnchanged) {
    for (uint64_t size : {0, 10}) {
        GrowBuffer buffer{nullptr, 0, 0};
        if (size) {
            ASSERT_NE(growBuffer(&buffer, size, processHeap(), nullptr), nullptr);
            memcpy(buffer.data, "abcdefghij", size);
            buffer.used = size;
        }
        const GrowBuffer before = buffer;
        RecordingSink sink;
        {
            HeapFailureGuard noRequests(0);
            EXPECT_EQ(growBuffer(&buffer, size + 1, processHeap(), &sink.sink), nullptr);
        }
        expectOneOutOfMemory(sink);
        EXPECT_EQ(buffer.data, before.data);
        EXPECT_EQ(buffer.used, before.used);
        EXPECT_EQ(buffer.capacity, before.capacity);
        if (size) EXPECT_EQ(memcmp(buffer.data, "abcdefghij", size), 0);
        freeBytes(buffer.data);
    }
}

TEST(HeapFailureSeam, FailsAfterTheAllowedNumberOfRequestsOnEveryHeap) {
    HeapHandle heap = createPrivateHeap();
    ASSERT_NE(heap, nullptr);
    void* blocks[3] = {};
    {
        HeapFailureGuard twoRequests(2);
        blocks[0] = allocBytes(8);
        blocks[1] = allocArray(processHeap(), 2, 8, nullptr);
        EXPECT_EQ(allocBytes(8), nullptr);
        EXPECT_EQ(allocArray(heap, 1, 8, nullptr), nullptr);
        EXPECT_EQ(reallocArray(processHeap(), blocks[0], 64, 1, nullptr), nullptr);
    }
    EXPECT_NE(blocks[0], nullptr);
    EXPECT_NE(blocks[1], nullptr);
    blocks[2] = allocBytes(8);  // the guard's end ends the failures
    EXPECT_NE(blocks[2], nullptr);
    for (void* block : blocks) freeBytes(block);
    destroyPrivateHeap(heap);
}

// Natively the leak checker fails the run if a block of the destroyed heap
// survives; ASan fails it if the other heap's block was freed with it.
TEST(PrivateHeap, DestroyFreesEveryBlockOfThatHeapOnly) {
    HeapHandle first = createPrivateHeap(), second = createPrivateHeap();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto* kept = static_cast<uint8_t*>(allocArray(second, 64, 1, nullptr));
    ASSERT_NE(kept, nullptr);
    memset(kept, 0x5A, 64);
    for (uint64_t i = 1; i <= 20; ++i) {
        void* block = allocArray(first, i, 24, nullptr);
        ASSERT_NE(block, nullptr);
        if (i % 5 == 0) ASSERT_NE(block = reallocArray(first, block, i * 40, 24, nullptr), nullptr);
        if (i % 7 == 0) heapFree(first, block);
    }
    GrowBuffer buffer{nullptr, 0, 0};
    for (uint64_t need = 1; need < 5000; need = need * 3 + 1) {
        ASSERT_NE(growBuffer(&buffer, need, first, nullptr), nullptr);
        buffer.used = need;
    }
    destroyPrivateHeap(first);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(kept[i], 0x5A);
    destroyPrivateHeap(second);
}
