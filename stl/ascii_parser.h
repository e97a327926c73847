// ASCII STL: "solid" blocks of facets, read in place from the mapped text.
// Each solid owns its triangle buffer in the part's heap and its name points
// into the text. Warnings and errors carry the byte offset in the file.
#pragma once
#include <bit>
#include <cstring>

#include "core/sse2.h"
#include "stl/format_detection.h"
#include "stl/stl_mesh.h"

// The index of the lowest set bit of a value that is not zero. Without that
// promise std::countr_zero must test for zero on targets before BMI.
inline int lowestSetBit(uint32_t value) {
#if defined(__GNUC__)
    return __builtin_ctz(value);
#else
    return std::countr_zero(value);
#endif
}

#if STLV_SSE2
// Bit i set when the byte at + i is STL whitespace; reads 16 bytes.
inline uint32_t spaceMask(const uint8_t* at) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i fromTab = _mm_sub_epi8(bytes, _mm_set1_epi8(9));  // tab to CR become 0 to 4
    __m128i tabToCr = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8(4)), fromTab);
    __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(tabToCr, space)));
}
#endif

// Results of readNumber and readTriple.
constexpr int kNumberRead = 0;
constexpr int kNumberAtEnd = 1;    // the text ended where the number was due; the sink said go on
constexpr int kNumberFailed = -1;  // not a number, or the sink said stop

// A text of only whitespace gives no solid and success. On failure the mesh
// holds nothing.
bool parseAsciiStl(StlMesh* mesh, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink);

// The keyword's bytes, then whitespace or the end of the text. Only a match
// moves the cursor, and only past the keyword.
template <size_t N>
inline bool matchKeyword(const uint8_t** cursor, const uint8_t* end, const char (&keyword)[N]) {
    constexpr size_t length = N - 1;
    const uint8_t* at = *cursor;
    if (static_cast<size_t>(end - at) < length || memcmp(at, keyword, length) != 0) return false;
    if (at + length != end && !isStlSpace(at[length])) return false;
    *cursor = at + length;
    return true;
}

// Whitespace 16 bytes at a time where SSE2 is part of the target (every
// x86-64); elsewhere, and in the last 15 bytes, one byte at a time.
inline void skipSpace(const uint8_t** cursor, const uint8_t* end) {
    const uint8_t* at = *cursor;
#if STLV_SSE2
    if (at != end && !isStlSpace(*at)) return;
    while (end - at >= 16) {
        uint32_t notSpace = ~spaceMask(at) & 0xFFFF;
        if (notSpace) {
            *cursor = at + lowestSetBit(notSpace);
            return;
        }
        at += 16;
    }
#endif
    while (at != end && isStlSpace(*at)) ++at;
    *cursor = at;
}

// One number at the cursor: decimal with "." or "," as separator, "nan",
// "NaN", "-1.#IND", "Infinity". A decimal is correctly rounded to float from
// its first 17 or 18 significant digits (later ones are dropped); zero with
// an exponent of 309 or more is NaN. The cursor stops at the first byte that
// does not belong to the number. The text ending where a digit is due is
// reported as "unexpected end of file", and the sink's answer decides between
// kNumberAtEnd and kNumberFailed.
int readNumber(float* destination, const uint8_t** cursor, const uint8_t* end, const MessageSink* sink);
// Three numbers, each after optional blanks (space or tab, never a line end).
// Any result but kNumberRead is reported as "expected a number" at the offset
// where reading stopped.
int readTriple(float* values, const uint8_t* file, const uint8_t** cursor, const uint8_t* end,
               const MessageSink* sink);
