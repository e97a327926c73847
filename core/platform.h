// The few operating-system services the platform-independent code needs.
// platform_win32.cpp talks to Win32; platform_posix.cpp stands in for it in
// the native build where tests, sanitizers and fuzzers run.
#pragma once
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
typedef wchar_t Utf16;
#define U16(text) L##text
#else
typedef char16_t Utf16;
#define U16(text) u##text
#endif

typedef void* HeapHandle;

HeapHandle processHeap();
// A growable, serialised heap; null on failure.
HeapHandle createPrivateHeap();
// Frees every block still allocated from the heap.
void destroyPrivateHeap(HeapHandle heap);
void* heapAlloc(HeapHandle heap, size_t size);
// On failure the block stays valid and unchanged.
void* heapReAlloc(HeapHandle heap, void* block, size_t size);
void heapFree(HeapHandle heap, void* block);
// The heap operations above report every block size they take and give back
// (a moved block counts as taken before the old one is given back), so tests
// can measure peak heap use exactly. Defined in memory.cpp.
void countHeapBytes(uint64_t taken, uint64_t given);

// Fills frames with up to count return addresses of the caller's callers,
// skipping the caller itself and `skip` frames above it; returns the number captured.
uint32_t captureFrames(uint32_t skip, uint32_t count, void** frames);
// The file path of the module holding address, and the module's base.
// pathLength receives the units written (no terminator); false when no module holds it.
bool findModule(const void* address, Utf16* path, uint32_t pathCapacity,
                uint32_t* pathLength, uintptr_t* base);

// Widens bytes in a code page (0 = the system's ANSI code page) as
// MultiByteToWideChar with flags 0 does; writes at most length units
// (every supported code page gives at most one unit per byte) and returns the count.
uint32_t widenInCodePage(uint32_t codePage, const char* bytes, uint32_t length,
                         Utf16* destination);

// A thread of its own for work that runs beside the caller's.
typedef void* ThreadHandle;
// Null when no thread can be made; the caller then does the work itself.
ThreadHandle startThread(void (*work)(void* context), void* context);
// Waits for the thread to end and lets it go.
void joinThread(ThreadHandle thread);
// Gives the processor to another thread that is ready to run, if any.
void yieldProcessor();

// The machine's physical memory in bytes (0 when unknown).
uint64_t physicalMemoryBytes();

// The error number of the calling thread's last failed system call.
uint32_t lastSystemError();
// The system's text for an error number without line breaks; returns the
// units written (terminator not counted), 0 when the system has none.
uint32_t systemErrorText(uint32_t errorNumber, Utf16* destination, uint32_t capacity);

// Maps a whole file read-only; a file of 0 bytes succeeds with a null view.
// On failure lastSystemError() tells why.
bool mapFileReadOnly(const Utf16* path, const uint8_t** view, uint64_t* size);
void unmapFile(const uint8_t* view, uint64_t size);

// Reads a whole file into memory of its own and closes the file, so that
// nothing holds it afterwards: another program may save over it, and a drive
// that goes away fails the read (an error) instead of a later page of a
// mapping. A file of 0 bytes succeeds with null bytes. On failure
// lastSystemError() tells why. releaseFileCopy frees the bytes.
bool copyFileToMemory(const Utf16* path, const uint8_t** bytes, uint64_t* size);
void releaseFileCopy(const uint8_t* bytes, uint64_t size);

// A file written beside its destination, in the same folder, and put in
// its place only once complete: a failed write leaves what was there. On
// failure lastSystemError() tells why.
struct ReplacingFile {
    intptr_t handle;
    Utf16* temporary;  // process heap
    const Utf16* destination;  // the caller's
};
bool beginReplacingFile(const Utf16* destination, ReplacingFile* file);
bool writeReplacingFile(ReplacingFile* file, const uint8_t* bytes, size_t size);
// Closes the file and moves it over the destination; on failure the
// temporary file is removed as by abandonReplacingFile.
bool commitReplacingFile(ReplacingFile* file);
void abandonReplacingFile(ReplacingFile* file);

#ifdef _WIN32
// A path as the system's file calls take it. Windows refuses a path of
// MAX_PATH (260) units or more unless it is absolute with the prefix "\\?\"
// ("\\?\UNC\" for a share), or long paths are turned on for the whole
// machine; such a path is made so here, a shorter one passed as it is.
struct SystemPath {
    const Utf16* text;
    Utf16* owned;  // process heap, or null
};
// False without memory.
bool makeSystemPath(const Utf16* path, SystemPath* systemPath);
void releaseSystemPath(SystemPath* systemPath);
#endif

#ifndef _WIN32
// A file name as the file system gives it, widened from UTF-8 so that the
// path functions get its very bytes back: each byte that is not part of
// valid UTF-8 becomes U+DC00 plus the byte. Writes at most length units.
uint32_t widenFileName(const char* bytes, uint32_t length, Utf16* destination);
#endif
