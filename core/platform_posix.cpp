// POSIX stand-ins for the Win32 services of platform.h, for the native build.
#include "core/platform.h"
#include "core/read_faults.h"

#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A private heap is a list of its blocks, so destroying it frees them all.
// Each block carries a header linking it into its heap's list.
struct BlockHeader {
    BlockHeader* previous;
    BlockHeader* next;
    size_t size;
    size_t padding;  // keeps the payload 16-byte aligned like HeapAlloc
};

struct PrivateHeap {
    BlockHeader head;  // sentinel of a circular list
};

// The process heap is never destroyed, so its blocks are not listed: that
// keeps a leaked block unreachable, where the leak checker sees it.
PrivateHeap theProcessHeap;

void linkBlock(PrivateHeap* heap, BlockHeader* block) {
    if (heap == &theProcessHeap) {
        block->next = block->previous = nullptr;
        return;
    }
    block->next = heap->head.next;
    block->previous = &heap->head;
    heap->head.next->previous = block;
    heap->head.next = block;
}

void unlinkBlock(BlockHeader* block) {
    if (!block->next) return;
    block->previous->next = block->next;
    block->next->previous = block->previous;
}

BlockHeader* headerOf(void* payload) {
    return static_cast<BlockHeader*>(payload) - 1;
}

// The process heap is shared by every thread; private heaps are serialised too.
int heapLockWord;

void lockHeaps() {
    while (__atomic_exchange_n(&heapLockWord, 1, __ATOMIC_ACQUIRE)) __builtin_ia32_pause();
}

void unlockHeaps() {
    __atomic_store_n(&heapLockWord, 0, __ATOMIC_RELEASE);
}

// A model's triangle buffer and vertex array run to tens of megabytes, and
// the first touch of every 4 KiB page of a fresh block is a page fault; on a
// virtual machine a fault costs far more than filling the page. Large blocks
// therefore ask for transparent huge pages. The advice covers whole pages, so
// a block of its own mapping stays one mapping that realloc can still move.
constexpr size_t kHugePageBlock = size_t{4} << 20;

void adviseHugePages(BlockHeader* block, size_t size) {
#ifdef MADV_HUGEPAGE
    if (size < kHugePageBlock) return;
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t first = reinterpret_cast<uintptr_t>(block) & ~(page - 1);
    uintptr_t last = (reinterpret_cast<uintptr_t>(block + 1) + size + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // only advice: failure changes nothing
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace

HeapHandle processHeap() {
    return &theProcessHeap;
}

HeapHandle createPrivateHeap() {
    PrivateHeap* heap = static_cast<PrivateHeap*>(malloc(sizeof(PrivateHeap)));
    if (heap) heap->head.next = heap->head.previous = &heap->head;
    return heap;
}

void destroyPrivateHeap(HeapHandle handle) {
    PrivateHeap* heap = static_cast<PrivateHeap*>(handle);
    if (!heap || heap == &theProcessHeap) return;
    lockHeaps();
    BlockHeader* block = heap->head.next;
    while (block != &heap->head) {
        BlockHeader* next = block->next;
        countHeapBytes(0, block->size);
        free(block);
        block = next;
    }
    unlockHeaps();
    free(heap);
}

void* heapAlloc(HeapHandle handle, size_t size) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    BlockHeader* block = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + size));
    if (!block) return nullptr;
    adviseHugePages(block, size);
    block->size = size;
    countHeapBytes(size, 0);
    lockHeaps();
    linkBlock(static_cast<PrivateHeap*>(handle), block);
    unlockHeaps();
    return block + 1;
}

void* heapReAlloc(HeapHandle handle, void* payload, size_t size) {
    if (!payload) return heapAlloc(handle, size);
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    lockHeaps();
    BlockHeader* old = headerOf(payload);
    size_t oldSize = old->size;
    unlinkBlock(old);
    BlockHeader* block = static_cast<BlockHeader*>(realloc(old, sizeof(BlockHeader) + size));
    if (block) {
        if (size > oldSize) adviseHugePages(block, size);
        block->size = size;
        countHeapBytes(size, oldSize);
    }
    linkBlock(static_cast<PrivateHeap*>(handle), block ? block : old);
    unlockHeaps();
    return block ? block + 1 : nullptr;
}

