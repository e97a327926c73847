// Raw DEFLATE streams (RFC 1951), as ZIP entries hold them, decoded into a
// buffer of the size the archive states. Every code table, length and
// distance is checked, nothing is read past the input nor written past the
// output, and a stream that would give more or fewer bytes is refused.
#pragma once
#include <cstddef>
#include <cstdint>

enum InflateResult : uint32_t {
    kInflateDone = 0,
    kInflateTruncated = 1,       // the input ends inside the stream
    kInflateBadBlockType = 2,    // block type 3
    kInflateBadStoredBlock = 3,  // LEN and NLEN disagree
    kInflateBadCodeLengths = 4,  // a code that over-subscribes, is incomplete or repeats past its end
    kInflateBadSymbol = 5,       // a code no table holds, or a symbol deflate does not define
    kInflateBadDistance = 6,     // a copy from before the start of the output
    kInflateTooLong = 7,         // more output than the stated size
    kInflateTooShort = 8,        // the last block ends before the stated size
};

// Decodes all of input into exactly outputSize bytes. consumed receives the
// input bytes the stream took (a partial last byte counts). When published is
// not null it receives, from time to time and with release order, how many
// leading output bytes are final, so another thread can read them meanwhile.
InflateResult inflateRaw(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize,
                         size_t* consumed, volatile uint64_t* published);
