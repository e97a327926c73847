#include <gtest/gtest.h>

#include <cstring>

#include "core/memory.h"
#include "tests/sink_recorder.h"

namespace {

constexpr uint64_t kHalfOfRange = uint64_t{1} << 32;  // its square is 2^64

void expectOneOutOfMemory(const RecordingSink& sink) {
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kOutOfMemory);
    EXPECT_NE(sink.received[0].backTracePointer, nullptr);
}

}  // namespace

// Overflowing products fail before asking the heap (the one request the seam
// allows is still there afterwards); refused requests fail on every heap.
// Either way one report, null, and a block being resized stays the caller's.
TEST(AllocArray, FailuresReportOutOfMemoryAndKeepTheOldBlock) {
    struct Case {
        uint64_t count, elementSize;
        int64_t requestsLeft;
    };
    const Case kCases[] = {{kHalfOfRange, kHalfOfRange, 1}, {UINT64_MAX, 2, 1}, {3, UINT64_MAX / 2, 1}, {4096, 1, 0}};
    HeapHandle privateHeap = createPrivateHeap();
    ASSERT_NE(privateHeap, nullptr);
    for (const Case& c : kCases) {
        for (HeapHandle heap : {processHeap(), privateHeap}) {
            SCOPED_TRACE(testing::Message() << c.count << " x " << c.elementSize << (heap == privateHeap ? " private" : ""));
            auto* block = static_cast<uint8_t*>(allocArray(heap, 32, 1, nullptr));
            ASSERT_NE(block, nullptr);
            memset(block, 0x5A, 32);
            RecordingSink allocSink, reallocSink;
            {
                HeapFailureGuard guard(c.requestsLeft);
                EXPECT_EQ(allocArray(heap, c.count, c.elementSize, &allocSink.sink), nullptr);
                EXPECT_EQ(reallocArray(heap, block, c.count, c.elementSize, &reallocSink.sink), nullptr);
                void* spare = allocBytes(1);
                EXPECT_EQ(spare != nullptr, c.requestsLeft == 1);
                freeBytes(spare);
            }
            expectOneOutOfMemory(allocSink);
            expectOneOutOfMemory(reallocSink);
            for (int i = 0; i < 32; ++i) ASSERT_EQ(block[i], 0x5A);
            heapFree(heap, block);  // exactly once (ASan checks)
        }
    }
    destroyPrivateHeap(privateHeap);
}

// Twice the used size or the need, whichever is larger: an emptied buffer
// grows only to the new need. Contents are kept, `used` is the caller's; a
// refused request leaves the buffer as it was.
TEST(GrowBuffer, GrowsToTwiceUsedOrNeeded) {
    struct Step {
        uint64_t used, need, capacity;
        bool refused;
    };
    const Step kSteps[] = {{0, 93, 0, true},      {0, 93, 93, false},    {93, 186, 186, false}, {186, 279, 372, false},
                           {186, 400, 372, true}, {0, 400, 400, false},  {10, 401, 401, false}, {300, 500, 600, false}};
    GrowBuffer buffer{nullptr, 0, 0};
    for (const Step& s : kSteps) {
        SCOPED_TRACE(testing::Message() << s.used << " used, " << s.need << " needed");
        buffer.used = s.used;
        if (s.used) memset(buffer.data, int(s.used), s.used);
        void* before = buffer.data;
        RecordingSink sink;
        failHeapRequestsAfter(s.refused ? 0 : -1);
        void* grown = growBuffer(&buffer, s.need, processHeap(), &sink.sink);
        failHeapRequestsAfter(-1);
        EXPECT_EQ(grown, s.refused ? nullptr : buffer.data);
        if (s.refused) expectOneOutOfMemory(sink);
        if (s.refused) EXPECT_EQ(buffer.data, before);
        EXPECT_EQ(buffer.capacity, s.capacity);
        EXPECT_EQ(buffer.used, s.used);
        for (uint64_t i = 0; i < s.used; ++i) ASSERT_EQ(static_cast<uint8_t*>(buffer.data)[i], uint8_t(s.used));
    }
    freeBytes(buffer.data);
}

// Live bytes on every heap, a destroyed heap's remaining blocks given back;
// a moved block counts as taken before the old one is given back.
TEST(HeapBytes, CountLiveBlocksAndThePeak) {
    const uint64_t before = heapBytesInUse();
    resetHeapBytesPeak();
    EXPECT_EQ(heapBytesPeak(), before);
    HeapHandle heap = createPrivateHeap();
    void* kept = allocArray(heap, 1000, 1, nullptr);
    void* freed = allocArray(processHeap(), 24, 10, nullptr);
    ASSERT_TRUE(heap && kept && freed);
    EXPECT_EQ(heapBytesInUse(), before + 1240);
    ASSERT_NE(kept = reallocArray(heap, kept, 100, 1, nullptr), nullptr);
    EXPECT_EQ(heapBytesInUse(), before + 340);
    EXPECT_EQ(heapBytesPeak(), before + 1340);
    freeBytes(freed);
    destroyPrivateHeap(heap);
    EXPECT_EQ(heapBytesInUse(), before);
}

// Blocks of model size (which the native heap advises into huge pages) keep
// their bytes when they grow and shrink, on the process heap and a private one.
TEST(HeapBytes, LargeBlocksKeepTheirBytesWhenResized) {
    const uint64_t kSizes[] = {5u << 20, 40u << 20, 9u << 20, 3u << 20};
    HeapHandle privateHeap = createPrivateHeap();
    ASSERT_NE(privateHeap, nullptr);
    for (HeapHandle heap : {processHeap(), privateHeap}) {
        auto* block = static_cast<uint8_t*>(allocArray(heap, kSizes[0], 1, nullptr));
        ASSERT_NE(block, nullptr);
        for (uint64_t i = 0; i < kSizes[0]; i += 4096) block[i] = uint8_t(i >> 12);
        for (uint64_t size : kSizes) {
            SCOPED_TRACE(size);
            ASSERT_NE(block = static_cast<uint8_t*>(reallocArray(heap, block, size, 1, nullptr)), nullptr);
            for (uint64_t i = 0; i < size && i < (3u << 20); i += 4096) ASSERT_EQ(block[i], uint8_t(i >> 12));
            block[size - 1] = 0xA5;  // the whole block is writable
        }
        heapFree(heap, block);
    }
    destroyPrivateHeap(privateHeap);
}
