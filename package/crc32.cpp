#include "package/crc32.h"

#include <cstring>

namespace {

struct CrcTables {
    uint32_t table[8][256];
};

constexpr CrcTables makeTables() {
    CrcTables tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        tables.table[0][byte] = crc;
    }
    // table[k][b]: the CRC of byte b followed by k zero bytes.
    for (uint32_t byte = 0; byte < 256; ++byte)
        for (int k = 1; k < 8; ++k) {
            uint32_t previous = tables.table[k - 1][byte];
            tables.table[k][byte] = (previous >> 8) ^ tables.table[0][previous & 0xFF];
        }
    return tables;
}

constexpr CrcTables kTables = makeTables();

}  // namespace

uint32_t updateCrc32(uint32_t crc, const uint8_t* bytes, size_t length) {
    const auto& t = kTables.table;
    crc = ~crc;
    while (length >= 8) {
        uint32_t low, high;
        memcpy(&low, bytes, 4);
        memcpy(&high, bytes + 4, 4);
        low ^= crc;
        crc = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][high >> 8 & 0xFF] ^ t[1][high >> 16 & 0xFF] ^ t[0][high >> 24];
        bytes += 8;
        length -= 8;
    }
    while (length--) crc = (crc >> 8) ^ t[0][(crc ^ *bytes++) & 0xFF];
    return ~crc;
}
