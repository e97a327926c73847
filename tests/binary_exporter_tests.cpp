#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "exporter_test_support.h"
#include "stl/binary_exporter.h"

using namespace exporter_test;

namespace {

struct BinaryResult {
    StlMetadata metadata;
    std::vector<Report> reports;
    std::string modelName;
    ptrdiff_t modelNameOffset = -1;  // from the header start; -1 when no name points into it
};

// The header bytes (at most 80, padded with `fill`) and a triangle count
// whose first byte is `countByte`: an 84-byte file, exactly, on the heap.
BinaryResult identify(std::string header, char fill = '\0', bool withSink = true, char countByte = 0) {
    EXPECT_LE(header.size(), 80u);
    header.resize(80, fill);
    header += std::string(1, countByte) + std::string(3, '\0');
    ExactBytes file(header);
    StlMesh mesh{file.begin(), nullptr, 0};
    RecordingSink sink;
    BinaryResult result;
    result.metadata = garbageMetadata();
    identifyBinaryExporter(&mesh, &result.metadata, withSink ? sink.sink() : nullptr);
    result.reports = sink.reports;
    result.modelName = modelNameOf(result.metadata);
    if (result.metadata.modelName.length != 0) {
        ptrdiff_t offset = reinterpret_cast<const uint8_t*>(result.metadata.modelName.bytes) - file.begin();
        EXPECT_GE(offset, 0);
        EXPECT_LE(offset + ptrdiff_t{result.metadata.modelName.length}, 80);
        result.modelNameOffset = offset;
    }
    return result;
}

void expectMetadata(const BinaryResult& result, uint32_t space, uint32_t unitBits, uint8_t colorOrder) {
    EXPECT_EQ(+result.metadata.coordinateSpace, space);
    EXPECT_EQ(bitsOf(result.metadata.unitScale), unitBits);
    EXPECT_EQ(+result.metadata.colorOrder, colorOrder);
}

void expectNoHeaderColour(const BinaryResult& result) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(+result.metadata.headerColor[i], 0) << i;
}

void expectHeaderColour(const BinaryResult& result, uint8_t red, uint8_t green, uint8_t blue) {
    EXPECT_EQ(+result.metadata.headerColor[0], red);
    EXPECT_EQ(+result.metadata.headerColor[1], green);
    EXPECT_EQ(+result.metadata.headerColor[2], blue);
    EXPECT_EQ(+result.metadata.headerColor[3], 255);
}

const std::vector<Report> kNothing{kSpaceWarning, kUnitWarning};

std::string bytes(const char* text, size_t length) {
    return std::string(text, length);
}
#define BYTES(text) bytes(text, sizeof(text) - 1)

// ---------------------------------------------------------------------------
// The signature table, row by row in the order the exporters must be tried.
// Space: 'Z' Z up, 'Y' Y up, '?' left unknown; mm: the row sets millimetres;
// order: colorOrder after the row (1 = left as is, 2 = RGB, 3 = BGR); length:
// the signature's length where the exporter fixes it (web addresses, whole headers).

struct Row {
    int number;
    std::string signature;
    std::string exporter;
    char space;
    bool mm;
    uint8_t order;
    size_t length;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << "row " << row.number << " (" << row.exporter << ")";
}

const std::string kEightyA(80, 'A');
const std::string kFreeCad = "MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH-MESH\n";

const std::vector<Row> kRows{
    {1, "Exported from 3D Slash ", "3D Slash", 'Z', true, 1, 0},
    {2, "Cube Software 3D Systems Inc", "3D Systems Cube", 'Z', true, 1, 0},
    {3, "Cubify 3D Systems Inc", "3D Systems Cubify", 'Z', true, 1, 0},
    {4, "BINARY STL WITH VOXEL DATA EXPORTD FROM 3D-COAT", "3D-Coat", 'Z', true, 1, 0},
    {5, BYTES("Created by 3DBrowser (www.mootools.com)\0"), "3DBrowser", 'Z', true, 2, 40},
    {6, BYTES("www.3shape.com\0"), "3Shape", 'Z', true, 1, 15},
    {7, "Exported from 3DTin", "3DTin", 'Z', true, 1, 0},
    {8, "ADMeshSTLmodel", "ADMesh", 'Z', true, 1, 0},
    {9, "Processed by ADMesh version ", "ADMesh", 'Z', true, 1, 0},
    {10, "Adobe STL generated file", "Adobe Photoshop", 'Z', true, 1, 0},
    {11, "alibre stl binary : ", "Alibre Design", 'Z', false, 1, 0},
    {12, "Anarkik3D-STLIO: Copyright(c) Anarkik3D Ltd.,", "Anarkik3D Design", 'Z', true, 1, 0},
    {13, "File exported by Artec Group 3D Scanning Solutions, www.artec-group.com ",
     "Artec Group 3D Scanning Solutions", 'Z', true, 1, 72},
    {14, "binary stl file ", "Autodesk 123D", 'Z', true, 1, 0},
    {15, "ArtCAM STL File ", "Autodesk ArtCAM", 'Z', true, 1, 0},
    {16, BYTES("AutoCAD solid\0"), "Autodesk AutoCAD", 'Z', true, 1, 0},
    {17, "MESHMIXER-STL-BINARY-FORMAT-", "Autodesk Meshmixer", 'Z', true, 3, 0},
    {18, "meshmixer-stl-binary-format", "Autodesk Meshmixer", 'Z', true, 3, 0},
    {19, BYTES("Exported from blender\0"), "Blender", 'Z', true, 1, 0},
    {20, "STL Exporter v1.1 (MicroStation", "Bentley MicroStation", 'Z', true, 1, 0},
    {21, kEightyA, "BlocksCAD", 'Z', true, 1, 80},
    {22, "solid STL file created by BobCAD-CAM", "BobCAD-CAM", 'Z', true, 1, 0},
    {23, "BRL-CAD generated STL FILE", "BRL-CAD", 'Z', true, 1, 0},
    {24, BYTES("Generated by Caligari's trueSpace\0"), "Caligari's trueSpace", 'Z', true, 1, 0},
    {25, "STL file created by Cheetah3D", "Cheetah3D", 'Z', true, 1, 0},
    {26, BYTES("STL generated by Digitized Shape Editor/CATIA\0"), "Dassault CATIA Digitized Shape Editor", 'Z', true,
     1, 0},
    {27, BYTES("STL generiert durch Digitized Shape Editor/CATIA\0"), "Dassault CATIA Digitized Shape Editor", 'Z',
     true, 1, 0},
    {28, BYTES("STL g\xE9n\xE9r\xE9 par Digitized Shape Editor/CATIA\0"), "Dassault CATIA Digitized Shape Editor", 'Z',
     true, 1, 0},
    {29, BYTES("Binary STL file written by Delcam\0"), "Delcam", 'Z', true, 1, 0},
    {30, "STL file produced BY form.Z", "AutoDesSys form-Z", 'Z', false, 1, 0},
    {31, kFreeCad, "FreeCAD", 'Z', true, 1, 80},
    {32, "STL Output from geomagic Studio ", "Geomagic Studio", 'Z', true, 1, 0},
    {33, "> HiCAD STL Binary Export", "HiCAD", 'Z', true, 1, 0},
    {34, "created by TurboCAD", "IMSI/Design TurboCAD", 'Z', true, 1, 0},
    {35, "created by TURBOCAD", "IMSI/Design TurboCAD", 'Z', true, 1, 0},
    {36, "Created by TurboCAD", "IMSI/Design TurboCAD", 'Z', true, 1, 0},
    {37, "Erstellt in TurboCAD", "IMSI/Design TurboCAD", 'Z', true, 1, 0},
    {38, "Erstellt in TURBOCAD", "IMSI/Design TurboCAD", 'Z', true, 1, 0},
    {39, BYTES("File generated by InnovMetric Software Inc.\0"), "InnovMetric PolyWorks", 'Z', true, 1, 0},
    {40, "KISSlicer ", "KISSlicer", 'Z', true, 1, 0},
    {41, "Exported with LeoSculpt", "Leopoly Leosculpt", 'Z', true, 1, 0},
    {42, "libthing_export", "MakerBot Digitizer", 'Z', true, 1, 0},
    {43, "MoI Binary STL", "Moment of Inspiration", 'Z', true, 1, 0},
    {44, "Photo To Mesh", "PhotoToMesh", 'Z', true, 1, 0},
    {45, "Polygonica STL", "Tech Soft 3D Polygonica", 'Z', true, 1, 0},
    {46, "Solid generated by Pro/DESKTOP", "PTC Pro/DESKTOP", 'Z', true, 1, 0},
    {47, "Created by ViaCAD ", "Punch! ViaCAD", 'Z', true, 1, 0},
    {48, "Binary STL\r\nUnit=MM\r\nFlavor=RUHRSOURCE\r\n", "RUHRSOURCE CUR3D", 'Z', true, 1, 0},
    {49, "solid binary STL from Solid Edge,", "Siemens PLM Solid Edge", 'Z', true, 1, 0},
    {50, "Exported by Simplify3D ", "Simplify3D", 'Z', true, 1, 0},
    {51, "Stratasys stl", "Stratasys", 'Z', true, 1, 0},
    {52, "STL binary generated by T-FLEX CAD ", "T-Flex CAD", 'Z', true, 1, 0},
    {53, BYTES("Binary STL Writer\0"), "TouchTerrain", 'Z', true, 1, 0},
    {54, "VCG ", "Visualization and Computer Graphics Library", 'Z', true, 1, 0},
    {55, "Visualization Toolkit generated SLA File ", "Visualization Toolkit", 'Z', true, 1, 0},
    {56, "3DPFSTLB3Wtw", "XYZmaker", 'Z', true, 1, 0},
    {57, "3DPSSTLB3WTW", "XYZmaker", 'Z', true, 1, 0},
    {58, "STL Generated by XYZMaker", "XYZmaker", 'Z', true, 1, 0},
    {59, BYTES("YinHua RP Solids\0"), "YinHua Rapid Prototyping", 'Z', true, 1, 0},
    {60, "Stereolithography File Generated By ZWCAD Software Co..", "ZWSOFT ZWCAD", 'Z', true, 1, 0},
    {61, BYTES("STL export       \0"), "unknown (export)", 'Z', true, 1, 0},
    {62, BYTES("id \0"), "unknown (id)", 'Z', true, 1, 0},
    {63, "SLA-1 Triangle File, Autodesk Inc.", "Autodesk", 'Y', true, 1, 0},
    {64, BYTES("STL generated by MeshLab\0"), "MeshLab", 'Y', true, 1, 0},
    {65, BYTES("NextEngine ScanStudio\0"), "NextEngine ScanStudio", 'Y', true, 1, 0},
    {66, "STL File created by netfabb - http://www.netfabb.com ", "Autodesk Netfabb", 'Z', false, 1, 53},
    {67, "STL File created by NetFabb - http://www.netfabb.com ", "Autodesk Netfabb", 'Z', false, 1, 53},
    {68, "Exported from Chrome 3DView", "3DView Chrome App", '?', false, 1, 0},
    {69, "Materialise Coloured STL File", "Materialise Magics", 'Z', true, 1, 0},
    {70, "Vectary STL Export ", "Vectary", 'Z', true, 1, 0},
    {71, BYTES("www.dental-wings.com\0"), "Dental Wings", 'Z', true, 1, 21},
    {72, "COLOR=\x7F\x7F\x7F MATERIAL=\x7F\x7F\x7F ", "ZBrush", 'Y', true, 1, 0},
};

