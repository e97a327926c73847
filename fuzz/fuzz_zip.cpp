// The ZIP reader with inflate on raw bytes: every entry of an archive it
// opens is read under a budget, and must be exactly its stated size with
// zero padding; a refused archive or entry always says why. The bytes are
// also decoded as one raw deflate stream into a buffer of a size they give.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "package/inflate.h"
#include "package/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HeapHandle heap = createPrivateHeap();
    FUZZ_CHECK(heap != nullptr);
    ConvertedLines lines;
    ZipArchive archive;
    if (openZipArchive(&archive, data, size, heap, lines.producerSink())) {
        uint64_t budget = uint64_t{64} << 20;
        for (uint32_t i = 0; i < archive.entryCount; ++i) {
            const ZipEntry* entry = archive.entries + i;
            FUZZ_CHECK(entry->name >= data && entry->name + entry->nameLength <= data + size);
            FUZZ_CHECK(entry->dataOffset <= size && entry->compressedSize <= size - entry->dataOffset);
            FUZZ_CHECK(findZipEntry(&archive, reinterpret_cast<const char*>(entry->name), entry->nameLength) == entry);
            uint64_t before = budget, reported = lines.counter.lines;
            uint8_t* bytes = readZipEntry(&archive, entry, heap, &budget, lines.producerSink());
            if (!bytes) {
                FUZZ_CHECK(lines.counter.lines > reported);
                continue;
            }
            FUZZ_CHECK(before - budget == entry->uncompressedSize);
            for (uint64_t p = 0; p < kZipPadding; ++p) FUZZ_CHECK(bytes[entry->uncompressedSize + p] == 0);
            heapFree(heap, bytes);
        }
    } else {
        FUZZ_CHECK(lines.counter.lines > 0);
    }
    if (size >= 2) {
        size_t outputSize = (size_t{data[0]} << 8 | data[1]) * 4;
        uint8_t* output = static_cast<uint8_t*>(heapAlloc(heap, outputSize + 1));
        size_t consumed;
        InflateResult result = inflateRaw(data + 2, size - 2, output, outputSize, &consumed, nullptr);
        FUZZ_CHECK(result <= kInflateTooShort);
        FUZZ_CHECK(consumed <= size - 2);
    }
    destroyPrivateHeap(heap);
    return 0;
}
