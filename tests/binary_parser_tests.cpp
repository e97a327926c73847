#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "corpus_manifest.h"
#include "sink_recorder.h"
#include "stl/binary_parser.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kNoColour = 0;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Facet {
    float normal[3];
    uint16_t attribute;
};

void appendUint32(Bytes* bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<uint8_t>(value >> shift));
}

void appendFloat(Bytes* bytes, float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    appendUint32(bytes, bits);
}

void appendFacet(Bytes* bytes, const Facet& facet) {
    for (float component : facet.normal) appendFloat(bytes, component);
    for (int i = 0; i < 9; ++i) appendFloat(bytes, static_cast<float>(i + 1));  // never all zero
    bytes->push_back(static_cast<uint8_t>(facet.attribute));
    bytes->push_back(static_cast<uint8_t>(facet.attribute >> 8));
}

// Builds a binary file: the 80-byte header, then blocks and raw bytes in order.
class StlFile {
public:
    StlFile() : bytes_(80, ' ') {}

    StlFile& block(const std::vector<Facet>& facets) {
        appendUint32(&bytes_, static_cast<uint32_t>(facets.size()));
        for (const Facet& facet : facets) appendFacet(&bytes_, facet);
        return *this;
    }
    StlFile& uniformBlock(size_t count, Facet facet = {{0, 0, 1}, kNoColour}) {
        appendUint32(&bytes_, static_cast<uint32_t>(count));
        Bytes record;
        appendFacet(&record, facet);
        bytes_.reserve(bytes_.size() + count * record.size());
        for (size_t i = 0; i < count; ++i) bytes_.insert(bytes_.end(), record.begin(), record.end());
        return *this;
    }
    StlFile& count(uint32_t value) {
        appendUint32(&bytes_, value);
        return *this;
    }
    StlFile& raw(size_t count, uint8_t value = 0) {
        bytes_.insert(bytes_.end(), count, value);
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// Parses a copy of the file held in an exactly sized heap block, so that ASan
// catches any read outside the file; frees the solids afterwards.
class Parsed {
public:
    explicit Parsed(const Bytes& bytes, bool withSink = true, intptr_t answer = 1)
        : file_(new uint8_t[bytes.size()]), size_(bytes.size()) {
        memcpy(file_.get(), bytes.data(), bytes.size());
        sink.answer = answer;
        ok = parseBinaryStl(&mesh, file_.get(), size_, processHeap(), withSink ? &sink.sink : nullptr);
    }
    ~Parsed() { freeMeshSolids(&mesh, processHeap()); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    const uint8_t* file() const { return file_.get(); }
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
    std::unique_ptr<uint8_t[]> file_;
    uint64_t size_;
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

// --- block structure ---

TEST(BinaryParser, EmptyFileOfEightyFourBytesGivesOneEmptySolid) {
    Parsed parsed(StlFile().count(0).bytes());
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.mesh.source, parsed.file());
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 1u);
    Parsed::Solid solid = parsed.solid(0);
    EXPECT_EQ(solid.triangleCount, 0u);
    EXPECT_EQ(solid.hasColours, 0);
    EXPECT_EQ(solid.hasNormals, 0);
    EXPECT_EQ(parsed.records(0), parsed.file() + 84);
    EXPECT_EQ(solid.nameLength, 0u);
    EXPECT_EQ(solid.nameCodePage, 0u);
    EXPECT_TRUE(parsed.sink.received.empty());
}

TEST(BinaryParser, TrianglesStayInTheFile) {
    Parsed parsed(StlFile().block({{{1, 0, 0}, 5}, {{0, 1, 0}, 6}, {{0, 0, 1}, 7}}).bytes());
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 1u);
    EXPECT_EQ(parsed.solid(0).triangleCount, 3u);
    EXPECT_EQ(parsed.records(0), parsed.file() + 84);
    const StlTriangle* triangles = parsed.mesh.solids[0].triangles;
    float normalY = triangles[1].normal[1];
    uint16_t attribute = triangles[2].attribute;
    float lastZ = triangles[2].vertices[2][2];
    EXPECT_EQ(normalY, 1.0f);
    EXPECT_EQ(attribute, 7);
    EXPECT_EQ(lastZ, 9.0f);
    EXPECT_TRUE(parsed.messages().empty());
}

TEST(BinaryParser, UpToThreeTrailingBytesAreIgnored) {
    for (size_t trailing = 0; trailing < 4; ++trailing) {
        SCOPED_TRACE(trailing);
        Parsed parsed(StlFile().uniformBlock(3).raw(trailing, 0xFF).bytes());
        ASSERT_TRUE(parsed.ok);
        ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 1u);
        EXPECT_EQ(parsed.solid(0).triangleCount, 3u);
    }
}

