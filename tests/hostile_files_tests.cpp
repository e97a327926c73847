// Files made to hurt the reader: counts that overflow, blocks that claim more
// than the file holds, odd sizes, text that is all whitespace, names and
// lines of megabytes, thousands of "solid" lines. Each must end in a clean
// load or a clean refusal, with the messages a user would see.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/load_driver.h"
#include "stl/ascii_parser.h"
#include "tests/test_files.h"

namespace {

std::string header80(const std::string& text = "") {
    std::string bytes = text;
    bytes.resize(80, '\0');
    return bytes;
}

std::string facet(const std::string& x = "1") {
    return "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex " + x +
           " 0 0\n  vertex 0 2 3\n endloop\nendfacet\n";
}

const char kTruncatedTriangles[] = "STL error: unexpected end of file in triangles; aborting";
const char kUnexpectedEnd[] = "STL warning: unexpected end of file";
const char kEndSpaceSolid[] = "STL warning: found 'end solid' instead of 'endsolid'";

// --- binary block structure ---

TEST(HostileBinary, ALaterBlockClaimingMoreThanTheFileHoldsLoadsNothing) {
    for (uint32_t claimed : {2u, 1000u, 85899346u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        std::string bytes = binaryStl({unitTriangle(0), unitTriangle(1)}, "two good, then a lie");
        appendUint32(&bytes, claimed);
        appendTriangle(&bytes, unitTriangle(2));  // one record, and 2 bytes of the next
        bytes += std::string(2, '\0');
        Loaded load(bytes);
        EXPECT_EQ(+load.format, kFormatBinary);
        EXPECT_FALSE(load.loaded());
        ASSERT_EQ(load.lines().size(), 1u);
        EXPECT_EQ(load.lines()[0], widenAscii(kTruncatedTriangles));
    }
}

TEST(HostileBinary, EightyFourBytesAndOneToThreeMore) {
    // An odd size is a block and stray bytes; an even surplus after an empty block is not binary,
    // and a count beyond the bytes is a file cut short.
    for (uint32_t count : {0u, 1u}) {
        for (size_t extra = 1; extra <= 3; ++extra) {
            SCOPED_TRACE(testing::Message() << "count " << count << ", " << extra << " more bytes");
            std::string bytes = header80();
            appendUint32(&bytes, count);
            bytes += std::string(extra, '\0');
            Loaded load(bytes);
            EXPECT_EQ(+load.format, count == 0 && extra != 2 ? kFormatBinary : kFormatNone);
        }
    }
    for (size_t extra = 1; extra <= 3; ++extra) {
        SCOPED_TRACE(testing::Message() << "one triangle and " << extra << " more bytes");
        Loaded load(binaryStl({unitTriangle()}) + std::string(extra, '\0'));
        ASSERT_TRUE(load.loaded());
        EXPECT_EQ(+load.solid(0).triangleCount, 1u);
    }
}

TEST(HostileBinary, ZerosAfterABlockAreManyEmptySolids) {
    // Every four zero bytes after a block are one more empty block, so a
    // file can hold millions of solids in a few megabytes. The solids array
    // must grow geometrically: growing it one record at a time copies it over
    // and over (quadratic time).
    const uint32_t blocks = 100000;
    std::string bytes = binaryStl({unitTriangle()}) + std::string(4 * size_t{blocks}, '\0');
    uint64_t requestsBefore = heapRequestCount();
    Loaded load(bytes);
    uint64_t requests = heapRequestCount() - requestsBefore;
    ASSERT_TRUE(load.loaded());
    EXPECT_EQ(+load.part.mesh.solidCount, blocks + 1);
    EXPECT_EQ(+load.solid(0).triangleCount, 1u);
    EXPECT_EQ(+load.solid(blocks).triangleCount, 0u);
    EXPECT_EQ(+load.gpu->vertexCount, 3u);
    EXPECT_LT(requests, 100u);
}

// --- text that is mostly nothing ---

TEST(HostileAscii, OnlyWhitespaceAfterSolid) {
    for (const std::string& text : {std::string("solid         "), std::string("solid\n\n\n\n\n\n\n\n\n"),
                                    std::string("solid \t\r\n\v\f \t\r\n\v\f"),
                                    "solid\n" + std::string(1 << 20, ' ') + std::string(1 << 20, '\n'),
                                    "solid" + std::string(3 << 20, '\t')}) {
        SCOPED_TRACE(text.size());
        Loaded load(text);
        EXPECT_EQ(+load.format, kFormatAscii);
        ASSERT_TRUE(load.loaded());
        ASSERT_EQ(+load.part.mesh.solidCount, 1u);
        EXPECT_EQ(+load.solid(0).triangleCount, 0u);
        EXPECT_EQ(load.name(0), "");
        EXPECT_EQ(load.messages.inner.count(kUnexpectedEnd), 1u);
        for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(+load.gpu->boundsMax[axis], 0.000001f);
    }
}

// --- names and lines of megabytes ---

TEST(HostileAscii, NamesOfSixtyFourKibibytesAndMore) {
    for (size_t length : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{4} << 20}) {
        SCOPED_TRACE(length);
        std::string name(length, 'n');
        name[0] = 'N';
        name[length - 1] = 'e';
        Loaded load("solid " + name + "\n" + facet() + "endsolid " + name + "\n");
        ASSERT_TRUE(load.loaded());
        EXPECT_EQ(load.name(0), name);
        EXPECT_EQ(+load.solid(0).triangleCount, 1u);
        EXPECT_EQ(load.messages.inner.count("STL warning: missing 'endsolid (name)'"), 0u);
    }
}

TEST(HostileAscii, LinesOfMegabytes) {
    const size_t mega = size_t{4} << 20;
    struct Case {
        const char* what;
        std::string text;
        bool loads;
        float x;  // second vertex x when it loads
    };
    const std::string digits(mega, '7');
    std::vector<Case> cases = {
        {"blanks between numbers", "solid b\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex" +
                                       std::string(mega, ' ') + "4" + std::string(mega, '\t') + "0 0\n" +
                                       "vertex 0 2 3\nendloop\nendfacet\nendsolid b\n",
         true, 4.0f},
        {"integer of megabytes", "solid b\n" + facet(digits) + "endsolid b\n", true, INFINITY},
        {"fraction of megabytes", "solid b\n" + facet("0." + digits) + "endsolid b\n", true, 0.7777778f},
        {"exponent of megabytes", "solid b\n" + facet("1e" + digits) + "endsolid b\n", true, INFINITY},
        {"negative exponent of megabytes", "solid b\n" + facet("1e-" + digits) + "endsolid b\n", true, 0.0f},
        {"leading zeros of megabytes", "solid b\n" + facet(std::string(mega, '0') + "3") + "endsolid b\n", true, 3.0f},
        {"zeros after the point", "solid b\n" + facet("0." + std::string(mega, '0') + "1") + "endsolid b\n", true,
         0.0f},
        {"endsolid line of megabytes", "solid b\n" + facet() + "endsolid b" + std::string(mega, '#') + "\n", true, 1.0f},
        {"junk line of megabytes", "solid b\n" + facet() + std::string(mega, 'x') + "\nendsolid b\n", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(c.text);
        EXPECT_EQ(+load.format, kFormatAscii);
        ASSERT_EQ(load.loaded(), c.loads);
        if (!c.loads) {
            ASSERT_EQ(load.lines().size(), 1u);
            EXPECT_EQ(load.lines()[0],
                      widenAscii("STL error: expected either 'facet' or 'endsolid' keyword; aborting"));
            continue;
        }
        ASSERT_EQ(+load.solid(0).triangleCount, 1u);
        EXPECT_EQ(+load.solid(0).triangles[0].vertices[1][0], c.x);
    }
}

// --- many solids ---

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
    EXPECT_EQ(load.lines().size(), uint64_t{solids} + 2);  // every end, then the unit and space defaults
    EXPECT_EQ(load.messages.inner.count(kEndSpaceSolid), solids - 1);
}

TEST(HostileAscii, ThousandsOfSmallSolids) {
    const uint32_t solids = 3000;
    std::string text;
    for (uint32_t i = 0; i < solids; ++i) text += "solid s\n" + facet() + "endsolid s\n";
    Loaded load(text);
    ASSERT_TRUE(load.loaded());
    ASSERT_EQ(+load.part.mesh.solidCount, solids);
    EXPECT_EQ(+load.gpu->vertexCount, 3 * solids);
    EXPECT_EQ(+load.gpu->ranges[solids - 1].firstVertex, 3 * (solids - 1));
}

TEST(HostileAscii, SolidRepeatedOnOneLineIsOneName) {
    std::string line;
    for (int i = 0; i < 100000; ++i) line += "solid ";
    Loaded load(line + "\n" + facet() + "endsolid " + line + "\n");
    ASSERT_TRUE(load.loaded());
    ASSERT_EQ(+load.part.mesh.solidCount, 1u);
    EXPECT_EQ(load.name(0).size(), line.size() - 6);
}

// --- heap use ---

intptr_t discardReports(void*, StatusCode, uintptr_t, const Utf16*) {
    return 1;
}

TEST(HostileAscii, PeakHeapUseStaysWithinAFewTimesTheFileSize) {
    const size_t megabytes = size_t{6} << 20;
    auto repeated = [&](const std::string& head, const std::string& unit) {
        std::string text = head;
        while (text.size() + unit.size() <= megabytes) text += unit;
        return text;
    };
    struct Case {
        const char* what;
        std::string text;
    };
    const std::string name(megabytes / 2, 'n');
    const Case cases[] = {
        {"a million solid lines", repeated("", "solid\n")},
        {"empty solids", repeated("", "solid\nendsolid\n")},
        {"empty named solids", repeated("", "solid x\nendsolid x\n")},
        {"solids of one tiny facet", repeated("", "solid\nfacet normal 0-0-0 endfacet\n")},
        {"tiny facets", repeated("solid\n", "facet normal 0-0-0 endfacet\n")},
        {"tightly packed facets", repeated("solid\n", "facet normal 0 0 1 outer loop vertex 0 0 0vertex 1 0 0vertex 0 1 0 "
                                                     "endloop endfacet\n")},
        {"huge names", "solid " + name + "\n" + facet() + "endsolid " + name + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapHandle heap = createPrivateHeap();
        MessageSink sink{nullptr, discardReports};
        StlMesh mesh{};
        uint64_t before = heapBytesInUse();
        resetHeapBytesPeak();
        ASSERT_TRUE(parseAsciiStl(&mesh, reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), heap, &sink));
        uint64_t peak = heapBytesPeak() - before;
        size_t solids = 0;
        for (size_t at = 0; at != std::string::npos; at = c.text.find("\nsolid", at + 1)) ++solids;
        EXPECT_EQ(mesh.solidCount, solids);
        EXPECT_LE(peak, 8 * c.text.size()) << "peak " << peak << " for " << c.text.size() << " bytes";
        destroyPrivateHeap(heap);
        EXPECT_EQ(heapBytesInUse(), before);
    }
}

}  // namespace
