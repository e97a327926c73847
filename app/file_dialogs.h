// The system's Open, Save and Color dialogs, as the window uses them.
#pragma once
#include <windows.h>

#include "load/load_job.h"

// The Open dialog with multiple selection, into a file list.
bool chooseStlFiles(FileNameList* list, HWND owner);
// The Save dialog for a PNG picture, starting from the path proposed in
// `path` (`capacity` units), which takes the choice.
bool choosePicturePath(HWND owner, wchar_t* path, uint32_t capacity);
// The system Color dialog; on OK the colour gets alpha 255.
bool pickColor(HWND owner, uint32_t start, uint32_t* color);
