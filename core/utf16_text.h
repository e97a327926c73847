// Building UTF-16 text in a caller's buffer: each helper writes its units at
// `out` without a terminator and answers the position after them.
#pragma once
#include "core/platform.h"

inline Utf16* appendUtf16(Utf16* out, const Utf16* text) {
    while (*text) *out++ = *text++;
    return out;
}

// ASCII text, one unit per byte.
inline Utf16* appendAscii(Utf16* out, const char* text) {
    while (*text) *out++ = static_cast<Utf16>(static_cast<unsigned char>(*text++));
    return out;
}
