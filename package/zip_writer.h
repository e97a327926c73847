// ZIP archives as the viewer writes 3MF packages: stored entries (no
// compression, so no compressor is needed), whose size and CRC-32 the caller
// knows before the bytes, then the central directory. No ZIP64: an archive
// past 4 GB is refused.
#pragma once
#include <cstdint>
#include "core/byte_output.h"

constexpr uint32_t kMostZipWriterEntries = 8;

struct ZipWriterEntry {
    const char* name;  // terminated ASCII, kept by the caller
    uint32_t crc;
    uint32_t size;
    uint32_t headerOffset;
};

struct ZipWriter {
    ByteOutput* out;
    ZipWriterEntry entries[kMostZipWriterEntries];
    uint32_t entryCount;
    bool tooLarge;
};

void beginZip(ZipWriter* zip, ByteOutput* out);
// The local header; the caller then puts exactly `size` bytes. False when
// the archive would pass 4 GB or hold too many entries.
bool beginStoredEntry(ZipWriter* zip, const char* name, uint32_t crc, uint64_t size);
// The central directory and its end; false when anything failed.
bool finishZip(ZipWriter* zip);

// A ByteOutput destination that only counts and sums the CRC-32 of what it takes.
struct ZipMeasure {
    uint32_t crc;
    uint64_t size;
};
bool measureForZip(void* measure, const uint8_t* bytes, size_t size);
