// 3MF packages through the load job's entry: units, transforms, colours,
// names, parts in other entries, ignored extensions and the faults that
// refuse a file, each from a small package made here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/load_driver.h"
#include "tests/package_files.h"

namespace {

std::string build(const std::string& items) {
    return "<build>" + items + "</build>";
}

std::string resources(const std::string& inner) {
    return "<resources>" + inner + "</resources>";
}

// One tetrahedron placed once.
std::string simpleModel(const std::string& modelAttributes = "unit=\"millimeter\"") {
    return modelXml(resources(tetrahedronObject(1)) + build("<item objectid=\"1\"/>"), modelAttributes);
}

bool hasLine(const Loaded& load, const std::string& text) {
    for (const Text& line : load.lines())
        if (line.find(widenAscii(text)) != Text::npos) return true;
    return false;
}

std::string allLines(const Loaded& load) {
    std::string all;
    for (const Text& line : load.lines()) {
        for (Utf16 unit : line) all.push_back(unit < 128 ? static_cast<char>(unit) : '?');
        all += "\n";
    }
    return all;
}

TEST(ThreeMfModel, UnitsBecomeTheUnitScale) {
    const struct {
        const char* unit;
        float metres;
    } units[] = {{"micron", 1e-6f}, {"millimeter", 0.001f}, {"centimeter", 0.01f},
                 {"inch", 0.0254f}, {"foot", 0.3048f},      {"meter", 1.0f}};
    for (const auto& unit : units) {
        SCOPED_TRACE(unit.unit);
        Loaded load(package3mf(simpleModel(std::string("unit=\"") + unit.unit + "\"")));
        ASSERT_TRUE(load.loaded()) << allLines(load);
        EXPECT_EQ(+load.part.format, kFormat3mf);
        EXPECT_EQ(load.part.metadata.unitScale, unit.metres);
        EXPECT_EQ(load.part.metadata.coordinateSpace, kSpaceZUp);
        EXPECT_FLOAT_EQ(load.gpu->boundsMax[0], 10 * unit.metres);
    }
    Loaded noUnit(package3mf(simpleModel("")));
    EXPECT_EQ(noUnit.part.metadata.unitScale, kMillimetre);
    Loaded badUnit(package3mf(simpleModel("unit=\"furlong\"")));
    EXPECT_FALSE(badUnit.loaded());
    EXPECT_TRUE(hasLine(badUnit, "3MF error: 3D/3dmodel.model, line 2: unknown unit \"furlong\"; aborting")) << allLines(badUnit);
}

TEST(ThreeMfModel, TransformsPlaceEveryUse) {
    const std::string tetra = tetrahedronObject(1);
    const std::string assembly =
        "<object id=\"2\"><components><component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 100 0 0\"/>"
        "<component objectid=\"1\" transform=\"2 0 0 0 2 0 0 0 2 0 0 50\"/></components></object>"
        "<object id=\"3\"><components><component objectid=\"2\" transform=\"1 0 0 0 1 0 0 0 1 0 30 0\"/>"
        "</components></object>";
    const struct {
        const char* what;
        std::string items;
        uint32_t solids;
        uint64_t triangles;
        float low[3], high[3];  // millimetres
    } cases[] = {
        {"translated item", "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 5 6 7\"/>", 1, 4, {5, 6, 7}, {15, 16, 17}},
        {"rotated item, a quarter turn about z", "<item objectid=\"1\" transform=\"0 1 0 -1 0 0 0 0 1 0 0 0\"/>", 1, 4,
         {-10, 0, 0}, {0, 10, 10}},
        {"one mesh used twice by components", "<item objectid=\"2\"/>", 1, 8, {0, 0, 0}, {110, 20, 70}},
        {"components nested in components, under an item transform",
         "<item objectid=\"3\" transform=\"1 0 0 0 1 0 0 0 1 0 0 -50\"/>", 1, 8, {0, 30, -50}, {110, 50, 20}},
        {"two items of one mesh", "<item objectid=\"1\"/><item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 0 20\"/>",
         2, 8, {0, 0, 0}, {10, 10, 30}},
        {"mirrored in x", "<item objectid=\"1\" transform=\"-1 0 0 0 1 0 0 0 1 0 0 0\"/>", 1, 4, {-10, 0, 0}, {0, 10, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(package3mf(modelXml(resources(tetra + assembly) + build(c.items))));
        ASSERT_TRUE(load.loaded()) << allLines(load);
        EXPECT_EQ(load.part.mesh.solidCount, c.solids);
        EXPECT_EQ(load.gpu->facts.triangleCount, c.triangles);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(load.gpu->boundsMin[axis], c.low[axis] / 1000, 1.5e-6) << axis;
            EXPECT_NEAR(load.gpu->boundsMax[axis], c.high[axis] / 1000, 1.5e-6) << axis;
        }
        // Every placement keeps the tetrahedra outward, mirrors included.
        EXPECT_GT(load.gpu->facts.volume, 0);
    }
}

TEST(ThreeMfModel, ColoursBecomeTriangleColours) {
    const std::string groups =
        "<basematerials id=\"5\"><base name=\"red\" displaycolor=\"#FF0000\"/><base name=\"blue\" displaycolor=\"#0000FFFF\"/>"
        "</basematerials><m:colorgroup id=\"6\"><m:color color=\"#00FF00\"/><m:color color=\"#808080\"/></m:colorgroup>";
    const uint16_t red = 0x001F, blue = 0x7C00, green = 0x03E0, grey = 0x4210, white = 0x7FFF;
    const struct {
        const char* what;
        std::string objectAttributes, triangleAttributes;
        bool coloured;
        uint16_t first, others;
        const char* line;
    } cases[] = {
        {"no colour", "", "", false, white, white, nullptr},
        {"object colour from base materials", " pid=\"5\" pindex=\"1\"", "", true, blue, blue, nullptr},
        {"triangle colour from a colour group", " pid=\"5\" pindex=\"0\"", " pid=\"6\" p1=\"0\"", true, green, red, nullptr},
        {"triangle colour of the object's group", " pid=\"6\" pindex=\"1\"", " p1=\"0\"", true, green, grey, nullptr},
        {"corners of different colours", " pid=\"6\" pindex=\"1\"", " p1=\"0\" p2=\"1\" p3=\"1\"", true, green, grey,
         "3MF info: colours that change across a triangle are drawn in the colour of its first corner"},
        {"an index past the group", "", " pid=\"6\" p1=\"7\"", false, white, white,
         "3MF warning: 1 triangle or object names a colour that is not in the model; drawn without it"},
        {"a group that is not there", " pid=\"9\" pindex=\"0\"", "", false, white, white,
         "3MF warning: 1 triangle or object names a colour that is not in the model; drawn without it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(package3mf(modelXml(resources(groups + tetrahedronObject(1, c.objectAttributes, c.triangleAttributes)) +
                                        build("<item objectid=\"1\"/>"))));
        ASSERT_TRUE(load.loaded()) << allLines(load);
        const StlSolid& solid = load.solid(0);
        EXPECT_EQ(solid.hasColours != 0, c.coloured);
        EXPECT_EQ(load.part.metadata.colorOrder, c.coloured ? kOrderRgb : kOrderNone);
        EXPECT_EQ(solid.triangles[0].attribute, c.first);
        EXPECT_EQ(solid.triangles[3].attribute, c.others);
        if (c.line) EXPECT_TRUE(hasLine(load, c.line)) << allLines(load);
    }
}