TEST(BinaryExporterTable, HasSeventyTwoRowsInOrder) {
    ASSERT_EQ(kRows.size(), size_t{kBinaryExporterSignatures});
    for (size_t i = 0; i < kRows.size(); ++i) {
        ASSERT_EQ(kRows[i].number, int(i + 1));
        const BinaryExporterSignature* row = binaryExporterSignature(uint32_t(i));
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(std::string(row->bytes, row->length), kRows[i].signature) << "row " << i + 1;
        EXPECT_STREQ(row->exporter, kRows[i].exporter.c_str()) << "row " << i + 1;
    }
    EXPECT_EQ(binaryExporterSignature(kBinaryExporterSignatures), nullptr);
}

TEST(BinaryExporterTable, SignatureLengthsAreTheExportersOwn) {
    for (const Row& expected : kRows) {
        if (expected.length == 0) continue;
        EXPECT_EQ(expected.signature.size(), expected.length) << "row " << expected.number;
        EXPECT_EQ(+binaryExporterSignature(uint32_t(expected.number - 1))->length, expected.length)
            << "row " << expected.number;
    }
}

TEST(BinaryExporterTable, EveryRowCanBeReached) {
    // No earlier signature is a prefix of a later one.
    for (size_t later = 0; later < kRows.size(); ++later) {
        for (size_t earlier = 0; earlier < later; ++earlier) {
            const std::string& a = kRows[earlier].signature;
            const std::string& b = kRows[later].signature;
            EXPECT_FALSE(b.compare(0, a.size(), a) == 0) << kRows[earlier].number << " hides " << kRows[later].number;
        }
    }
}

class BinaryRowTest : public ::testing::TestWithParam<Row> {
protected:
    void expectRow(const BinaryResult& result) {
        const Row& row = GetParam();
        std::vector<Report> expected{writtenBy(row.exporter)};
        if (row.space == '?') expected.push_back(kSpaceWarning);
        if (!row.mm) expected.push_back(kUnitWarning);
        EXPECT_EQ(result.reports, expected);
        expectMetadata(result, row.space == 'Y' ? 1 : 2, kMillimetreBits, row.order);
        EXPECT_EQ(result.modelName, "");
        if (row.number == 72)
            expectHeaderColour(result, 0x7F, 0x7F, 0x7F);
        else
            expectNoHeaderColour(result);
    }
};

TEST_P(BinaryRowTest, HeaderBeginningWithTheSignatureGivesTheRow) {
    expectRow(identify(GetParam().signature));
    expectRow(identify(GetParam().signature, '#'));
    expectRow(identify(GetParam().signature, '\x01'));
}

TEST_P(BinaryRowTest, TheWholeSignatureMustBePresent) {
    std::string signature = GetParam().signature;
    signature.back() ^= 1;
    for (char fill : {'\0', ' ', '#'}) {
        BinaryResult result = identify(signature, fill);
        ASSERT_FALSE(result.reports.empty());
        EXPECT_NE(result.reports[0], writtenBy(GetParam().exporter));
    }
    std::string shorter = GetParam().signature.substr(0, GetParam().signature.size() - 1);
    BinaryResult result = identify(shorter, shorter.back() == '#' ? '%' : '#');
    EXPECT_NE(result.reports[0], writtenBy(GetParam().exporter));
}

INSTANTIATE_TEST_SUITE_P(AllRows, BinaryRowTest, ::testing::ValuesIn(kRows));

