#include "stl/ascii_parser.h"

#include <bit>

#include "core/checked_math.h"

#include "core/memory.h"

// Hot helpers of the number reader that must inline into their callers.
#if defined(__GNUC__)
#define STLV_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define STLV_INLINE __forceinline
#else
#define STLV_INLINE inline
#endif

namespace {

// Numbers.

constexpr uint64_t kMantissaLimit = 99999999999999999;  // digits beyond it only move the exponent
constexpr int64_t kExponentDigitLimit = 616;            // later exponent digits are ignored
// Digit runs this long already make any value zero or infinite; the bound
// only keeps the decimal exponent from overflowing.
constexpr int64_t kDigitExponentBound = int64_t{1} << 40;
constexpr uint32_t kNanBits = 0xFFC00000;
constexpr uint32_t kInfinityBits = 0x7F800000;

constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The doubles nearest to 10^-k.
constexpr double kReciprocalPowersOfTen[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                             1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                             1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
float floatFromBits(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

bool isDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// An unsigned 256-bit integer, least significant limb first; wide enough for
// 10^18 × 10^39 and for 10^64 shifted by 27 bits.
struct Wide {
    uint64_t limb[4];
};

void multiplyBy(Wide* value, uint64_t factor) {
    uint64_t carry = 0;
    for (uint64_t& limb : value->limb) {
        uint64_t high;
        uint64_t low = multiplyFull(limb, factor, &high);
        limb = low + carry;
        carry = high + (limb < low);  // never overflows: high <= factor - 1
    }
}

void multiplyByPowerOfTen(Wide* value, int64_t exponent) {
    for (; exponent >= 19; exponent -= 19) multiplyBy(value, 10000000000000000000u);
    uint64_t factor = 1;
    while (exponent-- > 0) factor *= 10;
    multiplyBy(value, factor);
}

int bitLength(const Wide& value) {
    for (int i = 3; i >= 0; --i)
        if (value.limb[i]) return 64 * i + 64 - std::countl_zero(value.limb[i]);
    return 0;
}

void shiftLeft(Wide* value, int bits) {
    int limbs = bits / 64;
    int rest = bits % 64;
    for (int i = 3; i >= 0; --i) {
        uint64_t high = i - limbs >= 0 ? value->limb[i - limbs] : 0;
        uint64_t low = i - limbs - 1 >= 0 ? value->limb[i - limbs - 1] : 0;
        value->limb[i] = rest ? high << rest | low >> (64 - rest) : high;
    }
}

void shiftRightByOne(Wide* value) {
    for (int i = 0; i < 4; ++i) value->limb[i] = value->limb[i] >> 1 | (i < 3 ? value->limb[i + 1] << 63 : 0);
}

bool lessThan(const Wide& a, const Wide& b) {
    for (int i = 3; i >= 0; --i)
        if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i];
    return false;
}

void subtract(Wide* a, const Wide& b) {
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t x = a->limb[i];
        uint64_t y = b.limb[i];
        a->limb[i] = x - y - borrow;
        borrow = x < y || x - y < borrow;
    }
}

bool isZero(const Wide& value) {
    return (value.limb[0] | value.limb[1] | value.limb[2] | value.limb[3]) == 0;
}

// The float nearest to (bits + a little when `inexact`) × 2^exponent, ties to
// even; bits is not 0. Handles subnormal results and overflow to infinity.
float roundToFloat(uint64_t bits, bool inexact, int64_t exponent) {
    int length = 64 - std::countl_zero(bits);
    int64_t topExponent = length - 1 + exponent;
    if (topExponent > 127) return floatFromBits(kInfinityBits);
    int64_t precision = topExponent >= -126 ? 24 : topExponent + 150;  // subnormals keep fewer bits
    if (precision < 0) return 0.0f;
    int64_t shift = length - precision;
    uint64_t kept;
    if (shift <= 0) {
        kept = bits << -shift;
    } else {
        kept = shift >= 64 ? 0 : bits >> shift;
        bool half = (bits >> (shift - 1)) & 1;
        bool below = inexact || (bits & ((uint64_t{1} << (shift - 1)) - 1)) != 0;
        if (half && (below || (kept & 1))) ++kept;
    }
    int64_t lowExponent = exponent + shift;  // kept × 2^lowExponent; -149 for subnormals
    if (kept == uint64_t{1} << 24) {
        kept >>= 1;
        ++lowExponent;
    }
    if (kept < uint64_t{1} << 23) return floatFromBits(static_cast<uint32_t>(kept));
    int64_t biased = lowExponent + 150;
    if (biased >= 255) return floatFromBits(kInfinityBits);
    return floatFromBits(static_cast<uint32_t>(biased << 23 | (kept & 0x7FFFFF)));
}

// mantissa × 10^exponent exactly rounded, for a mantissa that is not 0 and
// an exponent from -64 to 39 (beyond them the result is 0 or infinity).
#if defined(__GNUC__)
__attribute__((noinline))  // rare: keeps the common conversion small enough to inline
#endif
float exactMagnitude(uint64_t mantissa, int64_t exponent) {
    Wide value{{mantissa, 0, 0, 0}};
    if (exponent >= 0) {
        multiplyByPowerOfTen(&value, exponent);
        int length = bitLength(value);
        if (length <= 64) return roundToFloat(value.limb[0], false, 0);
        int shift = length - 64;
        int limbs = shift / 64;
        int rest = shift % 64;
        uint64_t top = value.limb[limbs] >> rest;
        if (rest) top |= value.limb[limbs + 1] << (64 - rest);
        bool inexact = rest && (value.limb[limbs] & ((uint64_t{1} << rest) - 1)) != 0;
        for (int i = 0; i < limbs; ++i) inexact = inexact || value.limb[i] != 0;
        return roundToFloat(top, inexact, shift);
    }
    Wide divisor{{1, 0, 0, 0}};
    multiplyByPowerOfTen(&divisor, -exponent);
    // Scale so that the quotient has at least 26 bits: 24, a rounding bit and one spare.
    int scale = bitLength(divisor) - bitLength(value) + 26;
    if (scale < 0) scale = 0;
    shiftLeft(&value, scale);
    int top = bitLength(value) - bitLength(divisor);
    shiftLeft(&divisor, top);
    uint64_t quotient = 0;
    for (int bit = top; bit >= 0; --bit) {
        if (!lessThan(value, divisor)) {
            subtract(&value, divisor);
            quotient |= uint64_t{1} << bit;
        }
        shiftRightByOne(&divisor);
    }
    return roundToFloat(quotient, !isZero(value), -scale);
}

inline float decimalToFloat(bool negative, uint64_t mantissa, int64_t exponent) {
    float magnitude;
    if (mantissa == 0) {
        // Zero with an exponent of 309 or more reads as NaN, matching a
        // double-precision reading in which 10^309 overflows to infinity and
        // 0 × ∞ is NaN.
        if (exponent >= 309) return floatFromBits(kNanBits);
        magnitude = 0.0f;
    } else if (mantissa < uint64_t{1} << 53 && exponent >= 0 && exponent <= 22) {
        // Both operands are exact doubles, so the double is correctly rounded and
        // the value lies in the normal float range. Rounding it again to float is
        // wrong only when it landed exactly halfway between two floats.
        double scaled = static_cast<double>(mantissa) * kExactPowersOfTen[exponent];
        uint64_t bits;
        memcpy(&bits, &scaled, sizeof bits);
        magnitude = (bits & 0x1FFFFFFF) != 0x10000000 ? static_cast<float>(scaled) : exactMagnitude(mantissa, exponent);
    } else if (mantissa < uint64_t{1} << 53 && exponent < 0 && exponent >= -22) {
        // Multiplying by the nearest double to 10^-k instead of dividing by 10^k
        // (a division costs as much as the rest of the number) is off by less
        // than two units in the last place of the double. Rounding that to float
        // gives the correctly rounded float unless it lies within a few units of
        // a point halfway between two floats; those few go the exact way.
        double scaled = static_cast<double>(mantissa) * kReciprocalPowersOfTen[-exponent];
        uint64_t bits;
        memcpy(&bits, &scaled, sizeof bits);
        uint64_t fromHalfway = (bits & 0x1FFFFFFF) - (0x10000000 - 4);
        magnitude = fromHalfway > 8 ? static_cast<float>(scaled) : exactMagnitude(mantissa, exponent);
    } else if (exponent > 39) {
        magnitude = floatFromBits(kInfinityBits);
    } else if (exponent < -64) {
        magnitude = 0.0f;  // below 10^18 × 10^-65, far under half the smallest subnormal
    } else {
        magnitude = exactMagnitude(mantissa, exponent);
    }
    return negative ? -magnitude : magnitude;
}

// Eight text bytes as one little-endian word (the order of the text).
uint64_t loadWord(const uint8_t* at) {
    uint64_t word;
    memcpy(&word, at, sizeof word);
    return word;
}

// How many of the eight bytes, from the first on, are digits: 8 when all are.
// Each byte minus '0' is below 10 exactly for a digit; a borrow or carry only
// ever runs towards later bytes, so the bytes before the first non-digit are exact.
int leadingDigits(uint64_t word) {
    uint64_t values = word - 0x3030303030303030u;
    uint64_t notDigits = (values | (values + 0x7676767676767676u)) & 0x8080808080808080u;
    return notDigits ? std::countr_zero(notDigits) / 8 : 8;
}

// Eight digit values, the most significant in the first byte, combined in
// pairs, fours and eights.
STLV_INLINE uint64_t eightDigits(uint64_t values) {
    values = values * 10 + (values >> 8);
    return (((values & 0x000000FF000000FFu) * 0x000F424000000064u) +
            (((values >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >> 32;
}

// The value of the first `count` digits of the word (at most 8): they are
// moved to the end so that the bytes before them read as leading zeros.
uint64_t digitsValue(uint64_t word, int count) {
    if (count == 0) return 0;
    return eightDigits((word - 0x3030303030303030u) << (8 * (8 - count)));
}

// The common number of STL text, "-12.3456", in a few word operations: fewer
// than eight digits before and after an optional separator, no exponent, at
// least eight readable bytes at each step. Anything else answers false and is
// left to the general reader, which gives the same value for these forms.
bool readPlainDecimal(const uint8_t** cursor, const uint8_t* end, uint64_t* mantissa, int64_t* exponent) {
    const uint8_t* at = *cursor;
    if (end - at < 8) return false;
    uint64_t word = loadWord(at);
    int integerDigits = leadingDigits(word);
    if (integerDigits == 8) return false;
    uint64_t value = digitsValue(word, integerDigits);
    at += integerDigits;
    int fractionDigits = 0;
    if (*at == '.' || *at == ',') {
        ++at;
        if (end - at < 8) return false;
        word = loadWord(at);
        fractionDigits = leadingDigits(word);
        if (fractionDigits == 8) return false;
        static constexpr uint64_t kScale[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
        value = value * kScale[fractionDigits] + digitsValue(word, fractionDigits);
        at += fractionDigits;
    }
    if (integerDigits + fractionDigits == 0 || (at != end && (*at == 'e' || *at == 'E'))) return false;
    *cursor = at;
    *mantissa = value;
    *exponent = -fractionDigits;
    return true;
}

bool startsWith(const uint8_t* at, const uint8_t* end, const char* text, size_t length) {
    return static_cast<size_t>(end - at) >= length && memcmp(at, text, length) == 0;
}

// The text ended where a digit was due.
int endOfText(const uint8_t** cursor, const uint8_t* end, const MessageSink* sink) {
    *cursor = end;
    if (!sink) return kNumberAtEnd;
    return report(sink, kWarnUnexpectedEnd, 0) ? kNumberAtEnd : kNumberFailed;
}

// Parsing.

constexpr uint64_t kReservedBytesPerFacet = 86;
constexpr uint64_t kMinSolidBytes = 6;  // "solid" and a line end
constexpr uint64_t kMinFacetBytes = 27;  // "facet normal 0-0-0 endfacet"
constexpr uint32_t kMaxSolids = 0x7FFFFFFF;
constexpr uint64_t kMaxTriangles = 0xFFFFFFFF;
constexpr uint64_t kMaxNameLength = 0xFFFFFFFF;
constexpr uint64_t kProgressSteps = 1000;

enum class Flow { kGoOn, kSolidEnds, kFail };

struct Reader {
    const uint8_t* file;
    const uint8_t* end;
    const uint8_t* cursor;
    HeapHandle heap;
    const MessageSink* sink;
    uint64_t progressStep;
    uint64_t progressThreshold;  // offset at which the next report is due
    uintptr_t progressValue;
};

bool isLineEnd(uint8_t byte) {
    return byte >= 10 && byte <= 13;
}

bool isBlank(uint8_t byte) {
    return byte == ' ' || byte == '\t';
}

uint64_t offsetOf(const Reader& reader) {
    return static_cast<uint64_t>(reader.cursor - reader.file);
}

Flow fail(const Reader& reader, StatusCode code) {
    if (reader.sink) report(reader.sink, code, offsetOf(reader));
    return Flow::kFail;
}

// A warning ends the solid, or the parse when the sink answers 0.
Flow endSolidWithWarning(const Reader& reader, StatusCode code, uint64_t argument) {
    if (reader.sink && !report(reader.sink, code, argument)) return Flow::kFail;
    return Flow::kSolidEnds;
}

Flow textEnded(const Reader& reader) {
    return endSolidWithWarning(reader, kWarnUnexpectedEnd, 0);
}

Flow afterTriple(int result) {
    if (result == kNumberRead) return Flow::kGoOn;
    return result == kNumberAtEnd ? Flow::kSolidEnds : Flow::kFail;
}

// After "facet normal": normal and corners into `corners` (12 floats). Without
// "outer loop" the corners keep the previous facet's values, which keeps the
// bounds of the model unchanged.
Flow readFacet(Reader* reader, float* corners) {
    Flow flow = afterTriple(readTriple(corners, reader->file, &reader->cursor, reader->end, reader->sink));
    if (flow != Flow::kGoOn) return flow;
    skipSpace(&reader->cursor, reader->end);
    if (matchKeyword(&reader->cursor, reader->end, "outer loop")) {
        for (int vertex = 1; vertex <= 3; ++vertex) {
            skipSpace(&reader->cursor, reader->end);
            if (reader->cursor == reader->end) return textEnded(*reader);
            if (!matchKeyword(&reader->cursor, reader->end, "vertex")) return fail(*reader, kErrExpectedVertex);
            float* corner = corners + 3 * vertex;
            flow = afterTriple(readTriple(corner, reader->file, &reader->cursor, reader->end, reader->sink));
            if (flow != Flow::kGoOn) return flow;
        }
        skipSpace(&reader->cursor, reader->end);
        // A file cut off before "endloop" or "endfacet" is as truncated as one
        // cut off between vertices, so it gets the same warning.
        if (reader->cursor == reader->end) return textEnded(*reader);
        if (!matchKeyword(&reader->cursor, reader->end, "endloop")) return fail(*reader, kErrExpectedEndloop);
        skipSpace(&reader->cursor, reader->end);
    }
    if (reader->cursor == reader->end) return textEnded(*reader);
    if (!matchKeyword(&reader->cursor, reader->end, "endfacet")) return fail(*reader, kErrExpectedEndfacet);
    return Flow::kGoOn;
}

// Facets can be packed tighter than the reservation assumes, and later solids
// start small; the buffer then grows by half, never beyond what the rest of
// the text can hold.
bool growTriangles(const Reader& reader, StlSolid* solid, uint64_t* capacity) {
    if (*capacity >= kMaxTriangles) {
        if (reader.sink) reportCode(reader.sink, kOutOfMemory);
        return false;
    }
    uint64_t wanted = *capacity + *capacity / 2 + 64;
    uint64_t possible = *capacity + static_cast<uint64_t>(reader.end - reader.cursor) / kMinFacetBytes + 1;
    if (wanted > possible) wanted = possible;
    if (wanted > kMaxTriangles) wanted = kMaxTriangles;
    void* grown = reallocArray(reader.heap, solid->triangles, wanted, sizeof(StlTriangle), reader.sink);
    if (!grown) return false;
    solid->triangles = static_cast<StlTriangle*>(grown);
    *capacity = wanted;
    return true;
}

STLV_INLINE bool storeFacet(const Reader& reader, StlSolid* solid, uint64_t* capacity, const float* corners) {
    if (solid->triangleCount == *capacity && !growTriangles(reader, solid, capacity)) return false;
    uint8_t* record = reinterpret_cast<uint8_t*>(solid->triangles + solid->triangleCount);
    memcpy(record, corners + 3, 36);  // the normal is not kept
    memset(record + 36, 0, 2);        // no meaning in text files; zero keeps the record defined
    solid->triangleCount = solid->triangleCount + 1;
    // Only stored facets count, so a facet cut off by the end of the text
    // leaves no trace. NaN compares unequal to zero and counts as a normal.
    if (!solid->hasNormals && (corners[0] != 0.0f || corners[1] != 0.0f || corners[2] != 0.0f)) solid->hasNormals = 1;
    return true;
}

bool reportProgress(Reader* reader) {
    if (!reader->sink->callback(reader->sink->userData, kProgress, reader->progressValue, nullptr)) return false;
    ++reader->progressValue;
    reader->progressThreshold += reader->progressStep;
    return true;
}

// The quick facet reader: the common layout of exporters without the checks
// for the end of the text. It reads only where the general reader would
// read the same, so when it gives up, the general reader starts again at the
// same facet with every message and offset of its own.

// Every step reads fewer than 96 bytes from a cursor at or before the limit.
constexpr ptrdiff_t kQuickLookAhead = 96;
constexpr int kQuickBlankRun = 16;

template <size_t N>
STLV_INLINE bool quickKeyword(const uint8_t** cursor, const uint8_t* limit, const char (&keyword)[N]) {
    const uint8_t* at = *cursor;
    if (at > limit || memcmp(at, keyword, N - 1) != 0 || !isStlSpace(at[N - 1])) return false;
    *cursor = at + N - 1;
    return true;
}

// Up to 16 whitespace bytes; a longer run is left to the general reader.
STLV_INLINE bool quickSpace(const uint8_t** cursor, const uint8_t* limit) {
    const uint8_t* at = *cursor;
    if (at > limit) return false;
    if (!isStlSpace(*at)) return true;
#if STLV_SSE2
    uint32_t notSpace = ~spaceMask(at) & 0xFFFF;
    if (!notSpace) return false;
    *cursor = at + lowestSetBit(notSpace);
    return true;
#else
    for (int run = 0; isStlSpace(*at); ++at)
        if (++run > kQuickBlankRun) return false;
    *cursor = at;
    return true;
#endif
}

// A decimal of fewer than eight digits before the separator, fewer than 16
// after it, 17 in all, and at most three exponent digits at `at`; its end,
// or null for any other form.
STLV_INLINE const uint8_t* quickDecimal(const uint8_t* at, float* destination) {
    bool negative = *at == '-';
    at += *at == '-' || *at == '+';
    uint64_t word = loadWord(at);
    int integerDigits = leadingDigits(word);
    if (integerDigits == 8) return nullptr;
    at += integerDigits;
    uint64_t value;
    int fractionDigits = 0;
    if (*at == '.' || *at == ',') {
        uint64_t fraction = loadWord(++at);
        fractionDigits = leadingDigits(fraction);
        if (integerDigits + fractionDigits < 8) {
            // The fraction's digits joined to the integer's in one word: one conversion instead of two.
            uint64_t integerBytes = integerDigits ? word & (~uint64_t{0} >> (64 - 8 * integerDigits)) : 0;
            value = digitsValue(integerBytes | fraction << (8 * integerDigits), integerDigits + fractionDigits);
        } else {
            static constexpr uint64_t kScale[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
            value = digitsValue(word, integerDigits) * kScale[fractionDigits] + digitsValue(fraction, fractionDigits);
            if (fractionDigits == 8) {
                // "0.00012345": up to 17 digits in all, which the general reader also keeps every one of.
                uint64_t more = loadWord(at + 8);
                int moreDigits = leadingDigits(more);
                if (moreDigits == 8 || integerDigits + 8 + moreDigits > 17) return nullptr;
                value = value * kScale[moreDigits] + digitsValue(more, moreDigits);
                fractionDigits += moreDigits;
            }
        }
        at += fractionDigits;
    } else {
        value = digitsValue(word, integerDigits);
    }
    if (integerDigits + fractionDigits == 0) return nullptr;
    int64_t exponent = -fractionDigits;
    if (*at == 'e' || *at == 'E') {
        ++at;
        bool negativeExponent = *at == '-';
        at += *at == '-' || *at == '+';
        word = loadWord(at);
        int exponentDigits = leadingDigits(word);
        if (exponentDigits == 0 || exponentDigits > 3) return nullptr;
        int64_t written = static_cast<int64_t>(digitsValue(word, exponentDigits));
        exponent += negativeExponent ? -written : written;
        at += exponentDigits;
    }
    *destination = decimalToFloat(negative, value, exponent);
    return at;
}

// Three numbers one after the other, each after at most 16 blanks, and up
// to 16 whitespace bytes after them.
bool quickTripleInTurn(const uint8_t** cursor, const uint8_t* limit, float* values) {
    const uint8_t* at = *cursor;
    for (int i = 0; i < 3; ++i) {
        for (int run = 0; isBlank(*at); ++at)
            if (++run > kQuickBlankRun) return false;
        if (at > limit || !(at = quickDecimal(at, values + i))) return false;
    }
    *cursor = at;
    return quickSpace(cursor, limit);
}

#if STLV_SSE2
// Bit i of each mask describes the byte at + i of 32 bytes of text.
struct ByteClasses {
    uint32_t space;
    uint32_t lineEnd;
    uint32_t point;  // "." or ","
};

STLV_INLINE ByteClasses classifyHalf(const uint8_t* at) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i fromLineFeed = _mm_sub_epi8(bytes, _mm_set1_epi8(10));
    __m128i lineEnd = _mm_cmpeq_epi8(_mm_min_epu8(fromLineFeed, _mm_set1_epi8(3)), fromLineFeed);
    __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
    // "." and "," differ in one bit, which no other byte sets to either.
    __m128i point = _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(2)), _mm_set1_epi8('.'));
    return ByteClasses{static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(blank, lineEnd))),
                       static_cast<uint32_t>(_mm_movemask_epi8(lineEnd)),
                       static_cast<uint32_t>(_mm_movemask_epi8(point))};
}

STLV_INLINE ByteClasses classify(const uint8_t* at) {
    ByteClasses low = classifyHalf(at);
    ByteClasses high = classifyHalf(at + 16);
    return ByteClasses{low.space | high.space << 16, low.lineEnd | high.lineEnd << 16, low.point | high.point << 16};
}

// True when every byte of the word is a digit value (0 to 9).
STLV_INLINE bool allDigitValues(uint64_t values) {
    return ((values | (values + 0x7676767676767676u)) & 0x8080808080808080u) == 0;
}

// The first n bytes, and the last n bytes, of a word.
constexpr uint64_t kFirstBytes[9] = {0,           0xFF,           0xFFFF,           0xFFFFFF,          0xFFFFFFFF,
                                     0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF};
constexpr uint64_t kLastBytes[9] = {0,
                                    0xFF00000000000000,
                                    0xFFFF000000000000,
                                    0xFFFFFF0000000000,
                                    0xFFFFFFFF00000000,
                                    0xFFFFFFFFFF000000,
                                    0xFFFFFFFFFFFF0000,
                                    0xFFFFFFFFFFFFFF00,
                                    0xFFFFFFFFFFFFFFFF};
// ±10^-k, the nearest doubles, the negative ones after the positive.
alignas(16) constexpr double kSignedReciprocals[18] = {1e0,  1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,
                                                       -1e0, -1e-1, -1e-2, -1e-3, -1e-4, -1e-5, -1e-6, -1e-7, -1e-8};

// A number of at most eight digits, not yet checked to be digits.
struct ShortNumber {
    uint64_t digits;  // byte values 0 to 9 in the last bytes, the most significant first; zero bytes before
    unsigned scale;   // its factor in kSignedReciprocals: the sign and the digits after the separator
};

// The number in bytes [start, end) of the text at `at` when it is an
// optional sign, then one to eight digits with at most one separator among
// them, not counting a leading zero ("0.0123456"); `points` marks the separators.
// False for anything longer or without digits. Reads up to seven bytes
// before `at`, which lies at least twelve bytes into the facet ("facet normal").
STLV_INLINE bool shortNumber(const uint8_t* at, int start, int end, uint32_t points, ShortNumber* number) {
    uint8_t lead = at[start];
    bool negative = lead == '-';
    int first = start + (lead == '-' || lead == '+');
    unsigned length = static_cast<unsigned>(end - first);
    uint32_t point = points & ((uint32_t{1} << end) - (uint32_t{1} << first));
    if (length - 1 >= 8) {
        if (length != 9 || at[first] != '0') return false;
        ++first;
        --length;
    }
    // The word that ends with the number: the integer digits move up by one
    // byte over the separator, digit characters become values 0 to 9 and
    // anything else larger, and the bytes before the number go.
    unsigned fractionDigits = point ? static_cast<unsigned>(end - 1 - lowestSetBit(point)) : 0;
    unsigned digitCount = length - (point != 0);
    uint64_t word = loadWord(at + end - 8);
    uint64_t belowFraction = point ? ~uint64_t{0} >> (8 * fractionDigits) : 0;
    word ^= (word ^ word << 8) & belowFraction;
    number->digits = (word ^ 0x3030303030303030u) & kLastBytes[digitCount];
    number->scale = 9 * negative + fractionDigits;
    return digitCount != 0;
}

// The float of a short number, or false when a byte is not a digit. Below
// 10^8 the digits are exact as a double, and the product with the nearest
// double to 10^-k, rounded to float, is the correctly rounded float: without
// a separator the product is exact; with one there are at most seven digits,
// and no such decimal is exactly halfway between two floats or close enough
// to a halfway point for the product's error of under one unit of a double
// to cross it (the nearest are about 10^-14 of the value away; checked
// over all of them).
STLV_INLINE bool shortValue(const ShortNumber& number, float* destination) {
    if (!allDigitValues(number.digits)) return false;
    double value = static_cast<double>(static_cast<int64_t>(eightDigits(number.digits)));
    *destination = static_cast<float>(value * kSignedReciprocals[number.scale]);
    return true;
}

// shortValue of three numbers side by side in SSE2 registers: digit pairs,
// fours and eights by multiply-and-add, then the same double products and
// the same rounding to float.
STLV_INLINE bool threeShortValues(const ShortNumber* numbers, float* values) {
    __m128i firstTwo = _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<int64_t>(numbers[0].digits)),
                                          _mm_cvtsi64_si128(static_cast<int64_t>(numbers[1].digits)));
    __m128i third = _mm_cvtsi64_si128(static_cast<int64_t>(numbers[2].digits));
    __m128i largest = _mm_max_epu8(firstTwo, third);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(largest, _mm_set1_epi8(9)), largest)) != 0xFFFF) return false;
    // Digits widened to 16 bits, then each lane pair as (more significant × factor + other):
    // factor 10 gives pairs, 100 fours and 10,000 eights, the lanes packed back to 16 bits between.
    __m128i zero = _mm_setzero_si128();
    __m128i tenAndOne = _mm_set1_epi32(0x0001000A);
    __m128i first = _mm_madd_epi16(_mm_unpacklo_epi8(firstTwo, zero), tenAndOne);
    __m128i second = _mm_madd_epi16(_mm_unpackhi_epi8(firstTwo, zero), tenAndOne);
    third = _mm_madd_epi16(_mm_unpacklo_epi8(third, zero), tenAndOne);
    __m128i hundredAndOne = _mm_set1_epi32(0x00010064);
    firstTwo = _mm_madd_epi16(_mm_packs_epi32(first, second), hundredAndOne);
    third = _mm_madd_epi16(_mm_packs_epi32(third, third), hundredAndOne);
    __m128i eights = _mm_madd_epi16(_mm_packs_epi32(firstTwo, third), _mm_set1_epi32(0x00012710));
    __m128d low = _mm_mul_pd(_mm_cvtepi32_pd(eights), _mm_loadh_pd(_mm_load_sd(&kSignedReciprocals[numbers[0].scale]),
                                                                   &kSignedReciprocals[numbers[1].scale]));
    __m128d high = _mm_mul_sd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(eights, eights)),
                              _mm_load_sd(&kSignedReciprocals[numbers[2].scale]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(values), _mm_castps_si128(_mm_cvtpd_ps(low)));
    _mm_store_ss(values + 2, _mm_cvtpd_ps(high));
    return true;
}

