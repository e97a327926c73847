#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/corpus_manifest.h"
#include "tests/exact_bytes.h"
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
    bytes.append(2, '\0');
    return bytes;
}

std::string binary(uint32_t count, const std::vector<std::string>& records, const std::string& header = "") {
    std::string bytes = header;
    bytes.resize(80, '\0');
    appendUint32(&bytes, count);
    for (const std::string& r : records) bytes += r;
    return bytes;
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
    const std::string twoRecords = record() + record();
    return {
        {"84 bytes, count 0", binary(0, {}), kFormatBinary},
        {"85 bytes, count 0: a stray byte", binary(0, {}) + "x", kFormatBinary},
        {"87 bytes, count 0: three stray bytes", binary(0, {}) + "xyz", kFormatBinary},
        {"89 bytes, count 0: five stray bytes", binary(0, {}) + "vwxyz", kFormatNone},
        {"86 bytes, count 0", binary(0, {}) + "xx", kFormatNone},
        {"header begins with solid", binary(2, {twoRecords}, "solid cube"), kFormatBinary},
        {"surplus after the block", binary(2, {twoRecords, "\0\0\0\0"}, "solid cube"), kFormatBinary},
        {"one stray byte, header begins with solid", binary(2, {twoRecords, "\n"}, "solid x"), kFormatBinary},
        {"odd surplus of a second block", binary(2, {twoRecords, std::string(4, '\0'), "x"}), kFormatNone},
        {"records missing", binary(3, {twoRecords}), kFormatNone, 50},
        {"count 2^32 - 1", binary(0xFFFFFFFF, {twoRecords}), kFormatNone, 84 + 50 * 0xFFFFFFFFull - 184},
        {"cut inside a coordinate", binary(1, {record().substr(0, 30)}), kFormatNone, 20},
        {"count beyond the bytes, implausible coordinates", binary(3, {record(0x7F000000)}), kFormatNone},
        {"picture", "\x89PNG\r\n\x1A\n" + padded(std::string(8, '\0'), 300), kFormatNone},
        {"subnormal 0x00000001 in the first vertex", binary(1, {record(kOne, 0, 0, 1)}, "solid x"), kFormatNone},
        {"negative subnormal in the last examined coordinate",
         binary(4, {record(), record(), record(), record(kOne, 0, 8, 0x80000100)}), kFormatNone},
        {"subnormal in the fifth record is not examined",
         binary(5, {record(), record(), record(), record(), record(kOne, 0, 0, 1)}), kFormatBinary},
        {"subnormal normals are not examined", binary(1, {record(kOne, 1)}), kFormatBinary},
        {"zero and -0 coordinates", binary(2, {record(0), record(0x80000000)}), kFormatBinary},
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
    ExactBytes header(binary(4, {}));  // count 4 but no records: size fails first
    EXPECT_FALSE(looksBinary(header.data(), header.size()));
    ExactBytes shortText("solid x\n\n\n\n\n\n\n");
    EXPECT_TRUE(looksAscii(shortText.data(), shortText.size()));
    ExactBytes tooShort("solid x\n\n\n\n\n\n");
    EXPECT_FALSE(looksAscii(tooShort.data(), tooShort.size()));
}

// The format the bytes of a corpus file call for. The manifest names the
// writer's intent; one file falls outside the rules: an ASCII file with
// upper-case keywords. Binary files may end in up to three stray bytes.
StlFormat expectedFormat(const CorpusEntry& entry) {
    if (entry.format == "ascii") {
        size_t start = entry.firstLine.find_first_not_of(' ');
        return entry.firstLine.compare(start, 5, "solid") == 0 ? kFormatAscii : kFormatNone;
    }
    if (entry.format == "binary") return kFormatBinary;
    const std::string trailing = "binary+trailing";
    if (entry.format.rfind(trailing, 0) == 0)
        return std::stoul(entry.format.substr(trailing.size())) <= 3 ? kFormatBinary : kFormatNone;
    ADD_FAILURE() << "unknown format " << entry.format;
    return kFormatNone;
}

TEST(FormatDetection, RealFiles) {
    std::vector<CorpusEntry> entries = readCorpusManifest();
    if (entries.empty()) GTEST_SKIP() << "no corpus at " << STLV_CORPUS_DIR;
    int refused = 0;
    for (const CorpusEntry& entry : entries) {
        ExactBytes bytes(readCorpusFile(entry.file));
        StlFormat expected = expectedFormat(entry);
        refused += expected == kFormatNone;
        EXPECT_EQ(detectFormat(bytes.data(), bytes.size()), expected) << entry.file;
    }
    EXPECT_EQ(refused, 1);  // the upper-case file
}

}  // namespace
