// Panel text in the characters the control's font can draw: a font without a
// glyph shows a box, so a thin space would read as a stray mark.
#pragma once
#include <windows.h>

// Sets the control's text, each character its font has no glyph for replaced
// by a drawable fallback: U+2009 (thin space) by U+00A0 (no-break space),
// U+00D7 (multiplication sign) by "x", U+2026 (ellipsis) by "...".
void setPanelText(HWND control, const wchar_t* text);
