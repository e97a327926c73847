// Files made to hurt the reader: blocks by the hundred thousand, text that is
// all whitespace, names and lines of megabytes, thousands of "solid" lines.
// Each must end in a clean load or a clean refusal, with few heap requests
// and a bounded peak of heap use.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/load_driver.h"
#include "stl/ascii_parser.h"
#include "tests/test_files.h"

namespace {

std::string facet(const std::string& x = "1") {
    return "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex " + x +
           " 0 0\n  vertex 0 2 3\n endloop\nendfacet\n";
}

// A solid of the name holding one facet.
std::string oneFacet(const std::string& x, const std::string& name = "b") {
    return "solid " + name + "\n" + facet(x) + "endsolid " + name + "\n";
}

TEST(HostileBinary, ZerosAfterABlockAreManyEmptySolids) {
    // Every four zero bytes after a block are one more empty block, so a few
    // megabytes hold a hundred thousand solids. The solids array must grow
    // geometrically: one record at a time copies it over and over (quadratic).
    const uint32_t blocks = 100000;
    uint64_t requestsBefore = heapRequestCount();
    Loaded load(binaryStl({unitTriangle()}) + std::string(4 * size_t{blocks}, '\0'));
    EXPECT_LT(heapRequestCount() - requestsBefore, 100u);
    ASSERT_TRUE(load.loaded());
    EXPECT_EQ(+load.part.mesh.solidCount, blocks + 1);
    EXPECT_EQ(+load.solid(blocks).triangleCount, 0u);
    EXPECT_EQ(+load.gpu->triangleCount, 1u);
}

// One solid with its name and its facet's second vertex, or a refusal.
TEST(HostileAscii, HugeRunsLoadOrAreRefused) {
    const size_t mega = size_t{4} << 20;
    const std::string digits(mega, '7'), longName = "N" + std::string(65534, 'n') + "e";
    std::string solids;
    for (int i = 0; i < 100000; ++i) solids += "solid ";
    struct Case {
        const char* what;
        std::string text;
        std::string name;
        int triangles;  // -1: refused
        float x;
    };
    const Case cases[] = {
        {"megabytes of blanks and line ends", "solid\n" + std::string(mega, ' ') + std::string(mega, '\n'), "", 0, 0},
        {"megabytes of tabs", "solid" + std::string(mega, '\t'), "", 0, 0},
        {"name of 64 KiB", oneFacet("1", longName), longName, 1, 1},
        {"name of megabytes", oneFacet("1", digits), digits, 1, 1},
        {"solid repeated on the name line", oneFacet("1", solids), solids, 1, 1},
        {"blanks between numbers", "solid b\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex" +
                                       std::string(mega, ' ') + "4" + std::string(mega, '\t') +
                                       "0 0\nvertex 0 2 3\nendloop\nendfacet\nendsolid b\n",
         "b", 1, 4},
        {"integer of megabytes", oneFacet(digits), "b", 1, INFINITY},
        {"fraction of megabytes", oneFacet("0." + digits), "b", 1, 0.7777778f},
        {"exponent of megabytes", oneFacet("1e" + digits), "b", 1, INFINITY},
        {"negative exponent of megabytes", oneFacet("1e-" + digits), "b", 1, 0},
        {"leading zeros of megabytes", oneFacet(std::string(mega, '0') + "3"), "b", 1, 3},
        {"zeros after the point", oneFacet("0." + std::string(mega, '0') + "1"), "b", 1, 0},
        {"endsolid line of megabytes", "solid b\n" + facet() + "endsolid b" + std::string(mega, '#') + "\n", "b", 1, 1},
        {"junk line of megabytes", "solid b\n" + facet() + std::string(mega, 'x') + "\nendsolid b\n", "", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(c.text);
        EXPECT_EQ(+load.part.format, kFormatAscii);
        ASSERT_EQ(load.loaded(), c.triangles >= 0);
        EXPECT_EQ(load.messages.inner.count("STL warning: an 'endsolid' line does not repeat the name of its solid"), 0u);
        if (c.triangles < 0) {
            EXPECT_EQ(load.lines(), std::vector<Text>{widenAscii(
                                        "STL error: expected either 'facet' or 'endsolid' keyword; aborting")});
            continue;
        }
        ASSERT_EQ(+load.part.mesh.solidCount, 1u);
        EXPECT_EQ(load.name(0), c.name);
        ASSERT_EQ(+load.solid(0).triangleCount, uint32_t(c.triangles));
        if (c.triangles) EXPECT_EQ(+load.solid(0).triangles[0].vertices[1][0], c.x);
    }
}

TEST(HostileAscii, ThousandsOfSolidLinesInARow) {
    // Each "solid" line ends the solid before it with a warning; the last one ends with the text.
    const uint32_t solids = 20000;
    std::string text;
    for (uint32_t i = 0; i < solids; ++i) text += "solid\n";
    uint64_t requestsBefore = heapRequestCount();
    Loaded load(text);
    // The solids array grows geometrically and empty solids reserve little.
    EXPECT_LT(heapRequestCount() - requestsBefore, 3 * uint64_t{solids});
    ASSERT_TRUE(load.loaded());
    EXPECT_EQ(+load.part.mesh.solidCount, solids);
    EXPECT_EQ(load.lines().size(), uint64_t{solids} + 3);  // every end, no triangles, the unit and space defaults
    EXPECT_EQ(load.messages.inner.count("STL warning: found 'end solid' instead of 'endsolid'"), solids - 1);
}

TEST(HostileAscii, PeakHeapUseStaysWithinAFewTimesTheFileSize) {
    const size_t megabytes = size_t{6} << 20;
    auto repeated = [&](const std::string& head, const std::string& unit) {
        std::string text = head;
        while (text.size() + unit.size() <= megabytes) text += unit;
        return text;
    };
    const std::string name(megabytes / 2, 'n');
    const std::string texts[] = {
        repeated("", "solid\n"),
        repeated("", "solid\nendsolid\n"),
        repeated("", "solid x\nendsolid x\n"),
        repeated("", "solid\nfacet normal 0-0-0 endfacet\n"),
        repeated("solid\n", "facet normal 0-0-0 endfacet\n"),
        repeated("solid\n", "facet normal 0 0 1 outer loop vertex 0 0 0vertex 1 0 0vertex 0 1 0 endloop endfacet\n"),
        oneFacet("1", name),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        HeapHandle heap = createPrivateHeap();
        StlMesh mesh{};
        uint64_t before = heapBytesInUse();
        resetHeapBytesPeak();
        ASSERT_TRUE(parseAsciiStl(&mesh, reinterpret_cast<const uint8_t*>(text.data()), text.size(), heap, nullptr));
        uint64_t peak = heapBytesPeak() - before;
        size_t solids = 0;
        for (size_t at = 0; at != std::string::npos; at = text.find("\nsolid", at + 1)) ++solids;
        EXPECT_EQ(mesh.solidCount, solids);
        EXPECT_LE(peak, 8 * text.size()) << "peak " << peak << " for " << text.size() << " bytes";
        destroyPrivateHeap(heap);
        EXPECT_EQ(heapBytesInUse(), before);
    }
}

}  // namespace
