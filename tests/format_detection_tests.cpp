#include <gtest/gtest.h>

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

constexpr uint32_t kOne = 0x3F800000;  // 1.0f

// A 50-byte record: normal, nine vertex coordinates (given as bit patterns), attribute 0.
std::string record(uint32_t vertexBits = kOne, uint32_t normalBits = 0, int oddCoordinate = -1,
                   uint32_t oddBits = 0) {
    std::string bytes;
    for (int i = 0; i < 3; ++i) appendUint32(&bytes, normalBits);
    for (int i = 0; i < 9; ++i) appendUint32(&bytes, i == oddCoordinate ? oddBits : vertexBits);
    return bytes + std::string(2, '\0');
}

std::string padded(std::string text, size_t size) {
    text.resize(size, 'x');
    return text;
}

std::string withByteAt(std::string text, size_t offset, char byte) {
    text[offset] = byte;
    return text;
}

struct DetectionCase {
    const char* what;
    std::string bytes;
    StlFormat expected;
    uint64_t missing = 0;  // what missingBinaryBytes says
};

const std::string kText = "solid cube\n  facet normal 0 0 1\n    outer loop\n      vertex 0 0 0\n";

std::vector<DetectionCase> detectionCases() {
    const std::string two = record() + record();
    const std::string empty = binaryHeader(0);
    return {
        {"84 bytes, count 0", empty, kFormatBinary},
        {"85 bytes, count 0: a stray byte", empty + "x", kFormatBinary},
        {"87 bytes, count 0: three stray bytes", empty + "xyz", kFormatBinary},
        {"89 bytes, count 0: five stray bytes", empty + "vwxyz", kFormatNone},
        {"86 bytes, count 0", empty + "xx", kFormatNone},
        {"header begins with solid", binaryHeader(2, "solid cube") + two, kFormatBinary},
        {"surplus after the block", binaryHeader(2, "solid cube") + two + std::string(4, '\0'), kFormatBinary},
        {"one stray byte, header begins with solid", binaryHeader(2, "solid x") + two + "\n", kFormatBinary},
        {"odd surplus of a second block", binaryHeader(2) + two + std::string(4, '\0') + "x", kFormatNone},
        {"records missing", binaryHeader(3) + two, kFormatNone, 50},
        {"count 2^32 - 1", binaryHeader(0xFFFFFFFF) + two, kFormatNone, 84 + 50 * 0xFFFFFFFFull - 184},
        {"cut inside a coordinate", binaryHeader(1) + record().substr(0, 30), kFormatNone, 20},
        {"count beyond the bytes, implausible coordinates", binaryHeader(3) + record(0x7F000000), kFormatNone},
        {"picture", "\x89PNG\r\n\x1A\n" + padded(std::string(8, '\0'), 300), kFormatNone},
        {"subnormal 0x00000001 in the first vertex", binaryHeader(1, "solid x") + record(kOne, 0, 0, 1), kFormatNone},
        {"negative subnormal in the last examined coordinate",
         binaryHeader(4) + two + record() + record(kOne, 0, 8, 0x80000100), kFormatNone},
        {"subnormal in the fifth record is not examined",
         binaryHeader(5) + two + two + record(kOne, 0, 0, 1), kFormatBinary},
        {"subnormal normals are not examined", binaryHeader(1) + record(kOne, 1), kFormatBinary},
        {"zero and -0 coordinates", binaryHeader(2) + record(0) + record(0x80000000), kFormatBinary},
        {"text", kText, kFormatAscii},
        {"text of 84 bytes or more", padded(kText, 300), kFormatAscii},
        {"plain text", padded("just words", 300), kFormatNone},
        {"four blanks before solid", "    solid cube\nendsolid cube\n", kFormatAscii},
        {"five blanks before solid", "     solid cube\nendsolid cube\n", kFormatNone},
        {"four mixed whitespace bytes", "\r\n\t\vsolid cube\nendsolid\n", kFormatAscii},
        {"mark, solid, tab", "\xEF\xBB\xBFsolid\tcube\nendsolid\n", kFormatAscii},
        {"mark and four blanks", "\xEF\xBB\xBF    solid cube\nendsolid\n", kFormatAscii},
        {"mark and five blanks", "\xEF\xBB\xBF     solid cube\nendsolid\n", kFormatNone},
        {"solid, CR", "solid\r\nendsolid\r\n", kFormatAscii},
        {"solid, LF", "solid\nendsolid\nxxxxx", kFormatAscii},
        {"solid, FF", "solid\fcube\nendsolid\n", kFormatNone},
        {"solid, VT", "solid\vcube\nendsolid\n", kFormatNone},
        {"solidworks", "solidworks part\nendsolid\n", kFormatNone},
        {"upper case", "SOLID cube\nENDSOLID cube\n", kFormatNone},
        {"13 bytes", "solid cube\n\n\n", kFormatNone},
        {"14 bytes", "solid cube\n\n\n\n", kFormatAscii},
        {"NUL at 255", withByteAt(padded(kText, 300), 255, '\0'), kFormatNone},
        {"NUL at 256", withByteAt(padded(kText, 300), 256, '\0'), kFormatAscii},
        {"NUL as the last byte of a short file", kText + '\0', kFormatNone},
        {"byte 8", withByteAt(kText, 20, '\x08'), kFormatNone},
        {"byte 14", withByteAt(kText, 20, '\x0E'), kFormatNone},
        {"byte 31", withByteAt(kText, 20, '\x1F'), kFormatNone},
        {"bytes 127, 128 and 255", kText + "\x7F\x80\xFF", kFormatAscii},
        {"empty", "", kFormatNone},
    };
}

