// The listing of the shown file's folder behind Previous file and Next file.
// Its thread asks the shell (or the Explorer window the file came from) for
// the items in the order the user sees them and resolves every item's path
// there: the window thread gets strings only. A shell interface belongs to
// the apartment that got it; used from the window's single-threaded
// apartment, a proxy from the listing thread's would fail with
// RPC_E_WRONG_THREAD (COM's rules for apartments and marshalling).
#pragma once
#include <windows.h>
#include <objidl.h>

#include "core/memory.h"

enum FolderListingState : int32_t {
    kListingRunning = 0,  // also: COM could not start on the listing thread
    kListingReady = 1,
    kListingFailed = 2,
};

struct FolderListing {
    HANDLE thread;  // null once joined
    volatile int32_t state;
    GrowBuffer names;   // every item's parsing name, each terminated, in the view's order
    GrowBuffer starts;  // uint32_t: where each name begins in `names`, in units
    int32_t itemCount;
    int32_t currentIndex;
    int32_t shownIndex;
    wchar_t* path;  // the opened file
    HWND explorerWindow;
    // A browser marshalled from another apartment (as an Explorer window's
    // is), read instead of looking for Explorer's windows; tests stand in
    // for Explorer with it. Released by the listing thread.
    IStream* handedBrowser;
    // 1 once the thread has finished with the record, 2 once the window has
    // given it up; whoever comes second frees it.
    volatile LONG finished;
};

// A listing of the path's folder in place of `previous`, which is released;
// null when its thread could not start. With a window, its view gives the
// order when it shows the file.
FolderListing* replaceFolderListing(FolderListing* previous, const wchar_t* path, HWND explorerWindow);
// The same, with the view of a browser (an IServiceProvider, as each of an
// Explorer window's tabs is) marshalled into `browser` for another
// apartment; taken when it shows the file and is the window's shown tab.
FolderListing* replaceFolderListingFromBrowser(FolderListing* previous, const wchar_t* path, HWND explorerWindow,
                                              IStream* browser);
// Lets the listing go (null: nothing); one whose thread is still running
// after a bounded wait is freed by that thread when it ends.
void releaseFolderListing(FolderListing* listing);
// Joins the listing thread, waiting a bounded time; true when the listing is
// ready. A listing still running answers false and is asked again later.
bool waitFolderListing(FolderListing* listing);
// The file being opened came from the listing: it is now the shown one.
void markListingShown(FolderListing* listing);
// The path of an item of a joined listing; empty when the shell gave none.
const wchar_t* listedPath(const FolderListing* listing, int32_t index);
// Moves through a ready, non-empty listing to the next loadable file in the
// given direction and gives its path (the listing's own, valid while it
// lives); null when the step came back to the shown file.
const wchar_t* stepToLoadableFile(FolderListing* listing, bool forwards);