TEST(BinaryExporterTable, FirstMatchingRowWins) {
    // The "solid " rule would take these headers.
    BinaryResult solidEdge = identify("solid binary STL from Solid Edge, Version 1.0");
    EXPECT_EQ(solidEdge.reports, (std::vector<Report>{writtenBy("Siemens PLM Solid Edge")}));
    EXPECT_EQ(solidEdge.modelName, "");
    expectMetadata(solidEdge, 2, kMillimetreBits, 1);
    EXPECT_EQ(identify("solid STL file created by BobCAD-CAM").reports,
              (std::vector<Report>{writtenBy("BobCAD-CAM")}));
    // The OpenSCAD rule would also take ZBrush's header.
    BinaryResult zbrush = identify(BYTES("COLOR=\x7F\x7F\x7F MATERIAL=\x7F\x7F\x7F \x7F\x7F\x7F \x7F\x7F\x7F "), ' ');
    EXPECT_EQ(zbrush.reports, (std::vector<Report>{writtenBy("ZBrush")}));
    expectMetadata(zbrush, 1, kMillimetreBits, 1);
    // Each TurboCAD spelling is its own row.
    for (const char* turbo : {"created by TurboCAD v19", "created by TURBOCAD", "Created by TurboCAD Pro",
                              "Erstellt in TurboCAD", "Erstellt in TURBOCAD 2018"}) {
        EXPECT_EQ(identify(turbo).reports, (std::vector<Report>{writtenBy("IMSI/Design TurboCAD")})) << turbo;
    }
    EXPECT_EQ(identify("created by turbocad").reports, kNothing);
    // Meshmixer in either case: "BGR".
    EXPECT_EQ(+identify("MESHMIXER-STL-BINARY-FORMAT------", '-').metadata.colorOrder, 3);
    EXPECT_EQ(+identify("meshmixer-stl-binary-format").metadata.colorOrder, 3);
    EXPECT_EQ(+identify("Meshmixer-stl-binary-format").metadata.colorOrder, 1);
}

TEST(BinaryExporterTable, EightyByteSignaturesNeedTheWholeHeader) {
    std::string freecad = kFreeCad;
    freecad[79] = 0;
    EXPECT_EQ(identify(freecad).reports, kNothing);
    std::string blocks = kEightyA;
    blocks[79] = 0;
    EXPECT_EQ(identify(blocks).reports, kNothing);
}

// ---------------------------------------------------------------------------
// 3ds Max.

TEST(BinaryExporterRules, ThreeDsMaxNamesTheObjectUpToTheFirstZero) {
    BinaryResult result = identify("STLEXP Object01");
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk 3ds Max")}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(result.modelName, "Object01");
    EXPECT_EQ(result.modelNameOffset, 7);
    EXPECT_EQ(+result.metadata.modelName.codePage, 0u);
    // No zero at all: the name runs to the end of the header.
    EXPECT_EQ(identify("STLEXP ", 'x').modelName, std::string(73, 'x'));
    // A zero right after the blank: an empty name.
    EXPECT_EQ(identify("STLEXP ").modelName, "");
    EXPECT_EQ(identify("STLEXP").reports, kNothing);
    EXPECT_EQ(identify("STLEXPObject01").reports, kNothing);
}

TEST(BinaryExporterRules, ThreeDsMaxGoesOnToTheThreeDvRule) {
    std::string header = "STLEXP Box01" + std::string(63, ' ') + "3DV*";
    BinaryResult result = identify(header, 'z');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk 3ds Max"), writtenBy("unknown (3DV)")}));
    EXPECT_EQ(result.modelName, "STLEXP Box01");
    EXPECT_EQ(result.modelNameOffset, 0);
    expectMetadata(result, 2, kMillimetreBits, 1);
}

TEST(BinaryExporterRules, RealThreeDsMaxFile) {
    std::optional<std::string> file = corpusFile("assimp_3dsmax_export.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    BinaryResult result = identify(file->substr(0, 80));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk 3ds Max")}));
    EXPECT_EQ(result.modelName, "Object01");
}

// ---------------------------------------------------------------------------
// Fusion 360 chooses the axis from its version.

struct FusionCase {
    std::string version;
    uint32_t space;
};

TEST(BinaryExporterRules, FusionAxisFollowsTheVersionDigits) {
    const std::vector<FusionCase> cases{
        {"8.6", 1},  {"0.1", 1},  {"7.6.0.251", 1}, {"9.0", 2},   {"10.0", 2}, {"99", 2},   {"x.0", 2},
        {"9.", 2},   {"7-6", 1},  {"7", 1},         {"", 1},      {" 8.6", 2}, {"A.1", 2},  {"8x", 1},
        {"/.0", 2},  {":.0", 2},  {"80", 2},        {"8 ", 1},
    };
    for (const FusionCase& c : cases) {
        BinaryResult result = identify("STLB ATF " + c.version);
        EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk Fusion 360"), kUnitWarning})) << c.version;
        expectMetadata(result, c.space, kMillimetreBits, 1);
        EXPECT_EQ(result.modelName, "");
    }
    EXPECT_EQ(identify("STLB ATF").reports, kNothing);
    EXPECT_EQ(identify("STLB ATF9.0").reports, kNothing);
}

TEST(BinaryExporterRules, FusionWithHeaderColourAndUnitTag) {
    BinaryResult result = identify(BYTES("STLB ATF 7.6.0.251 COLOR=\xA0\xB0\xC0\xFF"), ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk Fusion 360"), kUnitWarning}));
    expectHeaderColour(result, 0xA0, 0xB0, 0xC0);
    expectMetadata(result, 1, kMillimetreBits, 1);
    BinaryResult inches = identify("STLB ATF 9.1 UNITS=INCH");
    EXPECT_EQ(inches.reports, (std::vector<Report>{writtenBy("Autodesk Fusion 360")}));
    expectMetadata(inches, 2, kInchBits, 1);
}

TEST(BinaryExporterRules, FusionGoesOnToTheThreeDvRule) {
    std::string header = "STLB ATF 9.0" + std::string(63, ' ') + "3DV*";
    BinaryResult result = identify(header);
    EXPECT_EQ(result.reports,
              (std::vector<Report>{writtenBy("Autodesk Fusion 360"), writtenBy("unknown (3DV)"), kUnitWarning}));
    EXPECT_EQ(result.modelName, "STLB ATF 9.0");
    expectMetadata(result, 2, kMillimetreBits, 1);
}

TEST(BinaryExporterRules, RealFusionFile) {
    std::optional<std::string> file = corpusFile("prusa_plug_aligner_atf_color.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    BinaryResult result = identify(file->substr(0, 80));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk Fusion 360"), kUnitWarning}));
    expectMetadata(result, 1, kMillimetreBits, 1);
    expectHeaderColour(result, 0xA0, 0xA0, 0xA0);
}

// ---------------------------------------------------------------------------
// Inventor and its year.

TEST(BinaryExporterRules, InventorYearFromTheVersionDigits) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"STLB ASM 210.00", "Autodesk Inventor 2006"}, {"STLB ASM 217.00.00.5800", "Autodesk Inventor 2013"},
        {"STLB ASM 218", "Autodesk Inventor 2014"},    {"STLB ASM 219", "Autodesk Inventor 2015"},
        {"STLB ASM 220", "Autodesk Inventor 2016"},    {"STLB ASM 223", "Autodesk Inventor 2019"},
        {"STLB ASM 229", "Autodesk Inventor 2025"},    {"STLB ASM 21x", "Autodesk Inventor"},
        {"STLB ASM 21", "Autodesk Inventor"},          {"STLB ASM 22 ", "Autodesk Inventor"},
        {"STLB ASM 230", "Autodesk Inventor"},         {"STLB ASM 203", "Autodesk Inventor"},
        {"STLB ASM 2", "Autodesk Inventor"},           {"STLB ASM 21/", "Autodesk Inventor"},
        {"STLB ASM 21:", "Autodesk Inventor"},
    };
    for (const auto& [header, name] : cases) {
        BinaryResult result = identify(header);
        EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy(name), kUnitWarning})) << header;
        expectMetadata(result, 1, kMillimetreBits, 1);
    }
    EXPECT_EQ(identify("STLB ASM 1").reports, kNothing);
    EXPECT_EQ(identify("STLB ASM2").reports, kNothing);
}

TEST(BinaryExporterRules, RealInventorFile) {
    std::optional<std::string> file = corpusFile("trimesh_round_stlb_asm.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    EXPECT_EQ(identify(file->substr(0, 80)).reports,
              (std::vector<Report>{writtenBy("Autodesk Inventor 2013"), kUnitWarning}));
}

