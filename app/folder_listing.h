// The listing of the shown file's folder behind Previous file and Next file.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include "core/platform.h"

constexpr int kItemNameUnits = 260;

enum FolderListingState : int32_t {
    kListingRunning = 0,  // also: COM could not start on the listing thread
    kListingReady = 1,
    kListingFailed = 2,
};

struct FolderListing {
    HANDLE thread;  // null once joined
    int32_t state;
    IFolderView* folderView;  // the Explorer view that gave the order, or null
    IShellFolder* shellFolder;
    LPITEMIDLIST* items;  // relative to shellFolder, each from the shell allocator
    int32_t itemCount;
    int32_t currentIndex;
    int32_t shownIndex;
    wchar_t* path;  // the opened file; freed when the thread is joined
    HWND explorerWindow;
};

// A listing of the path's folder in place of `previous`, which is released;
// null when its thread could not start.
FolderListing* replaceFolderListing(FolderListing* previous, const Utf16* path, HWND explorerWindow);
// Joins the listing thread, waiting a bounded time; true when the listing is
// ready. A listing still running answers false and is asked again later.
bool waitFolderListing(FolderListing* listing);
// The file being opened came from the listing: it is now the shown one.
void markListingShown(FolderListing* listing);
// Moves through a ready, non-empty listing to the next loadable STL file in
// the given direction and gives its path; false when the step came back to
// the shown file or an item name could not be read.
bool stepToLoadableFile(FolderListing* listing, bool forwards, wchar_t path[kItemNameUnits]);
