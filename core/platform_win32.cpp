// The platform services of platform.h on Win32.
#include "core/platform.h"
#include "core/read_faults.h"

#include <windows.h>

HeapHandle processHeap() {
    return GetProcessHeap();
}

HeapHandle createPrivateHeap() {
    return HeapCreate(0, 0, 0);
}

void destroyPrivateHeap(HeapHandle heap) {
    if (!heap) return;
    // HeapSize rather than the walk's own size, which may include padding.
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) countHeapBytes(0, HeapSize(heap, 0, entry.lpData));
    HeapDestroy(heap);
}

void* heapAlloc(HeapHandle heap, size_t size) {
    void* block = HeapAlloc(heap, 0, size);
    if (block) countHeapBytes(size, 0);
    return block;
}

void* heapReAlloc(HeapHandle heap, void* block, size_t size) {
    if (!block) return heapAlloc(heap, size);
    size_t oldSize = HeapSize(heap, 0, block);
    void* moved = HeapReAlloc(heap, 0, block, size);
    if (moved) countHeapBytes(size, oldSize);
    return moved;
}

void heapFree(HeapHandle heap, void* block) {
    if (!block) return;
    countHeapBytes(0, HeapSize(heap, 0, block));
    HeapFree(heap, 0, block);
}

uint32_t captureFrames(uint32_t skip, uint32_t count, void** frames) {
    // Skip this function and its caller.
    return RtlCaptureStackBackTrace(skip + 2, count, frames, nullptr);
}

bool findModule(const void* address, Utf16* path, uint32_t pathCapacity, uint32_t* pathLength,
                uintptr_t* base) {
    HMODULE module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return false;
    *pathLength = GetModuleFileNameW(module, path, pathCapacity);
    *base = reinterpret_cast<uintptr_t>(module);
    return true;
}

uint32_t widenInCodePage(uint32_t codePage, const char* bytes, uint32_t length, Utf16* destination) {
    if (length > INT32_MAX) length = INT32_MAX;
    int written = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), destination,
                                      static_cast<int>(length));
    return written > 0 ? static_cast<uint32_t>(written) : 0;
}

namespace {

struct ThreadStart {
    void (*work)(void*);
    void* context;
};

DWORD WINAPI runThread(void* start) {
    ThreadStart copy = *static_cast<ThreadStart*>(start);
    HeapFree(GetProcessHeap(), 0, start);
    copy.work(copy.context);
    return 0;
}

}  // namespace

ThreadHandle startThread(void (*work)(void* context), void* context) {
    ThreadStart* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
    if (!start) return nullptr;
    *start = ThreadStart{work, context};
    HANDLE thread = CreateThread(nullptr, 0, runThread, start, 0, nullptr);
    if (!thread) HeapFree(GetProcessHeap(), 0, start);
    return thread;
}

void joinThread(ThreadHandle thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void yieldProcessor() {
    SwitchToThread();
}

uint64_t physicalMemoryBytes() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint32_t lastSystemError() {
    return GetLastError();
}

uint32_t systemErrorText(uint32_t errorNumber, Utf16* destination, uint32_t capacity) {
    DWORD written = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                   nullptr, errorNumber, 0, destination, capacity, nullptr);
    return written;
}

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
constexpr DWORD kLongUncPrefixUnits = 8;
// A folder's own path must leave room for a file name of 8.3 (CreateDirectoryW
// stops at MAX_PATH - 12), so folders get the prefix from there on too.
constexpr int kPrefixFromUnits = MAX_PATH - 12;

bool startsWith(const wchar_t* text, const wchar_t* prefix) {
    while (*prefix)
        if (*text++ != *prefix++) return false;
    return true;
}

}  // namespace

bool makeSystemPath(const Utf16* path, SystemPath* systemPath) {
    *systemPath = SystemPath{path, nullptr};
    // Device and already prefixed paths ("\\.\", "\\?\") go as they are.
    if (lstrlenW(path) < kPrefixFromUnits || startsWith(path, kLongPrefix) || startsWith(path, L"\\\\.\\"))
        return true;
    DWORD units = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (units == 0) return true;  // the call that takes the path says what is wrong with it
    Utf16* full = static_cast<Utf16*>(HeapAlloc(GetProcessHeap(), 0, (units + kLongUncPrefixUnits) * sizeof(Utf16)));
    if (!full) return false;
    Utf16* absolute = full + kLongUncPrefixUnits;
    DWORD length = GetFullPathNameW(path, units, absolute, nullptr);
    if (length == 0 || length >= units) {
        HeapFree(GetProcessHeap(), 0, full);
        return true;
    }
    // "\\server\share\..." becomes "\\?\UNC\server\share\...", "C:\..." becomes "\\?\C:\...".
    bool share = absolute[0] == L'\\' && absolute[1] == L'\\';
    const wchar_t* prefix = share ? kLongUncPrefix : kLongPrefix;
    Utf16* start = share ? absolute + 2 - kLongUncPrefixUnits : absolute - (sizeof kLongPrefix / sizeof(wchar_t) - 1);
    for (Utf16* at = start; *prefix;) *at++ = *prefix++;
    systemPath->text = start;
    systemPath->owned = full;
    return true;
}

void releaseSystemPath(SystemPath* systemPath) {
    if (systemPath->owned) HeapFree(GetProcessHeap(), 0, systemPath->owned);
    *systemPath = SystemPath{nullptr, nullptr};
}

