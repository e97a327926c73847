// Where a byte of a text is, for messages that name a line.
#pragma once
#include <cstdint>

// The line, from 1, of the byte at `offset`: LF, CR LF and a lone CR each end one.
uint64_t lineOfOffset(const uint8_t* bytes, uint64_t size, uint64_t offset);
