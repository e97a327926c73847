// Bytes written through a buffer to a destination of the caller's (a file,
// memory in tests, a counter). The first failure sticks: later writes are
// dropped and the end says it failed.
#pragma once
#include <cstddef>
#include <cstdint>

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
void putLittle16(ByteOutput* out, uint16_t value);
void putLittle32(ByteOutput* out, uint32_t value);
// Hands on what is buffered; false when any write failed.
bool flushBytes(ByteOutput* out);
