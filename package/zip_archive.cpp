#include "package/zip_archive.h"

#include <cstring>

#include "core/checked_math.h"
#include "core/memory.h"
#include "package/crc32.h"
#include "package/heap_sort.h"
#include "package/inflate.h"

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint64_t kEndSize = 22;
constexpr uint64_t kLocatorSize = 20;
constexpr uint64_t kZip64EndSize = 56;
constexpr uint64_t kCentralSize = 46;
constexpr uint64_t kLocalSize = 30;
constexpr uint64_t kMaxComment = 65535;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagDescriptor = 8;
constexpr uint16_t kZip64ExtraId = 1;
constexpr uint32_t kMissing32 = 0xFFFFFFFF;
constexpr uint64_t kBudgetRatio = 256;
constexpr uint64_t kSmallestBudget = uint64_t{16} << 20;

uint16_t read16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t read32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint64_t read64(const uint8_t* at) {
    return read32(at) | uint64_t{read32(at + 4)} << 32;
}

bool fail(const MessageSink* sink, StatusCode code, const ZipEntry* entry = nullptr, uint64_t number = 0,
          uint64_t limit = 0) {
    if (!sink) return false;
    PackageNote note{};
    if (entry) note.part = entryName(entry);
    note.number = number;
    note.limit = limit;
    report(sink, code, reinterpret_cast<uintptr_t>(&note));
    return false;
}

// Where the directory is, from the end record and, in a ZIP64 archive, the records before it.
struct Directory {
    uint64_t offset;
    uint64_t size;
    uint64_t count;
    uint64_t end;  // the first byte after the directory's room: the first end record
};

bool findEndRecord(const uint8_t* file, uint64_t size, uint64_t* position) {
    if (size < kEndSize) return false;
    uint64_t lowest = size - kEndSize > kMaxComment ? size - kEndSize - kMaxComment : 0;
    for (uint64_t at = size - kEndSize + 1; at-- > lowest;) {
        if (read32(file + at) != kEndSignature) continue;
        if (at + kEndSize + read16(file + at + 20) > size) continue;
        *position = at;
        return true;
    }
    return false;
}

bool readDirectory(const uint8_t* file, uint64_t size, Directory* directory, const MessageSink* sink) {
    uint64_t endRecord;
    if (!findEndRecord(file, size, &endRecord)) return fail(sink, kErrZipNoDirectory);
    const uint8_t* end = file + endRecord;
    // Split archives are not 3MF packages.
    uint16_t disk = read16(end + 4), directoryDisk = read16(end + 6);
    directory->count = read16(end + 10);
    directory->size = read32(end + 12);
    directory->offset = read32(end + 16);
    directory->end = endRecord;
    if (endRecord >= kLocatorSize && read32(end - kLocatorSize) == kZip64LocatorSignature) {
        uint64_t record = read64(end - kLocatorSize + 8);
        if (record > endRecord - kLocatorSize || endRecord - kLocatorSize - record < kZip64EndSize ||
            read32(file + record) != kZip64EndSignature)
            return fail(sink, kErrZipDirectory);
        const uint8_t* zip64 = file + record;
        if (read32(zip64 + 16) != 0 || read32(zip64 + 20) != 0) return fail(sink, kErrZipDirectory);
        directory->count = read64(zip64 + 32);
        directory->size = read64(zip64 + 40);
        directory->offset = read64(zip64 + 48);
        directory->end = record;
    } else if ((disk != 0 && disk != 0xFFFF) || (directoryDisk != 0 && directoryDisk != 0xFFFF)) {
        return fail(sink, kErrZipDirectory);
    }
    uint64_t directoryEnd;
    if (addOverflows(directory->offset, directory->size, &directoryEnd) || directoryEnd > directory->end)
        return fail(sink, kErrZipDirectory);
    if (directory->count > kMaxZipEntries) return fail(sink, kErrZipTooManyEntries, nullptr, directory->count, kMaxZipEntries);
    if (directory->count * kCentralSize > directory->size) return fail(sink, kErrZipDirectory);
    return true;
}

