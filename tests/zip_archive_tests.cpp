// The ZIP reader against archives that tell the truth and archives that lie.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/zip_archive.h"
#include "tests/package_files.h"
#include "tests/sink_recorder.h"

namespace {

struct Opened {
    Converter messages;
    HeapHandle heap = createPrivateHeap();
    ZipArchive archive{};
    std::string bytes;
    bool opened = false;

    explicit Opened(std::string file) : bytes(std::move(file)) {
        opened = openZipArchive(&archive, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), heap,
                                messages.producerSink());
    }
    ~Opened() { destroyPrivateHeap(heap); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    // The entry's bytes, or "<refused>".
    std::string read(const std::string& name, uint64_t budget = uint64_t{1} << 30) {
        const ZipEntry* entry = findZipEntry(&archive, name.data(), static_cast<uint32_t>(name.size()));
        if (!entry) return "<missing>";
        uint8_t* data = readZipEntry(&archive, entry, heap, &budget, messages.producerSink());
        if (!data) return "<refused>";
        for (uint64_t i = 0; i < kZipPadding; ++i) EXPECT_EQ(data[entry->uncompressedSize + i], 0);
        return std::string(reinterpret_cast<char*>(data), entry->uncompressedSize);
    }
    std::string lastLine() const {
        std::vector<Text> lines = messages.inner.lines();
        std::string last;
        if (!lines.empty())
            for (Utf16 unit : lines.back()) last.push_back(static_cast<char>(unit));
        return last;
    }
};

TEST(ZipArchive, FindsEntriesAsPartNames) {
    Opened zip(zipArchive({{"3D/3dmodel.model", "model", true}, {"Metadata/thumb nail.png", "png"}, {"a", ""}}));
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zip.read("3D/3dmodel.model"), "model");
    EXPECT_EQ(zip.read("/3d/3DMODEL.model"), "model");
    EXPECT_EQ(zip.read("/Metadata/thumb%20nail.PNG"), "png");
    EXPECT_EQ(zip.read("a"), "");
    EXPECT_EQ(zip.read("3D/3dmodel"), "<missing>");
}