// ---------------------------------------------------------------------------
// ArchiCAD unit and scale.

struct ArchicadCase {
    std::string header;
    std::vector<Report> reports;
    float unitScale;
};

void PrintTo(const ArchicadCase& c, std::ostream* out) {
    *out << c.header;
}

class ArchicadTest : public ::testing::TestWithParam<ArchicadCase> {};

TEST_P(ArchicadTest, UnitTimesScale) {
    BinaryResult result = identify(GetParam().header, ' ');
    EXPECT_EQ(result.reports, GetParam().reports);
    expectMetadata(result, 2, bitsOf(GetParam().unitScale), 1);
    EXPECT_EQ(result.modelName, "");
}

const Report kArchicad = writtenBy("ArchiCAD");
const Report kBadUnit = warning(kWarnArchicadUnit);
const Report kBadScale = warning(kWarnArchicadScale);

INSTANTIATE_TEST_SUITE_P(
    Units, ArchicadTest,
    ::testing::Values(
        ArchicadCase{"ArchiCAD_STL", {kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_", {kArchicad}, 1.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_", {kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=CM_", {kArchicad}, 0.01f},
        ArchicadCase{"ArchiCAD_STL_Unit=FT_", {kBadUnit, kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=M", {kBadUnit, kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=", {kBadUnit, kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=CM", {kBadUnit, kArchicad}, 0.01f},  // "=CM" names the unit
        ArchicadCase{"ArchiCAD_STL_Unit=mm_", {kBadUnit, kArchicad}, 0.001f},  // "=mm" names the unit
        ArchicadCase{"ArchiCAD_STL_Unit=INCH_", {kBadUnit, kArchicad}, 0.0254f},
        ArchicadCase{"ArchiCAD_STL_unit=MM_", {kArchicad}, 0.001f},  // no "_Unit=": only the "=MM" tag
        ArchicadCase{"ArchiCAD_STL Unit=MM_Scale=100", {kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STLScale=100", {kArchicad, kUnitWarning}, 0.001f}));

INSTANTIATE_TEST_SUITE_P(
    Scales, ArchicadTest,
    ::testing::Values(
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=100", {kArchicad}, 100.0f * 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=CM_Scale=50", {kArchicad}, 50.0f * 0.01f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=2", {kArchicad}, 2.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=1", {kArchicad}, 1.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=0", {kBadScale, kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=", {kBadScale, kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=-5", {kBadScale, kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=x1", {kBadScale, kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=000", {kBadScale, kArchicad}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=007", {kArchicad}, 7.0f * 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=1000000000", {kArchicad}, 1e9f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=999999999", {kArchicad}, 999999999.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=1000000001", {kBadScale, kArchicad}, 1.0f},
        // Ten digits beyond 2^32: no wrap-around into range.
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=4294967297", {kBadScale, kArchicad}, 1.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=9999999999", {kBadScale, kArchicad}, 1.0f},
        // The digit run is cut after ten digits.
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=00000000123", {kArchicad}, 12.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=01000000000", {kArchicad}, 100000000.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=10000000000", {kArchicad}, 1e9f},
        ArchicadCase{"ArchiCAD_STL_Unit=M_Scale=00000000001", {kBadScale, kArchicad}, 1.0f},
        ArchicadCase{"ArchiCAD_STL_Unit=CM_Scale=0000000005", {kArchicad}, 5.0f * 0.01f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=25_", {kArchicad}, 25.0f * 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_scale=25", {kArchicad}, 0.001f},
        // A bad unit leaves the scale unread.
        ArchicadCase{"ArchiCAD_STL_Unit=FT_Scale=100", {kBadUnit, kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=FT_Scale=0", {kBadUnit, kArchicad, kUnitWarning}, 0.001f},
        ArchicadCase{"ArchiCAD_STL_Unit=MM_Scale=0 UNITS=INCH", {kBadScale, kArchicad}, 0.001f}));

TEST(BinaryExporterRules, ArchicadScaleDigitsEndAtPosition37) {
    // Unit "MM_" puts the scale digits at 27..36; position 37 is no longer read.
    BinaryResult result = identify("ArchiCAD_STL_Unit=MM_Scale=00000000019");
    EXPECT_EQ(result.reports, (std::vector<Report>{kArchicad}));
    EXPECT_EQ(bitsOf(result.metadata.unitScale), bitsOf(1.0f * 0.001f));
}

// ---------------------------------------------------------------------------
// Blender.

TEST(BinaryExporterRules, BlenderVersionNeedsAPointAtPosition23) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Exported from Blender-2.79", "Blender 2.79"},   {"Exported from Blender-2.91.0", "Blender 2.91"},
        {"Exported from Blender-3.6.5 LTS", "Blender 3.6."}, {"Exported from Blender-2.8", "Blender 2.8"},
        {"Exported from Blender-279", "Blender"},         {"Exported from Blender-", "Blender"},
        {"Exported from Blender-.79", "Blender"},
    };
    for (const auto& [header, name] : cases) {
        BinaryResult result = identify(header);
        EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy(name), kUnitWarning})) << header;
        expectMetadata(result, 2, kMillimetreBits, 1);
    }
    EXPECT_EQ(identify("Exported from Blender 2.79").reports, kNothing);
}

TEST(BinaryExporterRules, OldBlenderReportsThePathWithoutTrailingBlanks) {
    BinaryResult result = identify("Binary STL output from Blender: C:\\models\\gear.stl", ' ');
    EXPECT_EQ(result.reports,
              (std::vector<Report>{writtenBy("Blender"), writtenTo("C:\\models\\gear.stl"), kUnitWarning}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    std::string full = "Binary STL output from Blender: " + std::string(47, 'p') + " ";
    EXPECT_EQ(identify(full).reports[1], writtenTo(std::string(47, 'p')));
    std::string noBlank = "Binary STL output from Blender: " + std::string(48, 'p');
    EXPECT_EQ(identify(noBlank).reports[1], writtenTo(std::string(48, 'p')));
    EXPECT_EQ(identify("Binary STL output from Blender: ", ' ').reports[1], writtenTo(""));
}

TEST(BinaryExporterRules, RealBlenderFiles) {
    std::optional<std::string> old = corpusFile("assimp_wuson_blender.stl");
    std::optional<std::string> recent = corpusFile("trimesh_empty_blender_bin.stl");
    if (!old || !recent) GTEST_SKIP() << "corpus missing";
    BinaryResult result = identify(old->substr(0, 80));
    ASSERT_EQ(result.reports.size(), 3u);
    EXPECT_EQ(result.reports[0], writtenBy("Blender"));
    EXPECT_EQ(result.reports[1], writtenTo(old->substr(32, 48)));
    EXPECT_EQ(identify(recent->substr(0, 80)).reports,
              (std::vector<Report>{writtenBy("Blender 2.91"), kUnitWarning}));
}

// ---------------------------------------------------------------------------
// CAD Exchanger.

TEST(BinaryExporterRules, CadExchangerVersionRunsToTheFirstBlank) {
    BinaryResult result = identify("CAD Exchanger 3.9.0 build 1234", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("CAD Exchanger 3.9.0"), kUnitWarning}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(identify("CAD Exchanger ", ' ').reports[0], writtenBy("CAD Exchanger "));
    EXPECT_EQ(identify("CAD Exchanger 3.9", '\0').reports[0], writtenBy("CAD Exchanger 3.9"));
    EXPECT_EQ(identify("CAD Exchanger ", 'v').reports[0], writtenBy("CAD Exchanger " + std::string(66, 'v')));
    EXPECT_EQ(identify("CAD Exchanger").reports, kNothing);
}

// ---------------------------------------------------------------------------
// Slicers with a date.

TEST(BinaryExporterRules, CuraAndFlashforgeReportTheirDates) {
    BinaryResult cura = identify("CURA BINARY STL EXPORT. Mon Jan 01 12:00:00 2018 trailing", ' ');
    EXPECT_EQ(cura.reports,
              (std::vector<Report>{writtenBy("Ultimaker Cura"), written("Mon Jan 01 12:00:00 2018", 20127)}));
    expectMetadata(cura, 2, kMillimetreBits, 1);
    BinaryResult uranium = identify("Uranium STLWriter Tue Feb 02 13:14:15 2021 more text", ' ');
    EXPECT_EQ(uranium.reports,
              (std::vector<Report>{writtenBy("Ultimaker Cura"), written("Tue Feb 02 13:14:15 2021", 20127)}));
    expectMetadata(uranium, 2, kMillimetreBits, 1);
    // Bytes 21 to 24 are skipped, 25 to 41 reported.
    BinaryResult flashforge = identify("flashforge stl export    2020-03-04 05:06 and more", ' ');
    EXPECT_EQ(flashforge.reports,
              (std::vector<Report>{writtenBy("Flashforge"), written("2020-03-04 05:06 ", 20127)}));
    expectMetadata(flashforge, 2, kMillimetreBits, 1);
    EXPECT_EQ(identify("CURA BINARY STL EXPORT.").reports, kNothing);
    EXPECT_EQ(identify("Uranium STLWriter").reports, kNothing);
    EXPECT_EQ(identify("flashforge stl expor").reports, kNothing);
}

// ---------------------------------------------------------------------------
// "COLOR=" headers: Magics, Tinkercad, OpenSCAD.

TEST(BinaryExporterRules, ColourThenMaterialIsMagics) {
    BinaryResult result = identify(BYTES("COLOR=\x10\x20\x30\x40,MATERIAL=\x80\x80\x80\xFF"));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Materialise Magics")}));
    expectMetadata(result, 2, kMillimetreBits, 2);
    expectHeaderColour(result, 0x10, 0x20, 0x30);
}

TEST(BinaryExporterRules, ColourWithSeventyZerosIsTinkercad) {
    BinaryResult result = identify(BYTES("COLOR=\xFF\x80\x01\x02"));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk Tinkercad")}));
    expectMetadata(result, 2, kMillimetreBits, 2);
    expectHeaderColour(result, 0xFF, 0x80, 0x01);
    // One byte that is not zero, even the last, and it is not Tinkercad.
    std::string last = BYTES("COLOR=\xFF\x80\x01\x02") + std::string(69, '\0') + "x";
    BinaryResult notTinkercad = identify(last);
    EXPECT_EQ(notTinkercad.reports, kNothing);
    expectMetadata(notTinkercad, 2, kMillimetreBits, 1);
    expectHeaderColour(notTinkercad, 0xFF, 0x80, 0x01);
    std::string tenth = BYTES("COLOR=\xFF\x80\x01\x02") + "x";
    EXPECT_EQ(identify(tenth).reports, kNothing);
}

TEST(BinaryExporterRules, ColourMaterialAndBlankAt30IsOpenScad) {
    std::string header = BYTES("COLOR=\xA0\xA1\xA2\xFFMATERIAL=\x01\x02\x03\xFF\x04\x05\x06\xFF\x07\x08\x09");
    ASSERT_EQ(header.size(), 30u);
    BinaryResult result = identify(header + " ");
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("OpenSCAD")}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    expectHeaderColour(result, 0xA0, 0xA1, 0xA2);
    BinaryResult noBlank = identify(header + "x", ' ');
    EXPECT_EQ(noBlank.reports, kNothing);
    expectHeaderColour(noBlank, 0xA0, 0xA1, 0xA2);
}

TEST(BinaryExporterRules, RealMagicsFile) {
    std::optional<std::string> file = corpusFile("lnm_cube_3matic_color.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    BinaryResult result = identify(file->substr(0, 80));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Materialise Magics")}));
    expectMetadata(result, 2, kMillimetreBits, 2);
    expectHeaderColour(result, 0xC0, 0xC0, 0xC0);
}

// ---------------------------------------------------------------------------
// Mastercam and its entity colour.

std::string mastercam(const std::string& tail) {
    std::string header = "MASTERCAM STL DATA";
    header.resize(60, ' ');
    return header + tail;
}

TEST(BinaryExporterRules, MastercamEntityColourIsHexadecimal) {
    BinaryResult result = identify(mastercam("ENTITY COLOR:#FF8000"));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("CNC Mastercam")}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    expectHeaderColour(result, 0xFF, 0x80, 0x00);
    expectHeaderColour(identify(mastercam("ENTITY COLOR:#0A1B2C")), 0x0A, 0x1B, 0x2C);
    // Lower case is not recognised: "f" counts as its code minus that of "0".
    expectHeaderColour(identify(mastercam("ENTITY COLOR:#ff0f0G")), uint8_t(('f' - '0') * 16 + ('f' - '0')), uint8_t('f' - '0'),
                       uint8_t(('G' - '0')));
    BinaryResult noColour = identify(mastercam("ENTITY COLOUR#FF8000"));
    EXPECT_EQ(noColour.reports, (std::vector<Report>{writtenBy("CNC Mastercam")}));
    expectNoHeaderColour(noColour);
    expectNoHeaderColour(identify(mastercam(" ENTITY COLOR:#FF800")));
    EXPECT_EQ(identify("MASTERCAM STL DAT").reports, kNothing);
}

TEST(BinaryExporterRules, MastercamColourGivesWayToColourEquals) {
    std::string header = "MASTERCAM STL DATA COLOR=abc";
    header.resize(60, ' ');
    expectHeaderColour(identify(header + "ENTITY COLOR:#FF8000"), 'a', 'b', 'c');
}

// ---------------------------------------------------------------------------
// Nothing but zeros.

TEST(BinaryExporterRules, EightyZerosAreOnshapeOr3DBuilderWithoutWarnings) {
    BinaryResult result = identify("");
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Onshape or Microsoft 3D Builder")}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    expectNoHeaderColour(result);
    EXPECT_EQ(+result.metadata.modelName.length, 0u);
    EXPECT_EQ(identify(std::string(79, '\0') + "\x01").reports, kNothing);
    // The triangle count does not belong to the header.
    EXPECT_EQ(identify("", '\0', true, 7).reports[0], writtenBy("Onshape or Microsoft 3D Builder"));
}

// ---------------------------------------------------------------------------
// Rhino.

TEST(BinaryExporterRules, RhinoReportsItsDateWhenClosedAt36) {
    BinaryResult result = identify("Rhinoceros Binary STL ( May 22 2017 )\r\n", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Rhino"), written("May 22 2017 ", 20127)}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(identify("Rhinoceros Binary STL ( May 2 2017 )", ' ').reports, (std::vector<Report>{writtenBy("Rhino")}));
    EXPECT_EQ(identify("Rhinoceros Binary STL (").reports, (std::vector<Report>{writtenBy("Rhino")}));
    EXPECT_EQ(identify("Rhinoceros Binary STL", ' ').reports, kNothing);
}

TEST(BinaryExporterRules, RealRhinoFile) {
    std::optional<std::string> file = corpusFile("prusa_spool_holder_rhino.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    EXPECT_EQ(identify(file->substr(0, 80)).reports,
              (std::vector<Report>{writtenBy("Rhino"), written("May 22 2017 ", 20127)}));
}

// ---------------------------------------------------------------------------
// Headers that begin "solid ".

TEST(BinaryExporterRules, SolidWithoutZeroIsSketchUpOrSolidWorks) {
    BinaryResult result = identify("solid angle_block", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("SketchUp or SolidWorks"), kSpaceWarning, kUnitWarning}));
    EXPECT_EQ(result.modelName, "angle_block");
    EXPECT_EQ(result.modelNameOffset, 6);
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(identify("solid ", 'n').modelName, std::string(74, 'n'));
    EXPECT_EQ(identify("solid ", ' ').modelName, "");
}

TEST(BinaryExporterRules, SolidZeroAndStlOutput) {
    BinaryResult output = identify(BYTES("solid part1\0STL Output"));
    EXPECT_EQ(output.reports, (std::vector<Report>{writtenBy("unknown (STL Output)"), kSpaceWarning, kUnitWarning}));
    EXPECT_EQ(output.modelName, "part1");
    expectMetadata(output, 2, kMillimetreBits, 1);
    BinaryResult zero = identify(BYTES("solid part1\0"), ' ');
    EXPECT_EQ(zero.reports, (std::vector<Report>{writtenBy("unknown (solid zero)"), kUnitWarning}));
    EXPECT_EQ(zero.modelName, "part1");
    expectMetadata(zero, 1, kMillimetreBits, 1);
    BinaryResult empty = identify(BYTES("solid \0STL Output"));
    EXPECT_EQ(empty.reports[0], writtenBy("unknown (STL Output)"));
    EXPECT_EQ(empty.modelName, "");
    EXPECT_EQ(identify(BYTES("solid part1\0STL Outpu")).reports[0], writtenBy("unknown (solid zero)"));
    EXPECT_EQ(identify("solid").reports, kNothing);
    EXPECT_EQ(identify("Solid part1").reports, kNothing);
}

TEST(BinaryExporterRules, StlOutputIsLookedForOnlyWhenItFitsBefore80) {
    // Zero at 68: "STL Output" at 69..78 still counts; zero at 69: no longer.
    std::string at68 = "solid " + std::string(62, 'n') + std::string(1, '\0') + "STL Output";
    ASSERT_EQ(at68.size(), 79u);
    BinaryResult counted = identify(at68);
    EXPECT_EQ(counted.reports[0], writtenBy("unknown (STL Output)"));
    EXPECT_EQ(counted.modelName, std::string(62, 'n'));
    std::string at69 = "solid " + std::string(63, 'n') + std::string(1, '\0') + "STL Output";
    ASSERT_EQ(at69.size(), 80u);
    BinaryResult late = identify(at69);
    EXPECT_EQ(late.reports, (std::vector<Report>{writtenBy("unknown (solid zero)"), kUnitWarning}));
    EXPECT_EQ(late.modelName, std::string(63, 'n'));
    // A zero only at 79.
    BinaryResult last = identify("solid " + std::string(73, 'n'));
    EXPECT_EQ(last.reports[0], writtenBy("unknown (solid zero)"));
    EXPECT_EQ(last.modelName, std::string(73, 'n'));
}

TEST(BinaryExporterRules, RealSolidHeaders) {
    std::optional<std::string> blanks = corpusFile("trimesh_angle_block_solidhdr.stl");
    std::optional<std::string> zero = corpusFile("pyslm_cube_prt_solidhdr.stl");
    if (!blanks || !zero) GTEST_SKIP() << "corpus missing";
    BinaryResult a = identify(blanks->substr(0, 80));
    EXPECT_EQ(a.reports[0], writtenBy("SketchUp or SolidWorks"));
    EXPECT_EQ(a.modelName, "angle_block");
    BinaryResult b = identify(zero->substr(0, 80));
    EXPECT_EQ(b.reports, (std::vector<Report>{writtenBy("unknown (solid zero)"), kUnitWarning}));
    EXPECT_EQ(b.modelName, "PRT0230");
    expectMetadata(b, 1, kMillimetreBits, 1);
}

// ---------------------------------------------------------------------------
// SketchUp.

TEST(BinaryExporterRules, SketchUpNameAndOptionalMillimetres) {
    BinaryResult mm = identify("SketchUp STL :mm:Garden Shed", ' ');
    EXPECT_EQ(mm.reports, (std::vector<Report>{writtenBy("SketchUp")}));
    expectMetadata(mm, 1, kMillimetreBits, 1);
    EXPECT_EQ(mm.modelName, "Garden Shed");
    EXPECT_EQ(mm.modelNameOffset, 17);
    BinaryResult plain = identify("SketchUp STL Garden Shed", ' ');
    EXPECT_EQ(plain.reports, (std::vector<Report>{writtenBy("SketchUp"), kUnitWarning}));
    expectMetadata(plain, 1, kMillimetreBits, 1);
    EXPECT_EQ(plain.modelName, "Garden Shed");
    EXPECT_EQ(plain.modelNameOffset, 13);
    EXPECT_EQ(identify("SketchUp STL :in:Shed", ' ').modelName, ":in:Shed");
    EXPECT_EQ(identify("SketchUp STL ", 'w').modelName, std::string(67, 'w'));
    EXPECT_EQ(identify("SketchUp STL").reports, kNothing);
}

// ---------------------------------------------------------------------------
// Quoted name with a unit tag.

TEST(BinaryExporterRules, QuotedUnitTagIsSpaceClaim) {
    BinaryResult mm = identify("\"Bracket<stl unit=MM>\"");
    EXPECT_EQ(mm.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    expectMetadata(mm, 2, kMillimetreBits, 1);
    EXPECT_EQ(mm.modelName, "Bracket");
    EXPECT_EQ(mm.modelNameOffset, 1);
    BinaryResult inch = identify("\"Part 1<stl unit=INCHES>\"");
    EXPECT_EQ(inch.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    expectMetadata(inch, 2, kInchBits, 1);
    EXPECT_EQ(inch.modelName, "Part 1");
    // No zero: the tag must end the whole header.
    std::string full = "\"" + std::string(61, 'q') + "<stl unit=INCHES>\"";
    ASSERT_EQ(full.size(), 80u);
    BinaryResult whole = identify(full);
    EXPECT_EQ(whole.reports[0], writtenBy("ANSYS SpaceClaim"));
    EXPECT_EQ(whole.modelName, std::string(61, 'q'));
    // Something between the tag and the zero: only a quoted name.
    BinaryResult after = identify("\"Bracket<stl unit=MM>\" ");
    EXPECT_EQ(after.reports[0], writtenBy("DesignSpark (RS Components)"));
    EXPECT_EQ(after.modelName, "Bracket<stl unit=MM>");
}

// ---------------------------------------------------------------------------
// 3D Systems VIEW and the 3DV tag.

TEST(BinaryExporterRules, ThreeDSystemsViewNamesTheModel) {
    BinaryResult result = identify(">3D Systems - View: Impeller", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("3D Systems VIEW"), kSpaceWarning, kUnitWarning}));
    EXPECT_EQ(result.modelName, "Impeller");
    EXPECT_EQ(result.modelNameOffset, 20);
    EXPECT_EQ(identify(">3D Systems - View:").reports, kNothing);
}

TEST(BinaryExporterRules, ThreeDvTagAt75) {
    std::string header = "Model 7";
    header.resize(75, ' ');
    BinaryResult result = identify(header + "3DV*", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("unknown (3DV)"), kSpaceWarning, kUnitWarning}));
    EXPECT_EQ(result.modelName, "Model 7");
    EXPECT_EQ(result.modelNameOffset, 0);
    header.resize(74);
    EXPECT_EQ(identify(header + "3DV*", ' ').reports, kNothing);
    header.resize(75, ' ');
    EXPECT_EQ(identify(header + "3DV", ' ').reports, kNothing);
}

// ---------------------------------------------------------------------------
// Windows paths.

TEST(BinaryExporterRules, PathWithUnderscoreAndCIsVisCam) {
    std::string header = "D:\\parts\\housing.stl";
    header.resize(70, '_');
    BinaryResult result = identify(header + "C", ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Materialise VisCAM"), writtenTo("D:\\parts\\housing.stl"),
                                                   kSpaceWarning, kUnitWarning}));
    expectMetadata(result, 2, kMillimetreBits, 3);
    // Underscores inside the path stay.
    std::string inner = "c:\\a_b_";
    inner.resize(70, '_');
    EXPECT_EQ(identify(inner + "C").reports[1], writtenTo("c:\\a_b"));
    // The underscore must be at 69 and the C at 70.
    std::string early = "D:\\parts\\housing.stl";
    early.resize(69, '_');
    EXPECT_EQ(identify(early + "C", ' ').reports, kNothing);
    std::string noC = "D:\\parts\\housing.stl";
    noC.resize(70, '_');
    EXPECT_EQ(identify(noC + "c", ' ').reports, kNothing);
}

