// Binary header recognition on 80-byte headers mixed from the texts that
// exporters write: a fill byte, one signature or rule prefix at the start, a
// second tag anywhere, then byte patches. Input layout:
//   0: fill, 1: first text, 2: second text, 3: its position, then
//   (position, byte) pairs.
// Recognition may look at one byte past the header and no further, so the
// header lives in a heap block of exactly 81 bytes.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "stl/binary_exporter.h"

namespace {

constexpr size_t kHeader = 80;

// Texts the header rules look for besides the signature table.
const std::vector<std::string>& ruleTexts() {
    static const std::vector<std::string> texts = {
        "STLEXP ", "STLB ATF ", "STLB ATF 8.6", "STLB ATF 10.0", "STLB ASM 218", "STLB ASM 2", "ArchiCAD_STL",
        "ArchiCAD_STL_Unit=MM_Scale=100", "ArchiCAD_STL_Unit=CM_", "ArchiCAD_STL_Unit=M_Scale=", "Scale=",
        "_Unit=", "Exported from Blender-2.79", "Binary STL output from Blender: ", "CAD Exchanger ",
        "CURA BINARY STL EXPORT. ", "Uranium STLWriter ", "flashforge stl export", "COLOR=", ",MATERIAL=",
        "MATERIAL=", "MASTERCAM STL DATA", "ENTITY COLOR:#", "Rhinoceros Binary STL (", "solid ",
        std::string("solid part1\0STL Output", 22), "STL Output", "SketchUp STL ", "SketchUp STL :mm:", "\"",
        "<stl unit=MM>\"", "<stl unit=INCHES>\"", ">3D Systems - View: ", "3DV*", "C:\\", "_C",
        "\"; Produced by Art of Illusion 3.0.3, ", "=INCH", "=Inch", "=inch", "=cm", "=CM", "=mm", "=MM", " inch",
        std::string(80, '\0'), std::string(80, 'A'),
    };
    return texts;
}

std::string text(uint8_t selector) {
    uint32_t signatures = kBinaryExporterSignatures;
    const std::vector<std::string>& rules = ruleTexts();
    uint32_t index = selector % (signatures + rules.size() + 1);
    if (index < signatures) {
        const BinaryExporterSignature* row = binaryExporterSignature(index);
        return std::string(row->bytes, row->length);
    }
    index -= signatures;
    return index < rules.size() ? rules[index] : std::string();
}

void place(uint8_t* header, size_t position, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size() && position + i < kHeader; ++i) header[position + i] = bytes[i];
}

bool inHeader(const CountedText& name, const uint8_t* header) {
    if (name.length == 0) return true;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name.bytes);
    return bytes >= header && bytes + name.length <= header + kHeader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const uint8_t kFills[] = {0, ' ', 'A', '_', 0xFF};
    std::unique_ptr<uint8_t[]> block(new uint8_t[kHeader + 1]);
    uint8_t* header = block.get();
    uint8_t fill = data[0] < sizeof kFills ? kFills[data[0]] : data[0];
    memset(header, fill, kHeader + 1);
    place(header, 0, text(data[1]));
    place(header, data[3] % kHeader, text(data[2]));
    for (size_t i = 4; i + 1 < size; i += 2) header[data[i] % (kHeader + 1)] = data[i + 1];

    StlMesh mesh{header, nullptr, 0};
    StlMetadata metadata;
    memset(&metadata, 0xAB, sizeof metadata);
    ConvertedLines lines;
    identifyBinaryExporter(&mesh, &metadata, lines.producerSink());
    FUZZ_CHECK(metadata.coordinateSpace == 1 || metadata.coordinateSpace == 2);
    FUZZ_CHECK(std::isfinite(metadata.unitScale) && metadata.unitScale > 0);
    FUZZ_CHECK(metadata.colorOrder >= 1 && metadata.colorOrder <= 3);
    FUZZ_CHECK(metadata.headerColor[3] == 0 || metadata.headerColor[3] == 255);
    FUZZ_CHECK(inHeader(metadata.modelName, header));
    FUZZ_CHECK(metadata.modelName.codePage == 0);

    // The same header without a sink fills the record the same way.
    StlMetadata silent;
    identifyBinaryExporter(&mesh, &silent, nullptr);
    FUZZ_CHECK(memcmp(&silent, &metadata, sizeof silent) == 0);
    return 0;
}
