#include <gtest/gtest.h>

#include <optional>

#include "stl/ascii_exporter.h"
#include "stl/ascii_parser.h"
#include "tests/exporter_test_support.h"

using namespace exporter_test;

namespace {

// What recognition should say and leave. An unset name is the one in the
// text; nothing but the quoted unit tag rewrites it.
struct Case {
    std::string text;
    std::vector<Text> lines;
    uint32_t space = 2;
    uint32_t unitBits = kMillimetreBits;
    std::optional<std::string> name = std::nullopt;
};

// Over the solids the parser finds, as in a load; a text it refuses stands
// for one solid without a name, for the layout scan's edges. Without a sink
// the record is filled the same; colours and model name are the binary
// header's. Gives where the first solid's name begins.
ptrdiff_t expectCase(const Case& c, bool withSolid = true) {
    SCOPED_TRACE(c.text.substr(0, 100));
    ExactBytes file(c.text);
    ptrdiff_t nameOffset = 0;
    for (bool withSink : {false, true}) {
        HeapHandle heap = createPrivateHeap();
        StlMesh mesh{};
        StlSolid unnamed{};
        unnamed.name = CountedText{reinterpret_cast<const char*>(file.data()), 0, 0};
        bool parsed = parseAsciiStl(&mesh, file.data(), file.size(), heap, nullptr) && mesh.solidCount > 0;
        StlSolid* solids = parsed ? mesh.solids : &unnamed;
        StlMetadata metadata = garbageMetadata();
        Converter messages;
        identifyAsciiExporter(withSolid ? solids : nullptr, withSolid ? (parsed ? mesh.solidCount : 1) : 0, &metadata,
                              file.data(), file.end(), withSink ? messages.producerSink() : nullptr);
        if (withSink) EXPECT_EQ(messages.inner.lines(), c.lines);
        EXPECT_EQ(+metadata.coordinateSpace, c.space);
        EXPECT_EQ(bitsOf(metadata.unitScale), c.unitBits);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&metadata.colorOrder), 5), std::string(5, '\0'));
        EXPECT_EQ(metadata.modelName.length + metadata.modelName.codePage, 0u);
        if (c.name) EXPECT_EQ(std::string(solids[0].name.bytes, solids[0].name.length), *c.name);
        nameOffset = reinterpret_cast<const uint8_t*>(solids[0].name.bytes) - file.data();
        if (parsed) freeMeshSolids(&mesh, heap);
        destroyPrivateHeap(heap);
    }
    return nameOffset;
}

// Only the solid's first line is given; some facets follow so that the
// layout scan has nothing to say.
std::string namedFile(const std::string& name) {
    return "solid " + name + "\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
           "endloop\nendfacet\nendsolid " + name + "\n";
}

// How a writer lays out its facets: line end, the indentation of each line,
// a blank after "outer loop" and the gap after "vertex".
struct Layout {
    const char *lineEnd, *facetIndent, *loopIndent, *loopTrail, *vertexIndent, *vertexGap;
};

std::string layoutFile(const std::string& name, const Layout& layout, int facets = 3) {
    std::string eol = layout.lineEnd;
    std::string text = (name.empty() ? "solid" : "solid " + name) + eol;
    for (int f = 0; f < facets; ++f) {
        text += std::string(layout.facetIndent) + "facet normal 0.000000e+00 0.000000e+00 1.000000e+00" + eol;
        text += std::string(layout.loopIndent) + "outer loop" + layout.loopTrail + eol;
        for (int v = 0; v < 3; ++v)
            text += std::string(layout.vertexIndent) + "vertex" + layout.vertexGap + std::to_string(f + v) +
                    ".000000e+00 " + std::to_string(v) + ".500000e+00 0.000000e+00" + eol;
        text += std::string(layout.loopIndent) + "endloop" + eol + layout.facetIndent + "endfacet" + eol;
    }
    return text + (name.empty() ? "endsolid" : "endsolid " + name) + eol;
}

const Layout kSketchUp{"\r\n", "", "  ", "", "    ", " "};
const Layout kVisualizationToolkit{"\r\n", " ", "  ", "", "   ", " "};
const Layout kNetfabb{"\r\n", " ", "  ", "", "    ", " "};
const Layout kTFlex{"\r\n", "", "", " ", "", " "};
const Layout kAutodeskLf{"\n", "  ", "    ", "", "      ", "   "};
const Layout kAutodeskCrLf{"\r\n", "  ", "    ", "", "      ", "   "};

// T-Flex's loop line starting at `position` after "solid", in a text of `length` bytes.
std::string tFlexPatternAt(size_t position, size_t length) {
    std::string text = ("solid " + std::string(position, 'x')).substr(0, position) + "\r\nouter loop \r\nv";
    return text + std::string(length - text.size(), 'x');
}

// The second layout's facets inside the first's solid.
std::string mixedLayouts(const Layout& first, const Layout& second, const std::string& name) {
    std::string text = layoutFile(name, first, 1), other = layoutFile(name, second, 1);
    size_t from = other.find("\r\n") + 2;
    return text.insert(text.rfind("endsolid"), other.substr(from, other.rfind("endsolid") - from));
}

