#include "threemf/mesh_elements.h"

#include <cstring>

#include "stl/ascii_parser.h"

namespace {

// The literal bytes of the tag between its values.
template <size_t N>
bool takeLiteral(const uint8_t** at, const uint8_t* limit, const char (&text)[N]) {
    if (static_cast<size_t>(limit - *at) < N - 1 || memcmp(*at, text, N - 1) != 0) return false;
    *at += N - 1;
    return true;
}

// A number that fills the value up to its closing quote, as the general
// reading of a value without blanks or references takes it.
bool takeFloat(const uint8_t** at, const uint8_t* limit, float* value) {
    const uint8_t* start = *at;
    const uint8_t* cursor = start;
    if (readNumber(value, &cursor, limit, nullptr) != kNumberRead || cursor == start) return false;
    if (cursor == limit || *cursor != '"') return false;
    *at = cursor + 1;
    return true;
}

// Decimal digits below 2^31 up to the closing quote.
bool takeIndex(const uint8_t** at, const uint8_t* limit, uint32_t* value) {
    const uint8_t* p = *at;
    uint64_t number = 0;
    while (p < limit && *p >= '0' && *p <= '9' && p - *at <= 10) number = number * 10 + (*p++ - '0');
    if (p == *at || p - *at > 10 || p == limit || *p != '"' || number >= 0x80000000u) return false;
    *value = static_cast<uint32_t>(number);
    *at = p + 1;
    return true;
}

}  // namespace

const uint8_t* readQuickVertex(const uint8_t* at, const uint8_t* limit, float xyz[3]) {
    if (!takeLiteral(&at, limit, "<vertex x=\"") || !takeFloat(&at, limit, &xyz[0]) ||
        !takeLiteral(&at, limit, " y=\"") || !takeFloat(&at, limit, &xyz[1]) ||
        !takeLiteral(&at, limit, " z=\"") || !takeFloat(&at, limit, &xyz[2]) || !takeLiteral(&at, limit, "/>"))
        return nullptr;
    return at;
}

const uint8_t* readQuickTriangle(const uint8_t* at, const uint8_t* limit, uint32_t corners[3]) {
    if (!takeLiteral(&at, limit, "<triangle v1=\"") || !takeIndex(&at, limit, &corners[0]) ||
        !takeLiteral(&at, limit, " v2=\"") || !takeIndex(&at, limit, &corners[1]) ||
        !takeLiteral(&at, limit, " v3=\"") || !takeIndex(&at, limit, &corners[2]) || !takeLiteral(&at, limit, "/>"))
        return nullptr;
    return at;
}
