// Decides from a file's bytes whether it is binary STL, ASCII STL or neither.
// Nothing is reported and nothing past the given size is read.
#pragma once
#include <cstdint>

enum StlFormat : uint32_t {
    kFormatNone = 0,
    kFormatAscii = 4,
    kFormatBinary = 5,
    kFormat3mf = 6,  // a ZIP package, told apart by the load job
};

// The whitespace of STL text: tab, LF, VT, FF, CR and space.
inline bool isStlSpace(uint8_t byte) {
    return byte == ' ' || (byte >= 9 && byte <= 13);
}

// Binary is tested first: a valid binary file whose header begins with
// "solid" is binary. A file of odd size is binary only when it is not text
// and holds one block and at most three stray bytes.
StlFormat detectFormat(const uint8_t* file, uint64_t size);
// The block structure fits the size and the first vertices are not subnormal.
bool looksBinary(const uint8_t* file, uint64_t size);
// "solid" near the start, then text without control bytes up to offset 256.
bool looksAscii(const uint8_t* file, uint64_t size);
// Bytes missing from a binary file whose first block runs past its end, when
// its bytes are not text and its first coordinates are plausible; else 0.
uint64_t missingBinaryBytes(const uint8_t* file, uint64_t size);
