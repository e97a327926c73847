// Everything the user asks of the main window arrives here as a command.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"
#include "view/view_control.h"

// Save picture and Copy picture are available exactly while a model is shown.
void enablePictureCommands(HMENU menu, bool enabled);

// The view draws in `mode` and the menu marks it; nothing is saved.
void showRenderMode(MainDialogState* state, RenderMode mode);

void runCommand(MainDialogState* state, WORD id, WORD notification);

// Where Save picture proposes to write: the first part's folder and name, with ".png".
void proposePicturePath(const ModelPart* part, wchar_t* path, uint32_t capacity);
// Writes the view's picture to the path and says so in the messages box; false
// (reported to the dialog's sink) when it could not.
bool savePictureTo(MainDialogState* state, const wchar_t* path);

// The system Color dialog; on OK the colour gets alpha 255.
bool pickColor(HWND owner, uint32_t start, uint32_t* color);
// The system Open dialog with multiple selection, into a file list.
bool chooseStlFiles(FileNameList* list, HWND owner);