void heapFree(HeapHandle, void* payload) {
    if (!payload) return;
    lockHeaps();
    BlockHeader* block = headerOf(payload);
    unlinkBlock(block);
    unlockHeaps();
    countHeapBytes(0, block->size);
    free(block);
}

uint32_t captureFrames(uint32_t skip, uint32_t count, void** frames) {
    // The first two frames are this function and its caller.
    constexpr uint32_t kMaxFrames = 64;
    void* all[kMaxFrames];
    uint32_t wanted = skip + 2 + count;
    if (wanted > kMaxFrames) wanted = kMaxFrames;
    int captured = backtrace(all, static_cast<int>(wanted));
    uint32_t first = skip + 2;
    uint32_t taken = 0;
    for (uint32_t i = first; i < static_cast<uint32_t>(captured) && taken < count; ++i) frames[taken++] = all[i];
    return taken;
}

bool findModule(const void* address, Utf16* path, uint32_t pathCapacity, uint32_t* pathLength,
                uintptr_t* base) {
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname) return false;
    size_t length = strlen(info.dli_fname);
    if (length > pathCapacity) length = pathCapacity;
    *pathLength = widenInCodePage(65001, info.dli_fname, static_cast<uint32_t>(length), path);
    *base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    return true;
}

namespace {

struct ThreadStart {
    void (*work)(void*);
    void* context;
};

void* runThread(void* start) {
    ThreadStart copy = *static_cast<ThreadStart*>(start);
    free(start);
    copy.work(copy.context);
    return nullptr;
}

}  // namespace

ThreadHandle startThread(void (*work)(void* context), void* context) {
    ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    pthread_t* thread = static_cast<pthread_t*>(malloc(sizeof(pthread_t)));
    if (!start || !thread) {
        free(start);
        free(thread);
        return nullptr;
    }
    *start = ThreadStart{work, context};
    if (pthread_create(thread, nullptr, runThread, start) != 0) {
        free(start);
        free(thread);
        return nullptr;
    }
    return thread;
}

void joinThread(ThreadHandle handle) {
    pthread_t* thread = static_cast<pthread_t*>(handle);
    pthread_join(*thread, nullptr);
    free(thread);
}

void yieldProcessor() {
    sched_yield();
}

uint64_t physicalMemoryBytes() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
}

uint32_t lastSystemError() {
    return static_cast<uint32_t>(errno);
}

uint32_t systemErrorText(uint32_t errorNumber, Utf16* destination, uint32_t capacity) {
    char buffer[256];
    const char* text = strerror_r(static_cast<int>(errorNumber), buffer, sizeof buffer);
    size_t length = strlen(text);
    if (length > capacity) length = capacity;
    return widenInCodePage(65001, text, static_cast<uint32_t>(length), destination);
}

