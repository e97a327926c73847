// File > Recent files: every opened file is remembered in the application's
// settings key, offered again in the menu, and told to Windows' own list of
// recent documents (the taskbar's jump list).
#pragma once
#include <windows.h>

#include "app/main_dialog.h"
#include "app/recent_list.h"

// What the application key holds; an unsound or oversized value reads as none.
bool readRecentFiles(const HKEY keys[2], RecentFiles* list, const MessageSink* sink);
bool writeRecentFiles(const HKEY keys[2], const RecentFiles* list, const MessageSink* sink);

// Every file of the list, the first one most recent.
void rememberOpenedFiles(MainDialogState* state, const FileNameList* list);
// Makes the submenu show what is stored (another window may have added to it).
void refreshRecentFilesMenu(MainDialogState* state);
// Opens the entry; one whose file is gone leaves the list with a message instead.
void openRecentFile(MainDialogState* state, int index);
void forgetRecentFiles(MainDialogState* state);
