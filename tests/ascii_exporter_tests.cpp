#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "exporter_test_support.h"
#include "stl/ascii_exporter.h"
#include "stl/ascii_parser.h"

using namespace exporter_test;

namespace {

// The first solid's name as the parser delivers it: after "solid" and its
// blanks up to the line end, trailing blanks included. Empty at the text
// start when there is no "solid".
CountedText firstSolidName(const uint8_t* begin, const uint8_t* end) {
    const uint8_t* p = begin;
    if (end - p >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    while (p < end && (*p == ' ' || (*p >= 9 && *p <= 13))) ++p;
    if (end - p < 5 || memcmp(p, "solid", 5) != 0) return CountedText{reinterpret_cast<const char*>(begin), 0, 0};
    p += 5;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    const uint8_t* name = p;
    while (p < end && !(*p >= 10 && *p <= 13)) ++p;
    return CountedText{reinterpret_cast<const char*>(name), static_cast<uint32_t>(p - name), 0};
}

struct AsciiResult {
    StlMetadata metadata;
    std::vector<Report> reports;
    std::string name;          // the first solid's name afterwards
    ptrdiff_t nameOffset = 0;  // where that name begins in the text
};

AsciiResult identify(const std::string& text, bool withSolid = true, bool withSink = true) {
    ExactBytes file(text);
    StlSolid solid{};
    solid.name = firstSolidName(file.begin(), file.end());
    RecordingSink sink;
    AsciiResult result;
    result.metadata = garbageMetadata();
    identifyAsciiExporter(withSolid ? &solid : nullptr, withSolid ? 1 : 0, &result.metadata, file.begin(), file.end(),
                          withSink ? sink.sink() : nullptr);
    result.reports = sink.reports;
    result.name.assign(solid.name.bytes, solid.name.length);
    result.nameOffset = reinterpret_cast<const uint8_t*>(solid.name.bytes) - file.begin();
    return result;
}

// Only the solid's first line is given; some facets follow so that the
// layout scan has nothing to say.
std::string namedFile(const std::string& name) {
    return "solid " + name + "\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
           "endloop\nendfacet\nendsolid " + name + "\n";
}

void expectRecognised(const AsciiResult& result, uint32_t space, uint32_t unitBits) {
    EXPECT_EQ(+result.metadata.coordinateSpace, space);
    EXPECT_EQ(bitsOf(result.metadata.unitScale), unitBits);
    EXPECT_EQ(+result.metadata.colorOrder, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(result.metadata.headerColor[i], 0);
    EXPECT_EQ(+result.metadata.modelName.length, 0u);
    EXPECT_EQ(+result.metadata.modelName.codePage, 0u);
}

// How a writer lays out its facets: line end, the indentation of each line,
// a blank after "outer loop" and the gap after "vertex".
struct Layout {
    const char* lineEnd;
    const char* facetIndent;
    const char* loopIndent;
    const char* loopTrail;
    const char* vertexIndent;
    const char* vertexGap;
};

std::string layoutFile(const std::string& name, const Layout& layout, int facets = 3) {
    std::string eol = layout.lineEnd;
    std::string text = (name.empty() ? "solid" : "solid " + name) + eol;
    for (int f = 0; f < facets; ++f) {
        text += std::string(layout.facetIndent) + "facet normal 0.000000e+00 0.000000e+00 1.000000e+00" + eol;
        text += std::string(layout.loopIndent) + "outer loop" + layout.loopTrail + eol;
        for (int v = 0; v < 3; ++v) {
            text += std::string(layout.vertexIndent) + "vertex" + layout.vertexGap + std::to_string(f + v) +
                    ".000000e+00 " + std::to_string(v) + ".500000e+00 0.000000e+00" + eol;
        }
        text += std::string(layout.loopIndent) + "endloop" + eol;
        text += std::string(layout.facetIndent) + "endfacet" + eol;
    }
    return text + (name.empty() ? "endsolid" : "endsolid " + name) + eol;
}

const Layout kSketchUp{"\r\n", "", "  ", "", "    ", " "};
const Layout kVisualizationToolkit{"\r\n", " ", "  ", "", "   ", " "};
const Layout kNetfabb{"\r\n", " ", "  ", "", "    ", " "};
const Layout kTFlex{"\r\n", "", "", " ", "", " "};
const Layout kAutodeskLf{"\n", "  ", "    ", "", "      ", "   "};
const Layout kAutodeskCrLf{"\r\n", "  ", "    ", "", "      ", "   "};
const Layout kPlain{"\n", "", "", "", "", " "};

TEST(AsciiExporter, NoSolidGivesOnlyTheTwoWarnings) {
    // Even a text that would otherwise be IRONCAD.
    AsciiResult result = identify("solid x\r\nendsolid x\r\nend solid\r\n", false);
    EXPECT_EQ(result.reports, (std::vector<Report>{kSpaceWarning, kUnitWarning}));
    expectRecognised(result, 2, kMillimetreBits);
}

TEST(AsciiExporter, EveryFieldIsOverwritten) {
    AsciiResult result = identify(namedFile("OpenSCAD_Model"));
    expectRecognised(result, 2, kMillimetreBits);
    EXPECT_TRUE(result.metadata.modelName.bytes == nullptr);
}

TEST(AsciiExporter, EndSolidWithCrLfIsIroncadWhateverTheName) {
    for (const char* name : {"", "OpenSCAD_Model", "CATIA STL", "ascii", "part"}) {
        std::string text = layoutFile(name, kSketchUp);
        text.replace(text.rfind("endsolid"), std::string::npos, "end solid\r\n");
        AsciiResult result = identify(text);
        EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("IRONCAD")})) << name;
        expectRecognised(result, 2, kMillimetreBits);
    }
}

