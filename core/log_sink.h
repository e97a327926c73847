// A window's log: an edit control that shows every diagnostic line.
#pragma once
#include <windows.h>
#include "core/status.h"

// Appends text at the end of an edit control, not undoable.
void appendText(HWND edit, const wchar_t* text);

// Inner sink of a converting sink whose user data is the edit control (an
// HWND). Appends finished lines (code kLine) and ignores the rest.
intptr_t appendToLog(void* edit, StatusCode code, uintptr_t argument, const Utf16* backTrace);
