// ZIP archives as 3MF packages use them: the central directory (with ZIP64),
// entries stored or deflated. An archive that lies is refused: entries
// outside the file or overlapping, local headers that disagree with the
// directory, two entries of one name, a bad CRC, more output than stated or
// than the file's budget allows.
#pragma once
#include <cstdint>
#include "core/platform.h"
#include "core/spin_lock.h"
#include "core/status.h"

// Zero bytes after every entry read, so that scanners may look 16 bytes ahead.
constexpr uint64_t kZipPadding = 16;
constexpr uint32_t kMaxZipEntries = 1u << 20;

struct ZipEntry {
    const uint8_t* name;  // in the central directory, not terminated
    uint32_t nameLength;
    uint16_t method;  // 0 stored, 8 deflate
    uint16_t flags;
    uint32_t crc;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
    uint64_t headerOffset;  // of the local header
    uint64_t dataOffset;
};

struct ZipArchive {
    const uint8_t* file;
    uint64_t size;
    ZipEntry* entries;  // sorted by part name (see findZipEntry), in the heap
    uint32_t entryCount;
};

// The file starts like a ZIP archive (a local header).
bool looksLikeZip(const uint8_t* file, uint64_t size);

// Reads and checks the central directory and every local header; false after
// reporting when the archive is damaged or lies.
bool openZipArchive(ZipArchive* archive, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink);

// The entry of a part name: a leading "/" is optional, %XX escapes stand for
// their byte and ASCII letters match without regard to case, as part names do.
const ZipEntry* findZipEntry(const ZipArchive* archive, const char* name, uint32_t length);

// What a file of this size may inflate to in all: 256 times its size, at
// least 16 MiB, and never more than a quarter of the machine's memory.
uint64_t zipBudget(uint64_t fileSize);

// The entry's bytes in a block of its size plus kZipPadding zero bytes from
// the heap; its size is taken from *budget. Null after reporting.
uint8_t* readZipEntry(const ZipArchive* archive, const ZipEntry* entry, HeapHandle heap, uint64_t* budget,
                      const MessageSink* sink);

// An entry inflated on a thread of its own (and its CRC checked there), so
// that its reader can take the bytes as they come on the other core.
struct ZipReading {
    const ZipArchive* archive;
    const ZipEntry* entry;
    uint8_t* bytes;  // size plus kZipPadding; the padding is zero from the start
    volatile uint64_t ready;  // leading bytes that are final
    volatile uint64_t done;   // 1 once the thread has finished
    uint32_t result;          // an InflateResult, once done
    bool crcMatches;
    ThreadHandle thread;
};

// Checks the entry and its budget as readZipEntry does, takes the block and
// starts inflating (on this thread when no other can be had); false after
// reporting, with nothing left to finish.
bool startZipReading(ZipReading* reading, const ZipArchive* archive, const ZipEntry* entry, HeapHandle heap,
                     uint64_t* budget, const MessageSink* sink);
// Waits until more than `have` bytes are ready or the reading is done;
// returns the bytes ready then. *done tells whether more can come.
uint64_t waitForZipBytes(ZipReading* reading, uint64_t have, bool* done);
// Waits for the end; reports a damaged stream or a bad CRC and frees the
// block then. True when every byte is there and right.
bool finishZipReading(ZipReading* reading, HeapHandle heap, const MessageSink* sink);

// The entry's name as the part of a note.
CountedText entryName(const ZipEntry* entry);