// The number in bytes [start, end) of the text at `at`: an optional sign,
// then digits with at most one separator, up to eight digits on either side.
// `points` marks the separators. False when the bytes are anything else.
bool tokenValue(const uint8_t* at, int start, int end, uint32_t points, float* destination) {
    ShortNumber number;
    if (shortNumber(at, start, end, points, &number)) return shortValue(number, destination);
    uint8_t lead = at[start];
    bool negative = lead == '-';
    int first = start + (lead == '-' || lead == '+');
    unsigned length = static_cast<unsigned>(end - first);
    uint32_t point = points & ((uint32_t{1} << end) - (uint32_t{1} << first));
    unsigned integerDigits = point ? static_cast<unsigned>(lowestSetBit(point) - first) : length;
    unsigned fractionDigits = length - integerDigits - (point != 0);
    // Longer: each side as its own word, the integer's with leading and the
    // fraction's with trailing zeros, which makes the number a multiple of
    // 10^-8 below 10^16.
    if (integerDigits > 8 || fractionDigits > 8 || integerDigits + fractionDigits == 0) return false;
    uint64_t integer = (loadWord(at + first) ^ 0x3030303030303030u) & kFirstBytes[integerDigits];
    uint64_t fraction = (loadWord(at + first + integerDigits + 1) ^ 0x3030303030303030u) & kFirstBytes[fractionDigits];
    if (!allDigitValues(integer | fraction)) return false;
    uint64_t integerValue = integerDigits ? eightDigits(integer << (64 - 8 * integerDigits)) : 0;
    *destination = decimalToFloat(negative, integerValue * 100000000 + eightDigits(fraction), -8);
    return true;
}

