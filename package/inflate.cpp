#include "package/inflate.h"

#include <cstring>

#include "core/spin_lock.h"

namespace {

// First-level tables of 11 bits for literals and lengths and 8 bits for
// distances hold nearly every code a file uses; longer codes go through one
// second-level table per prefix, sized for the longest code of the stream.
constexpr uint32_t kLiteralBits = 11;
constexpr uint32_t kDistanceBits = 8;
constexpr uint32_t kMaxCodeLength = 15;
constexpr uint32_t kLiteralSymbols = 288;
constexpr uint32_t kDistanceSymbols = 32;
constexpr uint32_t kLiteralTableSize = (1u << kLiteralBits) + kLiteralSymbols * (1u << (kMaxCodeLength - kLiteralBits));
constexpr uint32_t kDistanceTableSize =
    (1u << kDistanceBits) + kDistanceSymbols * (1u << (kMaxCodeLength - kDistanceBits));
// The fast loop runs while a whole match and its 16-byte copy steps fit.
constexpr ptrdiff_t kFastOutputMargin = 258 + 16;
constexpr ptrdiff_t kFastInputMargin = 8;
constexpr size_t kPublishStep = size_t{1} << 18;

// A table entry: bits 0-7 the code's length, 8-12 its extra bits (for a
// second-level pointer: the index bits of that table), 13-15 its kind,
// 16-31 its value (literal byte, base length or distance, table offset).
constexpr uint32_t kKindLiteral = 0;
constexpr uint32_t kKindBase = 1u << 13;
constexpr uint32_t kKindEnd = 2u << 13;
constexpr uint32_t kKindTable = 3u << 13;
constexpr uint32_t kKindInvalid = 4u << 13;
constexpr uint32_t kKindMask = 7u << 13;

constexpr uint32_t makeEntry(uint32_t length, uint32_t extra, uint32_t kind, uint32_t value) {
    return length | extra << 8 | kind | value << 16;
}
inline uint32_t lengthOf(uint32_t entry) { return entry & 0xFF; }
inline uint32_t extraOf(uint32_t entry) { return entry >> 8 & 0x1F; }
inline uint32_t kindOf(uint32_t entry) { return entry & kKindMask; }
inline uint32_t valueOf(uint32_t entry) { return entry >> 16; }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Alphabet { kCodeLengths, kLiterals, kDistances };

uint32_t symbolEntry(Alphabet alphabet, uint32_t symbol, uint32_t length) {
    if (alphabet == Alphabet::kCodeLengths) return makeEntry(length, 0, kKindLiteral, symbol);
    if (alphabet == Alphabet::kDistances)
        return symbol < 30 ? makeEntry(length, kDistanceExtra[symbol], kKindBase, kDistanceBase[symbol])
                           : makeEntry(length, 0, kKindInvalid, 0);
    if (symbol < 256) return makeEntry(length, 0, kKindLiteral, symbol);
    if (symbol == 256) return makeEntry(length, 0, kKindEnd, 0);
    if (symbol <= 285) return makeEntry(length, kLengthExtra[symbol - 257], kKindBase, kLengthBase[symbol - 257]);
    return makeEntry(length, 0, kKindInvalid, 0);
}

uint32_t reverseBits(uint32_t code, uint32_t length) {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < length; ++i, code >>= 1) reversed = reversed << 1 | (code & 1);
    return reversed;
}

