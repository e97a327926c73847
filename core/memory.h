// Allocation on the system heaps. Failures are reported as "out of memory"
// to the caller's sink and answered with null; nothing here ends the process.
#pragma once
#include <cstdint>
#include "core/platform.h"

struct MessageSink;

#pragma pack(push, 1)
// Append-only heap block. Grows to the larger of twice the used size and the
// needed size, so a buffer that is emptied and refilled stays at its largest need.
struct GrowBuffer {
    void* data;
    uint64_t used;
    uint64_t capacity;
};
#pragma pack(pop)
static_assert(sizeof(GrowBuffer) == 24);

// Process heap, contents undefined, no report.
void* allocBytes(size_t size);
void freeBytes(void* block);

void* allocArray(HeapHandle heap, uint64_t count, uint64_t elementSize, const MessageSink* sink);
// The block may move; on failure the old block stays valid.
void* reallocArray(HeapHandle heap, void* block, uint64_t count, uint64_t elementSize,
                   const MessageSink* sink);
// Called when neededSize exceeds the capacity; the caller updates `used`.
// Returns the new data pointer, or null with the buffer unchanged.
void* growBuffer(GrowBuffer* buffer, uint64_t neededSize, HeapHandle heap, const MessageSink* sink);

// Test seam: the next `count` heap requests succeed, every later one fails,
// until called again with a negative count (never fail).
void failHeapRequestsAfter(int64_t count);
// Test seam: heap requests made through this file since the process started.
uint64_t heapRequestCount();
// Test seam: bytes in the live blocks of every heap the heap operations
// manage, and the most there were since the last resetHeapBytesPeak.
uint64_t heapBytesInUse();
uint64_t heapBytesPeak();
void resetHeapBytesPeak();
