#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/corpus_manifest.h"
#include "tests/exact_bytes.h"
#include "tests/sink_recorder.h"
#include "stl/binary_parser.h"
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

// A count and `size` bytes after it.
std::string countAndBytes(std::string file, uint32_t count, size_t size, char byte = 0) {
    appendUint32(&file, count);
    return file + std::string(size, byte);
}

// Parses a copy of the file held in an exactly sized heap block, so that ASan
// catches any read outside the file; frees the solids afterwards.
class Parsed {
public:
    explicit Parsed(const std::string& bytes, intptr_t answer = 1) : file_(bytes) {
        sink.answer = answer;
        ok = parseBinaryStl(&mesh, file_.data(), file_.size(), processHeap(), &sink.sink);
    }
    ~Parsed() { freeMeshSolids(&mesh, processHeap()); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    const uint8_t* file() const { return file_.data(); }
    // The solid's fields by value: the packed records' fields are not aligned
    // for the references the assertions take.
    struct Solid {
        uint8_t hasColours, hasNormals;
        uint32_t triangleCount;
        const uint8_t* records;
        uint32_t nameLength, nameCodePage;
    };
    Solid solid(uint32_t index) const {
        const StlSolid& s = mesh.solids[index];
        return {s.hasColours, s.hasNormals, s.triangleCount, reinterpret_cast<const uint8_t*>(s.triangles),
                s.name.length, s.name.codePage};
    }
    const uint8_t* records(uint32_t index) const { return solid(index).records; }

    // Every report except progress.
    std::vector<StatusCode> messages() const {
        std::vector<StatusCode> codes;
        for (const Received& entry : sink.received)
            if (entry.code != kProgress) codes.push_back(entry.code);
        return codes;
    }
    std::vector<uintptr_t> progress() const {
        std::vector<uintptr_t> values;
        for (const Received& entry : sink.received)
            if (entry.code == kProgress) values.push_back(entry.argument);
        return values;
    }

    StlMesh mesh{};
    RecordingSink sink;
    bool ok = false;

private:
    ExactBytes file_;
};

void expectFailure(const Parsed& parsed, std::vector<StatusCode> messages) {
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.mesh.solids, nullptr);
    EXPECT_EQ(uint32_t{parsed.mesh.solidCount}, 0u);
    EXPECT_EQ(parsed.messages(), messages);
}

const std::vector<StatusCode> kTruncated{0x80000808};
const std::vector<StatusCode> kNoMemory{0x80000005};

}  // namespace