// The common triple: three numbers separated by blanks, all within 32 bytes
// after at least one whitespace byte. Where they stand is read from the
// masks of the 32 bytes, so the three numbers are read independently of each
// other instead of each waiting for the end of the one before. The cursor
// ends at the next non-space byte, which must lie within the 32 bytes or the
// 16 after them. Exponents and anything else unusual are left to the reader
// that goes number by number.
STLV_INLINE bool quickTripleByMask(const uint8_t** cursor, float* values) {
    const uint8_t* at = *cursor;
    ByteClasses classes = classify(at);
    uint32_t nonSpace = ~classes.space;
    uint32_t starts = nonSpace & ~(nonSpace << 1);
    uint32_t ends = classes.space & nonSpace << 1;
    uint32_t laterEnds = ends & (ends - 1);
    laterEnds &= laterEnds - 1;
    if (!laterEnds || (nonSpace & 1)) return false;
    int end2 = lowestSetBit(laterEnds);
    // Only blanks may stand before and between the numbers.
    if (classes.lineEnd & ((uint32_t{1} << end2) - 1)) return false;
    int end0 = lowestSetBit(ends);
    int end1 = lowestSetBit(ends & (ends - 1));
    int start0 = lowestSetBit(starts);
    uint32_t laterStarts = starts & (starts - 1);
    int start1 = lowestSetBit(laterStarts);
    laterStarts &= laterStarts - 1;
    int start2 = lowestSetBit(laterStarts);
    ShortNumber numbers[3];
    if (shortNumber(at, start0, end0, classes.point, &numbers[0]) &&
        shortNumber(at, start1, end1, classes.point, &numbers[1]) &&
        shortNumber(at, start2, end2, classes.point, &numbers[2])) {
        if (!threeShortValues(numbers, values)) return false;
    } else if (!tokenValue(at, start0, end0, classes.point, values) ||
               !tokenValue(at, start1, end1, classes.point, values + 1) ||
               !tokenValue(at, start2, end2, classes.point, values + 2)) {
        return false;
    }
    laterStarts &= laterStarts - 1;
    if (laterStarts) {
        *cursor = at + lowestSetBit(laterStarts);
        return true;
    }
    // The next word lies beyond the 32 bytes: it must begin within 16 more.
    uint32_t notSpace = ~spaceMask(at + end2) & 0xFFFF;
    if (!notSpace) return false;
    *cursor = at + end2 + lowestSetBit(notSpace);
    return true;
}
#endif