TEST(FormatDetection, Cases) {
    for (const DetectionCase& c : detectionCases()) {
        ExactBytes bytes(c.bytes);
        EXPECT_EQ(detectFormat(bytes.data(), bytes.size()), c.expected) << c.what;
        EXPECT_EQ(missingBinaryBytes(bytes.data(), bytes.size()), c.missing) << c.what;
    }
}

TEST(FormatDetection, PartsStayWithinTheirBytes) {
    // Each test alone, on blocks of exactly the sizes that its reads may reach.
    EXPECT_FALSE(looksBinary(ExactBytes(std::string(83, '\0')).data(), 83));
    ExactBytes header(binaryHeader(4));  // count 4 but no records: size fails first
    EXPECT_FALSE(looksBinary(header.data(), header.size()));
    ExactBytes shortText("solid x\n\n\n\n\n\n\n");
    EXPECT_TRUE(looksAscii(shortText.data(), shortText.size()));
    ExactBytes tooShort("solid x\n\n\n\n\n\n");
    EXPECT_FALSE(looksAscii(tooShort.data(), tooShort.size()));
}

// The format the bytes of a corpus file call for: binary ones have at most one
// stray byte, and one ASCII file has an upper-case "SOLID", which is not STL.
StlFormat expectedFormat(const CorpusEntry& entry) {
    if (entry.format.rfind("binary", 0) == 0) return kFormatBinary;
    size_t start = entry.firstLine.find_first_not_of(' ');
    return entry.firstLine.compare(start, 5, "solid") == 0 ? kFormatAscii : kFormatNone;
}

// A binary file is one solid; the notes of an ASCII one say "N solid block(s)".
uint32_t expectedSolids(const CorpusEntry& entry) {
    size_t blocks = entry.notes.find(" solid block");
    if (entry.format != "ascii" || blocks == std::string::npos) return 1;
    size_t digits = entry.notes.rfind(' ', blocks - 1) + 1;
    return static_cast<uint32_t>(std::stoul(entry.notes.substr(digits, blocks - digits)));
}

// Every real file is detected as its bytes call for and parses without errors
// into its triangles and solids.
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
        ASSERT_TRUE(ok);
        for (const auto& report : recorder.reports()) EXPECT_LT(report.first, kErrorClass);
        ASSERT_EQ(uint32_t{mesh.solidCount}, expectedSolids(entry));
        uint64_t triangles = 0;
        for (uint32_t s = 0; s < mesh.solidCount; ++s) triangles += mesh.solids[s].triangleCount;
        EXPECT_EQ(triangles, entry.triangles);
        freeMeshSolids(&mesh, processHeap());
    }
    EXPECT_EQ(refused, 1);  // the upper-case file
    EXPECT_GE(parsed, 35);
}

}  // namespace
