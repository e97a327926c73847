// File > Recent files: every opened file is remembered in the application's
// settings key, offered again in the menu, and told to Windows' own list of
// recent documents (the taskbar's jump list).
#pragma once
#include <windows.h>

#include "app/recent_list.h"
#include "load/load_job.h"

// What the application key holds; an unsound or oversized value reads as none.
bool readRecentFiles(const HKEY keys[2], RecentFiles* list, const MessageSink* sink);
bool writeRecentFiles(const HKEY keys[2], const RecentFiles* list, const MessageSink* sink);

// Stores the list and shows it in the File menu's submenu of the menu bar.
void showAndStoreRecentFiles(const HKEY keys[2], HMENU menuBar, const RecentFiles* list, const MessageSink* sink);
// Files that loaded, by their whole paths, the first one most recent; a
// file that fails to load is never remembered.
void rememberLoadedFiles(const HKEY keys[2], HMENU menuBar, const wchar_t* const* paths, int count,
                         const MessageSink* sink);
// Makes the submenu show what is stored (another window may have added to it).
void refreshRecentFilesMenu(const HKEY keys[2], HMENU menuBar, const MessageSink* sink);
void forgetRecentFiles(const HKEY keys[2], HMENU menuBar, const MessageSink* sink);
