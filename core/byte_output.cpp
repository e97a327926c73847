#include "core/byte_output.h"

#include <cstring>

ByteOutput byteOutput(bool (*take)(void*, const uint8_t*, size_t), void* context, uint8_t* buffer, size_t capacity) {
    return ByteOutput{take, context, buffer, 0, capacity, 0, false};
}

bool flushBytes(ByteOutput* out) {
    if (!out->failed && out->used && !out->take(out->context, out->buffer, out->used)) out->failed = true;
    out->used = 0;
    return !out->failed;
}

void putBytes(ByteOutput* out, const void* bytes, size_t size) {
    out->written += size;
    const uint8_t* from = static_cast<const uint8_t*>(bytes);
    while (size && !out->failed) {
        if (out->used == out->capacity) flushBytes(out);
        size_t piece = out->capacity - out->used < size ? out->capacity - out->used : size;
        memcpy(out->buffer + out->used, from, piece);
        out->used += piece;
        from += piece;
        size -= piece;
    }
}

void putText(ByteOutput* out, const char* text) {
    putBytes(out, text, strlen(text));
}

void putLittle16(ByteOutput* out, uint16_t value) {
    uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    putBytes(out, bytes, 2);
}

void putLittle32(ByteOutput* out, uint32_t value) {
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 24)};
    putBytes(out, bytes, 4);
}
