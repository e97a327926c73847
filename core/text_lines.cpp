#include "core/text_lines.h"

#include <bit>

#include "core/sse2.h"

uint64_t countLineEnds(const uint8_t* begin, const uint8_t* end) {
    uint64_t ends = 0;
    const uint8_t* at = begin;
#if STLV_SSE2
    // Sixteen bytes a step, and the sixteen after the first: a CR ends a line unless an LF follows.
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; end - at >= 16; at += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
        __m128i lone = _mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(bytes, cr));
        ends += static_cast<uint64_t>(std::popcount(static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), lone)))));
    }
#endif
    for (; at < end; ++at) ends += (*at == '\n') | ((*at == '\r') & (at[1] != '\n'));
    return ends;
}

uint64_t lineOfOffset(const uint8_t* bytes, uint64_t size, uint64_t offset) {
    if (offset > size) offset = size;
    uint64_t paired = offset < size ? offset : size - (size != 0);
    uint64_t ends = countLineEnds(bytes, bytes + paired);
    if (paired < offset) ends += bytes[paired] == '\n' || bytes[paired] == '\r';
    return ends + 1;
}
