#include "app/recent_files.h"

#include <shlobj.h>

#include <initializer_list>

#include "app/preferences.h"
#include "app/window_ids.h"
#include "core/memory.h"

namespace {

// Long names and folders are cut in the middle so that the menu stays on the screen.
constexpr size_t kShownNameUnits = 80;
constexpr size_t kShownFolderUnits = 80;
constexpr size_t kItemTextUnits = 2 * (kShownNameUnits + kShownFolderUnits) + 16;

struct ItemText {
    wchar_t units[kItemTextUnits];
    size_t length;
};

// Doubles "&", which would otherwise underline the next letter.
void appendEscaped(ItemText* text, const wchar_t* from, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        if (from[k] == L'&') text->units[text->length++] = L'&';
        text->units[text->length++] = from[k];
    }
}

void appendShortened(ItemText* text, const wchar_t* from, size_t count, size_t room) {
    if (count <= room) return appendEscaped(text, from, count);
    size_t head = room / 3, tail = room - head - 1;
    appendEscaped(text, from, head);
    text->units[text->length++] = L'\u2026';
    appendEscaped(text, from + count - tail, tail);
}

// "&3 part.stl – C:\models": the name first, where the eye looks for it.
void makeItemText(int index, const wchar_t* path, ItemText* text) {
    const wchar_t* name = fileNameOf(path);
    size_t folder = static_cast<size_t>(name - path);
    if (folder > 1 && path[folder - 2] != L':') --folder;  // the separator goes, but not the root's
    text->length = 0;
    text->units[text->length++] = L'&';
    text->units[text->length++] = static_cast<wchar_t>(L'1' + index);
    text->units[text->length++] = L' ';
    appendShortened(text, name, lstrlenW(name), kShownNameUnits);
    if (folder) {
        for (wchar_t unit : {L' ', L'\u2013', L' '}) text->units[text->length++] = unit;
        appendShortened(text, path, folder, kShownFolderUnits);
    }
    text->units[text->length] = 0;
}

// The submenu of File that holds "Clear list".
HMENU recentFilesMenu(HMENU menuBar) {
    HMENU file = GetSubMenu(menuBar, 0);
    int count = file ? GetMenuItemCount(file) : 0;
    for (int position = 0; position < count; ++position) {
        HMENU submenu = GetSubMenu(file, position);
        if (submenu && GetMenuState(submenu, kCommandClearRecentFiles, MF_BYCOMMAND) != static_cast<UINT>(-1))
            return submenu;
    }
    return nullptr;
}

void showRecentFiles(HMENU submenu, const RecentFiles* list) {
    while (GetMenuItemCount(submenu) > 0) DeleteMenu(submenu, 0, MF_BYPOSITION);
    ItemText text;
    for (int k = 0; k < list->count; ++k) {
        makeItemText(k, list->paths[k], &text);
        AppendMenuW(submenu, MF_STRING, kCommandFirstRecentFile + k, text.units);
    }
    if (list->count) AppendMenuW(submenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(submenu, MF_STRING, kCommandClearRecentFiles, L"&Clear list");
}

}  // namespace

bool readRecentFiles(const HKEY keys[2], RecentFiles* list, const MessageSink* sink) {
    initRecentFiles(list);
    const SettingRow& row = settingRow(kSettingRecentFiles);
    HKEY key = keys[row.slot];
    if (!key) return false;
    DWORD type = 0, bytes = 0;
    // Asked for its size first: an oversized value is not read at all.
    if (RegQueryValueExW(key, row.name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
        bytes % sizeof(wchar_t) || bytes > kMaxRecentStoredUnits * sizeof(wchar_t))
        return false;
    wchar_t* stored = static_cast<wchar_t*>(allocArray(processHeap(), bytes / sizeof(wchar_t) + 1, sizeof(wchar_t), sink));
    if (!stored) return false;
    DWORD read = bytes;
    bool sound = RegQueryValueExW(key, row.name, nullptr, &type, reinterpret_cast<BYTE*>(stored), &read) ==
                     ERROR_SUCCESS &&
                 type == REG_MULTI_SZ && read == bytes &&
                 parseRecentFiles(list, stored, bytes / sizeof(wchar_t), sink);
    freeBytes(stored);
    return sound;
}

bool writeRecentFiles(const HKEY keys[2], const RecentFiles* list, const MessageSink* sink) {
    size_t units = 0;
    wchar_t* stored = storeRecentFiles(list, &units, sink);
    if (!stored) return false;
    bool written = writeSettingBlock(keys, kSettingRecentFiles, REG_MULTI_SZ, stored,
                                     static_cast<DWORD>(units * sizeof(wchar_t)), sink);
    freeBytes(stored);
    return written;
}

void showAndStoreRecentFiles(const HKEY keys[2], HMENU menuBar, const RecentFiles* list, const MessageSink* sink) {
    writeRecentFiles(keys, list, sink);
    if (HMENU submenu = recentFilesMenu(menuBar)) showRecentFiles(submenu, list);
}

void rememberLoadedFiles(const HKEY keys[2], HMENU menuBar, const wchar_t* const* paths, int count,
                         const MessageSink* sink) {
    RecentFiles list;
    readRecentFiles(keys, &list, sink);
    for (int k = count - 1; k >= 0; --k) {
        if (!paths[k]) continue;
        addRecentFile(&list, paths[k], sink);
        SHAddToRecentDocs(SHARD_PATHW, paths[k]);
    }
    showAndStoreRecentFiles(keys, menuBar, &list, sink);
    clearRecentFiles(&list);
}

void refreshRecentFilesMenu(const HKEY keys[2], HMENU menuBar, const MessageSink* sink) {
    HMENU submenu = recentFilesMenu(menuBar);
    if (!submenu) return;
    RecentFiles list;
    readRecentFiles(keys, &list, sink);
    showRecentFiles(submenu, &list);
    clearRecentFiles(&list);
}

void forgetRecentFiles(const HKEY keys[2], HMENU menuBar, const MessageSink* sink) {
    RecentFiles list;
    initRecentFiles(&list);
    showAndStoreRecentFiles(keys, menuBar, &list, sink);
}
