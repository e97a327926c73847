// 3MF files made to hurt the reader: a ZIP bomb, ZIP64 sizes of 2^63, an
// attribute of 100 MB, components nested a million deep, a million build
// items. Each ends in a clean load or a clean refusal, in bounded memory.
#include <gtest/gtest.h>

#include <string>

#include "tests/load_driver.h"
#include "tests/package_files.h"

namespace {

bool hasLine(const Loaded& load, const std::string& text) {
    for (const Text& line : load.lines())
        if (line.find(widenAscii(text)) != Text::npos) return true;
    return false;
}

// A deflate stream of fixed codes: one zero, then copies of 258 bytes from one back.
std::string zeroBomb(uint64_t copies) {
    std::string out;
    uint64_t bits = 0;
    uint32_t count = 0;
    auto put = [&](uint32_t value, uint32_t length, bool huffman) {
        for (uint32_t i = 0; i < length; ++i) {
            uint32_t bit = huffman ? value >> (length - 1 - i) & 1 : value >> i & 1;
            bits |= uint64_t{bit} << count;
            if (++count == 8) {
                out.push_back(static_cast<char>(bits));
                bits = count = 0;
            }
        }
    };
    put(1, 1, false);
    put(1, 2, false);
    put(0x30, 8, true);  // literal 0
    for (uint64_t i = 0; i < copies; ++i) {
        put(0xC5, 8, true);  // length 258
        put(0, 5, true);     // distance 1
    }
    put(0, 7, true);
    if (count) out.push_back(static_cast<char>(bits));
    return out;
}

std::string packageWithModelStream(const std::string& stream, uint32_t statedSize) {
    return zipArchive({{"[Content_Types].xml", contentTypes()},
                       {"_rels/.rels", rootRelationships()},
                       {"3D/3dmodel.model", "x", true, stream, 0, int64_t{statedSize} - 1}});
}

TEST(HostilePackage, ZipBombIsRefusedBeforeItInflates) {
    std::string bomb = zeroBomb(3000);  // about 5 KB that inflate to 774 KB
    struct {
        const char* what;
        uint32_t stated;
        const char* line;
    } cases[] = {
        {"stating a gigabyte", 1u << 30, "would inflate to 1073741824 bytes, more than the "},
        {"stating a kilobyte", 1024, "it gives more bytes than the entry states"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        resetHeapBytesPeak();
        uint64_t before = heapBytesInUse();
        Loaded load(packageWithModelStream(bomb, c.stated));
        EXPECT_FALSE(load.loaded());
        EXPECT_TRUE(hasLine(load, c.line));
        EXPECT_LT(heapBytesPeak() - before, uint64_t{2} << 20);
    }
}

TEST(HostilePackage, Zip64SizesOf2To63AreRefused) {
    std::string file = zipArchive({{"[Content_Types].xml", contentTypes()},
                                   {"_rels/.rels", rootRelationships()},
                                   {"3D/3dmodel.model", "<model/>"}});
    // The model's central header: sizes "in the ZIP64 field", which claims
    // 2^63 bytes; its sizes follow the data (flag 8), so the local header agrees.
    size_t central = file.rfind(std::string("\x50\x4b\x01\x02", 4));
    std::string header = file.substr(central, 46 + 16);
    header[8] = 8;
    size_t local = static_cast<uint8_t>(header[42]) | static_cast<uint8_t>(header[43]) << 8;
    file[local + 6] = 8;
    header.replace(24, 4, "\xFF\xFF\xFF\xFF");
    std::string extra;
    put16(&extra, 1);
    put16(&extra, 8);
    put64(&extra, uint64_t{1} << 63);
    header.replace(30, 2, std::string("\x0C\x00", 2));
    std::string patched = file.substr(0, central) + header + extra + file.substr(central + header.size());
    size_t end = patched.size() - 22;
    patched[end + 12] = static_cast<char>(patched[end + 12] + extra.size());
    Loaded load(patched);
    EXPECT_FALSE(load.loaded());
    EXPECT_TRUE(hasLine(load, "3MF error: 3D/3dmodel.model: the entry would inflate to 9223372036854775808 bytes"));
    // A ZIP64 end record whose directory is 2^63 bytes long.
    std::string zip64;
    put32(&zip64, 0x06064b50);
    put64(&zip64, 44);
    put32(&zip64, 45 | 45 << 16);
    put64(&zip64, 0);
    put64(&zip64, 3);
    put64(&zip64, 3);
    put64(&zip64, uint64_t{1} << 63);
    put64(&zip64, 0);
    std::string locator;
    put32(&locator, 0x07064b50);
    put32(&locator, 0);
    put64(&locator, file.size() - 22);
    put32(&locator, 1);
    Loaded lying(file.substr(0, file.size() - 22) + zip64 + locator + file.substr(file.size() - 22));
    EXPECT_FALSE(lying.loaded());
    EXPECT_TRUE(hasLine(lying, "3MF error: the ZIP central directory is damaged; aborting"));
}

TEST(HostilePackage, AnAttributeOf100MegabytesIsRead) {
    std::string junk(size_t{100} << 20, 'n');
    std::string model = modelXml("<resources>" + tetrahedronObject(1, " junk=\"" + junk + "\"") +
                                 "</resources><build><item objectid=\"1\"/></build>");
    junk.clear();
    junk.shrink_to_fit();
    Loaded load(package3mf(model, {}, false));
    EXPECT_TRUE(load.loaded());
    EXPECT_EQ(load.gpu->facts.triangleCount, 4u);
}

TEST(HostilePackage, ComponentsAMillionDeepAreRefused) {
    std::string objects = tetrahedronObject(1);
    const int depth = 1000000;
    objects.reserve(size_t{depth} * 80);
    for (int i = 2; i <= depth; ++i)
        objects += "<object id=\"" + std::to_string(i) + "\"><components><component objectid=\"" + std::to_string(i - 1) +
                   "\"/></components></object>";
    Loaded load(package3mf(modelXml("<resources>" + objects + "</resources><build><item objectid=\"" +
                                    std::to_string(depth) + "\"/></build>"), {}, false));
    EXPECT_FALSE(load.loaded());
    EXPECT_TRUE(hasLine(load, "components nest more than 64 levels deep; aborting"));
}

TEST(HostilePackage, AMillionBuildItemsOfOneTriangle) {
    std::string items;
    const uint32_t count = 1000000;
    items.reserve(size_t{count} * 20);
    for (uint32_t i = 0; i < count; ++i) items += "<item objectid=\"1\"/>";
    std::string triangle = "<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/>"
                           "<vertex x=\"0\" y=\"1\" z=\"0\"/></vertices><triangles><triangle v1=\"0\" v2=\"1\" v3=\"2\"/>"
                           "</triangles></mesh></object>";
    Loaded load(package3mf(modelXml("<resources>" + triangle + "</resources><build>" + items + "</build>"), {}, false));
    ASSERT_TRUE(load.loaded());
    EXPECT_EQ(load.part.mesh.solidCount, count);
    EXPECT_EQ(load.gpu->facts.triangleCount, count);
    EXPECT_EQ(load.name(count - 1), "Object 1000000");
}

}  // namespace
