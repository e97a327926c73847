// The dialogs' templates, built in memory rather than as resources.
#pragma once
#include <windows.h>

// Writes the template into buffer (at least kDialogTemplateWords, DWORD-aligned).
constexpr size_t kDialogTemplateWords = 1024;
void buildMainDialogTemplate(WORD* buffer);

// The keys-and-mouse help: a list (id `listId`) and an OK button, placed at initialisation.
constexpr size_t kKeyHelpTemplateWords = 256;
void buildKeyHelpTemplate(WORD* buffer, WORD listId);

// A question answered by one typed line: the prompt (`labelId`), the line
// (`editId`), OK and Cancel, at their places in dialog units.
constexpr size_t kQuestionTemplateWords = 512;
void buildQuestionTemplate(WORD* buffer, const wchar_t* title, WORD labelId, WORD editId);

// Save as: a check box per repair (ids `firstBoxId` on), OK and Cancel.
constexpr size_t kRepairOptionsTemplateWords = 768;
constexpr int kRepairOptions = 4;
void buildRepairOptionsTemplate(WORD* buffer, WORD firstBoxId, const wchar_t* const labels[kRepairOptions]);
