// Where a byte of a text is, for messages that name a line.
#pragma once
#include <cstdint>

// The line, from 1, of the byte at `offset`: LF, CR LF and a lone CR each end one.
uint64_t lineOfOffset(const uint8_t* bytes, uint64_t size, uint64_t offset);
// The line ends that begin in [begin, end), counted so; the byte at `end`
// must be readable (it tells whether a CR just before it ends a line).
uint64_t countLineEnds(const uint8_t* begin, const uint8_t* end);
