#include "format_detection.h"

#include <cstring>

namespace {

constexpr uint64_t kBinaryHeaderSize = 80;
constexpr uint64_t kBinaryMinimumSize = 84;
constexpr uint64_t kRecordSize = 50;
constexpr uint64_t kVertexOffset = 12;
constexpr uint32_t kRecordsExamined = 4;
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

}  // namespace

StlFormat detectFormat(const uint8_t* file, uint64_t size) {
    if (size >= kBinaryMinimumSize && looksBinary(file, size)) return kFormatBinary;
    if (size < kAsciiMinimumSize) return kFormatNone;
    return looksAscii(file, size) ? kFormatAscii : kFormatNone;
}

bool looksBinary(const uint8_t* file, uint64_t size) {
    if (size % 2 != 0 || size < kBinaryMinimumSize) return false;
    uint32_t count = readUint32(file + kBinaryHeaderSize);
    if (count == 0) return size == kBinaryMinimumSize;
    if (size < kBinaryMinimumSize + kRecordSize * count) return false;  // below 2^38, no overflow
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
    uint64_t limit = size < kTextExamined ? size : kTextExamined;
    for (; at < limit; ++at)
        if (file[at] < 32 && (file[at] < 9 || file[at] > 13)) return false;
    return true;
}
