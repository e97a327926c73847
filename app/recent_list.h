// The last files opened, most recent first, and the stored form they are
// kept in between runs: the paths, each terminated, then an empty one.
#pragma once
#include <windows.h>

#include "core/status.h"

constexpr int kMaxRecentFiles = 8;
// A stored path longer than this could not be opened again.
constexpr size_t kMaxRecentPathUnits = 32764;
// The longest stored form a full list can take; anything longer is not ours.
constexpr size_t kMaxRecentStoredUnits = kMaxRecentFiles * (kMaxRecentPathUnits + 1) + 1;

struct RecentFiles {
    wchar_t* paths[kMaxRecentFiles];  // each on the process heap, terminated
    int count;
};

void initRecentFiles(RecentFiles* list);
void clearRecentFiles(RecentFiles* list);

// Puts a copy of the path first; an equal one further down (letter case
// aside, as the file system sees it) goes, and so does a ninth.
bool addRecentFile(RecentFiles* list, const wchar_t* path, const MessageSink* sink);
void removeRecentFile(RecentFiles* list, int index);

// Takes the stored form of `units` units. Anything but full paths in that
// form, or more of them than the list holds, leaves the list empty: the
// value may have been written by anyone. True when the form was sound.
bool parseRecentFiles(RecentFiles* list, const wchar_t* units, size_t count, const MessageSink* sink);
// The stored form on the process heap, its length in `units`; null without memory.
wchar_t* storeRecentFiles(const RecentFiles* list, size_t* units, const MessageSink* sink);