TEST(AsciiExporter, OnlyTheExactLastElevenBytesAreIroncad) {
    const std::vector<Report> none{kSpaceWarning, kUnitWarning};
    EXPECT_EQ(identify("solid part\r\nendsolid\r\n").reports, none);
    EXPECT_EQ(identify("solid part\r\nend solid\n").reports, none);
    EXPECT_EQ(identify("solid part\r\nend solid\r\n ").reports, none);
    EXPECT_EQ(identify("solid part\r\nend solid \r\n").reports, none);
    EXPECT_EQ(identify("solid part\r\nEnd solid\r\n").reports, none);
    // A text of exactly those eleven bytes, and one byte short of them.
    EXPECT_EQ(identify("end solid\r\n").reports, (std::vector<Report>{writtenBy("IRONCAD")}));
    EXPECT_EQ(identify("nd solid\r\n").reports, none);
    EXPECT_EQ(identify("").reports, none);
}

struct NameCase {
    std::string name;
    std::vector<Report> reports;
    uint32_t space;
    uint32_t unitBits;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << "name \"" << c.name << "\"";
}

class AsciiNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(AsciiNameTest, GivesTheExporterUnitAndSpace) {
    const NameCase& c = GetParam();
    AsciiResult result = identify(namedFile(c.name));
    EXPECT_EQ(result.reports, c.reports);
    expectRecognised(result, c.space, c.unitBits);
    // Nothing but the quoted unit tag rewrites the name.
    EXPECT_EQ(result.name, c.name);
}

const std::vector<Report> kNothing{kSpaceWarning, kUnitWarning};