TEST(ThreeMfModel, SolidsAreNamedByTheirObjects) {
    std::string objects = tetrahedronObject(1, " name=\"Gear &amp; &#x2603; wheel\"") + tetrahedronObject(2);
    Loaded load(package3mf(modelXml(
        "<metadata name=\"Title\">Gift &lt;box&gt;</metadata><metadata name=\"Application\">Slicer 1.2</metadata>" +
        resources(objects) + build("<item objectid=\"2\"/><item objectid=\"1\"/><item objectid=\"2\"/>"))));
    ASSERT_TRUE(load.loaded()) << allLines(load);
    ASSERT_EQ(load.part.mesh.solidCount, 3u);
    EXPECT_EQ(load.name(0), "Object 1");
    EXPECT_EQ(load.name(1), "Gear & \xE2\x98\x83 wheel");
    EXPECT_EQ(load.name(2), "Object 3");
    EXPECT_EQ(std::string(load.part.metadata.modelName.bytes, load.part.metadata.modelName.length), "Gift <box>");
    const PackageFacts* facts = load.part.package;
    ASSERT_NE(facts, nullptr);
    EXPECT_EQ(facts->buildItems, 3u);
    EXPECT_EQ(std::string(facts->application.bytes, facts->application.length), "Slicer 1.2");
    EXPECT_TRUE(hasLine(load, "3MF info: written by Slicer 1.2"));
    EXPECT_TRUE(hasLine(load, "3MF info: title \"Gift <box>\""));
    // Nothing of the part points into the bytes it came from.
    const char* begin = load.bytes.data();
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(load.solid(i).name.bytes >= begin && load.solid(i).name.bytes < begin + load.bytes.size());
        EXPECT_TRUE(load.part.mesh.source == nullptr);
    }
}

