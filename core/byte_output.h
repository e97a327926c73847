// Bytes written through a buffer to a destination of the caller's (a file,
// memory in tests, a counter). The first failure sticks: later writes are
// dropped and the end says it failed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

struct ByteOutput {
    // Takes the buffer's bytes; false when they could not be written.
    bool (*take)(void* context, const uint8_t* bytes, size_t size);
    void* context;
    uint8_t* buffer;
    size_t used;
    size_t capacity;
    uint64_t written;  // bytes put so far, buffered or taken
    bool failed;
};

// A buffer of `capacity` bytes of the caller's.
ByteOutput byteOutput(bool (*take)(void*, const uint8_t*, size_t), void* context, uint8_t* buffer, size_t capacity);
void putBytes(ByteOutput* out, const void* bytes, size_t size);
void putText(ByteOutput* out, const char* text);
// putBytes for a small piece (a record), copied inline while the buffer has room.
inline void putSmallBytes(ByteOutput* out, const void* bytes, size_t size) {
    if (out->failed || out->capacity - out->used < size) {
        putBytes(out, bytes, size);
        return;
    }
    memcpy(out->buffer + out->used, bytes, size);
    out->used += size;
    out->written += size;
}
void putLittle16(ByteOutput* out, uint16_t value);
void putLittle32(ByteOutput* out, uint32_t value);
// Hands on what is buffered; false when any write failed.
bool flushBytes(ByteOutput* out);