TEST(BinaryParser, FourTrailingZeroBytesAreAnEmptySecondBlock) {
    Parsed parsed(StlFile().uniformBlock(2).raw(4).bytes());
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 2u);
    EXPECT_EQ(parsed.solid(0).triangleCount, 2u);
    EXPECT_EQ(parsed.solid(1).triangleCount, 0u);
    EXPECT_EQ(parsed.records(1), parsed.file() + 84 + 100 + 4);
    EXPECT_EQ(parsed.solid(1).hasColours, 0);
    EXPECT_EQ(parsed.solid(1).hasNormals, 0);
}

TEST(BinaryParser, EveryBlockBecomesOneSolid) {
    StlFile file;
    file.block({{{0, 0, 0}, 0x001F}, {{0, 0, 0}, 0}})   // colours, no normals
        .uniformBlock(0)
        .block({{{0, 0, 1}, 0x7FFF}, {{1, 0, 0}, 0x7FFF}, {{0, 1, 0}, 0x7FFF}})  // normals, no colours
        .uniformBlock(1, {{0, 0, 0}, 0})
        .raw(3, 0xAA);
    Parsed parsed(file.bytes());
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 4u);
    const uint32_t counts[] = {2, 0, 3, 1};
    const uint64_t offsets[] = {84, 84 + 100 + 4, 84 + 100 + 4 + 4, 84 + 100 + 4 + 4 + 150 + 4};
    const uint8_t colours[] = {1, 0, 0, 0};
    const uint8_t normals[] = {0, 0, 1, 0};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(parsed.solid(i).triangleCount, counts[i]);
        EXPECT_EQ(parsed.records(i), parsed.file() + offsets[i]);
        EXPECT_EQ(parsed.solid(i).hasColours, colours[i]);
        EXPECT_EQ(parsed.solid(i).hasNormals, normals[i]);
        EXPECT_EQ(parsed.solid(i).nameLength, 0u);
    }
}

TEST(BinaryParser, TruncatedBlockFailsAndKeepsNothing) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"count 1, no record", StlFile().count(1).bytes()},
        {"count 1, 49 bytes", StlFile().count(1).raw(49).bytes()},
        {"count 3, two records", StlFile().count(3).raw(100).bytes()},
        {"count 3, 149 bytes", StlFile().count(3).raw(149).bytes()},
        {"trailing count 1 in 10 bytes", StlFile().uniformBlock(2).count(1).raw(6).bytes()},
        {"third block short", StlFile().uniformBlock(1).uniformBlock(2).count(2).raw(99).bytes()},
        {"count 0xFFFFFFFF", StlFile().count(0xFFFFFFFF).raw(200).bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed(c.bytes);
        expectFailure(parsed, kTruncated);
        EXPECT_EQ(parsed.sink.received.back().argument, 0u);
        EXPECT_NE(parsed.sink.received.back().backTracePointer, nullptr);
        Parsed silent(c.bytes, false);
        EXPECT_FALSE(silent.ok);
        EXPECT_EQ(silent.mesh.solids, nullptr);
    }
}

// --- colours and normals ---

TEST(BinaryParser, ColoursNeedLowFifteenBitsThatAreNeitherAllZeroNorAllSet) {
    struct Case {
        std::vector<uint16_t> attributes;
        uint8_t hasColours;
    };
    const Case cases[] = {
        {{0, 0, 0}, 0},
        {{0x8000, 0x8000}, 0},  // bit 15 is ignored
        {{0x8000, 0}, 0},
        {{0x7FFF, 0x7FFF}, 0},
        {{0xFFFF, 0x7FFF, 0xFFFF}, 0},
        {{0, 0x001F}, 1},
        {{0, 0, 0, 1}, 1},
        {{0x7FFF, 0}, 1},
        {{0x8000, 0x7FFF}, 1},
        {{0x7FFF, 0x7FFE}, 1},
        {{0x4E73}, 1},
        {{0x8001}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.attributes));
        std::vector<Facet> facets;
        for (uint16_t attribute : c.attributes) facets.push_back({{0, 0, 1}, attribute});
        Parsed parsed(StlFile().block(facets).bytes());
        ASSERT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.solid(0).hasColours, c.hasColours);
    }
}