// The ZIP64 values of an extra field, for those of the 32-bit fields that are 0xFFFFFFFF.
bool readZip64Extra(const uint8_t* extra, uint32_t length, uint64_t* values[3]) {
    bool found = false;
    for (uint32_t at = 0; at + 4 <= length;) {
        uint16_t id = read16(extra + at), size = read16(extra + at + 2);
        if (at + 4 + size > length) return false;
        if (id == kZip64ExtraId) {
            uint32_t field = at + 4, fieldEnd = at + 4 + size;
            for (int i = 0; i < 3; ++i) {
                if (*values[i] != kMissing32) continue;
                if (field + 8 > fieldEnd) return false;
                *values[i] = read64(extra + field);
                field += 8;
            }
            found = true;
        }
        at += 4 + size;
    }
    // A value still missing has no extra field to take it from.
    for (int i = 0; i < 3; ++i)
        if (*values[i] == kMissing32 && !found) return false;
    return true;
}

bool readCentralHeader(const uint8_t* file, uint64_t* cursor, uint64_t directoryEnd, ZipEntry* entry,
                       const MessageSink* sink) {
    const uint8_t* at = file + *cursor;
    if (directoryEnd - *cursor < kCentralSize || read32(at) != kCentralSignature) return fail(sink, kErrZipDirectory);
    uint32_t nameLength = read16(at + 28), extraLength = read16(at + 30), commentLength = read16(at + 32);
    uint64_t total = kCentralSize + nameLength + extraLength + commentLength;
    if (directoryEnd - *cursor < total) return fail(sink, kErrZipDirectory);
    entry->name = at + kCentralSize;
    entry->nameLength = nameLength;
    entry->flags = read16(at + 8);
    entry->method = read16(at + 10);
    entry->crc = read32(at + 16);
    entry->compressedSize = read32(at + 20);
    entry->uncompressedSize = read32(at + 24);
    entry->headerOffset = read32(at + 42);
    uint64_t* values[3] = {&entry->uncompressedSize, &entry->compressedSize, &entry->headerOffset};
    if (!readZip64Extra(at + kCentralSize + nameLength, extraLength, values)) return fail(sink, kErrZipDirectory);
    *cursor += total;
    return true;
}

// The local header must be in the file, name the entry and agree with the
// directory; the data must lie between it and the directory.
bool checkLocalHeader(const uint8_t* file, const Directory& directory, ZipEntry* entry, const MessageSink* sink) {
    uint64_t offset = entry->headerOffset;
    if (offset > directory.offset || directory.offset - offset < kLocalSize || read32(file + offset) != kLocalSignature)
        return fail(sink, kErrZipOutside, entry);
    const uint8_t* local = file + offset;
    uint32_t nameLength = read16(local + 26), extraLength = read16(local + 28);
    uint64_t dataOffset = offset + kLocalSize + nameLength + extraLength;
    uint64_t dataEnd;
    if (dataOffset > directory.offset || addOverflows(dataOffset, entry->compressedSize, &dataEnd) ||
        dataEnd > directory.offset)
        return fail(sink, kErrZipOutside, entry);
    entry->dataOffset = dataOffset;
    if (nameLength != entry->nameLength || memcmp(local + kLocalSize, entry->name, nameLength) != 0 ||
        read16(local + 8) != entry->method)
        return fail(sink, kErrZipHeadersDisagree, entry);
    if (entry->flags & kFlagDescriptor) return true;  // sizes and CRC follow the data
    uint64_t uncompressed = read32(local + 22), compressed = read32(local + 18), unused = 0;
    uint64_t* values[3] = {&uncompressed, &compressed, &unused};
    if (!readZip64Extra(local + kLocalSize + nameLength, extraLength, values) || read32(local + 14) != entry->crc ||
        compressed != entry->compressedSize || uncompressed != entry->uncompressedSize)
        return fail(sink, kErrZipHeadersDisagree, entry);
    return true;
}

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The next byte of a part name: %XX unescaped, ASCII letters in lower case.
struct NameReader {
    const uint8_t* at;
    const uint8_t* end;
    bool more() const { return at != end; }
    uint8_t next() {
        uint8_t c = *at++;
        if (c == '%' && end - at >= 2 && hexValue(at[0]) >= 0 && hexValue(at[1]) >= 0) {
            c = static_cast<uint8_t>(hexValue(at[0]) << 4 | hexValue(at[1]));
            at += 2;
        }
        return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c | 0x20) : c;
    }
};

