// The main dialog's template, built in memory rather than as a resource.
#pragma once
#include <windows.h>

// Writes the template into buffer (at least kDialogTemplateWords, DWORD-aligned).
constexpr size_t kDialogTemplateWords = 1024;
void buildMainDialogTemplate(WORD* buffer);