bool quickTriple(const uint8_t** cursor, const uint8_t* limit, float* values) {
    if (*cursor > limit) return false;
#if STLV_SSE2
    if (quickTripleByMask(cursor, values)) return true;
#endif
    return quickTripleInTurn(cursor, limit, values);
}

// "facet normal" to "endfacet" with an outer loop, into `corners`; the
// cursor moves only when the whole facet was read. One loop over the four
// triples keeps a single copy of the inlined triple reader.
bool readCommonFacet(const uint8_t** cursor, const uint8_t* limit, float* corners) {
    const uint8_t* at = *cursor;
    if (!quickKeyword(&at, limit, "facet normal")) return false;
    for (int triple = 0;; ++triple) {
        if (!quickTriple(&at, limit, corners + 3 * triple)) return false;
        if (triple == 3) break;
        if (triple == 0 && (!quickKeyword(&at, limit, "outer loop") || !quickSpace(&at, limit))) return false;
        if (!quickKeyword(&at, limit, "vertex")) return false;
    }
    if (!quickKeyword(&at, limit, "endloop") || !quickSpace(&at, limit) || !quickKeyword(&at, limit, "endfacet"))
        return false;
    *cursor = at;
    return true;
}

// After "endsolid": a named solid expects a space and its name again.
Flow readEndsolid(Reader* reader, const StlSolid* solid) {
    uint64_t nameLength = solid->name.length;
    if (nameLength != 0) {
        bool spaced = reader->cursor != reader->end && *reader->cursor == ' ';
        if (spaced) ++reader->cursor;
        bool same = spaced && static_cast<uint64_t>(reader->end - reader->cursor) >= nameLength &&
                    memcmp(reader->cursor, solid->name.bytes, nameLength) == 0;
        if (!same && reader->sink && !report(reader->sink, kWarnMissingEndsolid, offsetOf(*reader)))
            return Flow::kFail;
    }
    while (reader->cursor != reader->end && !isLineEnd(*reader->cursor)) ++reader->cursor;
    if (reader->cursor != reader->end) ++reader->cursor;
    return Flow::kSolidEnds;
}

