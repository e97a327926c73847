// The CRC-32 of ZIP entries (reflected polynomial 0xEDB88320), eight bytes
// a step through tables made at compile time.
#pragma once
#include <cstddef>
#include <cstdint>

// Continues a CRC: pass 0 to start, then each result with the next bytes.
uint32_t updateCrc32(uint32_t crc, const uint8_t* bytes, size_t length);
