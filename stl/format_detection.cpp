#include "stl/format_detection.h"

#include <cstring>

namespace {

constexpr uint64_t kBinaryHeaderSize = 80;
constexpr uint64_t kBinaryMinimumSize = 84;
constexpr uint64_t kRecordSize = 50;
constexpr uint64_t kVertexOffset = 12;
constexpr uint32_t kRecordsExamined = 4;
constexpr uint64_t kMaxStrayBytes = 3;
constexpr uint64_t kAsciiMinimumSize = 14;  // covers mark, 4 spaces, "solid" and one more byte
constexpr uint64_t kTextExamined = 256;
constexpr uint32_t kMaxLeadingSpace = 4;

uint32_t readUint32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// Exporters never write subnormal coordinates; bytes that only happen to fit
// the size rule usually contain some.
bool isSubnormal(uint32_t bits) {
    return (bits & 0x7F800000) == 0 && (bits & 0x007FFFFF) != 0;
}

// Coordinates of real models are zero or of a moderate size (below 2^41);
// bytes of other kinds rarely give several such floats in a row.
bool isPlausibleCoordinate(uint32_t bits) {
    uint32_t exponent = bits >> 23 & 0xFF;
    return (bits & 0x7FFFFFFF) == 0 || (exponent != 0 && exponent <= 127 + 40);
}

// Bytes 0-8 and 14-31 from `from` up to offset 256.
bool hasControlBytes(const uint8_t* file, uint64_t from, uint64_t size) {
    uint64_t limit = size < kTextExamined ? size : kTextExamined;
    for (uint64_t at = from; at < limit; ++at)
        if (file[at] < 32 && (file[at] < 9 || file[at] > 13)) return true;
    return false;
}

}  // namespace

StlFormat detectFormat(const uint8_t* file, uint64_t size) {
    bool ascii = size >= kAsciiMinimumSize && looksAscii(file, size);
    // Text of an odd size can pass the size rule by chance; binary files have
    // no reason to be odd but a stray byte or three.
    if (size >= kBinaryMinimumSize && looksBinary(file, size) && (size % 2 == 0 || !ascii)) return kFormatBinary;
    return ascii ? kFormatAscii : kFormatNone;
}

bool looksBinary(const uint8_t* file, uint64_t size) {
    if (size < kBinaryMinimumSize) return false;
    uint32_t count = readUint32(file + kBinaryHeaderSize);
    uint64_t blockEnd = kBinaryMinimumSize + kRecordSize * count;  // below 2^38, no overflow
    if (size < blockEnd) return false;
    if (size % 2 != 0) {
        if (size - blockEnd > kMaxStrayBytes) return false;
    } else if (count == 0) {
        return size == kBinaryMinimumSize;
    }
    uint32_t examined = count < kRecordsExamined ? count : kRecordsExamined;
    for (uint32_t i = 0; i < examined; ++i) {
        const uint8_t* vertices = file + kBinaryMinimumSize + kRecordSize * i + kVertexOffset;
        for (int c = 0; c < 9; ++c)
            if (isSubnormal(readUint32(vertices + 4 * c))) return false;
    }
    return true;
}

bool looksAscii(const uint8_t* file, uint64_t size) {
    if (size < kAsciiMinimumSize) return false;
    uint64_t at = size >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
    for (uint32_t skipped = 0; skipped < kMaxLeadingSpace && isStlSpace(file[at]); ++skipped) ++at;
    if (memcmp(file + at, "solid", 5) != 0) return false;
    at += 5;
    uint8_t next = file[at];
    if (next != ' ' && next != '\t' && next != '\n' && next != '\r') return false;
    return !hasControlBytes(file, at, size);
}

uint64_t missingBinaryBytes(const uint8_t* file, uint64_t size) {
    if (size < kBinaryMinimumSize || !hasControlBytes(file, 0, size)) return 0;
    uint64_t blockEnd = kBinaryMinimumSize + kRecordSize * readUint32(file + kBinaryHeaderSize);
    if (size >= blockEnd) return 0;
    for (uint32_t i = 0; i < kRecordsExamined; ++i) {
        uint64_t vertices = kBinaryMinimumSize + kRecordSize * i + kVertexOffset;
        for (uint64_t c = 0; c < 9 && vertices + 4 * c + 4 <= size; ++c)
            if (!isPlausibleCoordinate(readUint32(file + vertices + 4 * c))) return 0;
    }
    return blockEnd - size;
}