Flow readFacets(Reader* reader, StlSolid* solid, uint64_t* capacity, float* corners) {
    // The quick reader never looks this far ahead of its cursor; a short text has no room for it.
    bool roomForQuick = reader->end - reader->cursor > kQuickLookAhead;
    const uint8_t* quickLimit = roomForQuick ? reader->end - kQuickLookAhead : reader->cursor;
    for (;;) {
        skipSpace(&reader->cursor, reader->end);
        if (reader->cursor == reader->end) return textEnded(*reader);
        if (roomForQuick && readCommonFacet(&reader->cursor, quickLimit, corners)) {
            if (!storeFacet(*reader, solid, capacity, corners)) return Flow::kFail;
            if (reader->sink && offsetOf(*reader) >= reader->progressThreshold && !reportProgress(reader))
                return Flow::kFail;
            continue;
        }
        if (matchKeyword(&reader->cursor, reader->end, "facet normal")) {
            Flow flow = readFacet(reader, corners);
            if (flow != Flow::kGoOn) return flow;
            if (!storeFacet(*reader, solid, capacity, corners)) return Flow::kFail;
            if (reader->sink && offsetOf(*reader) >= reader->progressThreshold && !reportProgress(reader))
                return Flow::kFail;
            continue;
        }
        if (matchKeyword(&reader->cursor, reader->end, "endsolid")) return readEndsolid(reader, solid);
        if (matchKeyword(&reader->cursor, reader->end, "end solid") ||
            startsWith(reader->cursor, reader->end, "solid", 5))
            return endSolidWithWarning(*reader, kWarnEndSpaceSolid, offsetOf(*reader));
        return fail(*reader, kErrExpectedFacetOrEnd);
    }
}

