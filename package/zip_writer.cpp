#include "package/zip_writer.h"

#include <cstring>
#include "package/crc32.h"

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint16_t kVersion = 20;  // 2.0: what stored entries need
// 1980-01-01 00:00, the earliest time ZIP holds: a package's bytes then do
// not depend on when it was saved.
constexpr uint16_t kDosDate = 0x21;

void putEntryFields(ByteOutput* out, const ZipWriterEntry& entry) {
    putLittle16(out, kVersion);
    putLittle16(out, 0);  // flags
    putLittle16(out, 0);  // stored
    putLittle16(out, 0);  // time
    putLittle16(out, kDosDate);
    putLittle32(out, entry.crc);
    putLittle32(out, entry.size);
    putLittle32(out, entry.size);
    putLittle16(out, static_cast<uint16_t>(strlen(entry.name)));
    putLittle16(out, 0);  // extra field
}

}  // namespace

void beginZip(ZipWriter* zip, ByteOutput* out) {
    zip->out = out;
    zip->entryCount = 0;
    zip->tooLarge = false;
}

bool beginStoredEntry(ZipWriter* zip, const char* name, uint32_t crc, uint64_t size) {
    uint64_t offset = zip->out->written;
    if (zip->entryCount == kMostZipWriterEntries || size > 0xFFFFFFFFu || offset + size + 30 + strlen(name) > 0xFFFFFFFFu) {
        zip->tooLarge = true;
        return false;
    }
    ZipWriterEntry& entry = zip->entries[zip->entryCount++];
    entry = ZipWriterEntry{name, crc, static_cast<uint32_t>(size), static_cast<uint32_t>(offset)};
    putLittle32(zip->out, kLocalHeader);
    putEntryFields(zip->out, entry);
    putText(zip->out, name);
    return true;
}

bool finishZip(ZipWriter* zip) {
    ByteOutput* out = zip->out;
    uint64_t start = out->written;
    for (uint32_t i = 0; i < zip->entryCount; ++i) {
        const ZipWriterEntry& entry = zip->entries[i];
        putLittle32(out, kCentralHeader);
        putLittle16(out, kVersion);  // made by: MS-DOS attributes
        putEntryFields(out, entry);
        putLittle16(out, 0);  // comment
        putLittle16(out, 0);  // disk
        putLittle16(out, 0);  // internal attributes
        putLittle32(out, 0);  // external attributes
        putLittle32(out, entry.headerOffset);
        putText(out, entry.name);
    }
    uint64_t directory = out->written - start;
    if (start > 0xFFFFFFFFu || out->written > 0xFFFFFFFFu) zip->tooLarge = true;
    putLittle32(out, kEndOfDirectory);
    putLittle16(out, 0);
    putLittle16(out, 0);
    putLittle16(out, static_cast<uint16_t>(zip->entryCount));
    putLittle16(out, static_cast<uint16_t>(zip->entryCount));
    putLittle32(out, static_cast<uint32_t>(directory));
    putLittle32(out, static_cast<uint32_t>(start));
    putLittle16(out, 0);
    return flushBytes(out) && !zip->tooLarge;
}

bool measureForZip(void* context, const uint8_t* bytes, size_t size) {
    ZipMeasure* measure = static_cast<ZipMeasure*>(context);
    measure->crc = updateCrc32(measure->crc, bytes, size);
    measure->size += size;
    return true;
}