// The canonical code of the lengths into a first-level table of mainBits and
// its second-level tables. False for a code that over-subscribes, and for an
// incomplete one unless it is a single code of one bit (or, for distances,
// no code at all), as zlib allows.
bool buildTable(const uint8_t* lengths, uint32_t symbols, uint32_t mainBits, Alphabet alphabet, uint32_t* table) {
    uint32_t count[kMaxCodeLength + 1] = {};
    for (uint32_t s = 0; s < symbols; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint32_t longest = 0;
    for (uint32_t length = kMaxCodeLength; length > 0; --length)
        if (count[length]) {
            longest = length;
            break;
        }
    int32_t left = 1;
    for (uint32_t length = 1; length <= kMaxCodeLength; ++length) {
        left = left * 2 - static_cast<int32_t>(count[length]);
        if (left < 0) return false;
    }
    uint32_t mainSize = 1u << mainBits;
    for (uint32_t i = 0; i < mainSize; ++i) table[i] = makeEntry(0, 0, kKindInvalid, 0);
    if (longest == 0) return alphabet == Alphabet::kDistances;
    if (left > 0 && (alphabet == Alphabet::kCodeLengths || longest != 1)) return false;
    uint32_t next[kMaxCodeLength + 1];
    uint32_t code = 0;
    for (uint32_t length = 1; length <= kMaxCodeLength; ++length) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    uint32_t subBits = longest > mainBits ? longest - mainBits : 0;
    uint32_t used = mainSize;
    for (uint32_t s = 0; s < symbols; ++s) {
        uint32_t length = lengths[s];
        if (!length) continue;
        uint32_t reversed = reverseBits(next[length]++, length);
        uint32_t entry = symbolEntry(alphabet, s, length);
        if (length <= mainBits) {
            for (uint32_t i = reversed; i < mainSize; i += 1u << length) table[i] = entry;
            continue;
        }
        uint32_t prefix = reversed & (mainSize - 1);
        if (kindOf(table[prefix]) != kKindTable) {
            table[prefix] = makeEntry(0, subBits, kKindTable, used);
            for (uint32_t i = 0; i < 1u << subBits; ++i) table[used + i] = makeEntry(0, 0, kKindInvalid, 0);
            used += 1u << subBits;
        }
        uint32_t* sub = table + valueOf(table[prefix]);
        for (uint32_t i = reversed >> mainBits; i < 1u << subBits; i += 1u << (length - mainBits)) sub[i] = entry;
    }
    return true;
}

enum class Tables { kNone, kFixed, kDynamic };

struct Decoder {
    const uint8_t* inStart;
    const uint8_t* in;
    const uint8_t* inEnd;
    uint64_t bits;     // the next `count` bits of the stream, and then possibly the stream's following bits
    uint32_t count;
    size_t overrun;    // zero bytes fed in past the end of the input
    uint8_t* outStart;
    uint8_t* out;
    uint8_t* outEnd;
    volatile uint64_t* published;
    uint8_t* nextPublish;
    Tables tables;
    uint32_t literals[kLiteralTableSize];
    uint32_t distances[kDistanceTableSize];
};

inline uint64_t loadWord(const uint8_t* at) {
    uint64_t word;
    memcpy(&word, at, sizeof word);
    return word;
}

// At least 56 bits (at most 63), past the end of the input as zeros
// (counted in overrun).
void refillSlow(Decoder* d) {
    while (d->count <= 55) {
        uint64_t byte = 0;
        if (d->in < d->inEnd) byte = *d->in++;
        else ++d->overrun;
        d->bits |= byte << d->count;
        d->count += 8;
    }
}

// Some of the zero bytes fed in past the end have been used.
inline bool overran(const Decoder* d) {
    return d->overrun * 8 > d->count;
}

inline void consume(Decoder* d, uint32_t bits) {
    d->bits >>= bits;
    d->count -= bits;
}

uint32_t takeBits(Decoder* d, uint32_t bits) {
    if (d->count < bits) refillSlow(d);
    uint32_t value = static_cast<uint32_t>(d->bits & ((uint64_t{1} << bits) - 1));
    consume(d, bits);
    return value;
}

// One code's entry from a bit buffer of at least 15 bits.
inline uint32_t lookUpIn(uint64_t bits, const uint32_t* table, uint32_t mainBits) {
    uint32_t entry = table[bits & ((1u << mainBits) - 1)];
    if (kindOf(entry) == kKindTable) entry = table[valueOf(entry) + ((bits >> mainBits) & ((1u << extraOf(entry)) - 1))];
    return entry;
}

uint32_t decodeSlow(Decoder* d, const uint32_t* table, uint32_t mainBits) {
    if (d->count < kMaxCodeLength) refillSlow(d);
    uint32_t entry = lookUpIn(d->bits, table, mainBits);
    consume(d, lengthOf(entry));
    return entry;
}

void publish(Decoder* d) {
    if (!d->published) return;
    storeRelease64(d->published, static_cast<uint64_t>(d->out - d->outStart));
    d->nextPublish = d->out + kPublishStep;
}

InflateResult readStoredBlock(Decoder* d) {
    consume(d, d->count & 7);
    uint32_t length = takeBits(d, 16);
    uint32_t inverse = takeBits(d, 16);
    if (overran(d)) return kInflateTruncated;
    if ((length ^ inverse) != 0xFFFF) return kInflateBadStoredBlock;
    // Hand the whole bytes still in the buffer back to the input.
    d->in -= d->count / 8 - d->overrun;
    d->overrun = 0;
    d->bits = 0;
    d->count = 0;
    if (static_cast<size_t>(d->inEnd - d->in) < length) return kInflateTruncated;
    if (static_cast<size_t>(d->outEnd - d->out) < length) return kInflateTooLong;
    memcpy(d->out, d->in, length);
    d->in += length;
    d->out += length;
    return kInflateDone;
}

void buildFixedTables(Decoder* d) {
    uint8_t lengths[kLiteralSymbols + kDistanceSymbols];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 112);
    memset(lengths + 256, 7, 24);
    memset(lengths + 280, 8, 8);
    memset(lengths + kLiteralSymbols, 5, kDistanceSymbols);
    buildTable(lengths, kLiteralSymbols, kLiteralBits, Alphabet::kLiterals, d->literals);
    buildTable(lengths + kLiteralSymbols, kDistanceSymbols, kDistanceBits, Alphabet::kDistances, d->distances);
    d->tables = Tables::kFixed;
}

