#include "stl/ascii_exporter.h"

#include <cstddef>
#include <cstring>

#include "stl/exporter_reports.h"

namespace {

// The layout scan looks at the first lines only, and never closer to the end
// of the text than its longest pattern.
constexpr ptrdiff_t kScanStart = 6;
constexpr ptrdiff_t kScanLimit = 735;
constexpr ptrdiff_t kLongestPattern = 33;

// Things the name tests remember for the layout scan.
constexpr uint32_t kEmptyName = 1;
constexpr uint32_t kUpperAscii = 2;
constexpr uint32_t kLowerAscii = 4;
constexpr uint32_t kSolidname = 8;

// Layout flags, one per pattern family.
constexpr uint32_t kFacetAtLineStart = 1;        // CR LF "f"
constexpr uint32_t kFacetOneBlank = 2;           // CR LF " f"
constexpr uint32_t kLoopTrailingBlank = 4;       // "outer loop " CR LF "v"
constexpr uint32_t kLoopTwoVertexThree = 8;      // CR LF, 2 blanks loop, CR LF, 3 blanks "v"
constexpr uint32_t kLoopTwoVertexFour = 16;      // CR LF, 2 blanks loop, CR LF, 4 blanks "v"
constexpr uint32_t kLoopFourVertexSix = 32;      // 4 blanks loop, 6 blanks "vertex", 3 blanks
constexpr uint32_t kAllLayoutFlags = 63;

struct LayoutPattern {
    const char* bytes;
    uint8_t length;
    uint32_t flag;
};

#define PATTERN(text, flag) {text, sizeof(text) - 1, flag}
constexpr LayoutPattern kLayoutPatterns[] = {
    PATTERN("\r\nf", kFacetAtLineStart),
    PATTERN("\r\n f", kFacetOneBlank),
    PATTERN("\r\nouter loop \r\nv", kLoopTrailingBlank),
    PATTERN("\r\n  outer loop\r\n   v", kLoopTwoVertexThree),
    PATTERN("\r\n  outer loop\r\n    v", kLoopTwoVertexFour),
    PATTERN("\n    outer loop\n      vertex   ", kLoopFourVertexSix),
    PATTERN("\r\n    outer loop\r\n      vertex   ", kLoopFourVertexSix),
};
#undef PATTERN

template <size_t N>
bool isText(const uint8_t* bytes, size_t length, const char (&text)[N]) {
    return length == N - 1 && memcmp(bytes, text, N - 1) == 0;
}

template <size_t N>
bool beginsWith(const uint8_t* bytes, size_t length, const char (&text)[N]) {
    return length >= N - 1 && memcmp(bytes, text, N - 1) == 0;
}

void decide(StlMetadata* metadata, const MessageSink* sink, const char* name, uint32_t space, bool millimetres) {
    reportExporter(sink, name);
    if (space != kSpaceUnknown) metadata->coordinateSpace = space;
    if (millimetres) metadata->unitScale = kMillimetre;
}

// Which layout patterns occur among the first lines.
uint32_t scanLayout(const uint8_t* text, size_t length) {
    ptrdiff_t end = static_cast<ptrdiff_t>(length) - kLongestPattern;
    if (end < 0) end = 0;
    if (end > kScanLimit) end = kScanLimit;
    uint32_t found = 0;
    for (ptrdiff_t i = kScanStart; i < end && found != kAllLayoutFlags; ++i) {
        for (const LayoutPattern& pattern : kLayoutPatterns) {
            if (!(found & pattern.flag) && memcmp(text + i, pattern.bytes, pattern.length) == 0) found |= pattern.flag;
        }
    }
    return found;
}

void identifyByLayout(uint32_t remembered, uint32_t layout, StlMetadata* metadata, const MessageSink* sink) {
    auto has = [layout](uint32_t flags) { return (layout & flags) == flags; };
    if (has(kFacetAtLineStart | kLoopTwoVertexFour)) {
        decide(metadata, sink, "SketchUp", kSpaceUnknown, false);
    } else if (has(kFacetOneBlank | kLoopTwoVertexThree)) {
        decide(metadata, sink, "Visualization Toolkit", kSpaceZUp, true);
    } else if (has(kFacetOneBlank | kLoopTwoVertexFour) && (remembered & kSolidname)) {
        decide(metadata, sink, "Autodesk Netfabb", kSpaceZUp, true);
    } else if ((remembered & kEmptyName) && has(kLoopTrailingBlank)) {
        decide(metadata, sink, "T-Flex CAD", kSpaceUnknown, false);
    } else if (has(kLoopFourVertexSix) && (remembered & kLowerAscii)) {
        decide(metadata, sink, "Autodesk 123D", kSpaceZUp, true);
    } else if (has(kLoopFourVertexSix) && (remembered & kUpperAscii)) {
        decide(metadata, sink, "Autodesk Fusion 360", kSpaceZUp, true);
    }
}

// The name tests; false when the name leaves the decision to the layout scan,
// with what it showed in *remembered.
bool identifyByName(CountedText* nameSlot, StlMetadata* metadata, const MessageSink* sink, uint32_t* remembered) {
    const uint8_t* name = reinterpret_cast<const uint8_t*>(nameSlot->bytes);
    uint32_t n = nameSlot->length;
    if (n == 0) {
        *remembered = kEmptyName;
        return false;
    }
    if (isText(name, n, "stl file generated from AC3D")) {
        decide(metadata, sink, "Inivis AC3D", kSpaceZUp, true);
        return true;
    }
    if (n >= 46 && beginsWith(name, n, "\"Object-0\"; Produced by Art of Illusion")) {
        metadata->unitScale = kMillimetre;
        readIllusionTrailer(name + 9, n - 9, sink);
        return true;
    }
    if (beginsWith(name, n, "CAD Exchanger ")) {
        decide(metadata, sink, "CAD Exchanger", kSpaceYUp, false);
        return true;
    }
    if (isText(name, n, "shape, STL ascii file, created with Open CASCADE Technology")) {
        decide(metadata, sink, "Open CASCADE Technology", kSpaceYUp, false);
        return true;
    }
    if (applyQuotedUnitTag(name, name + n, nameSlot, metadata, sink)) return true;
    if (isText(name, n, "created by TurboCAD")) {
        decide(metadata, sink, "IMSI/Design TurboCAD", kSpaceUnknown, false);
        return true;
    }
    if (n >= 32 && beginsWith(name, n, "STL file created by Vectorworks")) {
        // The name proper starts with the word Vectorworks.
        constexpr uint32_t kNameStart = 20;
        constexpr uint32_t kMaxName = 64;
        char exporter[kMaxName + 1];
        uint32_t length = n - kNameStart < kMaxName ? n - kNameStart : kMaxName;
        memcpy(exporter, name + kNameStart, length);
        exporter[length] = 0;
        decide(metadata, sink, exporter, kSpaceUnknown, false);
        return true;
    }
    if (n == 5) {
        if (isText(name, n, "ASCII")) *remembered = kUpperAscii;
        if (isText(name, n, "ascii")) *remembered = kLowerAscii;
        return false;
    }
    if (n == 9) {
        if (isText(name, n, "CATIA STL")) {
            decide(metadata, sink, "Dassault CATIA Digitized Shape Editor", kSpaceZUp, true);
            return true;
        }
        if (isText(name, n, "stl_item0")) {
            decide(metadata, sink, "Autodesk Tinkercad", kSpaceZUp, true);
            return true;
        }
        if (isText(name, n, "solidname")) *remembered = kSolidname;
        return false;
    }
    if (beginsWith(name, n, "MYSOLID")) {
        const uint8_t* rest = name + 7;
        uint32_t restLength = n - 7;
        const char* exporter = beginsWith(rest, restLength, " created by IVCON")    ? "IVCON"
                               : beginsWith(rest, restLength, " created by IVREAD") ? "IVREAD"
                                                                                    : "IVCON/IVREAD";
        decide(metadata, sink, exporter, kSpaceUnknown, false);
        return true;
    }
    if (isText(name, n, "OpenSCAD_Model")) {
        decide(metadata, sink, "OpenSCAD", kSpaceZUp, true);
        return true;
    }
    return false;
}

}  // namespace

void identifyAsciiExporter(StlSolid* solids, uint32_t solidCount, StlMetadata* metadata,
                           const uint8_t* textBegin, const uint8_t* textEnd, const MessageSink* sink) {
    clearExporterMetadata(metadata, 0);
    size_t length = static_cast<size_t>(textEnd - textBegin);
    if (solidCount != 0 && solids) {
        static constexpr char kIroncadEnd[] = "end solid\r\n";
        constexpr size_t kIroncadEndLength = sizeof kIroncadEnd - 1;
        uint32_t remembered = 0;
        if (length >= kIroncadEndLength && memcmp(textEnd - kIroncadEndLength, kIroncadEnd, kIroncadEndLength) == 0) {
            decide(metadata, sink, "IRONCAD", kSpaceZUp, true);
        } else if (!identifyByName(&solids[0].name, metadata, sink, &remembered)) {
            identifyByLayout(remembered, scanLayout(textBegin, length), metadata, sink);
        }
    }
    applyExporterDefaults(metadata, sink);
}