// Room for one more solid record. The array doubles: growing it by one
// record per solid copies it over and over when a file holds many solids.
// It never grows beyond the solids the rest of the text can still hold, which
// keeps a file of nothing but "solid" lines within a few times its size.
bool makeRoomForSolid(const Reader& reader, StlMesh* mesh, uint64_t* solidCapacity) {
    if (mesh->solidCount < *solidCapacity) return true;
    if (mesh->solidCount >= kMaxSolids) return false;  // the count stays below 2^31
    uint64_t wanted = mesh->solids ? 2 * *solidCapacity : 1;
    uint64_t possible = mesh->solidCount + static_cast<uint64_t>(reader.end - reader.cursor) / kMinSolidBytes + 1;
    if (wanted > possible) wanted = possible;
    if (wanted > kMaxSolids) wanted = kMaxSolids;
    void* solids = mesh->solids ? reallocArray(reader.heap, mesh->solids, wanted, sizeof(StlSolid), reader.sink)
                                : allocArray(reader.heap, wanted, sizeof(StlSolid), reader.sink);
    if (!solids) return false;
    mesh->solids = static_cast<StlSolid*>(solids);
    *solidCapacity = wanted;
    return true;
}

// The first solid reserves room for the rest of the text, so the common file
// of one solid fills one buffer. Later solids start from the size of the one
// before and grow: reserving the rest of the text for each of thousands of
// small solids costs the heap far more than the file holds.
uint64_t trianglesToReserve(const Reader& reader, const StlMesh& mesh) {
    uint64_t reserved = static_cast<uint64_t>(reader.end - reader.cursor) / kReservedBytesPerFacet;
    if (mesh.solidCount > 0) {
        uint64_t previous = mesh.solids[mesh.solidCount - 1].triangleCount + uint64_t{1};
        if (reserved > previous) reserved = previous;
    }
    return reserved > kMaxTriangles ? kMaxTriangles : reserved;
}