TEST(BinaryExporterRules, PathEndingInZerosIsReportedWithoutThem) {
    BinaryResult result = identify("C:\\Users\\me\\model.stl");
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenTo("C:\\Users\\me\\model.stl"), kSpaceWarning, kUnitWarning}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    std::string longest = "z:\\" + std::string(76, 'p');
    EXPECT_EQ(identify(longest).reports[0], writtenTo(longest));
    // Byte 79 not zero: nothing.
    EXPECT_EQ(identify("C:\\Users\\me\\model.stl", ' ').reports, kNothing);
    // Not a path.
    EXPECT_EQ(identify("1:\\model.stl").reports, kNothing);
    EXPECT_EQ(identify("C:/model.stl").reports, kNothing);
    EXPECT_EQ(identify("C;\\model.stl").reports, kNothing);
    EXPECT_EQ(identify("[:\\model.stl").reports, kNothing);
}

// ---------------------------------------------------------------------------
// A name in double quotes.

TEST(BinaryExporterRules, QuotedNameFollowedByZerosIsDesignSpark) {
    BinaryResult result = identify("\"Enclosure lid\"");
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("DesignSpark (RS Components)")}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(result.modelName, "Enclosure lid");
    EXPECT_EQ(result.modelNameOffset, 1);
    // Closed by a zero instead of a quote: byte c + 2 is zero too.
    EXPECT_EQ(identify("\"Lid").reports[0], writtenBy("DesignSpark (RS Components)"));
    EXPECT_EQ(identify("\"Lid").modelName, "Lid");
    // Byte c + 1 may be anything.
    EXPECT_EQ(identify("\"Lid\"x").reports[0], writtenBy("DesignSpark (RS Components)"));
    // Byte c + 2 not zero: only the name.
    BinaryResult named = identify("\"Lid\" x");
    EXPECT_EQ(named.reports, kNothing);
    EXPECT_EQ(named.modelName, "Lid");
}

