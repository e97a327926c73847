#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/corpus_manifest.h"
#include "tests/exact_bytes.h"
#include "tests/sink_recorder.h"
#include "stl/ascii_parser.h"
#include "stl/binary_parser.h"
#include "stl/format_detection.h"
#include "tests/test_files.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TestTriangle facet(float nx, float ny, float nz, uint16_t attribute = 0) {
    TestTriangle t = unitTriangle(1, attribute);
    t.normal[0] = nx, t.normal[1] = ny, t.normal[2] = nz;
    return t;
}

// Another block after the file's: a count, then the triangles.
std::string operator+(std::string file, const std::vector<TestTriangle>& triangles) {
    appendUint32(&file, static_cast<uint32_t>(triangles.size()));
    for (const TestTriangle& t : triangles) appendTriangle(&file, t);
    return file;
}

std::vector<TestTriangle> uniform(size_t count, TestTriangle t = facet(0, 0, 1)) {
    return std::vector<TestTriangle>(count, t);
}

// Parses a copy of the file held in an exactly sized heap block, so that ASan
// catches any read outside the file; frees the solids afterwards.
struct Parsed {
    ExactBytes file;
    StlMesh mesh{};
    RecordingSink sink;
    bool ok;

    explicit Parsed(const std::string& bytes, intptr_t answer = 1) : file(bytes) {
        sink.answer = answer;
        ok = parseBinaryStl(&mesh, file.data(), file.size(), processHeap(), &sink.sink);
    }
    ~Parsed() { freeMeshSolids(&mesh, processHeap()); }

    // The solid's fields by value: those of packed records do not bind to references.
    struct Solid {
        uint32_t count;
        uint8_t hasColours, hasNormals;
        const uint8_t* records;
    };
    Solid solid(uint32_t i) const {
        const StlSolid& s = mesh.solids[i];
        return {s.triangleCount, s.hasColours, s.hasNormals, reinterpret_cast<const uint8_t*>(s.triangles)};
    }
};

// The format the bytes of a corpus file call for: binary ones have at most one
// stray byte, and one ASCII file has an upper-case "SOLID", which is not STL.
StlFormat expectedFormat(const CorpusEntry& entry) {
    if (entry.format.rfind("binary", 0) == 0) return kFormatBinary;
    size_t start = entry.firstLine.find_first_not_of(' ');
    return entry.firstLine.compare(start, 5, "solid") == 0 ? kFormatAscii : kFormatNone;
}

void expectFailure(const Parsed& parsed, StatusCode code) {
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.mesh.solids, nullptr);
    EXPECT_EQ(uint32_t{parsed.mesh.solidCount}, 0u);
    EXPECT_EQ(parsed.sink.reports(), (std::vector<std::pair<StatusCode, uint64_t>>{{code, 0}}));
    EXPECT_NE(parsed.sink.received.back().backTracePointer, nullptr);
}

}  // namespace