// Each block is one solid whose triangles stay in the file, with its own
// colour and normal flags; up to three trailing bytes are ignored, four
// zeros are an empty block.
TEST(BinaryParser, EveryBlockBecomesOneSolid) {
    struct Solid {
        uint32_t count;
        uint8_t hasColours, hasNormals;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<Solid> solids;
    };
    const std::string first = binaryStl({facet(0, 0, 0, 0x001F), facet(0, 0, 0)});
    const Case cases[] = {
        {"empty", binaryStl({}), {{0, 0, 0}}},
        {"three trailing bytes", binaryStl(uniform(3)) + std::string(3, '\xFF'), {{3, 0, 1}}},
        {"four trailing zeros", binaryStl(uniform(2)) + std::string(4, '\0'), {{2, 0, 1}, {0, 0, 0}}},
        {"four blocks",
         first + uniform(0) + uniform(3, facet(0, 0, 1, 0x7FFF)) + uniform(1, facet(0, 0, 0)) + std::string(3, '\xAA'),
         {{2, 1, 0}, {0, 0, 0}, {3, 0, 1}, {1, 0, 0}}},
        {"flags per block", binaryStl({facet(kNaN, 0, 0, 1)}) + uniform(1, facet(0, 0, 0)) +
                                std::vector<TestTriangle>{facet(0, 0, 0), facet(0, 0, 2)},
         {{1, 1, 1}, {1, 0, 0}, {2, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed(c.bytes);
        ASSERT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.messages().empty());
        EXPECT_EQ(parsed.mesh.source, parsed.file());
        ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, c.solids.size());
        uint64_t offset = 84;
        for (uint32_t i = 0; i < c.solids.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(parsed.solid(i).triangleCount, c.solids[i].count);
            EXPECT_EQ(parsed.records(i), parsed.file() + offset);
            EXPECT_EQ(parsed.solid(i).hasColours, c.solids[i].hasColours);
            EXPECT_EQ(parsed.solid(i).hasNormals, c.solids[i].hasNormals);
            EXPECT_EQ(parsed.solid(i).nameLength, 0u);
            offset += 50 * c.solids[i].count + 4;
        }
    }
    Parsed parsed(binaryStl({facet(1, 0, 0, 5), facet(0, 1, 0, 6), facet(0, 0, 1, 7)}));
    const StlTriangle* triangles = parsed.mesh.solids[0].triangles;
    float normalY = triangles[1].normal[1], lastX = triangles[2].vertices[1][0];
    uint16_t attribute = triangles[2].attribute;
    EXPECT_EQ(normalY, 1.0f);
    EXPECT_EQ(attribute, 7);
    EXPECT_EQ(lastX, 2.0f);
}

TEST(BinaryParser, TruncatedBlockFailsAndKeepsNothing) {
    const std::string header = binaryStl({}).substr(0, 80);
    const std::pair<const char*, std::string> cases[] = {
        {"count 1, no record", countAndBytes(header, 1, 0)},
        {"count 1, 49 bytes", countAndBytes(header, 1, 49)},
        {"count 3, 149 bytes", countAndBytes(header, 3, 149)},
        {"trailing count 1 in 10 bytes", countAndBytes(binaryStl(uniform(2)), 1, 6)},
        {"third block short", countAndBytes(binaryStl(uniform(1)) + uniform(2), 2, 99)},
        {"count 0xFFFFFFFF", countAndBytes(header, 0xFFFFFFFF, 200)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        Parsed parsed(bytes);
        expectFailure(parsed, kTruncated);
        EXPECT_EQ(parsed.sink.received.back().argument, 0u);
        EXPECT_NE(parsed.sink.received.back().backTracePointer, nullptr);
    }
}

// A 32-bit 50 x count would see tiny blocks: 50 x 85899346 = 2^32 + 4 and
// 50 x 171798692 = 2^33 + 8.
TEST(BinaryParserBounds, HugeCountsFailWithoutReadingPastTheEnd) {
    const std::string header = binaryStl({}).substr(0, 80);
    for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 85899346u, 85899345u, 171798692u, 0x7FFFFFFFu, 1000000u}) {
        SCOPED_TRACE(count);
        for (size_t tail : {0, 3, 4, 8, 50, 53, 54, 100}) {
            SCOPED_TRACE(tail);
            expectFailure(Parsed(countAndBytes(header, count, tail)), kTruncated);
            expectFailure(Parsed(countAndBytes(binaryStl(uniform(1)), count, tail)), kTruncated);
        }
    }
}

// Colours: the low fifteen bits neither all zero nor all set in some record.
// Normals: a component unequal to zero in some record.
TEST(BinaryParser, ColourAndNormalFlags) {
    const float tiny = std::numeric_limits<float>::denorm_min(), infinity = std::numeric_limits<float>::infinity();
    struct Case {
        std::vector<TestTriangle> facets;
        uint8_t hasColours, hasNormals;
    };
    const Case cases[] = {
        {{facet(0, 0, 0), facet(0, 0, 0)}, 0, 0},
        {{facet(-0.0f, 0, -0.0f, 0x8000), facet(0, -0.0f, 0, 0x8000)}, 0, 0},  // bit 15 is ignored
        {{facet(0, 0, 0, 0x7FFF), facet(0, 0, 0, 0xFFFF)}, 0, 0},
        {{facet(kNaN, 0, 0), facet(0, 0, 0, 0x001F)}, 1, 1},
        {{facet(0, 0, 0), facet(0, 0, 0), facet(0, 0, kNaN, 1)}, 1, 1},
        {{facet(0, -1, 0, 0x7FFF), facet(0, 0, 0)}, 1, 1},
        {{facet(0, 0, tiny, 0x8000), facet(0, 0, 0, 0x7FFF)}, 1, 1},
        {{facet(infinity, 0, 0, 0x7FFF), facet(0, 0, 0, 0x7FFE)}, 1, 1},
        {{facet(0, 0, 0, 0x8001)}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Parsed parsed(binaryStl(c.facets));
        ASSERT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.solid(0).hasColours, c.hasColours);
        EXPECT_EQ(parsed.solid(0).hasNormals, c.hasNormals);
    }
}

