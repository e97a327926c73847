#include "app/recent_list.h"

#include "core/memory.h"

namespace {

size_t lengthOf(const wchar_t* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

bool samePath(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// "C:\..." or "\\server\...": a relative path would depend on the folder of a start.
bool isFullPath(const wchar_t* path, size_t length) {
    if (length >= 3 && path[1] == L':' && path[2] == L'\\')
        return (path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z';
    return length >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

void initRecentFiles(RecentFiles* list) {
    list->count = 0;
}

void clearRecentFiles(RecentFiles* list) {
    for (int k = 0; k < list->count; ++k) freeBytes(list->paths[k]);
    list->count = 0;
}

bool addRecentFile(RecentFiles* list, const wchar_t* path, const MessageSink* sink) {
    size_t length = lengthOf(path);
    wchar_t* copy = static_cast<wchar_t*>(allocArray(processHeap(), length + 1, sizeof(wchar_t), sink));
    if (!copy) return false;
    memcpy(copy, path, (length + 1) * sizeof(wchar_t));
    int drop = list->count < kMaxRecentFiles ? list->count : kMaxRecentFiles - 1;
    for (int k = 0; k < list->count; ++k)
        if (samePath(list->paths[k], path)) drop = k;
    if (drop < list->count) freeBytes(list->paths[drop]);
    else ++list->count;
    for (int k = drop; k > 0; --k) list->paths[k] = list->paths[k - 1];
    list->paths[0] = copy;
    return true;
}

void removeRecentFile(RecentFiles* list, int index) {
    if (index < 0 || index >= list->count) return;
    freeBytes(list->paths[index]);
    for (int k = index + 1; k < list->count; ++k) list->paths[k - 1] = list->paths[k];
    --list->count;
}

bool parseRecentFiles(RecentFiles* list, const wchar_t* units, size_t count, const MessageSink* sink) {
    clearRecentFiles(list);
    // Each path is checked before any is taken, so a bad one leaves nothing behind.
    const wchar_t* starts[kMaxRecentFiles];
    int found = 0;
    size_t at = 0;
    while (at < count && units[at]) {
        size_t length = 0;
        while (at + length < count && units[at + length]) ++length;
        if (at + length == count || found == kMaxRecentFiles || length > kMaxRecentPathUnits ||
            !isFullPath(units + at, length))
            return false;
        starts[found++] = units + at;
        at += length + 1;
    }
    // The empty path closes the form; an empty list may be stored as nothing at all.
    if (at + 1 != count && !(found == 0 && count == 0)) return false;
    for (int k = found - 1; k >= 0; --k) {
        if (!addRecentFile(list, starts[k], sink)) {
            clearRecentFiles(list);
            return false;
        }
    }
    return true;
}

wchar_t* storeRecentFiles(const RecentFiles* list, size_t* units, const MessageSink* sink) {
    size_t total = 1;
    for (int k = 0; k < list->count; ++k) total += lengthOf(list->paths[k]) + 1;
    wchar_t* stored = static_cast<wchar_t*>(allocArray(processHeap(), total, sizeof(wchar_t), sink));
    if (!stored) return nullptr;
    size_t at = 0;
    for (int k = 0; k < list->count; ++k) {
        size_t length = lengthOf(list->paths[k]) + 1;
        memcpy(stored + at, list->paths[k], length * sizeof(wchar_t));
        at += length;
    }
    stored[at] = 0;
    *units = total;
    return stored;
}