TEST(BinaryParser, NormalsNeedAComponentUnequalToZero) {
    const float negativeZero = -0.0f;
    const float tiny = std::numeric_limits<float>::denorm_min();
    const float infinity = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        std::vector<Facet> facets;
        uint8_t hasNormals;
    };
    const Case cases[] = {
        {"all zero", {{{0, 0, 0}, 0}, {{0, 0, 0}, 0}}, 0},
        {"zero and negative zero", {{{negativeZero, 0, negativeZero}, 0}, {{0, negativeZero, 0}, 0}}, 0},
        {"NaN x", {{{kNaN, 0, 0}, 0}}, 1},
        {"NaN z in the last record", {{{0, 0, 0}, 0}, {{0, 0, 0}, 0}, {{0, 0, kNaN}, 0}}, 1},
        {"negative y", {{{0, -1, 0}, 0}}, 1},
        {"smallest denormal", {{{0, 0, tiny}, 0}}, 1},
        {"infinity", {{{infinity, 0, 0}, 0}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed parsed(StlFile().block(c.facets).bytes());
        ASSERT_TRUE(parsed.ok);
        EXPECT_EQ(parsed.solid(0).hasNormals, c.hasNormals);
    }
}

TEST(BinaryParser, FlagsArePerBlock) {
    Parsed parsed(StlFile()
                      .block({{{kNaN, 0, 0}, 0x0001}})
                      .block({{{0, 0, 0}, 0}})
                      .block({{{0, 0, 0}, 0}, {{0, 0, 2}, 0}})
                      .bytes());
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 3u);
    EXPECT_EQ(parsed.solid(0).hasNormals, 1);
    EXPECT_EQ(parsed.solid(0).hasColours, 1);
    EXPECT_EQ(parsed.solid(1).hasNormals, 0);
    EXPECT_EQ(parsed.solid(1).hasColours, 0);
    EXPECT_EQ(parsed.solid(2).hasNormals, 1);
    EXPECT_EQ(parsed.solid(2).hasColours, 0);
}

// --- progress ---

namespace {

// Number of records k x step below count: the reports one block gives.
uintptr_t expectedReports(uint32_t count) {
    uint32_t step = count / 1000 + 1;
    return (count + step - 1) / step;
}

}  // namespace

TEST(BinaryParserProgress, TwentyFiveHundredTrianglesReportEveryThirdRecord) {
    Parsed parsed(StlFile().uniformBlock(2500).bytes());
    ASSERT_TRUE(parsed.ok);
    std::vector<uintptr_t> progress = parsed.progress();
    ASSERT_EQ(progress.size(), 834u);
    for (uintptr_t k = 0; k < progress.size(); ++k) ASSERT_EQ(progress[k], k);
    for (const Received& entry : parsed.sink.received) EXPECT_EQ(entry.backTracePointer, nullptr);
}

TEST(BinaryParserProgress, ReportCountFollowsTheStep) {
    for (uint32_t count : {0u, 1u, 2u, 999u, 1000u, 1001u, 1999u, 2000u, 2001u, 2998u, 2999u, 3000u, 3001u,
                           9999u, 10000u, 12345u}) {
        SCOPED_TRACE(count);
        Parsed parsed(StlFile().uniformBlock(count).bytes());
        ASSERT_TRUE(parsed.ok);
        std::vector<uintptr_t> progress = parsed.progress();
        EXPECT_EQ(progress.size(), expectedReports(count));
        EXPECT_LE(progress.size(), 1000u);
        if (!progress.empty()) EXPECT_EQ(progress.front(), 0u);
        for (uintptr_t k = 0; k < progress.size(); ++k) ASSERT_EQ(progress[k], k);
    }
}

TEST(BinaryParserProgress, StartsAgainAtZeroInEveryBlock) {
    Parsed parsed(StlFile().uniformBlock(5).uniformBlock(0).uniformBlock(3).bytes());
    ASSERT_TRUE(parsed.ok);
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
    const uint32_t count = 2500, step = 3;
    Bytes bytes = StlFile().uniformBlock(count, {{0, 0, 0}, 0}).bytes();
    std::unique_ptr<uint8_t[]> file(new uint8_t[bytes.size()]);
    uint8_t* records = file.get() + 84;
    for (uintptr_t k = 0; k < 834; ++k) {
        for (int64_t shift : {-1, 0}) {  // the record before the report's, and its own
            if (k == 0 && shift < 0) continue;
            uint32_t record = static_cast<uint32_t>(k * step + shift);
            memcpy(file.get(), bytes.data(), bytes.size());
            NormalPlanter planter{records, k, record};
            MessageSink sink{&planter, &NormalPlanter::receive};
            StlMesh mesh{};
            ASSERT_TRUE(parseBinaryStl(&mesh, file.get(), bytes.size(), processHeap(), &sink));
            bool scannedAfterReport = mesh.solids[0].hasNormals != 0;
            freeMeshSolids(&mesh, processHeap());
            ASSERT_EQ(scannedAfterReport, shift == 0) << "report " << k << ", record " << record;
        }
    }
}