TEST(ZipArchive, RefusesArchivesThatLie) {
    std::string good = zipArchive({{"a.model", "hello world", true}, {"b", "more"}});
    std::string overlapping = good;
    // The second central header's local offset points at the first entry.
    size_t second = overlapping.rfind(std::string("\x50\x4b\x01\x02", 4));
    overlapping.replace(second + 42, 4, std::string("\0\0\0\0", 4));
    std::string outside = good;
    outside.replace(second + 42, 4, std::string("\xF0\xFF\x00\x00", 4));
    std::string noEnd = good.substr(0, good.size() - 22);
    const struct {
        const char* what;
        std::string file;
        const char* line;  // null: the archive opens
        const char* entry;  // read after opening; its line
    } cases[] = {
        {"the central directory cut off", noEnd, "3MF error: no ZIP central directory: the file is damaged or not a 3MF package; aborting", nullptr},
        {"an entry pointing at another's header", overlapping, "3MF error: b: the entry's local header disagrees with the central directory; aborting", nullptr},
        {"an entry past the directory", outside, "3MF error: b: the entry lies outside the file; aborting", nullptr},
        {"two entries of one name", zipArchive({{"A.model", "x"}, {"a.MODEL", "y"}}),
         "3MF error: A.model: the package holds two entries of this name; aborting", nullptr},
        {"a bad CRC", zipArchive({{"a.model", "hello", true, "", 1}}), nullptr,
         "3MF error: a.model: the entry fails its CRC-32 check; aborting"},
        {"a stated size too large", zipArchive({{"a.model", "hello", true, "", 0, 3}}), nullptr,
         "3MF error: a.model: the entry's deflate stream is damaged: it gives fewer bytes than the entry states; aborting"},
        {"a stated size too small", zipArchive({{"a.model", "hello", true, "", 0, -1}}), nullptr,
         "3MF error: a.model: the entry's deflate stream is damaged: it gives more bytes than the entry states; aborting"},
        {"stored sizes that disagree", zipArchive({{"a.model", "hello", false, "", 0, 2}}), nullptr,
         "3MF error: a.model: the entry's local header disagrees with the central directory; aborting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Opened zip(c.file);
        EXPECT_EQ(zip.opened, c.line == nullptr) << zip.lastLine();
        if (c.line) {
            EXPECT_EQ(zip.lastLine(), c.line);
            continue;
        }
        EXPECT_EQ(zip.read("a.model"), "<refused>");
        EXPECT_EQ(zip.lastLine(), c.entry);
    }
}

TEST(ZipArchive, OverlappingEntriesAreRefused) {
    // Entry b's local header and data lie inside entry a's data, each header
    // true to the directory: the overlap that makes small ZIP bombs.
    std::string alone = zipArchive({{"b", "hello"}});
    std::string localB = alone.substr(0, 30 + 1 + 5);
    std::string centralB = alone.substr(localB.size(), 46 + 1);
    std::string file = zipArchive({{"a", localB}});
    size_t end = file.size() - 22;
    centralB.replace(42, 4, std::string("\x1F\0\0\0", 4));  // 30 + the name "a"
    std::string record = file.substr(end);
    record[8] = record[10] = 2;
    record[12] = static_cast<char>(record[12] + centralB.size());
    Opened zip(file.substr(0, end) + centralB + record);
    EXPECT_FALSE(zip.opened);
    EXPECT_EQ(zip.lastLine(), "3MF error: b: the entry overlaps another one; aborting");
}

TEST(ZipArchive, BudgetBoundsWhatAnEntryMayTake) {
    std::string big(100000, 'z');
    Opened zip(zipArchive({{"a.model", big, true}}));
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zip.read("a.model", 99999), "<refused>");
    EXPECT_EQ(zip.lastLine(), "3MF error: a.model: the entry would inflate to 100000 bytes, more than the 99999 this file "
                              "may still take (a ZIP bomb?); aborting");
    EXPECT_EQ(zip.read("a.model", 100000), big);
    EXPECT_EQ(zipBudget(1000), uint64_t{16} << 20);
    uint64_t memory = physicalMemoryBytes();
    if (memory) {
        EXPECT_LE(zipBudget(uint64_t{1} << 40), memory / 4);
    }
}

TEST(ZipArchive, Zip64RecordsGiveTheDirectory) {
    // The end record's fields say "see ZIP64"; the ZIP64 end record and locator hold the values.
    std::string file = zipArchive({{"a.model", "sixty-four", true}});
    size_t end = file.size() - 22;
    std::string directoryFields = file.substr(end + 8, 12);
    uint64_t count = 1, size = static_cast<uint8_t>(directoryFields[4]) | static_cast<uint8_t>(directoryFields[5]) << 8;
    uint64_t offset = static_cast<uint8_t>(directoryFields[8]) | static_cast<uint8_t>(directoryFields[9]) << 8;
    std::string zip64;
    put32(&zip64, 0x06064b50);
    put64(&zip64, 44);
    put16(&zip64, 45);
    put16(&zip64, 45);
    put32(&zip64, 0);
    put32(&zip64, 0);
    put64(&zip64, count);
    put64(&zip64, count);
    put64(&zip64, size);
    put64(&zip64, offset);
    std::string locator;
    put32(&locator, 0x07064b50);
    put32(&locator, 0);
    put64(&locator, end);
    put32(&locator, 1);
    std::string record = file.substr(end);
    record.replace(8, 12, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12));
    Opened zip(file.substr(0, end) + zip64 + locator + record);
    ASSERT_TRUE(zip.opened) << zip.lastLine();
    EXPECT_EQ(zip.read("a.model"), "sixty-four");
}

}  // namespace