// After "solid" and its blanks: the next solid record with its reserved
// triangles and its name; the cursor ends at the name's line end.
StlSolid* beginSolid(Reader* reader, StlMesh* mesh, uint64_t* solidCapacity, uint64_t* capacity) {
    if (!makeRoomForSolid(*reader, mesh, solidCapacity)) return nullptr;
    uint64_t reserved = trianglesToReserve(*reader, *mesh);
    void* triangles = allocArray(reader->heap, reserved, sizeof(StlTriangle), reader->sink);
    if (!triangles) return nullptr;
    StlSolid* solid = &mesh->solids[mesh->solidCount++];
    solid->hasColours = 0;
    solid->hasNormals = 0;
    solid->triangleCount = 0;
    solid->triangles = static_cast<StlTriangle*>(triangles);
    const uint8_t* name = reader->cursor;
    while (reader->cursor != reader->end && !isLineEnd(*reader->cursor)) ++reader->cursor;
    uint64_t nameLength = static_cast<uint64_t>(reader->cursor - name);
    if (nameLength > kMaxNameLength) nameLength = kMaxNameLength;
    solid->name = CountedText{reinterpret_cast<const char*>(name), static_cast<uint32_t>(nameLength), 0};
    *capacity = reserved;
    reader->progressValue = kProgressSteps - static_cast<uint64_t>(reader->end - reader->cursor) / reader->progressStep;
    reader->progressThreshold = offsetOf(*reader);
    return solid;
}

