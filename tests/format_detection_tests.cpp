#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    return bytes + std::string(2, '\0');
}

std::string padded(std::string text, size_t size) {
    text.resize(size, 'x');
    return text;
}

std::string withByteAt(std::string text, size_t offset, char byte) {
    return text.replace(offset, 1, 1, byte);
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
        {"83 bytes of zeros", std::string(83, '\0'), kFormatNone},
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

}  // namespace