namespace {

// Windows-1252 and Windows-1251 from 0x80 up; bytes the code page leaves
// undefined map to the same C1 control unit, as MultiByteToWideChar does.
const char16_t kWestern[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

const char16_t kCyrillic[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t widenWestern(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kWestern[byte - 0x80] : byte;
}

char16_t widenCyrillic(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte < 0xC0) return kCyrillic[byte - 0x80];
    return static_cast<char16_t>(0x0410 + (byte - 0xC0));
}

constexpr uint32_t kMalformed = 0xFFFFFFFF;

// One UTF-8 sequence from *position on, as MultiByteToWideChar reads it: a
// continuation byte joins the sequence before the value so far is checked, so
// an overlong or surrogate start ("E0 80", "ED A0") is one malformed unit; a
// value beyond U+10FFFF is refused before its third byte is taken; a sequence
// cut off by the end of the text swallows the rest of the text.
uint32_t decodeUtf8(const unsigned char* bytes, uint32_t length, uint32_t* position) {
    unsigned char lead = bytes[(*position)++];
    if (lead < 0x80) return lead;
    uint32_t needed = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                    : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
    if (needed == 0) return kMalformed;
    if (needed > length - *position) {
        *position = length;
        return kMalformed;
    }
    uint32_t code = lead & (0x3F >> needed);
    for (uint32_t left = needed; left > 0; --left) {
        unsigned char byte = bytes[*position];
        if ((byte & 0xC0) != 0x80) return kMalformed;
        code = code << 6 | (byte & 0x3F);
        if (left == 2 && code >= 0x110000 >> 6) return kMalformed;
        ++*position;
        if (left == 3 && code < 0x10000 >> 12) return kMalformed;
        if (left == 2 && (code < 0x800 >> 6 || (code >= 0xD800 >> 6 && code <= 0xDFFF >> 6))) return kMalformed;
    }
    return code;
}

// Supplementary planes become surrogate pairs, malformed sequences U+FFFD.
uint32_t widenUtf8(const unsigned char* bytes, uint32_t length, Utf16* out) {
    uint32_t written = 0;
    uint32_t position = 0;
    while (position < length) {
        uint32_t code = decodeUtf8(bytes, length, &position);
        if (code == kMalformed) {
            out[written++] = 0xFFFD;
        } else if (code >= 0x10000) {
            out[written++] = static_cast<Utf16>(0xD800 + ((code - 0x10000) >> 10));
            out[written++] = static_cast<Utf16>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[written++] = static_cast<Utf16>(code);
        }
    }
    return written;
}

}  // namespace

uint32_t widenFileName(const char* text, uint32_t length, Utf16* destination) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    uint32_t written = 0;
    uint32_t position = 0;
    while (position < length) {
        uint32_t start = position;
        if (decodeUtf8(bytes, length, &position) != kMalformed) {
            written += widenUtf8(bytes + start, position - start, destination + written);
            continue;
        }
        // A malformed sequence may have taken more bytes, even ASCII at the end; keep each.
        for (uint32_t i = start; i < position; ++i) destination[written++] = static_cast<Utf16>(0xDC00 + bytes[i]);
    }
    return written;
}

uint32_t widenInCodePage(uint32_t codePage, const char* text, uint32_t length, Utf16* destination) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    if (codePage == 65001) return widenUtf8(bytes, length, destination);
    for (uint32_t i = 0; i < length; ++i) {
        unsigned char byte = bytes[i];
        switch (codePage) {
        case 1251: destination[i] = widenCyrillic(byte); break;
        case 20127: destination[i] = static_cast<Utf16>(byte & 0x7F); break;
        default: destination[i] = widenWestern(byte); break;  // 1252, also the system code page
        }
    }
    return length;
}