TEST(BinaryExporterRules, QuotedNameAtTheEndOfTheHeader) {
    // No closing quote: c = 80.
    BinaryResult open = identify("\"", 'n');
    EXPECT_EQ(open.reports[0], writtenBy("DesignSpark (RS Components)"));
    EXPECT_EQ(open.modelName, std::string(79, 'n'));
    // Closing quote at 79.
    BinaryResult at79 = identify("\"" + std::string(78, 'n') + "\"");
    EXPECT_EQ(at79.reports[0], writtenBy("DesignSpark (RS Components)"));
    EXPECT_EQ(at79.modelName, std::string(78, 'n'));
    // Closing quote at 78: byte 80, the count's first byte, decides.
    std::string at78 = "\"" + std::string(77, 'n') + "\"x";
    BinaryResult zeroCount = identify(at78, '\0', true, 0);
    EXPECT_EQ(zeroCount.reports[0], writtenBy("DesignSpark (RS Components)"));
    BinaryResult someCount = identify(at78, '\0', true, 5);
    EXPECT_EQ(someCount.reports, kNothing);
    EXPECT_EQ(someCount.modelName, std::string(77, 'n'));
}

const std::string kIllusionTrailer = "\"; Produced by Art of Illusion 3.0.3, Sat Jan 05 12:34:56 CET 2019";