// A failed shrink keeps the larger block; nothing is lost. An empty array
// is freed: the heap's own bookkeeping of an empty block outweighs the text
// of an empty solid.
void* shrinkArray(HeapHandle heap, void* block, uint64_t used, uint64_t capacity, uint64_t elementSize) {
    if (used == 0) {
        heapFree(heap, block);
        return nullptr;
    }
    if (used == capacity) return block;
    void* shrunk = reallocArray(heap, block, used, elementSize, nullptr);
    return shrunk ? shrunk : block;
}

}  // namespace

namespace {

// The body of readNumber, inlined into readTriple: twelve calls per facet
// otherwise cost as much as their fast path.
STLV_INLINE int readNumberInline(float* destination, const uint8_t** cursor, const uint8_t* end, const MessageSink* sink) {
    const uint8_t* at = *cursor;
    if (at == end) return endOfText(cursor, end, sink);
    bool negative = false;
    if (*at == '+' || *at == '-') {
        negative = *at++ == '-';
        if (at == end) return endOfText(cursor, end, sink);
    }
    // The words are tried only where they can begin: "-1.#IND" at a one, the others at a letter.
    if (isDigit(*at) || *at == '.' || *at == ',') {
        if (negative && *at == '1' && startsWith(at, end, "1.#IND", 6)) {
            at += 6;
            while (at != end && *at == '0') ++at;
            *cursor = at;
            *destination = floatFromBits(kNanBits);
            return kNumberRead;
        }
    } else {
        if (startsWith(at, end, "NaN", 3) || startsWith(at, end, "nan", 3)) {
            *cursor = at + 3;
            *destination = floatFromBits(kNanBits);
            return kNumberRead;
        }
        if (startsWith(at, end, "Infinity", 8)) {
            *cursor = at + 8;
            *destination = negative ? -floatFromBits(kInfinityBits) : floatFromBits(kInfinityBits);
            return kNumberRead;
        }
    }
    uint64_t mantissa = 0;
    int64_t exponent = 0;
    if (readPlainDecimal(&at, end, &mantissa, &exponent)) {
        *cursor = at;
        *destination = decimalToFloat(negative, mantissa, exponent);
        return kNumberRead;
    }
    bool anyDigit = false;
    for (; at != end && isDigit(*at); ++at) {
        anyDigit = true;
        if (mantissa < kMantissaLimit)
            mantissa = mantissa * 10 + (*at - '0');
        else if (exponent < kDigitExponentBound)
            ++exponent;
    }
    if (at != end && (*at == '.' || *at == ',')) {
        ++at;
        if (at == end && !anyDigit) return endOfText(cursor, end, sink);
        for (; at != end && isDigit(*at); ++at) {
            anyDigit = true;
            if (mantissa < kMantissaLimit && exponent > -kDigitExponentBound) {
                mantissa = mantissa * 10 + (*at - '0');
                --exponent;
            }
        }
    }
    if (!anyDigit) {
        *cursor = at;
        return kNumberFailed;
    }
    if (at != end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at == end) return endOfText(cursor, end, sink);
        bool negativeExponent = false;
        if (*at == '+' || *at == '-') {
            negativeExponent = *at++ == '-';
            if (at == end) return endOfText(cursor, end, sink);
        }
        if (!isDigit(*at)) {
            *cursor = at;
            return kNumberFailed;
        }
        int64_t written = 0;
        for (; at != end && isDigit(*at); ++at)
            if (written <= kExponentDigitLimit) written = written * 10 + (*at - '0');
        exponent += negativeExponent ? -written : written;
    }
    *cursor = at;
    *destination = decimalToFloat(negative, mantissa, exponent);
    return kNumberRead;
}

}  // namespace

int readNumber(float* destination, const uint8_t** cursor, const uint8_t* end, const MessageSink* sink) {
    return readNumberInline(destination, cursor, end, sink);
}

int readTriple(float* values, const uint8_t* file, const uint8_t** cursor, const uint8_t* end,
               const MessageSink* sink) {
    const uint8_t* at = *cursor;
    for (int i = 0; i < 3; ++i) {
        while (at != end && isBlank(*at)) ++at;
        int result = readNumberInline(&values[i], &at, end, sink);
        if (result != kNumberRead) {
            *cursor = at;
            if (sink) report(sink, kErrExpectedNumber, static_cast<uint64_t>(at - file));
            return result;
        }
    }
    *cursor = at;
    return kNumberRead;
}

bool parseAsciiStl(StlMesh* mesh, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink) {
    mesh->source = nullptr;
    mesh->solids = nullptr;
    mesh->solidCount = 0;
    Reader reader{file, file + size, file, heap, sink, size / kProgressSteps + 1, 0, 0};
    if (size >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF) reader.cursor += 3;
    skipSpace(&reader.cursor, reader.end);
    if (reader.cursor == reader.end) return true;
    float corners[12] = {};
    uint64_t solidCapacity = 0;
    for (;;) {
        if (!matchKeyword(&reader.cursor, reader.end, "solid")) {
            fail(reader, kErrExpectedSolid);
            break;
        }
        while (reader.cursor != reader.end && isBlank(*reader.cursor)) ++reader.cursor;
        uint64_t capacity;
        StlSolid* solid = beginSolid(&reader, mesh, &solidCapacity, &capacity);
        if (!solid || readFacets(&reader, solid, &capacity, corners) == Flow::kFail) break;
        solid->triangles = static_cast<StlTriangle*>(
            shrinkArray(heap, solid->triangles, solid->triangleCount, capacity, sizeof(StlTriangle)));
        skipSpace(&reader.cursor, reader.end);
        if (reader.cursor == reader.end) {
            mesh->solids = static_cast<StlSolid*>(
                shrinkArray(heap, mesh->solids, mesh->solidCount, solidCapacity, sizeof(StlSolid)));
            return true;
        }
    }
    freeMeshSolids(mesh, heap);
    return false;
}