namespace {

// UTF-16 to UTF-8 for the file system, a lone U+DC00 to U+DCFF back to the
// byte widenFileName kept in it; false when it does not fit.
bool narrowPath(const Utf16* path, char* out, size_t capacity) {
    size_t used = 0;
    for (size_t i = 0; path[i]; ++i) {
        uint32_t code = path[i];
        bool keptByte = code >= 0xDC00 && code <= 0xDCFF;
        if (code >= 0xD800 && code <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (path[++i] - 0xDC00);
        char bytes[4];
        size_t count = keptByte || code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (count == 1) bytes[0] = static_cast<char>(code);
        else {
            static const unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
            for (size_t k = count - 1; k > 0; --k, code >>= 6) bytes[k] = static_cast<char>(0x80 | (code & 0x3F));
            bytes[0] = static_cast<char>(kLead[count] | code);
        }
        if (used + count >= capacity) return false;
        memcpy(out + used, bytes, count);
        used += count;
    }
    out[used] = 0;
    return true;
}

}  // namespace

bool mapFileReadOnly(const Utf16* path, const uint8_t** view, uint64_t* size) {
    *view = nullptr;
    *size = 0;
    char narrow[4 * 32768];
    if (!narrowPath(path, narrow, sizeof narrow)) {
        errno = ENAMETOOLONG;
        return false;
    }
    int file = open(narrow, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    struct stat status;
    bool mapped = fstat(file, &status) == 0;
    if (mapped && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        mapped = false;
    }
    if (mapped && status.st_size > 0) {
        void* address = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE, file, 0);
        mapped = address != MAP_FAILED;
        if (mapped) {
            *view = static_cast<const uint8_t*>(address);
            *size = static_cast<uint64_t>(status.st_size);
        }
    }
    int error = errno;
    close(file);
    errno = error;
    return mapped;
}

void unmapFile(const uint8_t* view, uint64_t size) {
    if (view) munmap(const_cast<uint8_t*>(view), size);
}

bool copyFileToMemory(const Utf16* path, const uint8_t** bytes, uint64_t* size) {
    *bytes = nullptr;
    *size = 0;
    char narrow[4 * 32768];
    if (!narrowPath(path, narrow, sizeof narrow)) {
        errno = ENAMETOOLONG;
        return false;
    }
    int file = open(narrow, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    struct stat status;
    bool ok = fstat(file, &status) == 0;
    if (ok && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        ok = false;
    }
    uint64_t total = ok && status.st_size > 0 ? static_cast<uint64_t>(status.st_size) : 0;
    void* memory = MAP_FAILED;
    if (total > 0) {
        memory = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ok = memory != MAP_FAILED;
    }
    for (uint64_t done = 0; ok && done < total;) {
        if (fileReadFails()) {
            errno = EIO;
            ok = false;
            break;
        }
        ssize_t got = ::read(file, static_cast<uint8_t*>(memory) + done, total - done);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) errno = EIO;  // shorter than it was a moment ago: cut while being read
        ok = got > 0;
        if (ok) done += static_cast<uint64_t>(got);
    }
    int error = errno;
    close(file);
    if (!ok && memory != MAP_FAILED) munmap(memory, total);
    errno = error;
    if (ok && total > 0) {
        *bytes = static_cast<const uint8_t*>(memory);
        *size = total;
    }
    return ok;
}

void releaseFileCopy(const uint8_t* bytes, uint64_t size) {
    if (bytes) munmap(const_cast<uint8_t*>(bytes), size);
}

namespace {

// "DESTINATION.~N.tmp", N from 0 up, in the process heap.
Utf16* temporaryNameFor(const Utf16* destination, uint32_t attempt) {
    size_t length = 0;
    while (destination[length]) ++length;
    Utf16* name = static_cast<Utf16*>(heapAlloc(processHeap(), (length + 20) * sizeof(Utf16)));
    if (!name) return nullptr;
    memcpy(name, destination, length * sizeof(Utf16));
    Utf16* at = name + length;
    *at++ = '.';
    *at++ = '~';
    char digits[12];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + attempt % 10); while (attempt /= 10);
    while (count) *at++ = static_cast<Utf16>(digits[--count]);
    const char* tail = ".tmp";
    while (*tail) *at++ = static_cast<Utf16>(*tail++);
    *at = 0;
    return name;
}

}  // namespace

bool beginReplacingFile(const Utf16* destination, ReplacingFile* file) {
    *file = ReplacingFile{-1, nullptr, destination};
    char narrow[4 * 32768];
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        Utf16* name = temporaryNameFor(destination, attempt);
        if (!name) {
            errno = ENOMEM;
            return false;
        }
        if (!narrowPath(name, narrow, sizeof narrow)) {
            heapFree(processHeap(), name);
            errno = ENAMETOOLONG;
            return false;
        }
        int handle = open(narrow, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0) {
            file->handle = handle;
            file->temporary = name;
            return true;
        }
        int error = errno;
        heapFree(processHeap(), name);
        errno = error;
        if (error != EEXIST) return false;
    }
    return false;
}

bool writeReplacingFile(ReplacingFile* file, const uint8_t* bytes, size_t size) {
    while (size) {
        ssize_t written = write(static_cast<int>(file->handle), bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void abandonReplacingFile(ReplacingFile* file) {
    int error = errno;
    if (file->handle >= 0) close(static_cast<int>(file->handle));
    char narrow[4 * 32768];
    if (file->temporary && narrowPath(file->temporary, narrow, sizeof narrow)) unlink(narrow);
    if (file->temporary) heapFree(processHeap(), file->temporary);
    *file = ReplacingFile{-1, nullptr, file->destination};
    errno = error;
}

bool commitReplacingFile(ReplacingFile* file) {
    char from[4 * 32768], to[4 * 32768];
    bool done = fsync(static_cast<int>(file->handle)) == 0;
    done = close(static_cast<int>(file->handle)) == 0 && done;
    file->handle = -1;
    if (done && (!narrowPath(file->temporary, from, sizeof from) || !narrowPath(file->destination, to, sizeof to))) {
        errno = ENAMETOOLONG;
        done = false;
    }
    if (done) done = rename(from, to) == 0;
    if (!done) {
        abandonReplacingFile(file);
        return false;
    }
    heapFree(processHeap(), file->temporary);
    file->temporary = nullptr;
    return true;
}

