// The listing of the shown file's folder behind Previous file and Next file.
#pragma once
#include <windows.h>

#include "main_dialog.h"

// Replaces the state's listing with one for the list's first path.
void startFolderListing(MainDialogState* state, const FileNameList* list, HWND explorerWindow);
// Waits for the listing thread; true when the listing succeeded.
bool waitFolderListing(FolderListing* listing);
// The file being opened came from the listing: it is now the shown one.
void markListingShown(FolderListing* listing);
// Opens the previous or next loadable STL file of the folder.
void stepFile(MainDialogState* state, bool forwards);
