#include <gtest/gtest.h>

#include "tests/exporter_test_support.h"
#include "stl/ascii_exporter.h"
#include "stl/ascii_parser.h"
#include "stl/exporter_reports.h"

using namespace exporter_test;

namespace {

struct AsciiResult {
    StlMetadata metadata;
    std::vector<Report> reports;
    std::string name;          // the first solid's name afterwards
    ptrdiff_t nameOffset = 0;  // where that name begins in the text
};

// The solids come from the parser, as in a load; a text it refuses stands
// for one solid without a name, for the layout scan's edges.
AsciiResult identify(const std::string& text, const MessageSink* sink, bool withSolid = true) {
    ExactBytes file(text);
    HeapHandle heap = createPrivateHeap();
    StlMesh mesh{};
    StlSolid unnamed{};
    unnamed.name = CountedText{reinterpret_cast<const char*>(file.data()), 0, 0};
    bool parsed = parseAsciiStl(&mesh, file.data(), file.size(), heap, nullptr) && mesh.solidCount > 0;
    StlSolid* solids = parsed ? mesh.solids : &unnamed;
    AsciiResult result;
    result.metadata = garbageMetadata();
    identifyAsciiExporter(withSolid ? solids : nullptr, withSolid ? (parsed ? mesh.solidCount : 1) : 0,
                          &result.metadata, file.data(), file.end(), sink);
    result.name.assign(solids[0].name.bytes, solids[0].name.length);
    result.nameOffset = reinterpret_cast<const uint8_t*>(solids[0].name.bytes) - file.data();
    if (parsed) freeMeshSolids(&mesh, heap);
    destroyPrivateHeap(heap);
    return result;
}

AsciiResult identify(const std::string& text, bool withSolid = true) {
    RecordingSink sink;
    AsciiResult result = identify(text, sink.sink(), withSolid);
    result.reports = sink.reports;
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

// "solid", CR LF, then T-Flex's loop line starting at `position`, in a text of `length` bytes.
std::string tFlexPatternAt(size_t position, size_t length) {
    std::string text = "solid\r\n";
    text += std::string(position - text.size(), 'x');
    text += "\r\nouter loop \r\nv";
    text += std::string(length - text.size(), 'x');
    return text;
}

// The second layout's facets inside the first's solid.
std::string mixedLayouts(const Layout& first, const Layout& second, const std::string& name) {
    std::string text = layoutFile(name, first, 1), other = layoutFile(name, second, 1);
    size_t from = other.find("\r\n") + 2;
    return text.insert(text.rfind("endsolid"), other.substr(from, other.rfind("endsolid") - from));
}

const std::vector<Report> kNothing{kSpaceWarning, kUnitWarning};

// Names, layouts and the last bytes. An unset name is the one in the text;
// nothing but the quoted unit tag rewrites it.
TEST(AsciiExporter, Cases) {
    struct Case {
        std::string text;
        std::vector<Report> reports;
        uint32_t space = 2;
        uint32_t unitBits = kMillimetreBits;
        std::optional<std::string> name = std::nullopt;
    };
    auto n = namedFile;
    const std::string illusion = "\"Object-0\"; Produced by Art of Illusion 3.0.3, Sat Jan 05 12:34:56 CET 2019";
    const Report illusionVersion = writtenBy("Art of Illusion 3.0.3");
    const std::string vectorworks = "Vectorworks" + std::string(53, 'x');  // 64 bytes
    const std::vector<Report> tFlex{writtenBy("T-Flex CAD"), kSpaceWarning, kUnitWarning};
    const std::vector<Report> ironcad{writtenBy("IRONCAD")};
    std::string ironcadFile = layoutFile("OpenSCAD_Model", kSketchUp);
    ironcadFile.replace(ironcadFile.rfind("endsolid"), std::string::npos, "end solid\r\n");
    const std::string tFlexAtSix = "solid \r\nouter loop \r\nv";
    const Case cases[] = {
        {n("stl file generated from AC3D"), {writtenBy("Inivis AC3D")}},
        {n("stl file generated from AC3D "), kNothing},
        {n("CAD Exchanger 3.9.0"), {writtenBy("CAD Exchanger"), kUnitWarning}, 1},
        {n("CAD Exchanger "), {writtenBy("CAD Exchanger"), kUnitWarning}, 1},
        {n("CAD exchanger 3.9.0"), kNothing},
        {n("shape, STL ascii file, created with Open CASCADE Technology"),
         {writtenBy("Open CASCADE Technology"), kUnitWarning}, 1},
        {n("shape, STL ascii file, created with Open CASCADE Technology 7"), kNothing},
        {n("created by TurboCAD"), {writtenBy("IMSI/Design TurboCAD"), kSpaceWarning, kUnitWarning}},
        {n("created by TurboCAD "), kNothing},
        {n("STL file created by Vectorworks!"), {writtenBy("Vectorworks!"), kSpaceWarning, kUnitWarning}},
        {n("STL file created by Vectorworks"), kNothing},
        {n("STL file created by " + vectorworks + "yz"), {writtenBy(vectorworks), kSpaceWarning, kUnitWarning}},
        {n("STL file created by " + vectorworks.substr(0, 63)),
         {writtenBy(vectorworks.substr(0, 63)), kSpaceWarning, kUnitWarning}},
        {n("CATIA STL"), {writtenBy("Dassault CATIA Digitized Shape Editor")}},
        {n("stl_item0"), {writtenBy("Autodesk Tinkercad")}},
        {n("stl_item1"), kNothing},
        {n("MYSOLID"), {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}},
        {n("MYSOLIDS"), {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}},
        {n("MYSOLID12"), kNothing},
        {n("MYSOLID created by IVCON, version 1.0"), {writtenBy("IVCON"), kSpaceWarning, kUnitWarning}},
        {n("MYSOLID created by IVREAD"), {writtenBy("IVREAD"), kSpaceWarning, kUnitWarning}},
        {n("MYSOLID created by IVCO"), {writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning}},
        {n("OpenSCAD_Model"), {writtenBy("OpenSCAD")}},
        {n("openscad_model"), kNothing},
        {n(illusion), {illusionVersion, written("Sat Jan 05 12:34:56 CET 2019", 20127), kSpaceWarning}},
        {n(illusion.substr(0, 74)), {illusionVersion, kSpaceWarning}},
        {n(illusion.substr(0, 46)), {illusionVersion, kSpaceWarning}},
        {n(illusion.substr(0, 45)), kNothing},
        {n("\"Object-1" + illusion.substr(9)), kNothing},
        {n("\"Part 1<stl unit=INCHES>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kInchBits, "Part 1"},
        {n("\"Body<stl unit=MM>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kMillimetreBits, "Body"},
        {n("\"<stl unit=INCHES>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kInchBits, ""},
        {n("Part 1<stl unit=MM>\""), kNothing},
        {n("\"Part 1<stl unit=mm>\""), kNothing},
        {n("\"Part 1<stl unit=MM>"), kNothing},
        {n("\"Part 1<stl unit=INCHES> \""), kNothing},
        {n("\"<stl unit=MM>\" "), kNothing},
        // Layouts, and which wins when a file has two.
        {layoutFile("Model", kSketchUp), {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}},
        {layoutFile("", kSketchUp), {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}},
        {layoutFile("Unnamed", kVisualizationToolkit), {writtenBy("Visualization Toolkit")}},
        {layoutFile("solidname", kNetfabb), {writtenBy("Autodesk Netfabb")}},
        {layoutFile("part", kNetfabb), kNothing},
        {layoutFile("", kTFlex), tFlex},
        {layoutFile("Part", kTFlex), kNothing},
        {layoutFile("ascii", kAutodeskCrLf), {writtenBy("Autodesk 123D")}},
        {layoutFile("ASCII", kAutodeskLf), {writtenBy("Autodesk Fusion 360")}},
        {"\xEF\xBB\xBF" + layoutFile("ASCII", kAutodeskLf), {writtenBy("Autodesk Fusion 360")}},
        {layoutFile("Ascii", kAutodeskLf), kNothing},
        {layoutFile("solidname", kAutodeskLf), kNothing},
        {layoutFile("ascii", kPlain), kNothing},
        {mixedLayouts(kSketchUp, kVisualizationToolkit, "ascii"), {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}},
        {mixedLayouts(kVisualizationToolkit, kNetfabb, "solidname"), {writtenBy("Visualization Toolkit")}},
        // The scan runs from position 6 to 33 bytes before the end, within the first 735 bytes.
        {tFlexAtSix + std::string(40 - tFlexAtSix.size(), 'x'), tFlex},
        {tFlexAtSix + std::string(39 - tFlexAtSix.size(), 'x'), kNothing},
        {"solid\r\nouter loop \r\nv" + std::string(19, 'x'), kNothing},  // the pattern at 5
        {tFlexPatternAt(100, 134), tFlex},
        {tFlexPatternAt(100, 133), kNothing},
        {tFlexPatternAt(734, 2000), tFlex},
        {tFlexPatternAt(735, 2000), kNothing},
        {"solid", kNothing},
        {"solid\r\nfacet normal 0 0 1\r\nouter loop \r\nv", kNothing},
        // IRONCAD: exactly "end solid" CR LF at the end, whatever the name.
        {ironcadFile, ironcad},
        {"end solid\r\n", ironcad},
        {"nd solid\r\n", kNothing},
        {"solid part\r\nend solid\n", kNothing},
        {"solid part\r\nend solid\r\n ", kNothing},
        {"solid part\r\nend solid \r\n", kNothing},
        {"solid part\r\nEnd solid\r\n", kNothing},
        {"", kNothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 100));
        AsciiResult result = identify(c.text);
        EXPECT_EQ(result.reports, c.reports);
        expectRecognised(result, c.space, c.unitBits);
        if (c.name) EXPECT_EQ(result.name, *c.name);
        // Without a sink the record is filled the same.
        AsciiResult quiet = identify(c.text, nullptr);
        EXPECT_EQ(memcmp(&result.metadata, &quiet.metadata, sizeof(StlMetadata)), 0);
        EXPECT_EQ(quiet.name, result.name);
    }
    AsciiResult tagged = identify(n("\"Part 1<stl unit=INCHES>\""));
    EXPECT_EQ(tagged.nameOffset, 7);  // after `solid "`
    // Without a solid only the two warnings, even for an IRONCAD text.
    AsciiResult none = identify(ironcadFile, false);
    EXPECT_EQ(none.reports, kNothing);
    expectRecognised(none, 2, kMillimetreBits);
}

TEST(AsciiExporter, IllusionTrailerReadsOnlyWhatIsAvailable) {
    // From the closing quote: version at 15 (21 bytes), date at 38 (28 bytes).
    const std::string trailer = "\"; Produced by Art of Illusion 3.0.3, Sat Jan 05 12:34:56 CET 2019";
    for (size_t available : {35, 36, 65, 66}) {
        ExactBytes bytes(trailer.substr(0, available));
        RecordingSink sink;
        readIllusionTrailer(bytes.data(), static_cast<uint32_t>(available), sink.sink());
        std::vector<Report> expected;
        if (available >= 36) expected.push_back(writtenBy("Art of Illusion 3.0.3"));
        if (available >= 66) expected.push_back(written("Sat Jan 05 12:34:56 CET 2019", 20127));
        EXPECT_EQ(sink.reports, expected) << available;
    }
}

TEST(AsciiExporter, RealFiles) {
    const std::pair<const char*, std::vector<Report>> files[] = {
        {"prusa_endstop_block_openscad_crlf.stl", {writtenBy("OpenSCAD")}},
        {"admesh_conveyor_gmsh.stl", kNothing},
        {"occt_shape_bare_solid.stl", kNothing},
        {"trimesh_empty_blender_ascii.stl", kNothing},
        {"assimp_spider_ascii.stl", kNothing},
        {"tess_open_sphere_half_gid.stl", kNothing},
    };
    for (const auto& [name, reports] : files) {
        std::string file = readCorpusFile(name);
        if (file.empty()) GTEST_SKIP() << "corpus missing";
        AsciiResult result = identify(file);
        EXPECT_EQ(result.reports, reports) << name;
        expectRecognised(result, 2, kMillimetreBits);
    }
}

}  // namespace
