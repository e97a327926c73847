// The dialog's log: an edit control that shows every diagnostic line.
#pragma once
#include <windows.h>
#include "core/status.h"

constexpr int kLogControlId = 31;

// Appends text at the end of an edit control, not undoable.
void appendText(HWND edit, const wchar_t* text);

// Inner sink of the dialog's converting sink; dialogState's first field is the
// dialog window. Appends finished lines (code kLine) and ignores the rest.
intptr_t appendToLog(void* dialogState, StatusCode code, uintptr_t argument, const Utf16* backTrace);