// At most 1000 reports a block, 0, 1, 2 ... at every step-th record, with
// step = count / 1000 + 1, from zero again in every block.
TEST(BinaryParserProgress, ReportCountFollowsTheStep) {
    const std::pair<uint32_t, size_t> cases[] = {{0, 0}, {1, 1}, {999, 999}, {1000, 500}, {1999, 1000}, {3000, 750}};
    for (const auto& [count, reports] : cases) {
        SCOPED_TRACE(count);
        Parsed parsed(binaryStl(uniform(count)));
        ASSERT_TRUE(parsed.ok);
        std::vector<uintptr_t> progress = parsed.progress();
        EXPECT_EQ(progress.size(), reports);
        for (uintptr_t k = 0; k < progress.size(); ++k) ASSERT_EQ(progress[k], k);
        for (const Received& entry : parsed.sink.received) EXPECT_EQ(entry.backTracePointer, nullptr);
    }
    Parsed parsed(binaryStl(uniform(5)) + uniform(0) + uniform(3));
    EXPECT_EQ(parsed.progress(), (std::vector<uintptr_t>{0, 1, 2, 3, 4, 0, 1, 2}));
}

namespace {

// Puts a NaN normal into one record while the parser reports progress k: the
// solid gets normals exactly when that record is scanned after the report.
struct NormalPlanter {
    uint8_t* records;
    uintptr_t atReport;
    uint32_t record;

    static intptr_t receive(void* userData, StatusCode code, uintptr_t argument, const Utf16*) {
        auto* self = static_cast<NormalPlanter*>(userData);
        if (code == kProgress && argument == self->atReport)
            memcpy(self->records + uint64_t{self->record} * 50, &kNaN, sizeof kNaN);
        return 1;
    }
};

}  // namespace

TEST(BinaryParserProgress, ReportKComesAtRecordKTimesStep) {
    const uint32_t step = 3;  // 2500 records
    std::string bytes = binaryStl(uniform(2500, facet(0, 0, 0)));
    std::unique_ptr<uint8_t[]> file(new uint8_t[bytes.size()]);
    for (uintptr_t k : {1, 833}) {
        for (int64_t shift : {-1, 0}) {  // the record before the report's, and its own
            uint32_t record = static_cast<uint32_t>(k * step + shift);
            memcpy(file.get(), bytes.data(), bytes.size());
            NormalPlanter planter{file.get() + 84, k, record};
            MessageSink sink{&planter, &NormalPlanter::receive};
            StlMesh mesh{};
            ASSERT_TRUE(parseBinaryStl(&mesh, file.get(), bytes.size(), processHeap(), &sink));
            bool scannedAfterReport = mesh.solids[0].hasNormals != 0;
            freeMeshSolids(&mesh, processHeap());
            EXPECT_EQ(scannedAfterReport, shift == 0) << "report " << k << ", record " << record;
        }
    }
}

