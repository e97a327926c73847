// Every way of opening files ends in openFiles (or addPartFiles for Add
// parts): the command line and a second start's hand-over, the Open
// dialog, a drop, a recent file, the previous or next file of the folder.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "app/dialog_state.h"

// Stops the current load and loads the list's files as a new model, which
// replaces the shown one once it brings a part; names the window after it.
void openFiles(MainDialogState* state, const FileNameList* list, bool newListing, HWND explorerWindow);
// Loads further files into the free part slots, keeping the shown model.
void addPartFiles(MainDialogState* state, const FileNameList* list);

// A file handed over by a second instance; true when the hand-over is accepted.
// Its files open from a message posted to the window, after the sender's call
// has returned: inside it no outgoing COM call is allowed
// (RPC_E_CANTCALLOUT_ININPUTSYNCCALL), and the Explorer listing makes some.
bool receiveHandOver(MainDialogState* state, const COPYDATASTRUCT* data);
// The posted hand-over: opens the paths and frees them.
void openHandedOver(MainDialogState* state, wchar_t* paths, size_t units);
// Full paths, each terminated, within `units`, ended by an empty one or the end:
// the first four open as the parts of one model (in `list`) with a new folder
// listing; a line in the messages box tells when further paths were left out.
void openPathSequence(MainDialogState* state, const wchar_t* paths, size_t units, FileNameList* list,
                      HWND explorerWindow);
extern const char kFilesLeftOutText[];
void onDropFiles(MainDialogState* state, HDROP drop);

// Opens the previous or next loadable STL file of the folder.
void stepFile(MainDialogState* state, bool forwards);
// Opens the entry of the recent files; one whose file is gone leaves the
// list with a message instead. Whether it is there is asked on a pool
// thread (a dead network path takes tens of seconds), which answers with
// kRecentFileCheckedMessage for onRecentFileChecked.
void openRecentFile(MainDialogState* state, int index);
struct RecentFileCheck;
void onRecentFileChecked(MainDialogState* state, RecentFileCheck* check);
