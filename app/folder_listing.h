// The listing of the shown file's folder behind Previous file and Next file.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include "app/main_dialog.h"

constexpr int kItemNameUnits = 260;

enum FolderListingState : int32_t {
    kListingRunning = 0,  // also: COM could not start on the listing thread
    kListingReady = 1,
    kListingFailed = 2,
};

#pragma pack(push, 1)
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
#pragma pack(pop)
static_assert(offsetof(FolderListing, state) == 8);
static_assert(offsetof(FolderListing, items) == 28);
static_assert(offsetof(FolderListing, path) == 48);
static_assert(sizeof(FolderListing) == 64);

// Replaces the state's listing with one for the list's first path.
void startFolderListing(MainDialogState* state, const FileNameList* list, HWND explorerWindow);
// Joins the listing thread, waiting a bounded time; true when the listing is
// ready. A listing still running answers false and is asked again later.
bool waitFolderListing(FolderListing* listing);
// The file being opened came from the listing: it is now the shown one.
void markListingShown(FolderListing* listing);
// Moves through a ready, non-empty listing to the next loadable STL file in
// the given direction and gives its path; false when the step came back to
// the shown file or an item name could not be read.
bool stepToLoadableFile(FolderListing* listing, bool forwards, wchar_t path[kItemNameUnits]);
// Opens the previous or next loadable STL file of the folder.
void stepFile(MainDialogState* state, bool forwards);