InflateResult readDynamicTables(Decoder* d) {
    d->tables = Tables::kNone;
    uint32_t literalCount = takeBits(d, 5) + 257;
    uint32_t distanceCount = takeBits(d, 5) + 1;
    uint32_t codeLengthCount = takeBits(d, 4) + 4;
    if (literalCount > 286 || distanceCount > 30) return kInflateBadCodeLengths;
    uint8_t codeLengthLengths[19] = {};
    for (uint32_t i = 0; i < codeLengthCount; ++i) codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(takeBits(d, 3));
    if (overran(d)) return kInflateTruncated;
    uint32_t codeLengthTable[1u << 7];
    if (!buildTable(codeLengthLengths, 19, 7, Alphabet::kCodeLengths, codeLengthTable)) return kInflateBadCodeLengths;
    uint8_t lengths[286 + 30];
    uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;) {
        uint32_t entry = decodeSlow(d, codeLengthTable, 7);
        if (kindOf(entry) == kKindInvalid) return overran(d) ? kInflateTruncated : kInflateBadCodeLengths;
        uint32_t symbol = valueOf(entry);
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        uint32_t repeat;
        if (symbol == 16) {
            if (i == 0) return kInflateBadCodeLengths;
            value = lengths[i - 1];
            repeat = 3 + takeBits(d, 2);
        } else if (symbol == 17) {
            repeat = 3 + takeBits(d, 3);
        } else {
            repeat = 11 + takeBits(d, 7);
        }
        if (repeat > total - i) return kInflateBadCodeLengths;
        memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (overran(d)) return kInflateTruncated;
    if (lengths[256] == 0) return kInflateBadCodeLengths;  // no end of block
    if (!buildTable(lengths, literalCount, kLiteralBits, Alphabet::kLiterals, d->literals) ||
        !buildTable(lengths + literalCount, distanceCount, kDistanceBits, Alphabet::kDistances, d->distances))
        return kInflateBadCodeLengths;
    d->tables = Tables::kDynamic;
    return kInflateDone;
}