TEST(BinaryExporterRules, ArtOfIllusionHeaderWithDate) {
    BinaryResult result = identify("\"Object-0" + kIllusionTrailer, ' ');
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Art of Illusion 3.0.3"),
                                                   written("Sat Jan 05 12:34:56 CET 2019", 20127), kSpaceWarning}));
    expectMetadata(result, 2, kMillimetreBits, 1);
    EXPECT_EQ(result.modelName, "Object-0");
}

TEST(BinaryExporterRules, ArtOfIllusionNeedsThirtySixBytesAndSixtySixForTheDate) {
    // The closing quote at c; 80 - c bytes are left.
    auto header = [](size_t c) { return "\"" + std::string(c - 1, 'o') + kIllusionTrailer; };
    EXPECT_EQ(identify(header(14)).reports, (std::vector<Report>{writtenBy("Art of Illusion 3.0.3"),
                                                                 written("Sat Jan 05 12:34:56 CET 2019", 20127),
                                                                 kSpaceWarning}));
    EXPECT_EQ(identify(header(15).substr(0, 80)).reports,
              (std::vector<Report>{writtenBy("Art of Illusion 3.0.3"), kSpaceWarning}));
    EXPECT_EQ(identify(header(44).substr(0, 80)).reports,
              (std::vector<Report>{writtenBy("Art of Illusion 3.0.3"), kSpaceWarning}));
    BinaryResult tooLate = identify(header(45).substr(0, 80));
    EXPECT_EQ(tooLate.reports, kNothing);
    EXPECT_EQ(tooLate.modelName, std::string(44, 'o'));
}

// ---------------------------------------------------------------------------
// Unknown headers and the header text scans.

TEST(BinaryExporterRules, UnknownHeadersGetOnlyTheDefaults) {
    for (const char* header : {"FileType: Binary", "numpy-stl (1.0.0) 2014-10-16", " solid PRO2STL version 1.0",
                               "LYMB generated SLA File", "ddlid featuretype"}) {
        BinaryResult result = identify(header, ' ');
        EXPECT_EQ(result.reports, kNothing) << header;
        expectMetadata(result, 2, kMillimetreBits, 1);
        expectNoHeaderColour(result);
        EXPECT_EQ(+result.metadata.modelName.length, 0u);
    }
}

TEST(BinaryExporterHeaderColour, ColourEqualsFromPosition0To70) {
    expectHeaderColour(identify(BYTES("COLOR=\x01\x02\x03\x04"), ' '), 1, 2, 3);
    std::string at70(70, ' ');
    BinaryResult result = identify(at70 + "COLOR=\x11\x22\x33\x44");
    EXPECT_EQ(result.reports, kNothing);
    expectHeaderColour(result, 0x11, 0x22, 0x33);
    std::string at71(71, ' ');
    expectNoHeaderColour(identify(at71 + "COLOR=\x11\x22\x33"));
    // The first one counts.
    expectHeaderColour(identify("x COLOR=abcd COLOR=efgh"), 'a', 'b', 'c');
    expectNoHeaderColour(identify("color=abc COLOR abc COLOR:abc"));
}

struct UnitCase {
    std::string header;
    uint32_t unitBits;
};

TEST(BinaryExporterUnits, TagsInTheHeaderText) {
    const std::vector<UnitCase> cases{
        {"exported UNITS=MM", kMillimetreBits}, {"u=mm", kMillimetreBits},   {"u=Mm", kMillimetreBits},
        {"u=mM", kMillimetreBits},              {"u=CM", kCentimetreBits},   {"u=cm", kCentimetreBits},
        {"u=Cm", kCentimetreBits},              {"u=cM", kCentimetreBits},   {"u=INCH", kInchBits},
        {"u=Inch", kInchBits},                  {"u=inch", kInchBits},       {"size 2 inch", kInchBits},
        {"x=MM y=INCH", kMillimetreBits},       {"x=INCHES", kInchBits},     {"a inch b=MM", kInchBits},
    };
    for (const UnitCase& c : cases) {
        BinaryResult result = identify(c.header, ' ');
        EXPECT_EQ(result.reports, (std::vector<Report>{kSpaceWarning})) << c.header;
        EXPECT_EQ(bitsOf(result.metadata.unitScale), c.unitBits) << c.header;
    }
    for (const char* header : {"u=InCh", "u=M", "u= MM", "u=KM", "size 2 Inch", "size 2inch", "u=C M", "=IN"}) {
        EXPECT_EQ(identify(header, ' ').reports, kNothing) << header;
    }
}