NameReader nameReader(const uint8_t* name, uint32_t length) {
    NameReader reader{name, name + length};
    if (reader.more() && *reader.at == '/') ++reader.at;
    return reader;
}

int compareNames(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
    NameReader x = nameReader(a, aLength), y = nameReader(b, bLength);
    while (x.more() && y.more()) {
        uint8_t p = x.next(), q = y.next();
        if (p != q) return p < q ? -1 : 1;
    }
    return x.more() ? 1 : y.more() ? -1 : 0;
}

bool nameBefore(const ZipEntry& a, const ZipEntry& b) {
    return compareNames(a.name, a.nameLength, b.name, b.nameLength) < 0;
}

// No two entries share a byte of the file, headers included.
bool checkOverlaps(const ZipArchive* archive, HeapHandle heap, const MessageSink* sink) {
    uint32_t count = archive->entryCount;
    if (count < 2) return true;
    const ZipEntry** order = static_cast<const ZipEntry**>(allocArray(heap, count, sizeof(ZipEntry*), sink));
    if (!order) return false;
    for (uint32_t i = 0; i < count; ++i) order[i] = archive->entries + i;
    heapSort(order, count, [](const ZipEntry* a, const ZipEntry* b) { return a->headerOffset < b->headerOffset; });
    bool apart = true;
    for (uint32_t i = 0; apart && i + 1 < count; ++i)
        if (order[i]->dataOffset + order[i]->compressedSize > order[i + 1]->headerOffset)
            apart = fail(sink, kErrZipOverlap, order[i + 1]);
    heapFree(heap, order);
    return apart;
}

}  // namespace

CountedText entryName(const ZipEntry* entry) {
    return CountedText{reinterpret_cast<const char*>(entry->name), entry->nameLength, 65001};
}

bool looksLikeZip(const uint8_t* file, uint64_t size) {
    return size >= kLocalSize && read32(file) == kLocalSignature;
}

uint64_t zipBudget(uint64_t fileSize) {
    uint64_t budget;
    if (multiplyOverflows(fileSize, kBudgetRatio, &budget)) budget = UINT64_MAX;
    if (budget < kSmallestBudget) budget = kSmallestBudget;
    uint64_t memory = physicalMemoryBytes() / 4;
    return memory && memory < budget ? memory : budget;
}

bool openZipArchive(ZipArchive* archive, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink) {
    archive->file = file;
    archive->size = size;
    archive->entries = nullptr;
    archive->entryCount = 0;
    Directory directory;
    if (!readDirectory(file, size, &directory, sink)) return false;
    uint32_t count = static_cast<uint32_t>(directory.count);
    ZipEntry* entries = nullptr;
    if (count) {
        entries = static_cast<ZipEntry*>(allocArray(heap, count, sizeof(ZipEntry), sink));
        if (!entries) return false;
    }
    archive->entries = entries;
    uint64_t cursor = directory.offset, directoryEnd = directory.offset + directory.size;
    bool read = true;
    for (uint32_t i = 0; read && i < count; ++i)
        read = readCentralHeader(file, &cursor, directoryEnd, entries + i, sink) &&
               checkLocalHeader(file, directory, entries + i, sink);
    archive->entryCount = count;
    if (read) read = checkOverlaps(archive, heap, sink);
    if (read) {
        heapSort(entries, count, nameBefore);
        for (uint32_t i = 0; read && i + 1 < count; ++i)
            if (!nameBefore(entries[i], entries[i + 1])) read = fail(sink, kErrZipDuplicate, entries + i + 1);
    }
    if (!read) {
        heapFree(heap, entries);
        archive->entries = nullptr;
        archive->entryCount = 0;
    }
    return read;
}