// Each block is one solid whose triangles keep its records' corners and
// attributes (not their normals), with its own flags:
// colours when the low fifteen bits of the attribute words vary, normals when
// a component is not zero. Up to three trailing bytes are ignored, four zeros
// are an empty block.
TEST(BinaryParser, EveryBlockBecomesOneSolid) {
    const float tiny = std::numeric_limits<float>::denorm_min();
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::array<uint32_t, 3>> solids;  // triangles, colours, normals
    };
    const Case cases[] = {
        {"empty", binaryStl({}), {{0, 0, 0}}},
        {"three trailing bytes", binaryStl(uniform(3)) + std::string(3, '\xFF'), {{3, 0, 1}}},
        {"four trailing zeros", binaryStl(uniform(2)) + std::string(4, '\0'), {{2, 0, 1}, {0, 0, 0}}},
        {"four blocks",
         binaryStl({facet(0, 0, 0, 0x001F), facet(0, 0, 0)}) + uniform(0) + uniform(3, facet(0, 0, 1, 0x7FFF)) +
             uniform(1, facet(0, 0, 0)) + std::string(3, '\xAA'),
         {{2, 1, 0}, {0, 0, 0}, {3, 0, 1}, {1, 0, 0}}},
        {"flags per block",
         binaryStl({facet(kNaN, 0, 0, 1)}) + uniform(1, facet(0, 0, 0)) + std::vector{facet(0, 0, 0), facet(0, 0, 2)},
         {{1, 1, 1}, {1, 0, 0}, {2, 0, 1}}},
        {"signed zeros, bit 15", binaryStl({facet(-0.0f, 0, -0.0f, 0x8000), facet(0, -0.0f, 0, 0x8000)}), {{2, 0, 0}}},
        {"all fifteen bits set", binaryStl({facet(0, 0, 0, 0x7FFF), facet(0, 0, 0, 0xFFFF)}), {{2, 0, 0}}},
        {"NaN in the last record", binaryStl({facet(0, 0, 0), facet(0, 0, 0), facet(0, 0, kNaN, 1)}), {{3, 1, 1}}},
        {"none and all bits", binaryStl({facet(0, 0, tiny, 0x8000), facet(0, 0, 0, 0x7FFF)}), {{2, 1, 1}}},
        {"one record with colour", binaryStl({facet(0, 0, 0, 0x8001)}), {{1, 1, 0}}},
        // A value every face shares, and the padding of writers that fill records with text, are no colours.
        {"one colour on every face", binaryStl({facet(0, 0, 0, 0x4E73), facet(0, 0, 0, 0x4E73)}), {{2, 0, 0}}},
        {"two spaces on every face", binaryStl({facet(0, 0, 0, 0x2020), facet(0, 0, 0, 0x2020)}), {{2, 0, 0}}},
        {"two spaces on a lone face", binaryStl({facet(0, 0, 0, 0x2020)}), {{1, 0, 0}}},
        {"two spaces beside one colour", binaryStl({facet(0, 0, 0, 0x2020), facet(0, 0, 0, 0x001F),
                                                    facet(0, 0, 0, 0x001F)}), {{3, 0, 0}}},
        {"two spaces beside two colours", binaryStl({facet(0, 0, 0, 0x2020), facet(0, 0, 0, 0x001F),
                                                     facet(0, 0, 0, 0x03E0)}), {{3, 1, 0}}},
        {"a normal along y only", binaryStl({facet(0, 0, 0), facet(0, -1, 0)}), {{2, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed(c.bytes);
        ASSERT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.sink.reports().empty());
        std::vector<std::array<uint32_t, 3>> solids;
        uint64_t offset = 84;
        for (uint32_t i = 0; i < parsed.mesh.solidCount; ++i, offset += 50 * solids.back()[0] + 4) {
            Parsed::Solid solid = parsed.solid(i);
            solids.push_back({solid.count, solid.hasColours, solid.hasNormals});
            for (uint32_t t = 0; t < solid.count; ++t)
                EXPECT_EQ(memcmp(solid.records + 38 * t, parsed.file.data() + offset + 50 * t + 12, 38), 0) << i;
        }
        EXPECT_EQ(solids, c.solids);
    }
}

// Blocks, first or later, that claim more records than the bytes hold. Among
// them counts whose 50 x count wraps in 32 bits to a few bytes: 50 x 85899346
// = 2^32 + 4 and 50 x 171798692 = 2^33 + 8. Nothing is read past the end.
TEST(BinaryParser, BlockCutShortFailsAndKeepsNothing) {
    for (size_t size : {0, 1, 80, 83}) {  // inside the header or the first count
        SCOPED_TRACE(size);
        expectFailure(Parsed(std::string(size, '\0')), kErrEndInCount);
    }
    for (const std::string& before : {std::string(80, '\0'), binaryStl(uniform(1)) + uniform(2)})
        for (uint32_t count : {1u, 3u, 85899345u, 85899346u, 171798692u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
            for (uint64_t tail : {0, 3, 4, 8, 49, 53, 54, 100, 149}) {
                if (tail >= 50 * uint64_t{count}) continue;
                SCOPED_TRACE(testing::Message() << before.size() << " bytes, count " << count << ", tail " << tail);
                std::string bytes = before;
                appendUint32(&bytes, count);
                expectFailure(Parsed(bytes + std::string(tail, '\0')), kErrEndInTriangles);
            }
}

// Progress counts 0, 1, 2 ... afresh in every block: once a record in a small
// block, at most a thousand times in a large one. The answer to stop is ignored.
TEST(BinaryParser, ProgressInEveryBlockWithoutStopping) {
    std::string bytes =
        binaryStl(uniform(5)) + uniform(0) + uniform(3000, facet(0, 0, 0)) + uniform(1, facet(0, 0, 0, 3));
    const float one = 1;
    memcpy(&bytes[84 + 5 * 50 + 8 + 2999 * 50], &one, sizeof one);  // the large block's only normal, at its end
    Parsed parsed(bytes, 0);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 4u);
    EXPECT_EQ(parsed.solid(2).hasNormals, 1);
    EXPECT_EQ(parsed.solid(3).hasColours, 1);
    std::vector<uint64_t> runs;  // reports per block
    for (uint64_t value : parsed.sink.progress()) {
        if (value == 0) runs.push_back(0);
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(value, runs.back()++);
    }
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0], 5u);
    EXPECT_TRUE(runs[1] >= 500 && runs[1] <= 1000) << runs[1];
    EXPECT_EQ(runs[2], 1u);
}

// The first, second or third solid's allocation fails: one report, nothing
// kept (natively the leak checker watches the earlier solids).
TEST(BinaryParser, AnySolidCannotBeAllocated) {
    for (int64_t allowed : {0, 1, 2}) {
        SCOPED_TRACE(allowed);
        HeapFailureGuard guard(allowed);
        expectFailure(Parsed(binaryStl(uniform(2)) + uniform(3) + uniform(1)), kOutOfMemory);
    }
}

// Every real file is detected as its bytes call for and parses without errors
// into its triangles.
TEST(RealFiles, DetectedAndParsedAsTheManifestSays) {
    std::vector<CorpusEntry> entries = readCorpusManifest();
    if (entries.empty()) GTEST_SKIP() << "no corpus at " << STLV_CORPUS_DIR;
    int refused = 0, parsed = 0;
    for (const CorpusEntry& entry : entries) {
        SCOPED_TRACE(entry.file);
        ExactBytes bytes(readCorpusFile(entry.file));
        StlFormat format = detectFormat(bytes.data(), bytes.size());
        EXPECT_EQ(format, expectedFormat(entry));
        refused += format == kFormatNone;
        if (format == kFormatNone) continue;
        RecordingSink recorder;
        StlMesh mesh{};
        auto parse = format == kFormatBinary ? parseBinaryStl : parseAsciiStl;
        bool ok = parse(&mesh, bytes.data(), bytes.size(), processHeap(), &recorder.sink);
        EXPECT_EQ(ok, entry.notes.find("UPPERCASE") == std::string::npos);  // keywords are lower case
        if (!ok) continue;
        ++parsed;
        for (const auto& report : recorder.reports()) EXPECT_LT(report.first, kErrorClass);
        uint64_t triangles = 0;
        for (uint32_t s = 0; s < mesh.solidCount; ++s) triangles += mesh.solids[s].triangleCount;
        EXPECT_EQ(triangles, entry.triangles);
        freeMeshSolids(&mesh, processHeap());
    }
    EXPECT_EQ(refused, 1);  // the upper-case file
    EXPECT_GE(parsed, 35);
}