TEST(BinaryParserProgress, AnswerToStopIsIgnored) {
    Bytes bytes = StlFile()
                      .uniformBlock(2500, {{0, 0, 0}, 0})
                      .block({{{0, 0, 0}, 0}, {{0, 0, 0}, 3}})
                      .bytes();
    // The last record of the first block carries its only normal.
    float one = 1.0f;
    memcpy(&bytes[84 + 2499 * 50], &one, sizeof one);
    Parsed parsed(bytes, true, 0);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 2u);
    EXPECT_EQ(parsed.solid(0).hasNormals, 1);
    EXPECT_EQ(parsed.solid(1).hasColours, 1);
    EXPECT_EQ(parsed.progress().size(), 834u + 2u);
}

// --- reading only inside the file ---

namespace {

// The outcome a file of these bytes must have, walked block by block.
struct Expected {
    bool ok;
    std::vector<uint32_t> counts;
};

Expected walkBlocks(const Bytes& bytes) {
    Expected expected{true, {}};
    uint64_t cursor = 80;
    while (bytes.size() - cursor >= 4) {
        uint32_t count = uint32_t{bytes[cursor]} | uint32_t{bytes[cursor + 1]} << 8 |
                         uint32_t{bytes[cursor + 2]} << 16 | uint32_t{bytes[cursor + 3]} << 24;
        cursor += 4;
        if (bytes.size() - cursor < uint64_t{count} * 50) return {false, {}};
        expected.counts.push_back(count);
        cursor += uint64_t{count} * 50;
    }
    return expected;
}

void expectParsedAsWalked(const Bytes& bytes) {
    Expected expected = walkBlocks(bytes);
    Parsed parsed(bytes);
    ASSERT_EQ(parsed.ok, expected.ok);
    if (!expected.ok) {
        expectFailure(parsed, kTruncated);
        return;
    }
    ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, expected.counts.size());
    for (uint32_t i = 0; i < parsed.mesh.solidCount; ++i) EXPECT_EQ(parsed.solid(i).triangleCount, expected.counts[i]);
    EXPECT_TRUE(parsed.messages().empty());
}

}  // namespace

TEST(BinaryParserBounds, HugeCountsFailWithoutReadingPastTheEnd) {
    // 50 x 85899346 = 2^32 + 4 and 50 x 171798692 = 2^33 + 8: a 32-bit product would see tiny blocks.
    for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 85899346u, 85899345u, 171798692u, 0x7FFFFFFFu, 1000000u}) {
        SCOPED_TRACE(count);
        for (size_t tail : {0, 3, 4, 8, 50, 53, 54, 100}) {
            SCOPED_TRACE(tail);
            expectFailure(Parsed(StlFile().count(count).raw(tail).bytes()), kTruncated);
            expectFailure(Parsed(StlFile().uniformBlock(1).count(count).raw(tail).bytes()), kTruncated);
        }
    }
}

TEST(BinaryParserBounds, EverySizeFromEightyFourWithRandomCounts) {
    std::mt19937 random(20240506);
    for (size_t size = 84; size <= 84 + 300; ++size) {
        for (int round = 0; round < 12; ++round) {
            Bytes bytes(size);
            for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
            // Plausible counts for the first blocks so that files also succeed and hold
            // several blocks; now and then an arbitrary 32-bit count.
            uint64_t cursor = 80;
            while (bytes.size() - cursor >= 4) {
                uint32_t count = round % 4 == 3 ? static_cast<uint32_t>(random())
                                                : static_cast<uint32_t>(random() % ((bytes.size() - cursor - 4) / 50 + 2));
                for (int i = 0; i < 4; ++i) bytes[cursor + i] = static_cast<uint8_t>(count >> (8 * i));
                cursor += 4 + uint64_t{count} * 50;
                if (cursor > bytes.size()) break;
            }
            SCOPED_TRACE(testing::Message() << "size " << size << " round " << round);
            expectParsedAsWalked(bytes);
            if (HasFatalFailure()) return;
        }
    }
}

// --- out of memory ---

TEST(BinaryParserMemory, FirstSolidCannotBeAllocated) {
    HeapFailureGuard noRequests(0);
    Parsed parsed(StlFile().uniformBlock(2).bytes());
    expectFailure(parsed, kNoMemory);
}

