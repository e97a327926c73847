#include "app/file_watch.h"

#include "app/window_ids.h"
#include "core/log_sink.h"

namespace {

// How often a changed file is looked at while its writer may be busy.
constexpr DWORD kSettleStepMs = 100;
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

struct FileStamp {
    uint64_t size;
    uint64_t written;
    bool exists;
};

struct WatchedFile {
    wchar_t* copy;  // the path, the watch's own: the part's may go first
    SystemPath path;
    uint64_t loadedSize;
    FileStamp shown;   // as the shown model was read (or last reloaded)
    FileStamp latest;  // while settling: the last one seen, since `steadySince`
    DWORD steadySince;
    bool settling;
};

}  // namespace

struct FileWatch {
    HWND dialog;
    uint32_t serial;
    uint32_t folderCount;
    HANDLE handles[1 + kMaxParts];  // the stop event, then one notification per folder
    WatchedFile files[kMaxParts];   // by slot; a null copy for an empty slot
};

namespace {

FileStamp stampOf(const WatchedFile& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.path.text, GetFileExInfoStandard, &data)) return FileStamp{0, 0, false};
    return FileStamp{uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow,
                     uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime, true};
}

bool sameStamp(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists && a.size == b.size && a.written == b.written;
}

// No other program has the file open for writing: a share mode without
// FILE_SHARE_WRITE is refused while any handle may write.
bool writerDone(const WatchedFile& file) {
    HANDLE handle = CreateFileW(file.path.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

// True when the file has changed and its writer is done.
bool settledChange(WatchedFile* file, DWORD now) {
    FileStamp stamp = stampOf(*file);
    if (!file->settling) {
        if (sameStamp(stamp, file->shown)) return false;
        file->settling = true;
        file->latest = stamp;
        file->steadySince = now;
        return false;
    }
    if (!sameStamp(stamp, file->latest)) {
        file->latest = stamp;
        file->steadySince = now;
        return false;
    }
    if (!stamp.exists || now - file->steadySince < kSteadyMs || !writerDone(*file)) return false;
    file->settling = false;
    file->shown = stamp;
    return true;
}

wchar_t* copyText(const wchar_t* text, int units) {
    auto* copy = static_cast<wchar_t*>(allocArray(processHeap(), uint64_t(units) + 1, sizeof(wchar_t), nullptr));
    if (!copy) return nullptr;
    memcpy(copy, text, units * sizeof(wchar_t));
    copy[units] = 0;
    return copy;
}

// The folder's length in units, with its last separator; 0 when the path names none.
int folderUnits(const wchar_t* path) {
    return static_cast<int>(fileNameOf(path) - path);
}

bool sameFolder(const wchar_t* a, const wchar_t* b) {
    int units = folderUnits(a);
    return units == folderUnits(b) && CompareStringOrdinal(a, units, b, units, TRUE) == CSTR_EQUAL;
}

// One notification per distinct folder; a folder that cannot be watched is left out.
void watchFolderOf(FileWatch* watch, int slot) {
    const wchar_t* path = watch->files[slot].copy;
    for (int earlier = 0; earlier < slot; ++earlier)
        if (watch->files[earlier].copy && sameFolder(watch->files[earlier].copy, path)) return;
    wchar_t* folderText = folderUnits(path) ? copyText(path, folderUnits(path)) : nullptr;
    SystemPath folder{};
    if (folderText && makeSystemPath(folderText, &folder)) {
        HANDLE handle = FindFirstChangeNotificationW(folder.text, FALSE, kChanges);
        if (handle != INVALID_HANDLE_VALUE) watch->handles[1 + watch->folderCount++] = handle;
        releaseSystemPath(&folder);
    }
    freeBytes(folderText);
}

void freeFileWatch(FileWatch* watch) {
    for (uint32_t k = 0; k < watch->folderCount; ++k) FindCloseChangeNotification(watch->handles[1 + k]);
    if (watch->handles[0]) CloseHandle(watch->handles[0]);
    for (WatchedFile& file : watch->files) {
        releaseSystemPath(&file.path);
        freeBytes(file.copy);
    }
    freeBytes(watch);
}

// Until the stop event is set (or the wait fails).
void followChanges(FileWatch* watch) {
    DWORD handleCount = 1 + watch->folderCount;
    for (;;) {
        bool settling = false;
        for (const WatchedFile& file : watch->files) settling |= file.settling;
        DWORD woken = WaitForMultipleObjects(handleCount, watch->handles, FALSE, settling ? kSettleStepMs : INFINITE);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
        if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handleCount)
            FindNextChangeNotification(watch->handles[woken - WAIT_OBJECT_0]);
        DWORD now = GetTickCount();
        for (int slot = 0; slot < kMaxParts; ++slot) {
            WatchedFile* file = &watch->files[slot];
            if (file->copy && settledChange(file, now))
                PostMessageW(watch->dialog, kFileChangedMessage, static_cast<WPARAM>(slot), watch->serial);
        }
    }
}

// The watch is the thread's: it ends only once the window has set the stop
// event, and frees the watch then. The folders are opened here, as a dead
// network path may take the call for tens of seconds.
DWORD WINAPI runFileWatch(void* parameter) {
    auto* watch = static_cast<FileWatch*>(parameter);
    for (int slot = 0; slot < kMaxParts; ++slot) {
        if (!watch->files[slot].copy) continue;
        watchFolderOf(watch, slot);
        WatchedFile* file = &watch->files[slot];
        file->shown = stampOf(*file);
        // Saved over since it was read (a load takes a while): changed at once.
        if (file->shown.size != file->loadedSize) file->shown.written = ~uint64_t{0};
    }
    if (watch->folderCount) followChanges(watch);
    WaitForSingleObject(watch->handles[0], INFINITE);
    freeFileWatch(watch);
    return 0;
}

}  // namespace

FileWatch* startFileWatch(HWND dialog, const wchar_t* const paths[kMaxParts], const uint64_t sizes[kMaxParts],
                          uint32_t serial, const MessageSink* sink) {
    auto* watch = static_cast<FileWatch*>(allocArray(processHeap(), 1, sizeof(FileWatch), sink));
    if (!watch) return nullptr;
    *watch = FileWatch{};
    watch->dialog = dialog;
    watch->serial = serial;
    for (int slot = 0; slot < kMaxParts; ++slot) {
        WatchedFile* file = &watch->files[slot];
        file->loadedSize = sizes[slot];
        file->copy = paths[slot] ? copyText(paths[slot], lstrlenW(paths[slot])) : nullptr;
        if (!file->copy) continue;
        if (!makeSystemPath(file->copy, &file->path)) {
            freeBytes(file->copy);
            file->copy = nullptr;
            continue;
        }
    }
    watch->handles[0] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = watch->handles[0] ? CreateThread(nullptr, 0, runFileWatch, watch, 0, nullptr) : nullptr;
    if (!thread) {
        reportLastError(sink);
        freeFileWatch(watch);
        return nullptr;
    }
    CloseHandle(thread);
    return watch;
}

void stopFileWatch(FileWatch* watch) {
    if (watch) SetEvent(watch->handles[0]);
}
