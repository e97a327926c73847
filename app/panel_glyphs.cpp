#include "app/panel_glyphs.h"

#include "core/memory.h"

namespace {

struct Fallback {
    wchar_t character;
    const wchar_t* replacement;
};

const Fallback kFallbacks[] = {
    {L'\u2009', L"\u00A0"},
    {L'\u00D7', L"x"},
    {L'\u2026', L"..."},
};
constexpr int kFallbackCount = sizeof kFallbacks / sizeof kFallbacks[0];

// One bit per entry of kFallbacks whose character the control's font lacks.
// The glyphs are asked of the font itself, as the control draws with it.
uint32_t missingGlyphs(HWND control) {
    HDC dc = GetDC(control);
    if (!dc) return 0;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    wchar_t characters[kFallbackCount];
    WORD glyphs[kFallbackCount];
    for (int i = 0; i < kFallbackCount; ++i) characters[i] = kFallbacks[i].character;
    uint32_t missing = 0;
    if (GetGlyphIndicesW(dc, characters, kFallbackCount, glyphs, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR)
        for (int i = 0; i < kFallbackCount; ++i)
            if (glyphs[i] == 0xFFFF) missing |= 1u << i;
    if (previous) SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return missing;
}

// The replacement of a character, or null when it stays.
const wchar_t* replacementOf(wchar_t character, uint32_t missing) {
    for (int i = 0; i < kFallbackCount; ++i)
        if (character == kFallbacks[i].character && (missing >> i & 1)) return kFallbacks[i].replacement;
    return nullptr;
}

// Units of the text after replacing, without the terminator.
size_t replacedLength(const wchar_t* text, uint32_t missing) {
    size_t length = 0;
    for (const wchar_t* unit = text; *unit; ++unit) {
        const wchar_t* replacement = replacementOf(*unit, missing);
        length += replacement ? lstrlenW(replacement) : 1;
    }
    return length;
}

void copyReplaced(const wchar_t* text, uint32_t missing, wchar_t* out) {
    for (const wchar_t* unit = text; *unit; ++unit) {
        const wchar_t* replacement = replacementOf(*unit, missing);
        if (!replacement) {
            *out++ = *unit;
            continue;
        }
        while (*replacement) *out++ = *replacement++;
    }
    *out = 0;
}

}  // namespace

void setPanelText(HWND control, const wchar_t* text) {
    uint32_t missing = missingGlyphs(control);
    size_t length = missing ? replacedLength(text, missing) : 0;
    // Out of memory: the text as it is, boxes and all, rather than none.
    wchar_t* drawable = length ? static_cast<wchar_t*>(allocArray(processHeap(), length + 1, sizeof(wchar_t), nullptr))
                               : nullptr;
    if (!drawable) {
        SetWindowTextW(control, text);
        return;
    }
    copyReplaced(text, missing, drawable);
    SetWindowTextW(control, drawable);
    freeBytes(drawable);
}
