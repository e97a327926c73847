#include "core/back_trace.h"

#include "core/utf16_text.h"

namespace {

constexpr uint32_t kNameColumn = 32;
constexpr uint32_t kModulePathUnits = 260;

}  // namespace

Utf16* formatBackTraceLine(Utf16* out, const Utf16* modulePath, uint32_t pathLength, uintptr_t offset) {
    uint32_t nameStart = 0;
    for (uint32_t i = 0; i < pathLength; ++i)
        if (modulePath[i] == '\\' || modulePath[i] == '/') nameStart = i + 1;
    const Utf16* name = modulePath + nameStart;
    uint32_t nameLength = pathLength - nameStart;
    if (nameLength >= kNameColumn) {
        for (uint32_t i = 0; i < kNameColumn - 1; ++i) *out++ = name[i];
        *out++ = 0x2026;  // ellipsis
    } else {
        for (uint32_t i = 0; i < nameLength; ++i) *out++ = name[i];
        for (uint32_t i = nameLength; i < kNameColumn; ++i) *out++ = ' ';
    }
    *out++ = '+';
    uint32_t offset32 = static_cast<uint32_t>(offset);
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = U16("0123456789ABCDEF")[(offset32 >> shift) & 15];
    *out++ = '\n';
    return out;
}

void captureBackTrace(Utf16* destination) {
    void* frames[kBackTraceFrames];
    uint32_t count = captureFrames(0, kBackTraceFrames, frames);
    Utf16* out = destination;
    for (uint32_t i = 0; i < count && frames[i]; ++i) {
        Utf16 path[kModulePathUnits];
        uint32_t pathLength;
        uintptr_t base;
        if (findModule(frames[i], path, kModulePathUnits, &pathLength, &base))
            out = formatBackTraceLine(out, path, pathLength, reinterpret_cast<uintptr_t>(frames[i]) - base);
        else
            out = appendUtf16(out, U16("<unknown module>\n"));
    }
    *out = 0;
}
