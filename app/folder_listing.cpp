// Until folders are listed, there is no listing: Previous and Next stay grayed.
#include "folder_listing.h"

#include "commands.h"

void startFolderListing(MainDialogState* state, const FileNameList*, HWND) {
    state->folderListing = nullptr;
    EnableMenuItem(state->menu, kCommandPreviousFile, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(state->menu, kCommandNextFile, MF_BYCOMMAND | MF_GRAYED);
}

bool waitFolderListing(FolderListing*) {
    return false;
}

void markListingShown(FolderListing*) {}

void stepFile(MainDialogState*, bool) {}
