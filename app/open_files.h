// Every way of opening files ends in openFiles; load progress and the
// finished load come back here.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "app/main_dialog.h"

constexpr int kTitleUnits = 256;

// "Veldmark STL Viewer – " and the file name of the list's first path, cut
// with "…" to 255 units.
void makeWindowTitle(const wchar_t* path, wchar_t title[kTitleUnits]);

// Stops the current load, clears the shown model and loads the list's files.
void openFiles(MainDialogState* state, const FileNameList* list, bool newListing, HWND explorerWindow);
// Loads further files into the free part slots, keeping the shown model.
void addPartFiles(MainDialogState* state, const FileNameList* list);
// Releases the shown model's parts and empties the panel; the messages stay.
void clearModel(MainDialogState* state);
// The title of the shown model, or the bare application title without one.
void showModelTitle(MainDialogState* state);

void onProgressTimer(MainDialogState* state, WPARAM timerId);
void onLoadFinished(MainDialogState* state, LoadJob* job);
// A file handed over by a second instance; true when the hand-over is accepted.
bool receiveHandOver(MainDialogState* state, const COPYDATASTRUCT* data);
// Full paths, each terminated, within `units`, ended by an empty one or the end:
// the first four open as the parts of one model (in `list`) with a new folder
// listing; a line in the messages box tells when further paths were left out.
void openPathSequence(MainDialogState* state, const wchar_t* paths, size_t units, FileNameList* list,
                      HWND explorerWindow);
extern const char kFilesLeftOutText[];
void onDropFiles(MainDialogState* state, HDROP drop);