TEST(BinaryExporterUnits, TagsAtPosition75AreTheLastLookedAt) {
    for (const std::string tag : {"=INCH", "=MM", "=cm", " inch"}) {
        std::string at75 = std::string(75, '.') + tag;
        at75.resize(80, '.');
        EXPECT_EQ(identify(at75).reports, (std::vector<Report>{kSpaceWarning})) << tag;
        std::string at76 = std::string(76, '.') + tag;
        at76.resize(80, '.');
        EXPECT_EQ(identify(at76.substr(0, 80)).reports, kNothing) << tag;
    }
    EXPECT_EQ(bitsOf(identify(std::string(75, '.') + "=INCH").metadata.unitScale), kInchBits);
    EXPECT_EQ(bitsOf(identify(std::string(75, '.') + " inch").metadata.unitScale), kInchBits);
    EXPECT_EQ(bitsOf(identify(std::string(75, '.') + "=CM").metadata.unitScale), kCentimetreBits);
}

TEST(BinaryExporterUnits, AKnownUnitIsNotReplaced) {
    BinaryResult mastercamInch = identify("MASTERCAM STL DATA UNITS=INCH");
    EXPECT_EQ(bitsOf(mastercamInch.metadata.unitScale), kMillimetreBits);
    // Netfabb leaves the unit to the header text.
    BinaryResult netfabb = identify("STL File created by netfabb - http://www.netfabb.com UNITS=CM");
    EXPECT_EQ(netfabb.reports, (std::vector<Report>{writtenBy("Autodesk Netfabb")}));
    EXPECT_EQ(bitsOf(netfabb.metadata.unitScale), kCentimetreBits);
}

TEST(BinaryExporter, WithoutASinkTheRecordIsFilledTheSame) {
    const std::vector<std::string> headers{
        "STLB ASM 218", "ArchiCAD_STL_Unit=FT_", "ArchiCAD_STL_Unit=MM_Scale=0", "\"Object-0" + kIllusionTrailer,
        "C:\\x\\y.stl", "SketchUp STL :mm:Shed", "MASTERCAM STL DATA", "solid abc", "\"Q<stl unit=MM>\"",
        "Binary STL output from Blender: x", "CAD Exchanger 3.9.0",
    };
    for (const std::string& header : headers) {
        BinaryResult loud = identify(header, ' ');
        BinaryResult quiet = identify(header, ' ', false);
        EXPECT_EQ(+quiet.metadata.coordinateSpace, +loud.metadata.coordinateSpace) << header;
        EXPECT_EQ(bitsOf(quiet.metadata.unitScale), bitsOf(loud.metadata.unitScale)) << header;
        EXPECT_EQ(+quiet.metadata.colorOrder, +loud.metadata.colorOrder) << header;
        EXPECT_EQ(memcmp(quiet.metadata.headerColor, loud.metadata.headerColor, 4), 0) << header;
        EXPECT_EQ(quiet.modelName, loud.modelName) << header;
        EXPECT_EQ(quiet.modelNameOffset, loud.modelNameOffset) << header;
    }
}

// Real files and what their headers give.
struct RealFile {
    const char* name;
    std::vector<Report> reports;
    uint32_t space;
    uint8_t colorOrder;
};

TEST(BinaryExporter, RealFiles) {
    const std::vector<RealFile> files{
        {"admesh_block_admesh_bin.stl", {writtenBy("ADMesh")}, 2, 1},
        {"assimp_spider_truespace.stl", {writtenBy("Caligari's trueSpace")}, 2, 1},
        {"tess_sphere_meshhdr.stl", {writtenBy("FreeCAD")}, 2, 1},
        {"trimesh_unit_sphere_zerohdr.stl", {writtenBy("Onshape or Microsoft 3D Builder")}, 2, 1},
        {"ur10_wrist3_vcg.stl", {writtenBy("Visualization and Computer Graphics Library")}, 2, 1},
        {"ur5e_wrist3_meshlab.stl", {writtenBy("MeshLab")}, 1, 1},
        {"vmtk_aorta_vtk.stl", {writtenBy("Visualization Toolkit")}, 2, 1},
        {"vtkdata_gebco49_meshmixer.stl", {writtenBy("Autodesk Meshmixer")}, 2, 3},
        {"vtkdata_gebco55_color_material.stl", {writtenBy("ZBrush")}, 1, 1},
        {"vtkdata_vase_netfabb.stl", {writtenBy("Autodesk Netfabb")}, 2, 1},
        {"lnm_dummy_meshio.stl", kNothing, 2, 1},
        {"npstl_cube_pro2stl_bin.stl", kNothing, 2, 1},
        {"npstl_moon_numpystl_bin.stl", kNothing, 2, 1},
        {"trimesh_busted_filetype.stl", kNothing, 2, 1},
        {"trimesh_featuretype_ddlid.stl", kNothing, 2, 1},
        {"vtkdata_42400_idgh_lymb.stl", kNothing, 2, 1},
        {"npstl_halfdonut_solidhdr_bin.stl", {writtenBy("SketchUp or SolidWorks"), kSpaceWarning, kUnitWarning}, 2, 1},
    };
    for (const RealFile& real : files) {
        std::optional<std::string> file = corpusFile(real.name);
        if (!file) GTEST_SKIP() << "corpus missing";
        // The whole file, exactly sized.
        ExactBytes bytes(*file);
        StlMesh mesh{bytes.begin(), nullptr, 0};
        StlMetadata metadata = garbageMetadata();
        RecordingSink sink;
        identifyBinaryExporter(&mesh, &metadata, sink.sink());
        EXPECT_EQ(sink.reports, real.reports) << real.name;
        EXPECT_EQ(+metadata.coordinateSpace, real.space) << real.name;
        EXPECT_EQ(bitsOf(metadata.unitScale), kMillimetreBits) << real.name;
        EXPECT_EQ(+metadata.colorOrder, real.colorOrder) << real.name;
    }
}

// Headers built from the rules' own pieces, read from exactly sized
// buffers, so that AddressSanitizer sees any read past byte 80.
TEST(BinaryExporter, RandomHeadersStayInsideTheFile) {
    const std::vector<std::string> pieces{
        "STLEXP ", "STLB ATF ", "STLB ASM 2", "ArchiCAD_STL", "_Unit=", "MM_", "CM_", "M_", "Scale=", "1234567890",
        "Exported from Blender-", "CAD Exchanger ", "COLOR=", ",MATERIAL=", "MATERIAL=", "solid ", "SketchUp STL ",
        "\"", "<stl unit=MM>\"", "3DV*", "C:\\", "_C", "ENTITY COLOR:#", "=", "inch", " ", std::string(1, '\0'), "x",
        "\"; Produced by Art of Illusion", "STL Output", "Rhinoceros Binary STL (", ")", "MASTERCAM STL DATA"};
    std::mt19937 random(4242);
    for (int round = 0; round < 20000; ++round) {
        std::string header;
        while (header.size() < 80) header += pieces[random() % pieces.size()];
        header.resize(80);
        BinaryResult result = identify(header, '\0', round % 3 != 0, char(random() % 3));
        uint32_t space = result.metadata.coordinateSpace;
        EXPECT_TRUE(space == 1 || space == 2);
        EXPECT_FALSE(std::isnan(+result.metadata.unitScale));
    }
}

}  // namespace