// A copy of `length` bytes from `distance` back, in 16- or 8-byte steps
// that may write up to 15 bytes past its end (the fast loop leaves room).
inline void copyMatchFast(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* from = out - distance;
    uint8_t* end = out + length;
    if (distance >= 16) {
        do {
            memcpy(out, from, 16);
            out += 16;
            from += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        memset(out, *from, length);
    } else {
        while (out < end) *out++ = *from++;
    }
}

// A value no InflateResult has: the fast loop came near an end of the input or output.
constexpr InflateResult kInflateNearEnd = static_cast<InflateResult>(100);

// Symbols while both ends are far enough for any code and copy to fit. The
// state is kept in locals: the output's byte stores may alias anything, so
// through the decoder it would be reloaded after every one.
InflateResult readFastSymbols(Decoder* d) {
    const uint32_t* literals = d->literals;
    const uint32_t* distances = d->distances;
    uint64_t bits = d->bits;
    uint32_t count = d->count;
    const uint8_t* in = d->in;
    uint8_t* out = d->out;
    InflateResult result = kInflateNearEnd;
    while (d->inEnd - in >= kFastInputMargin && d->outEnd - out >= kFastOutputMargin) {
        if (out >= d->nextPublish) {
            d->out = out;
            publish(d);
        }
        // At least 56 bits, eight input bytes in one load.
        bits |= loadWord(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
        uint32_t entry = lookUpIn(bits, literals, kLiteralBits);
        if (kindOf(entry) == kKindLiteral) {
            bits >>= lengthOf(entry);
            count -= lengthOf(entry);
            *out++ = static_cast<uint8_t>(valueOf(entry));
            // At least 41 bits are left: room for one more literal.
            entry = lookUpIn(bits, literals, kLiteralBits);
            if (kindOf(entry) != kKindLiteral) continue;
            bits >>= lengthOf(entry);
            count -= lengthOf(entry);
            *out++ = static_cast<uint8_t>(valueOf(entry));
            continue;
        }
        if (kindOf(entry) != kKindBase) {
            if (kindOf(entry) == kKindEnd) {
                bits >>= lengthOf(entry);
                count -= lengthOf(entry);
                result = kInflateDone;
            } else {
                result = kInflateBadSymbol;
            }
            break;
        }
        // A length of up to 15 + 5 bits and a distance of up to 15 + 13: 48 of the 56.
        bits >>= lengthOf(entry);
        count -= lengthOf(entry);
        uint32_t length = valueOf(entry) + static_cast<uint32_t>(bits & ((1u << extraOf(entry)) - 1));
        bits >>= extraOf(entry);
        count -= extraOf(entry);
        entry = lookUpIn(bits, distances, kDistanceBits);
        if (kindOf(entry) != kKindBase) {
            result = kInflateBadSymbol;
            break;
        }
        bits >>= lengthOf(entry);
        count -= lengthOf(entry);
        uint32_t distance = valueOf(entry) + static_cast<uint32_t>(bits & ((1u << extraOf(entry)) - 1));
        bits >>= extraOf(entry);
        count -= extraOf(entry);
        if (distance > static_cast<size_t>(out - d->outStart)) {
            result = kInflateBadDistance;
            break;
        }
        copyMatchFast(out, distance, length);
        out += length;
    }
    d->bits = bits;
    d->count = count;
    d->in = in;
    d->out = out;
    return result;
}

// The symbols of one Huffman block up to its end code.
InflateResult readHuffmanBlock(Decoder* d) {
    const uint32_t* literals = d->literals;
    const uint32_t* distances = d->distances;
    for (;;) {
        InflateResult fast = readFastSymbols(d);
        if (fast != kInflateNearEnd) return fast;
        // Near either end: one symbol at a time, every bound checked.
        uint32_t entry = decodeSlow(d, literals, kLiteralBits);
        if (overran(d)) return kInflateTruncated;
        if (kindOf(entry) == kKindLiteral) {
            if (d->out == d->outEnd) return kInflateTooLong;
            *d->out++ = static_cast<uint8_t>(valueOf(entry));
            continue;
        }
        if (kindOf(entry) == kKindEnd) return kInflateDone;
        if (kindOf(entry) != kKindBase) return kInflateBadSymbol;
        uint32_t length = valueOf(entry) + takeBits(d, extraOf(entry));
        entry = decodeSlow(d, distances, kDistanceBits);
        if (kindOf(entry) != kKindBase) return overran(d) ? kInflateTruncated : kInflateBadSymbol;
        uint32_t distance = valueOf(entry) + takeBits(d, extraOf(entry));
        if (overran(d)) return kInflateTruncated;
        if (distance > static_cast<size_t>(d->out - d->outStart)) return kInflateBadDistance;
        if (length > static_cast<size_t>(d->outEnd - d->out)) return kInflateTooLong;
        const uint8_t* from = d->out - distance;
        for (uint32_t i = 0; i < length; ++i) d->out[i] = from[i];
        d->out += length;
    }
}

InflateResult readBlocks(Decoder* d) {
    for (;;) {
        uint32_t final = takeBits(d, 1);
        uint32_t type = takeBits(d, 2);
        if (overran(d)) return kInflateTruncated;
        InflateResult result = kInflateDone;
        if (type == 0) {
            result = readStoredBlock(d);
        } else if (type == 1) {
            if (d->tables != Tables::kFixed) buildFixedTables(d);
            result = readHuffmanBlock(d);
        } else if (type == 2) {
            result = readDynamicTables(d);
            if (result == kInflateDone) result = readHuffmanBlock(d);
        } else {
            result = kInflateBadBlockType;
        }
        if (result == kInflateDone && overran(d)) result = kInflateTruncated;
        if (result != kInflateDone || final) return result;
    }
}

}  // namespace

InflateResult inflateRaw(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize,
                         size_t* consumed, volatile uint64_t* published) {
    Decoder decoder;
    Decoder* d = &decoder;
    d->inStart = d->in = input;
    d->inEnd = input + inputSize;
    d->bits = 0;
    d->count = 0;
    d->overrun = 0;
    d->outStart = d->out = output;
    d->outEnd = output + outputSize;
    d->published = published;
    d->nextPublish = output + kPublishStep;
    d->tables = Tables::kNone;
    InflateResult result = readBlocks(d);
    if (result == kInflateDone && d->out != d->outEnd) result = kInflateTooShort;
    // Bits read so far, less those still in the buffer.
    uint64_t bitsRead = (static_cast<uint64_t>(d->in - d->inStart) + d->overrun) * 8 - d->count;
    uint64_t bytesRead = (bitsRead + 7) / 8;
    *consumed = static_cast<size_t>(bytesRead < inputSize ? bytesRead : inputSize);
    if (published) storeRelease64(published, static_cast<uint64_t>(d->out - d->outStart));
    return result;
}
