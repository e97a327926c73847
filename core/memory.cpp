#include "core/memory.h"

#include <atomic>

#include "core/checked_math.h"
#include "core/status.h"

namespace {

std::atomic<int64_t> requestsBeforeFailure{-1};
std::atomic<uint64_t> requestCount{0};
std::atomic<uint64_t> bytesInUse{0};
std::atomic<uint64_t> bytesPeak{0};

bool heapRequestAllowed() {
    requestCount.fetch_add(1, std::memory_order_relaxed);
    int64_t left = requestsBeforeFailure.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) return false;
        if (requestsBeforeFailure.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

void* reportOutOfMemory(const MessageSink* sink) {
    if (sink) reportCode(sink, kOutOfMemory);
    return nullptr;
}

// The byte size of count elements, or false when it does not fit a size_t.
bool arrayBytes(uint64_t count, uint64_t elementSize, size_t* bytes) {
    uint64_t product;
    if (multiplyOverflows(count, elementSize, &product) || product > SIZE_MAX) return false;
    *bytes = static_cast<size_t>(product);
    return true;
}

}  // namespace

void failHeapRequestsAfter(int64_t count) {
    requestsBeforeFailure.store(count < 0 ? -1 : count);
}

uint64_t heapRequestCount() {
    return requestCount.load(std::memory_order_relaxed);
}

void countHeapBytes(uint64_t taken, uint64_t given) {
    uint64_t now = bytesInUse.fetch_add(taken, std::memory_order_relaxed) + taken;
    uint64_t peak = bytesPeak.load(std::memory_order_relaxed);
    while (now > peak && !bytesPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    bytesInUse.fetch_sub(given, std::memory_order_relaxed);
}

uint64_t heapBytesInUse() {
    return bytesInUse.load(std::memory_order_relaxed);
}

uint64_t heapBytesPeak() {
    return bytesPeak.load(std::memory_order_relaxed);
}

void resetHeapBytesPeak() {
    bytesPeak.store(bytesInUse.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void* allocBytes(size_t size) {
    if (!heapRequestAllowed()) return nullptr;
    return heapAlloc(processHeap(), size);
}

void freeBytes(void* block) {
    heapFree(processHeap(), block);
}

void* allocArray(HeapHandle heap, uint64_t count, uint64_t elementSize, const MessageSink* sink) {
    size_t bytes;
    if (!arrayBytes(count, elementSize, &bytes) || !heapRequestAllowed()) return reportOutOfMemory(sink);
    void* block = heapAlloc(heap, bytes);
    return block ? block : reportOutOfMemory(sink);
}

void* reallocArray(HeapHandle heap, void* block, uint64_t count, uint64_t elementSize,
                   const MessageSink* sink) {
    size_t bytes;
    if (!arrayBytes(count, elementSize, &bytes) || !heapRequestAllowed()) return reportOutOfMemory(sink);
    void* moved = heapReAlloc(heap, block, bytes);
    return moved ? moved : reportOutOfMemory(sink);
}

void* growBuffer(GrowBuffer* buffer, uint64_t neededSize, HeapHandle heap, const MessageSink* sink) {
    uint64_t doubled = buffer->used > UINT64_MAX / 2 ? UINT64_MAX : buffer->used * 2;
    uint64_t capacity = doubled > neededSize ? doubled : neededSize;
    void* data = buffer->data ? reallocArray(heap, buffer->data, capacity, 1, sink)
                              : allocArray(heap, capacity, 1, sink);
    if (!data) return nullptr;
    buffer->data = data;
    buffer->capacity = capacity;
    return data;
}