// Names, layouts and the last bytes.
TEST(AsciiExporter, Cases) {
    auto n = namedFile;
    const std::string illusion = "\"Object-0\"; Produced by Art of Illusion 3.0.3, Sat Jan 05 12:34:56 CET 2019";
    const Text illusionVersion = writtenBy("Art of Illusion 3.0.3");
    const std::string vectorworks = "Vectorworks" + std::string(53, 'x');  // 64 bytes
    const std::vector<Text> tFlex{writtenBy("T-Flex CAD"), kSpaceWarning, kUnitWarning}, ironcad{writtenBy("IRONCAD")},
        ivcon{writtenBy("IVCON/IVREAD"), kSpaceWarning, kUnitWarning};
    std::string ironcadFile = layoutFile("OpenSCAD_Model", kSketchUp);
    ironcadFile.replace(ironcadFile.rfind("endsolid"), std::string::npos, "end solid\r\n");
    const Case cases[] = {
        {n("stl file generated from AC3D"), {writtenBy("Inivis AC3D")}},
        {n("CAD Exchanger 3.9.0"), {writtenBy("CAD Exchanger"), kUnitWarning}, 1},
        {n("shape, STL ascii file, created with Open CASCADE Technology"),
         {writtenBy("Open CASCADE Technology"), kUnitWarning}, 1},
        {n("created by TurboCAD"), {writtenBy("IMSI/Design TurboCAD"), kSpaceWarning, kUnitWarning}},
        {n("STL file created by Vectorworks!"), {writtenBy("Vectorworks!"), kSpaceWarning, kUnitWarning}},
        {n("STL file created by Vectorworks"), kNothing},
        {n("STL file created by " + vectorworks + "yz"), {writtenBy(vectorworks), kSpaceWarning, kUnitWarning}},
        {n("CATIA STL"), {writtenBy("Dassault CATIA Digitized Shape Editor")}},
        {n("stl_item0"), {writtenBy("Autodesk Tinkercad")}},
        {n("stl_item1"), kNothing},
        {n("MYSOLID"), ivcon},
        {n("MYSOLID12"), kNothing},
        {n("MYSOLID created by IVCON, version 1.0"), {writtenBy("IVCON"), kSpaceWarning, kUnitWarning}},
        {n("MYSOLID created by IVCO"), ivcon},
        {n("OpenSCAD_Model"), {writtenBy("OpenSCAD")}},
        {n(illusion), {illusionVersion, written("Sat Jan 05 12:34:56 CET 2019"), kSpaceWarning}},
        {n(illusion.substr(0, 74)), {illusionVersion, kSpaceWarning}},
        {n(illusion.substr(0, 46)), {illusionVersion, kSpaceWarning}},
        {n(illusion.substr(0, 45)), kNothing},
        {n("\"Object-1" + illusion.substr(9)), kNothing},
        {n("\"Body<stl unit=MM>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kMillimetreBits, "Body"},
        {n("\"<stl unit=INCHES>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kInchBits, ""},
        {n("Part 1<stl unit=MM>\""), kNothing},
        {n("\"Part 1<stl unit=mm>\""), kNothing},
        {n("\"Part 1<stl unit=INCHES> \""), kNothing},
        // Layouts, and which wins when a file has two.
        {layoutFile("Model", kSketchUp), {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}},
        {layoutFile("Unnamed", kVisualizationToolkit), {writtenBy("Visualization Toolkit")}},
        {layoutFile("solidname", kNetfabb), {writtenBy("Autodesk Netfabb")}},
        {layoutFile("part", kNetfabb), kNothing},
        {layoutFile("", kTFlex), tFlex},
        {layoutFile("Part", kTFlex), kNothing},
        {layoutFile("ascii", kAutodeskCrLf), {writtenBy("Autodesk 123D")}},
        {"\xEF\xBB\xBF" + layoutFile("ASCII", kAutodeskLf), {writtenBy("Autodesk Fusion 360")}},
        {layoutFile("Ascii", kAutodeskLf), kNothing},
        {mixedLayouts(kSketchUp, kVisualizationToolkit, "ascii"), {writtenBy("SketchUp"), kSpaceWarning, kUnitWarning}},
        // The scan runs from position 6 to 33 bytes before the end, within the first 735 bytes.
        {tFlexPatternAt(6, 40), tFlex},
        {tFlexPatternAt(6, 39), kNothing},
        {tFlexPatternAt(5, 41), kNothing},
        {tFlexPatternAt(734, 2000), tFlex},
        {tFlexPatternAt(735, 2000), kNothing},
        {"solid", kNothing},
        // IRONCAD: exactly "end solid" CR LF at the end, whatever the name.
        {ironcadFile, ironcad},
        {"end solid\r\n", ironcad},
        {"solid part\r\nend solid\n", kNothing},
        {"solid part\r\nEnd solid\r\n", kNothing},
        {"", kNothing},
    };
    for (const Case& c : cases) expectCase(c);
    EXPECT_EQ(expectCase({n("\"Part 1<stl unit=INCHES>\""), {writtenBy("ANSYS SpaceClaim")}, 2, kInchBits, "Part 1"}),
              7);  // after `solid "`
    // Without a solid only the two warnings, even for an IRONCAD text.
    expectCase({ironcadFile, kNothing}, false);
}

}  // namespace