INSTANTIATE_TEST_SUITE_P(
    Names, AsciiNameTest,
    ::testing::Values(
        NameCase{"stl file generated from AC3D", {writtenBy("Inivis AC3D")}, 2, kMillimetreBits},
        NameCase{"stl file generated from AC3", kNothing, 2, kMillimetreBits},
        NameCase{"stl file generated from AC3D ", kNothing, 2, kMillimetreBits},
        NameCase{"CAD Exchanger 3.9.0", {writtenBy("CAD Exchanger"), kUnitWarning}, 1, kMillimetreBits},
        NameCase{"CAD Exchanger ", {writtenBy("CAD Exchanger"), kUnitWarning}, 1, kMillimetreBits},
        NameCase{"CAD Exchanger", kNothing, 2, kMillimetreBits},
        NameCase{"CAD exchanger 3.9.0", kNothing, 2, kMillimetreBits},
        NameCase{"shape, STL ascii file, created with Open CASCADE Technology",
                 {writtenBy("Open CASCADE Technology"), kUnitWarning}, 1, kMillimetreBits},
        NameCase{"shape, STL ascii file, created with Open CASCADE Technolog", kNothing, 2, kMillimetreBits},
        NameCase{"shape, STL ascii file, created with Open CASCADE Technology 7", kNothing, 2, kMillimetreBits},
        NameCase{"created by TurboCAD", {writtenBy("IMSI/Design TurboCAD"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"created by TurboCAD ", kNothing, 2, kMillimetreBits},
        NameCase{"STL file created by Vectorworks 2019",
                 {writtenBy("Vectorworks 2019"), kSpaceWarning, kUnitWarning}, 2, kMillimetreBits},
        NameCase{"STL file created by Vectorworks!", {writtenBy("Vectorworks!"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"STL file created by Vectorworks", kNothing, 2, kMillimetreBits},
        NameCase{"ASCII", kNothing, 2, kMillimetreBits},
        NameCase{"ascii", kNothing, 2, kMillimetreBits},
        NameCase{"CATIA STL", {writtenBy("Dassault CATIA Digitized Shape Editor")}, 2, kMillimetreBits},
        NameCase{"stl_item0", {writtenBy("Autodesk Tinkercad")}, 2, kMillimetreBits},
        NameCase{"solidname", kNothing, 2, kMillimetreBits},
        NameCase{"stl_item1", kNothing, 2, kMillimetreBits},
        NameCase{"MYSOLID12", kNothing, 2, kMillimetreBits},
        NameCase{"MYSOLID", {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}, 2, kMillimetreBits},
        NameCase{"MYSOLIDS", {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}, 2, kMillimetreBits},
        NameCase{"MYSOLID created by IVCON", {writtenBy("IVCON"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"MYSOLID created by IVCON, version 1.0", {writtenBy("IVCON"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"MYSOLID created by IVREAD", {writtenBy("IVREAD"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"MYSOLID created by IVCO", {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}, 2,
                 kMillimetreBits},
        NameCase{"OpenSCAD_Model", {writtenBy("OpenSCAD")}, 2, kMillimetreBits},
        NameCase{"OpenSCAD_Model ", kNothing, 2, kMillimetreBits},
        NameCase{"openscad_model", kNothing, 2, kMillimetreBits}));

TEST(AsciiExporter, VectorworksNamesAreCutAfterSixtyFourBytes) {
    const std::string prefix = "STL file created by ";
    const std::string name64 = "Vectorworks" + std::string(53, 'x');
    ASSERT_EQ(name64.size(), 64u);
    EXPECT_EQ(identify(namedFile(prefix + name64)).reports[0], writtenBy(name64));                  // 84 bytes
    EXPECT_EQ(identify(namedFile(prefix + name64.substr(0, 63))).reports[0], writtenBy(name64.substr(0, 63)));
    EXPECT_EQ(identify(namedFile(prefix + name64 + "yz")).reports[0], writtenBy(name64));           // 86 bytes
    EXPECT_EQ(identify(namedFile(prefix + name64 + std::string(200, 'q'))).reports[0], writtenBy(name64));
}

const std::string kIllusion = "\"Object-0\"; Produced by Art of Illusion 3.0.3, Sat Jan 05 12:34:56 CET 2019";

TEST(AsciiExporter, ArtOfIllusionWithDateReportsVersionThenDate) {
    ASSERT_EQ(kIllusion.size(), 75u);
    AsciiResult result = identify(namedFile(kIllusion));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Art of Illusion 3.0.3"),
                                                   written("Sat Jan 05 12:34:56 CET 2019", 20127), kSpaceWarning}));
    expectRecognised(result, 2, kMillimetreBits);
    EXPECT_EQ(result.name, kIllusion);
}

TEST(AsciiExporter, ArtOfIllusionShorterThanSeventyFiveBytesHasNoDate) {
    const std::vector<Report> versionOnly{writtenBy("Art of Illusion 3.0.3"), kSpaceWarning};
    EXPECT_EQ(identify(namedFile(kIllusion.substr(0, 74))).reports, versionOnly);
    EXPECT_EQ(identify(namedFile(kIllusion.substr(0, 46))).reports, versionOnly);
    // 45 bytes are too few for this rule; nothing else takes the name.
    EXPECT_EQ(identify(namedFile(kIllusion.substr(0, 45))).reports, kNothing);
    std::string other = kIllusion;
    other[8] = '1';  // "Object-1"
    EXPECT_EQ(identify(namedFile(other)).reports, kNothing);
}

TEST(AsciiExporter, QuotedNameWithInchTagIsSpaceClaimAndLosesTheTag) {
    AsciiResult result = identify(namedFile("\"Part 1<stl unit=INCHES>\""));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    expectRecognised(result, 2, kInchBits);
    EXPECT_EQ(result.name, "Part 1");
    EXPECT_EQ(result.nameOffset, 7);  // after `solid "`
}

TEST(AsciiExporter, QuotedNameWithMillimetreTag) {
    AsciiResult result = identify(namedFile("\"Body<stl unit=MM>\""));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    expectRecognised(result, 2, kMillimetreBits);
    EXPECT_EQ(result.name, "Body");
}

TEST(AsciiExporter, QuotedTagsAtTheirShortestGiveEmptyNames) {
    AsciiResult mm = identify(namedFile("\"<stl unit=MM>\""));
    EXPECT_EQ(mm.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    EXPECT_EQ(mm.name, "");
    AsciiResult inch = identify(namedFile("\"<stl unit=INCHES>\""));
    EXPECT_EQ(inch.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    EXPECT_EQ(bitsOf(inch.metadata.unitScale), kInchBits);
    EXPECT_EQ(inch.name, "");
}

TEST(AsciiExporter, MalformedUnitTagsAreNotSpaceClaim) {
    for (const char* name : {"Part 1<stl unit=MM>\"", "\"Part 1<stl unit=mm>\"", "\"Part 1<stl unit=MM>",
                             "\"Part 1<stl unit=CM>\"", "\"Part 1<stl unit=INCHES> \"", "\"<stl unit=MM>\" "}) {
        AsciiResult result = identify(namedFile(name));
        EXPECT_EQ(result.reports, kNothing) << name;
        EXPECT_EQ(result.name, name);
    }
}

TEST(AsciiExporter, ApplyQuotedUnitTagChangesNothingWithoutAMatch) {
    for (const std::string text : {"", "\"", "\"Part", "\"<stl unit=MM>", "x<stl unit=MM>\""}) {
        ExactBytes bytes(text);
        StlMetadata metadata = garbageMetadata();
        StlMetadata before = metadata;
        CountedText name{"unchanged", 9, 7};
        RecordingSink sink;
        EXPECT_FALSE(applyQuotedUnitTag(bytes.begin(), bytes.end(), &name, &metadata, sink.sink())) << text;
        EXPECT_EQ(memcmp(&metadata, &before, sizeof metadata), 0);
        EXPECT_EQ(std::string(name.bytes, name.length), "unchanged");
        EXPECT_EQ(+name.codePage, 7u);
        EXPECT_TRUE(sink.reports.empty());
    }
}

TEST(AsciiExporter, ApplyQuotedUnitTagSetsOnlyUnitSpaceAndName) {
    ExactBytes bytes("\"Gear<stl unit=MM>\"");
    StlMetadata metadata = garbageMetadata();
    StlMetadata before = metadata;
    CountedText name{"old", 3, 1252};
    RecordingSink sink;
    EXPECT_TRUE(applyQuotedUnitTag(bytes.begin(), bytes.end(), &name, &metadata, sink.sink()));
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(name.bytes), bytes.begin() + 1);
    EXPECT_EQ(+name.length, 4u);
    EXPECT_EQ(+name.codePage, 0u);
    EXPECT_EQ(+metadata.coordinateSpace, 2u);
    EXPECT_EQ(bitsOf(metadata.unitScale), kMillimetreBits);
    EXPECT_EQ(+metadata.colorOrder, before.colorOrder);
    EXPECT_EQ(memcmp(metadata.headerColor, before.headerColor, 4), 0);
    EXPECT_EQ(sink.reports, (std::vector<Report>{writtenBy("ANSYS SpaceClaim")}));
    // Without a sink the same, silently.
    StlMetadata quiet = garbageMetadata();
    CountedText quietName{"old", 3, 0};
    EXPECT_TRUE(applyQuotedUnitTag(bytes.begin(), bytes.end(), &quietName, &quiet, nullptr));
    EXPECT_EQ(+quietName.length, 4u);
}

TEST(AsciiExporter, IllusionTrailerReadsOnlyWhatIsAvailable) {
    // From the closing quote: version at 15 (21 bytes), date at 38 (28 bytes).
    const std::string trailer = kIllusion.substr(9);
    ASSERT_EQ(trailer.size(), 66u);
    for (size_t available : {36, 37, 65, 66}) {
        ExactBytes bytes(trailer.substr(0, available));
        RecordingSink sink;
        readIllusionTrailer(bytes.begin(), static_cast<uint32_t>(available), sink.sink());
        std::vector<Report> expected{writtenBy("Art of Illusion 3.0.3")};
        if (available >= 66) expected.push_back(written("Sat Jan 05 12:34:56 CET 2019", 20127));
        EXPECT_EQ(sink.reports, expected) << available;
    }
    ExactBytes tooShort(trailer.substr(0, 35));
    RecordingSink sink;
    readIllusionTrailer(tooShort.begin(), 35, sink.sink());
    EXPECT_TRUE(sink.reports.empty());
    readIllusionTrailer(tooShort.begin(), 35, nullptr);
}

struct LayoutCase {
    std::string writer;
    std::string name;
    Layout layout;
    std::vector<Report> reports;
    uint32_t space;
    uint32_t unitBits;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.writer << " with name \"" << c.name << "\"";
}

class AsciiLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(AsciiLayoutTest, NamesTheWriterOfTheLayout) {
    const LayoutCase& c = GetParam();
    AsciiResult result = identify(layoutFile(c.name, c.layout));
    EXPECT_EQ(result.reports, c.reports);
    expectRecognised(result, c.space, c.unitBits);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AsciiLayoutTest,
    ::testing::Values(
        LayoutCase{"SketchUp", "Model", kSketchUp, {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}, 2,
                   kMillimetreBits},
        LayoutCase{"SketchUp", "", kSketchUp, {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}, 2,
                   kMillimetreBits},
        LayoutCase{"VTK", "ascii", kVisualizationToolkit, {writtenBy("Visualization Toolkit")}, 2, kMillimetreBits},
        LayoutCase{"VTK", "Unnamed", kVisualizationToolkit, {writtenBy("Visualization Toolkit")}, 2,
                   kMillimetreBits},
        LayoutCase{"Netfabb", "solidname", kNetfabb, {writtenBy("Autodesk Netfabb")}, 2, kMillimetreBits},
        LayoutCase{"Netfabb layout, other name", "part", kNetfabb, kNothing, 2, kMillimetreBits},
        LayoutCase{"T-Flex", "", kTFlex, {writtenBy("T-Flex CAD"), kSpaceWarning, kUnitWarning}, 2,
                   kMillimetreBits},
        LayoutCase{"T-Flex layout, named", "Part", kTFlex, kNothing, 2, kMillimetreBits},
        LayoutCase{"123D", "ascii", kAutodeskLf, {writtenBy("Autodesk 123D")}, 2, kMillimetreBits},
        LayoutCase{"123D CR LF", "ascii", kAutodeskCrLf, {writtenBy("Autodesk 123D")}, 2, kMillimetreBits},
        LayoutCase{"Fusion 360", "ASCII", kAutodeskLf, {writtenBy("Autodesk Fusion 360")}, 2, kMillimetreBits},
        LayoutCase{"Fusion 360 CR LF", "ASCII", kAutodeskCrLf, {writtenBy("Autodesk Fusion 360")}, 2,
                   kMillimetreBits},
        LayoutCase{"Autodesk layout, other name", "Ascii", kAutodeskLf, kNothing, 2, kMillimetreBits},
        LayoutCase{"Autodesk layout, 9-byte name", "solidname", kAutodeskLf, kNothing, 2, kMillimetreBits},
        LayoutCase{"plain LF", "", kPlain, kNothing, 2, kMillimetreBits},
        LayoutCase{"plain LF", "ascii", kPlain, kNothing, 2, kMillimetreBits}));

TEST(AsciiExporter, SketchUpWinsOverVisualizationToolkit) {
    // Facets at the line start with four-blank vertices, then VTK's indentation.
    std::string text = layoutFile("ascii", kSketchUp, 1);
    std::string vtk = layoutFile("ascii", kVisualizationToolkit, 1);
    text.insert(text.rfind("endsolid"), vtk.substr(vtk.find("\r\n") + 2, vtk.rfind("endsolid") - vtk.find("\r\n") - 2));
    EXPECT_EQ(identify(text).reports, (std::vector<Report>{writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}));
}

TEST(AsciiExporter, VisualizationToolkitWinsOverNetfabb) {
    std::string text = layoutFile("solidname", kVisualizationToolkit, 1);
    std::string netfabb = layoutFile("solidname", kNetfabb, 1);
    text.insert(text.rfind("endsolid"),
                netfabb.substr(netfabb.find("\r\n") + 2, netfabb.rfind("endsolid") - netfabb.find("\r\n") - 2));
    EXPECT_EQ(identify(text).reports, (std::vector<Report>{writtenBy("Visualization Toolkit")}));
}

TEST(AsciiExporter, AByteOrderMarkDoesNotHideTheLayout) {
    AsciiResult result = identify("\xEF\xBB\xBF" + layoutFile("ASCII", kAutodeskLf));
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("Autodesk Fusion 360")}));
}

// "solid", CR LF, then T-Flex's loop line starting at `position`, in a text of `length` bytes.
std::string tFlexPatternAt(size_t position, size_t length) {
    std::string text = "solid\r\n";
    text += std::string(position - text.size(), 'x');
    text += "\r\nouter loop \r\nv";
    text += std::string(length - text.size(), 'x');
    return text;
}

const std::vector<Report> kTFlexReports{writtenBy("T-Flex CAD"), kSpaceWarning, kUnitWarning};

TEST(AsciiExporter, LayoutScanStartsAtPositionSix) {
    // "solid " and the pattern right after it: the name is empty.
    std::string text = "solid \r\nouter loop \r\nv";
    text += std::string(40 - text.size(), 'x');
    EXPECT_EQ(identify(text).reports, kTFlexReports);
    std::string atFive = "solid\r\nouter loop \r\nv";
    atFive += std::string(40 - atFive.size(), 'x');
    EXPECT_EQ(identify(atFive).reports, kNothing);
}

TEST(AsciiExporter, LayoutScanStopsThirtyThreeBytesBeforeTheEnd) {
    EXPECT_EQ(identify(tFlexPatternAt(100, 134)).reports, kTFlexReports);
    EXPECT_EQ(identify(tFlexPatternAt(100, 133)).reports, kNothing);
    // At the start: a 40-byte text is scanned at position 6 only, 39 bytes not at all.
    std::string text = "solid \r\nouter loop \r\nv";
    EXPECT_EQ(identify(text + std::string(40 - text.size(), 'x')).reports, kTFlexReports);
    EXPECT_EQ(identify(text + std::string(39 - text.size(), 'x')).reports, kNothing);
}

TEST(AsciiExporter, LayoutScanLooksAtTheFirst735BytesOnly) {
    EXPECT_EQ(identify(tFlexPatternAt(734, 2000)).reports, kTFlexReports);
    EXPECT_EQ(identify(tFlexPatternAt(735, 2000)).reports, kNothing);
}

TEST(AsciiExporter, FilesTooShortForTheScanGetTheDefaults) {
    for (const std::string text : {"solid", "solid\n", "solid\r\nendsolid\r\n", "solid ascii\n  facet normal 0 0 1\n",
                                   "solid\r\nfacet normal 0 0 1\r\nouter loop \r\nv"}) {
        AsciiResult result = identify(text);
        EXPECT_EQ(result.reports, kNothing) << text;
        expectRecognised(result, 2, kMillimetreBits);
    }
}

TEST(AsciiExporter, WithoutASinkTheRecordIsFilledTheSame) {
    for (const std::string text : {namedFile(kIllusion), namedFile("\"P<stl unit=INCHES>\""), namedFile("MYSOLID"),
                                   layoutFile("ascii", kAutodeskLf), layoutFile("", kTFlex), std::string("solid x\n")}) {
        AsciiResult loud = identify(text);
        AsciiResult quiet = identify(text, true, false);
        EXPECT_EQ(memcmp(&loud.metadata, &quiet.metadata, sizeof(StlMetadata)), 0) << text;
        EXPECT_EQ(quiet.name, loud.name);
    }
}

TEST(AsciiExporter, RealOpenScadFileIsOpenScad) {
    std::optional<std::string> file = corpusFile("prusa_endstop_block_openscad_crlf.stl");
    if (!file) GTEST_SKIP() << "corpus missing";
    AsciiResult result = identify(*file);
    EXPECT_EQ(result.reports, (std::vector<Report>{writtenBy("OpenSCAD")}));
    expectRecognised(result, 2, kMillimetreBits);
}

TEST(AsciiExporter, RealFilesOfUnknownWritersGetTheDefaults) {
    for (const char* name : {"admesh_conveyor_gmsh.stl", "occt_shape_bare_solid.stl", "trimesh_empty_blender_ascii.stl",
                             "assimp_spider_ascii.stl", "tess_open_sphere_half_gid.stl"}) {
        std::optional<std::string> file = corpusFile(name);
        if (!file) GTEST_SKIP() << "corpus missing";
        AsciiResult result = identify(*file);
        EXPECT_EQ(result.reports, kNothing) << name;
        expectRecognised(result, 2, kMillimetreBits);
    }
}

// The same files through the parser: its solid names are what the name tests see.
TEST(AsciiExporter, ParsedFilesGiveTheSameAnswers) {
    std::string ironcad = layoutFile("part", kSketchUp);
    ironcad.replace(ironcad.rfind("endsolid"), std::string::npos, "end solid\r\n");
    const std::vector<std::string> texts{
        layoutFile("Model", kSketchUp),     layoutFile("ascii", kVisualizationToolkit),
        layoutFile("solidname", kNetfabb),  layoutFile("", kTFlex),
        layoutFile("ascii", kAutodeskLf),   layoutFile("ASCII", kAutodeskCrLf),
        layoutFile("ascii ", kAutodeskLf),  ironcad,
        namedFile(kIllusion),               namedFile("\"Part 1<stl unit=INCHES>\""),
        namedFile("CAD Exchanger 3.9.0"),   namedFile("MYSOLID created by IVREAD"),
        namedFile("OpenSCAD_Model") + namedFile("second"),
    };
    for (const std::string& text : texts) {
        ExactBytes file(text);
        HeapHandle heap = createPrivateHeap();
        ASSERT_NE(heap, nullptr);
        StlMesh mesh{};
        ASSERT_TRUE(parseAsciiStl(&mesh, file.begin(), file.size, heap, nullptr)) << text;
        ASSERT_GE(mesh.solidCount, 1u);
        StlMetadata metadata = garbageMetadata();
        RecordingSink sink;
        identifyAsciiExporter(mesh.solids, mesh.solidCount, &metadata, file.begin(), file.end(), sink.sink());
        AsciiResult byHand = identify(text);
        EXPECT_EQ(sink.reports, byHand.reports) << text;
        EXPECT_EQ(memcmp(&metadata, &byHand.metadata, sizeof metadata), 0) << text;
        EXPECT_EQ(std::string(mesh.solids[0].name.bytes, mesh.solids[0].name.length), byHand.name) << text;
        freeMeshSolids(&mesh, heap);
        destroyPrivateHeap(heap);
    }
}

// Texts built from the patterns' pieces, of every short length, so that any
// read past the end shows under AddressSanitizer.
TEST(AsciiExporter, RandomTextsStayInsideTheirBytes) {
    const std::vector<std::string> pieces{"\r\n", "\n", " ", "  ", "    ", "f", "v", "vertex", "outer loop",
                                          "solid", "end solid", "\"", "<stl unit=MM>\"", "ASCII", "x"};
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 2 ? "solid " : "solid";
        size_t target = random() % 900;
        while (text.size() < target) text += pieces[random() % pieces.size()];
        text.resize(target);
        AsciiResult result = identify(text);
        EXPECT_TRUE(+result.metadata.coordinateSpace == 1 || result.metadata.coordinateSpace == 2);
        EXPECT_FALSE(std::isnan(+result.metadata.unitScale));
    }
}

}  // namespace