TEST(BinaryParserProgress, AnswerToStopIsIgnored) {
    std::string bytes = binaryStl(uniform(2500, facet(0, 0, 0))) + std::vector<TestTriangle>{facet(0, 0, 0, 3)};
    float one = 1.0f;
    memcpy(&bytes[84 + 2499 * 50], &one, sizeof one);  // the first block's only normal, in its last record
    Parsed parsed(bytes, 0);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 2u);
    EXPECT_EQ(parsed.solid(0).hasNormals, 1);
    EXPECT_EQ(parsed.solid(1).hasColours, 1);
    EXPECT_EQ(parsed.progress().size(), 834u + 1u);
}

// The first, second or third solid's allocation fails: one report, nothing
// kept (natively the leak checker watches the earlier solids).
TEST(BinaryParserMemory, AnySolidCannotBeAllocated) {
    for (int64_t allowed : {0, 1, 2}) {
        SCOPED_TRACE(allowed);
        HeapFailureGuard guard(allowed);
        expectFailure(Parsed(binaryStl(uniform(2)) + uniform(3) + uniform(1)), kNoMemory);
    }
}

TEST(FreeMeshSolids, FreesOwnedTrianglesButNotThoseInTheFile) {
    std::string bytes = binaryStl(uniform(2)) + uniform(1);
    StlMesh mesh{};
    ASSERT_TRUE(parseBinaryStl(&mesh, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), processHeap(),
                               nullptr));
    freeMeshSolids(&mesh, processHeap());  // freeing a pointer into the file would crash under ASan
    EXPECT_EQ(mesh.solids, nullptr);
    EXPECT_EQ(uint32_t{mesh.solidCount}, 0u);
    freeMeshSolids(&mesh, processHeap());  // a second call does nothing
    mesh.source = nullptr;  // no file: the triangles are the mesh's own
    mesh.solidCount = 2;
    mesh.solids = static_cast<StlSolid*>(allocArray(processHeap(), 2, sizeof(StlSolid), nullptr));
    ASSERT_NE(mesh.solids, nullptr);
    for (uint32_t i = 0; i < 2; ++i) {
        auto* triangles = static_cast<StlTriangle*>(allocArray(processHeap(), i + 1, sizeof(StlTriangle), nullptr));
        mesh.solids[i] = StlSolid{0, 0, i + 1, triangles, CountedText{nullptr, 0, 0}};
    }
    freeMeshSolids(&mesh, processHeap());  // natively the leak checker fails the run if one is left
    EXPECT_EQ(mesh.solids, nullptr);
}

TEST(BinaryParserCorpus, EveryBinaryFileParsesWithItsTriangleCount) {
    std::vector<CorpusEntry> entries = readCorpusManifest();
    if (entries.empty()) GTEST_SKIP() << "no corpus at " << STLV_CORPUS_DIR;

    // Colour facts the manifest's notes state about the attribute words.
    const std::map<std::string, uint8_t> colours = {
        {"assimp_wuson_blender.stl", 1},            // every word 0x2020
        {"lnm_cube_3matic_color.stl", 1},           // words 1 to 6
        {"lnm_dummy_meshio.stl", 1},                // region ids 1 to 3
        {"prusa_plug_aligner_atf_color.stl", 1},    // every word 0x4E73
        {"vtkdata_gebco49_meshmixer.stl", 0},       // every word 0xFFFF
        {"vtkdata_gebco55_color_material.stl", 0},  // every word 0
        {"trimesh_empty_blender_bin.stl", 0},       // no triangles
    };
    int binaryFiles = 0;
    for (const CorpusEntry& entry : entries) {
        if (entry.format.rfind("binary", 0) != 0) continue;
        SCOPED_TRACE(entry.file);
        ++binaryFiles;
        Parsed parsed(readCorpusFile(entry.file));
        ASSERT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.messages().empty());
        ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 1u);
        EXPECT_EQ(parsed.solid(0).triangleCount, entry.triangles);
        EXPECT_LE(parsed.progress().size(), 1000u);
        auto known = colours.find(entry.file);
        if (known != colours.end()) EXPECT_EQ(parsed.solid(0).hasColours, known->second);
    }
    EXPECT_GE(binaryFiles, 20);
}