bool mapFileReadOnly(const Utf16* path, const uint8_t** view, uint64_t* size) {
    *view = nullptr;
    *size = 0;
    SystemPath systemPath;
    if (!makeSystemPath(path, &systemPath)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE file = CreateFileW(systemPath.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    releaseSystemPath(&systemPath);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER fileSize;
    bool mapped = GetFileSizeEx(file, &fileSize) != 0;
    if (mapped && fileSize.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        void* address = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        DWORD error = GetLastError();
        if (mapping) CloseHandle(mapping);  // the view keeps the mapping alive
        SetLastError(error);
        mapped = address != nullptr;
        *view = static_cast<const uint8_t*>(address);
        *size = mapped ? static_cast<uint64_t>(fileSize.QuadPart) : 0;
    }
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return mapped;
}

void unmapFile(const uint8_t* view, uint64_t) {
    if (view) UnmapViewOfFile(view);
}

bool copyFileToMemory(const Utf16* path, const uint8_t** bytes, uint64_t* size) {
    *bytes = nullptr;
    *size = 0;
    SystemPath systemPath;
    if (!makeSystemPath(path, &systemPath)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE file = CreateFileW(systemPath.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    releaseSystemPath(&systemPath);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER fileSize;
    bool read = GetFileSizeEx(file, &fileSize) != 0;
    uint64_t total = read ? static_cast<uint64_t>(fileSize.QuadPart) : 0;
    uint8_t* memory = nullptr;
    if (read && total > 0) {
        // Pages of its own: a huge file is not asked of a heap, and they go back whole.
        memory = static_cast<uint8_t*>(VirtualAlloc(nullptr, static_cast<SIZE_T>(total), MEM_COMMIT | MEM_RESERVE,
                                                    PAGE_READWRITE));
        read = memory != nullptr;
    }
    for (uint64_t done = 0; read && done < total;) {
        constexpr uint64_t kChunk = uint64_t(1) << 26;  // ReadFile takes 32-bit counts
        DWORD chunk = static_cast<DWORD>(total - done < kChunk ? total - done : kChunk), got = 0;
        bool gone = fileReadFails();
        if (gone) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        read = !gone && ReadFile(file, memory + done, chunk, &got, nullptr) != 0;
        if (read && got == 0) {  // shorter than it was a moment ago: cut while being read
            SetLastError(ERROR_HANDLE_EOF);
            read = false;
        }
        done += got;
    }
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!read && memory) VirtualFree(memory, 0, MEM_RELEASE);
    SetLastError(error);
    if (read) {
        *bytes = memory;
        *size = total;
    }
    return read;
}

void releaseFileCopy(const uint8_t* bytes, uint64_t) {
    if (bytes) VirtualFree(const_cast<uint8_t*>(bytes), 0, MEM_RELEASE);
}

namespace {

// "DESTINATION.~N.tmp", N from 0 up, in the process heap.
Utf16* temporaryNameFor(const Utf16* destination, uint32_t attempt) {
    size_t length = static_cast<size_t>(lstrlenW(destination));
    Utf16* name = static_cast<Utf16*>(heapAlloc(processHeap(), (length + 20) * sizeof(Utf16)));
    if (!name) return nullptr;
    memcpy(name, destination, length * sizeof(Utf16));
    wsprintfW(name + length, L".~%u.tmp", attempt);
    return name;
}

}  // namespace

bool beginReplacingFile(const Utf16* destination, ReplacingFile* file) {
    *file = ReplacingFile{-1, nullptr, destination};
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        Utf16* name = temporaryNameFor(destination, attempt);
        SystemPath systemPath;
        if (!name || !makeSystemPath(name, &systemPath)) {
            if (name) heapFree(processHeap(), name);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        HANDLE handle = CreateFileW(systemPath.text, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        releaseSystemPath(&systemPath);
        if (handle != INVALID_HANDLE_VALUE) {
            file->handle = reinterpret_cast<intptr_t>(handle);
            file->temporary = name;
            return true;
        }
        heapFree(processHeap(), name);
        SetLastError(error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool writeReplacingFile(ReplacingFile* file, const uint8_t* bytes, size_t size) {
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    while (size) {
        DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size), written = 0;
        if (!WriteFile(handle, bytes, piece, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

void abandonReplacingFile(ReplacingFile* file) {
    DWORD error = GetLastError();
    if (file->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
    SystemPath systemPath;
    if (file->temporary && makeSystemPath(file->temporary, &systemPath)) {
        DeleteFileW(systemPath.text);
        releaseSystemPath(&systemPath);
    }
    if (file->temporary) heapFree(processHeap(), file->temporary);
    *file = ReplacingFile{-1, nullptr, file->destination};
    SetLastError(error);
}

// ReplaceFileW keeps the replaced file's attributes and permissions; where
// there is none yet, or it refuses, the file is moved into place.
bool commitReplacingFile(ReplacingFile* file) {
    HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
    bool done = FlushFileBuffers(handle) != 0;
    DWORD error = GetLastError();
    done = CloseHandle(handle) != 0 && done;
    file->handle = -1;
    SystemPath from{}, to{};
    if (done && (!makeSystemPath(file->temporary, &from) || !makeSystemPath(file->destination, &to))) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        done = false;
    }
    DWORD attributes = done ? GetFileAttributesW(to.text) : INVALID_FILE_ATTRIBUTES;
    // Windows refuses to replace a folder or a read-only file (access
    // denied); Wine replaces both, so the rule is kept here for both.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        error = ERROR_ACCESS_DENIED;
        done = false;
    }
    if (done) {
        bool replaced = attributes != INVALID_FILE_ATTRIBUTES &&
                        ReplaceFileW(to.text, from.text, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        done = replaced || MoveFileExW(from.text, to.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        error = GetLastError();
    } else if (!error) {
        error = GetLastError();
    }
    releaseSystemPath(&from);
    releaseSystemPath(&to);
    if (!done) {
        SetLastError(error);
        abandonReplacingFile(file);
        return false;
    }
    heapFree(processHeap(), file->temporary);
    file->temporary = nullptr;
    return true;
}