const ZipEntry* findZipEntry(const ZipArchive* archive, const char* name, uint32_t length) {
    const uint8_t* key = reinterpret_cast<const uint8_t*>(name);
    uint32_t low = 0, high = archive->entryCount;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        const ZipEntry& entry = archive->entries[middle];
        int order = compareNames(entry.name, entry.nameLength, key, length);
        if (order == 0) return &entry;
        if (order < 0) low = middle + 1;
        else high = middle;
    }
    return nullptr;
}

namespace {

void inflateEntry(void* context) {
    ZipReading* reading = static_cast<ZipReading*>(context);
    const ZipEntry* entry = reading->entry;
    size_t size = static_cast<size_t>(entry->uncompressedSize);
    size_t consumed;
    reading->result = inflateRaw(reading->archive->file + entry->dataOffset, static_cast<size_t>(entry->compressedSize),
                                 reading->bytes, size, &consumed, &reading->ready);
    reading->crcMatches = reading->result == kInflateDone && updateCrc32(0, reading->bytes, size) == entry->crc;
    storeRelease64(&reading->done, 1);
}

}  // namespace

bool startZipReading(ZipReading* reading, const ZipArchive* archive, const ZipEntry* entry, HeapHandle heap,
                     uint64_t* budget, const MessageSink* sink) {
    reading->archive = archive;
    reading->entry = entry;
    reading->bytes = nullptr;
    reading->ready = 0;
    reading->done = 0;
    reading->thread = nullptr;
    if (entry->flags & kFlagEncrypted) return fail(sink, kErrZipEncrypted, entry);
    if (entry->method != 0 && entry->method != 8) return fail(sink, kErrZipMethod, entry, entry->method);
    uint64_t size = entry->uncompressedSize;
    if (size > *budget || size > SIZE_MAX - kZipPadding) return fail(sink, kErrZipBudget, entry, size, *budget);
    if (entry->method == 0 && entry->compressedSize != size) return fail(sink, kErrZipHeadersDisagree, entry);
    reading->bytes = static_cast<uint8_t*>(allocArray(heap, size + kZipPadding, 1, sink));
    if (!reading->bytes) return false;
    *budget -= size;
    memset(reading->bytes + size, 0, kZipPadding);
    if (entry->method == 0) {
        memcpy(reading->bytes, archive->file + entry->dataOffset, static_cast<size_t>(size));
        reading->result = kInflateDone;
        reading->crcMatches = updateCrc32(0, reading->bytes, static_cast<size_t>(size)) == entry->crc;
        reading->ready = size;
        reading->done = 1;
        return true;
    }
    // Small entries are not worth a thread.
    constexpr uint64_t kThreadWorthy = uint64_t{1} << 20;
    if (size >= kThreadWorthy) reading->thread = startThread(inflateEntry, reading);
    if (!reading->thread) inflateEntry(reading);
    return true;
}

uint64_t waitForZipBytes(ZipReading* reading, uint64_t have, bool* done) {
    for (uint32_t spins = 0;; ++spins) {
        // done first: after it, ready holds its last value.
        bool finished = loadAcquire64(&reading->done) != 0;
        uint64_t ready = loadAcquire64(&reading->ready);
        if (ready > have || finished) {
            *done = finished;
            return ready;
        }
        if (spins < 64) STLV_PAUSE();
        else yieldProcessor();
    }
}

bool finishZipReading(ZipReading* reading, HeapHandle heap, const MessageSink* sink) {
    if (reading->thread) joinThread(reading->thread);
    reading->thread = nullptr;
    bool good = true;
    if (reading->result != kInflateDone) good = fail(sink, kErrZipInflate, reading->entry, reading->result);
    else if (!reading->crcMatches) good = fail(sink, kErrZipCrc, reading->entry);
    if (!good) {
        heapFree(heap, reading->bytes);
        reading->bytes = nullptr;
    }
    return good;
}

uint8_t* readZipEntry(const ZipArchive* archive, const ZipEntry* entry, HeapHandle heap, uint64_t* budget,
                      const MessageSink* sink) {
    ZipReading reading;
    if (!startZipReading(&reading, archive, entry, heap, budget, sink)) return nullptr;
    return finishZipReading(&reading, heap, sink) ? reading.bytes : nullptr;
}
