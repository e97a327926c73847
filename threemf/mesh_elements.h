// Vertices and triangles as slicers and CAD programs write them, read
// straight from the bytes: `<vertex x="1" y="2" z="3"/>` and
// `<triangle v1="0" v2="1" v3="2"/>`, single spaces, double quotes, plain
// values. These hold most of a model part, and the general XML reader spends
// far more on their names, prefixes and attributes than on the numbers.
// Anything else (other attributes, another order, references or blanks in a
// value, a tag cut by the limit) gives null and is left to the XML reader,
// which reads it by its full rules, faults and messages included.
#pragma once
#include <cstdint>

// `at` is at the "<"; the result is just past the "/>", or null.
const uint8_t* readQuickVertex(const uint8_t* at, const uint8_t* limit, float xyz[3]);
const uint8_t* readQuickTriangle(const uint8_t* at, const uint8_t* limit, uint32_t corners[3]);