TEST(ThreeMfModel, PathsReachObjectsInOtherParts) {
    std::string inner = modelXml(resources(tetrahedronObject(1)) + build(""));
    std::string root = modelXml(resources("<object id=\"1\"><components><component objectid=\"1\" p:path=\"/3D/Objects/a.model\""
                                          " transform=\"1 0 0 0 1 0 0 0 1 0 0 100\"/></components></object>") +
                                build("<item objectid=\"1\"/><item objectid=\"1\" p:path=\"/3D/Objects/A.MODEL\"/>"));
    Loaded load(package3mf(root, {{"3D/Objects/a.model", inner, true}}));
    ASSERT_TRUE(load.loaded()) << allLines(load);
    EXPECT_EQ(load.part.mesh.solidCount, 2u);
    EXPECT_FLOAT_EQ(load.gpu->boundsMax[2], 0.11f);
    EXPECT_FLOAT_EQ(load.gpu->boundsMin[2], 0.0f);
    Loaded missing(package3mf(root));
    EXPECT_FALSE(missing.loaded());
    EXPECT_TRUE(hasLine(missing, "3MF error: /3D/Objects/a.model: the part is not in the package; aborting")) << allLines(missing);
}

TEST(ThreeMfModel, ExtensionsItCannotShowAreNamedOnce) {
    std::string lattice = "<object id=\"2\" xmlns:b=\"http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02\">"
                          "<mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/></vertices>"
                          "<b:beamlattice radius=\"1\"><b:beams><b:beam v1=\"0\" v2=\"1\"/></b:beams></b:beamlattice>"
                          "<b:beamlattice/></mesh></object>";
    std::string textures = "<m:texture2d id=\"7\" path=\"/3D/t.png\" contenttype=\"image/png\"/>"
                           "<m:texture2dgroup id=\"8\" texid=\"7\"><m:tex2coord u=\"0\" v=\"0\"/></m:texture2dgroup>";
    Loaded load(package3mf(modelXml(resources(textures + tetrahedronObject(1, " pid=\"8\" pindex=\"0\"") + lattice) +
                                    build("<item objectid=\"1\"/><item objectid=\"2\"/>"))));
    ASSERT_TRUE(load.loaded()) << allLines(load);
    EXPECT_EQ(load.messages.inner.count("3MF info: beam lattices (beam lattice extension) not shown: this viewer ignores them"), 1u);
    EXPECT_EQ(load.messages.inner.count("3MF info: textures not shown: this viewer ignores them"), 1u);
    EXPECT_EQ(load.gpu->facts.triangleCount, 4u);
    EXPECT_EQ(load.solid(0).hasColours, 0);  // a texture is no colour
}

TEST(ThreeMfModel, ALargePartIsReadWhileItInflates) {
    // Over a megabyte, so the part is inflated on a thread of its own.
    std::string vertices, triangles;
    for (int i = 0; i < 30000; ++i) {
        vertices += "<vertex x=\"" + std::to_string(i % 100) + "\" y=\"" + std::to_string(i / 100) + "\" z=\"" +
                    std::to_string(i % 7) + "\"/>\n";
        if (i >= 2) triangles += "<triangle v1=\"" + std::to_string(i - 2) + "\" v2=\"" + std::to_string(i - 1) +
                                 "\" v3=\"" + std::to_string(i) + "\"/>\n";
    }
    std::string xml = modelXml(resources("<object id=\"1\"><mesh><vertices>" + vertices + "</vertices><triangles>" +
                                         triangles + "</triangles></mesh></object>") + build("<item objectid=\"1\"/>"));
    ASSERT_GT(xml.size(), size_t{1} << 20);
    Loaded stored(package3mf(xml, {}, false));
    Loaded deflated(package3mf(xml, {}, true));
    ASSERT_TRUE(stored.loaded() && deflated.loaded()) << allLines(deflated);
    EXPECT_EQ(deflated.gpu->facts.triangleCount, 29998u);
    EXPECT_EQ(memcmp(stored.solid(0).triangles, deflated.solid(0).triangles, 29998 * sizeof(StlTriangle)), 0);
    EXPECT_FLOAT_EQ(deflated.gpu->boundsMax[1], 0.299f);
    // Cut short, the stream's fault is told, not the XML that stops with it.
    std::string stream = storedDeflate(xml);
    Loaded cut(zipArchive({{"[Content_Types].xml", contentTypes()}, {"_rels/.rels", rootRelationships()},
                           {"3D/3dmodel.model", xml, true, stream.substr(0, stream.size() * 3 / 4)}}));
    EXPECT_FALSE(cut.loaded());
    EXPECT_EQ(allLines(cut), "3MF error: 3D/3dmodel.model: the entry's deflate stream is damaged: it ends before its last block; aborting\n");
}