TEST(BinaryParserMemory, LaterSolidCannotBeAllocated) {
    // The earlier solids are freed too (natively the leak checker watches the process heap).
    for (int64_t allowed : {1, 2}) {
        SCOPED_TRACE(allowed);
        HeapFailureGuard guard(allowed);
        Parsed parsed(StlFile().uniformBlock(2).uniformBlock(3).uniformBlock(1).bytes());
        expectFailure(parsed, kNoMemory);
    }
}

TEST(BinaryParserMemory, FailureWithoutSinkIsSilent) {
    HeapFailureGuard guard(1);
    Parsed parsed(StlFile().uniformBlock(2).uniformBlock(1).bytes(), false);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.mesh.solids, nullptr);
}

TEST(BinaryParserMemory, SolidsComeFromTheGivenHeap) {
    HeapHandle heap = createPrivateHeap();
    ASSERT_NE(heap, nullptr);
    Bytes bytes = StlFile().uniformBlock(1).uniformBlock(2).uniformBlock(3).bytes();
    StlMesh mesh{};
    ASSERT_TRUE(parseBinaryStl(&mesh, bytes.data(), bytes.size(), heap, nullptr));
    EXPECT_EQ(uint32_t{mesh.solidCount}, 3u);
    destroyPrivateHeap(heap);  // frees the solids array; natively the leak checker confirms
}

// --- freeMeshSolids ---

TEST(FreeMeshSolids, BinaryMeshFreesOnlyTheArray) {
    Bytes bytes = StlFile().uniformBlock(2).uniformBlock(1).bytes();
    StlMesh mesh{};
    ASSERT_TRUE(parseBinaryStl(&mesh, bytes.data(), bytes.size(), processHeap(), nullptr));
    freeMeshSolids(&mesh, processHeap());  // freeing a triangle pointer into the file would crash under ASan
    EXPECT_EQ(mesh.solids, nullptr);
    EXPECT_EQ(uint32_t{mesh.solidCount}, 0u);
    freeMeshSolids(&mesh, processHeap());  // a second call does nothing
}

TEST(FreeMeshSolids, OwnedTrianglesAreFreed) {
    StlMesh mesh{nullptr, nullptr, 3};
    mesh.solids = static_cast<StlSolid*>(allocArray(processHeap(), 3, sizeof(StlSolid), nullptr));
    ASSERT_NE(mesh.solids, nullptr);
    for (uint32_t i = 0; i < 3; ++i) {
        auto* triangles = static_cast<StlTriangle*>(allocArray(processHeap(), i + 1, sizeof(StlTriangle), nullptr));
        ASSERT_NE(triangles, nullptr);
        mesh.solids[i] = StlSolid{0, 0, i + 1, triangles, CountedText{nullptr, 0, 0}};
    }
    freeMeshSolids(&mesh, processHeap());  // natively the leak checker fails the run if one is left
    EXPECT_EQ(mesh.solids, nullptr);
    EXPECT_EQ(uint32_t{mesh.solidCount}, 0u);
}

TEST(FreeMeshSolids, NoSolidsIsNothingToDo) {
    StlMesh mesh{nullptr, nullptr, 0};
    freeMeshSolids(&mesh, processHeap());
    EXPECT_EQ(mesh.solids, nullptr);
}

// --- real files ---

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
    int trailing = 0;
    for (const CorpusEntry& entry : entries) {
        if (entry.format.rfind("binary", 0) != 0) continue;
        SCOPED_TRACE(entry.file);
        ++binaryFiles;
        std::string text = readCorpusFile(entry.file);
        Bytes bytes(text.begin(), text.end());
        ASSERT_GE(bytes.size(), 84 + entry.triangles * 50);
        uint64_t extra = bytes.size() - 84 - entry.triangles * 50;
        EXPECT_EQ(extra, entry.format == "binary+trailing1" ? 1u : 0u);
        trailing += extra != 0;

        Parsed parsed(bytes);
        ASSERT_TRUE(parsed.ok);
        EXPECT_TRUE(parsed.messages().empty());
        ASSERT_EQ(uint32_t{parsed.mesh.solidCount}, 1u);
        EXPECT_EQ(parsed.solid(0).triangleCount, entry.triangles);
        EXPECT_EQ(parsed.progress().size(), expectedReports(static_cast<uint32_t>(entry.triangles)));
        auto known = colours.find(entry.file);
        if (known != colours.end()) EXPECT_EQ(parsed.solid(0).hasColours, known->second);
    }
    EXPECT_GE(binaryFiles, 20);
    EXPECT_EQ(trailing, 1);
}
