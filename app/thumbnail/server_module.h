// What the library's COM objects share: the count of live objects and locks
// that DllCanUnloadNow answers from, and the library's module handle.
#pragma once
#include <windows.h>

constexpr IID kUnknownId = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kInitializeWithStreamId = {0xb824b49d, 0x22ac, 0x4161, {0xac, 0x8a, 0x99, 0x16, 0xe8, 0xfa, 0x3f, 0x7f}};

inline bool sameId(REFIID a, const IID& b) {
    return IsEqualIID(a, b) != 0;
}

void addModuleReference();
void releaseModuleReference();
HMODULE serverModule();