// Vertices and triangles are read straight from the bytes when written
// plainly; every other spelling must read as the XML reader reads it.
TEST(ThreeMfModel, MeshElementsReadAlikeHoweverWritten) {
    auto mesh = [](const std::string& vertex, const std::string& triangle, const char* vertices = "<vertices>",
                   const char* end = "</vertices>") {
        return package3mf(modelXml(resources(std::string("<object id=\"1\"><mesh>") + vertices +
                                             "<vertex x=\"0\" y=\"0\" z=\"0\"/>" + vertex +
                                             "<vertex x=\"0\" y=\"10\" z=\"0\"/><vertex x=\"0\" y=\"0\" z=\"10\"/>" +
                                             end + "<triangles>" + triangle +
                                             "<triangle v1=\"0\" v2=\"1\" v3=\"3\"/><triangle v1=\"0\" v2=\"3\" v3=\"2\"/>"
                                             "<triangle v1=\"1\" v2=\"2\" v3=\"3\"/></triangles></mesh></object>") +
                                   build("<item objectid=\"1\"/>")));
    };
    const std::string vertex = "<vertex x=\"10\" y=\"0\" z=\"0\"/>", triangle = "<triangle v1=\"0\" v2=\"2\" v3=\"1\"/>";
    Loaded plain(mesh(vertex, triangle));
    ASSERT_TRUE(plain.loaded()) << allLines(plain);
    const struct {
        const char* what;
        std::string file;
        const char* fault;  // null: loads as the plain one
    } cases[] = {
        {"a blank before the end", mesh("<vertex x=\"10\" y=\"0\" z=\"0\" />", "<triangle v1=\"0\" v2=\"2\" v3=\"1\" />"), nullptr},
        {"another order", mesh("<vertex z=\"0\" y=\"0\" x=\"10\"/>", "<triangle v2=\"2\" v1=\"0\" v3=\"1\"/>"), nullptr},
        {"single quotes, blanks and leading zeros", mesh("<vertex x=' 10 ' y='0' z='0'/>", "<triangle v1=\"00\" v2=' 2' v3=\"1\"/>"), nullptr},
        {"references in values", mesh("<vertex x=\"1&#48;\" y=\"0\" z=\"0\"/>", "<triangle v1=\"0\" v2=\"&#50;\" v3=\"1\"/>"), nullptr},
        {"a prefix for the core namespace", mesh("<c:vertex xmlns:c=\"" + std::string(kCoreSpace) + "\" x=\"10\" y=\"0\" z=\"0\"/>",
                                                 triangle), nullptr},
        {"an attribute of another namespace", mesh("<vertex x=\"10\" y=\"0\" z=\"0\" m:x=\"5\"/>", triangle), nullptr},
        {"an attribute twice", mesh("<vertex x=\"10\" y=\"0\" z=\"0\" x=\"1\"/>", triangle), "an element has the same attribute twice"},
        {"a bad end", mesh(vertex, "<triangle v1=\"0\" v2=\"2\" v3=\"1\"/ >"), "line 3: "},
        {"a number cut", mesh("<vertex x=\"10e\" y=\"0\" z=\"0\"/>", triangle), "a vertex needs the numbers x, y and z"},
        {"an index of 2^31", mesh(vertex, "<triangle v1=\"2147483648\" v2=\"2\" v3=\"1\"/>"), "a triangle needs"},
        {"a vertex past the mesh", mesh(vertex, "<triangle v1=\"0\" v2=\"2\" v3=\"4\"/>"), "names vertex 4, but the mesh has 4"},
        {"vertices whose default namespace is another",
         mesh(vertex, triangle, "<c:vertices xmlns:c=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
                                "xmlns=\"http://example.com/q\">", "</c:vertices>"),
         "but the mesh has 0 vertices"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(c.file);
        if (c.fault) {
            EXPECT_FALSE(load.loaded());
            EXPECT_TRUE(hasLine(load, c.fault)) << allLines(load);
            continue;
        }
        ASSERT_TRUE(load.loaded()) << allLines(load);
        EXPECT_EQ(memcmp(load.solid(0).triangles, plain.solid(0).triangles, 4 * sizeof(StlTriangle)), 0);
    }
    // Lines are counted through plainly written elements, CR LF and lone CR ends included.
    std::string lines = "<object id=\"1\"><mesh><vertices>";
    for (int i = 0; i < 4; ++i) lines += "<vertex x=\"" + std::to_string(i % 2) + "\" y=\"" + std::to_string(i / 2) + "\" z=\"0\"/>\r\n";
    lines += "</vertices><triangles>";
    for (int i = 0; i < 4; ++i) lines += "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>\r";
    Loaded late(package3mf(modelXml(resources(lines + "</triangles></mesh></object>") + "\r\n" + build("<item objectid=\"4\"/>"))));
    EXPECT_TRUE(hasLine(late, "3MF error: 3D/3dmodel.model, line 12: object 4 is not in the model; aborting")) << allLines(late);
}

TEST(ThreeMfModel, FaultsRefuseTheFileWithTheirLine) {
    std::string tetra = tetrahedronObject(1);
    std::string chain;
    for (int i = 2; i <= 70; ++i)
        chain += "<object id=\"" + std::to_string(i) + "\"><components><component objectid=\"" + std::to_string(i - 1) +
                 "\"/></components></object>";
    std::string xml = modelXml(resources(tetra) + build("<item objectid=\"1\"/>"));
    std::string cut = storedDeflate(xml).substr(0, xml.size() / 2);
    const struct {
        const char* what;
        std::string file;
        const char* line;
    } cases[] = {
        {"vertex index out of range", package3mf(modelXml(resources(
             "<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/></vertices><triangles>"
             "<triangle v1=\"0\" v2=\"0\" v3=\"9\"/></triangles></mesh></object>") + build("<item objectid=\"1\"/>"))),
         "3MF error: 3D/3dmodel.model, line 3: a triangle names vertex 9, but the mesh has 1 vertices; aborting"},
        {"no root part", zipArchive({{"_rels/.rels", rootRelationships()}}),
         "3MF error: /3D/3dmodel.model: the part is not in the package; aborting"},
        {"no relationships", zipArchive({{"3D/3dmodel.model", xml}}),
         "3MF error: the package names no 3D model part (_rels/.rels has no 3D model relationship); aborting"},
        {"a build item naming nothing", package3mf(modelXml(resources(tetra) + build("<item objectid=\"4\"/>"))),
         "3MF error: 3D/3dmodel.model, line 3: object 4 is not in the model; aborting"},
        {"a component cycle", package3mf(modelXml(resources(
             "<object id=\"1\"><components><component objectid=\"2\"/></components></object>"
             "<object id=\"2\"><components><component objectid=\"1\"/></components></object>") + build("<item objectid=\"1\"/>"))),
         "contains itself through its components; aborting"},
        {"components nested too deep", package3mf(modelXml(resources(tetra + chain) + build("<item objectid=\"70\"/>"))),
         "components nest more than 64 levels deep; aborting"},
        {"a deflate stream cut in half", zipArchive({{"[Content_Types].xml", contentTypes()}, {"_rels/.rels", rootRelationships()},
                                                    {"3D/3dmodel.model", xml, true, cut}}),
         "3MF error: 3D/3dmodel.model: the entry's deflate stream is damaged: it ends before its last block; aborting"},
        {"a vertex that is no number", package3mf(modelXml(resources(
             "<object id=\"1\"><mesh><vertices><vertex x=\"1.5.2\" y=\"0\" z=\"0\"/></vertices></mesh></object>") + build(""))),
         "a vertex needs the numbers x, y and z; aborting"},
        {"an object defined twice", package3mf(modelXml(resources(tetra + tetra) + build("<item objectid=\"1\"/>"))),
         "object 1 is defined twice; aborting"},
        {"a transform of eleven numbers", package3mf(modelXml(resources(tetra) +
             build("<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 0\"/>"))),
         "a transform needs twelve numbers; aborting"},
        {"no build", package3mf(modelXml(resources(tetra))), "the model has no <build>; aborting"},
        {"an unknown required extension", package3mf(modelXml(resources(tetra) + build(""),
             "requiredextensions=\"q\" xmlns:q=\"http://example.com/q\"")),
         "the model requires the extension q, which this viewer cannot read; aborting"},
        {"an element left open", package3mf(xml.substr(0, xml.size() - 10)), "the XML ends inside an element; aborting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded load(c.file);
        EXPECT_FALSE(load.loaded());
        EXPECT_TRUE(hasLine(load, c.line)) << allLines(load);
    }
}

}  // namespace
