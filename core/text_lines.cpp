#include "core/text_lines.h"

uint64_t lineOfOffset(const uint8_t* bytes, uint64_t size, uint64_t offset) {
    if (offset > size) offset = size;
    // Branch-free sums, so that an error near the end of a large file is placed quickly.
    uint64_t ends = 0;
    uint64_t paired = offset < size ? offset : size - (size != 0);
    for (uint64_t i = 0; i < paired; ++i)
        ends += (bytes[i] == '\n') | ((bytes[i] == '\r') & (bytes[i + 1] != '\n'));
    if (paired < offset) ends += bytes[paired] == '\n' || bytes[paired] == '\r';
    return ends + 1;
}
