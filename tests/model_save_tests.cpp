// Save as: the repairs on shapes whose right answer is known, and saved files
// read back by the viewer's own readers and checked again.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>

#include "load/model_save.h"
#include "tests/corpus_manifest.h"
#include "tests/load_driver.h"
#include "tests/mesh_solids.h"
#include "tests/package_files.h"
#include "tests/test_files.h"
#include "stl/stl_writer.h"
#include "threemf/model_writer.h"

namespace {

constexpr RepairChoice kAllRepairs{1, 1, 1, 1};

// A sphere of `rings` bands and `segments` sides, outward; without the faces
// at the north pole it has one hole of `segments` edges.
std::vector<Tri> sphere(int rings, int segments, bool northCap = true) {
    auto at = [&](int ring, int side) {
        double theta = std::numbers::pi * ring / rings, phi = 2 * std::numbers::pi * (side % segments) / segments;
        if (ring == 0 || ring == rings) phi = 0;
        return Point{float(sin(theta) * cos(phi)), float(sin(theta) * sin(phi)), float(cos(theta))};
    };
    std::vector<Tri> out;
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            Point a = at(r, s), b = at(r + 1, s), c = at(r + 1, s + 1), d = at(r, s + 1);
            if (r > 0 || northCap) out.push_back({a, b, c});
            if (r > 0 && r + 1 < rings) out.push_back({a, c, d});
            else if (r > 0) out.back() = {a, b, d};
        }
    return out;
}

// An open tube: two holes of `sides` edges.
std::vector<Tri> tube(int sides) {
    std::vector<Tri> out;
    for (int s = 0; s < sides; ++s) {
        auto p = [&](int i, float z) {
            return Point{float(cos(2 * std::numbers::pi * (i % sides) / sides)), float(sin(2 * std::numbers::pi * (i % sides) / sides)), z};
        };
        out.push_back({p(s, 0), p(s + 1, 0), p(s + 1, 1)});
        out.push_back({p(s, 0), p(s + 1, 1), p(s, 1)});
    }
    return out;
}

std::vector<Tri> withoutFaces(std::vector<Tri> tris, std::vector<size_t> drop) {
    for (auto i = drop.rbegin(); i != drop.rend(); ++i) tris.erase(tris.begin() + long(*i));
    return tris;
}

std::vector<Tri> turned(std::vector<Tri> tris, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) tris[i] = reversed(tris[i]);
    return tris;
}

struct RepairRow {
    const char* name;
    std::vector<Tri> triangles;
    RepairCounts counts;  // nonManifoldEdges included
    uint32_t trianglesAfter;
    bool closedAfter;
};

std::vector<RepairRow> shapesWithKnownFaults() {
    Point flat = {0.5f, 0.5f, 0};
    std::vector<Tri> fan = {{Point{0, 0, 0}, Point{1, 0, 0}, Point{0, 1, 0}},
                            {Point{0, 0, 0}, Point{1, 0, 0}, Point{0, -1, 0}},
                            {Point{0, 0, 0}, Point{1, 0, 0}, Point{0, 0, 1}}};
    std::vector<Tri> seamed = cube();
    for (size_t t : {10, 11})  // the face at x = 1
        for (Point& p : seamed[t])
            if (p == Point{1, 1, 1}) p[0] = 1.000004f;
    Point distant = {10, 10, 10};
    // Large enough for the check of the part as it came to start beside the repairs.
    std::vector<Tri> large = sphere(128, 300);
    uint32_t largeCount = uint32_t(large.size());
    return {
        {"sound cube", cube(), {}, 12, true},
        {"cube, one face turned", turned(cube(), 3, 1), {1, 0, 0, 0, 0, 0, 0, 0}, 12, true},
        {"inside-out cube", turned(cube(), 0, 12), {12, 0, 0, 0, 0, 0, 0, 0}, 12, true},
        {"cube, a face missing", withoutFaces(cube(), {2, 3}), {0, 0, 0, 1, 4, 0, 0, 0}, 12, true},
        {"cube, two without area and a duplicate",
         join(cube(), {{flat, flat, Point{1, 1, 1}}, {Point{1, 0, 0}, Point{1, 0, 0}, Point{0, 0, 0}}, cube()[5]}),
         {0, 2, 1, 0, 0, 0, 0, 0}, 12, true},
        {"sphere, a hole of 20 edges", sphere(8, 20, false), {0, 0, 0, 1, 20, 0, 0, 0}, 7 * 20 * 2 - 20 + 18, true},
        {"non-manifold fan", fan, {0, 0, 0, 0, 0, 1, 6, 1}, 3, false},
        {"tube, holes too large", tube(kMostHoleEdges + 1), {0, 0, 0, 0, 0, 2, 2 * (kMostHoleEdges + 1), 0},
         2 * (kMostHoleEdges + 1), false},
        // A hollow's inner wall faces inwards and stays so.
        {"hollow box", join(box({0, 0, 0}, {4, 4, 4}), turned(box({1, 1, 1}, {2, 2, 2}), 0, 12)), {}, 24, true},
        {"two cubes, one inside out", join(cube(), turned(cube(3), 0, 12)), {12, 0, 0, 0, 0, 0, 0, 0}, 24, true},
        // Shells that are open and inside out: turned once their holes are closed.
        {"inside-out cube, a face missing", turned(withoutFaces(cube(), {2, 3}), 0, 10), {10, 0, 0, 1, 4, 0, 0, 0}, 12, true},
        {"inside-out sphere, a hole of 20 edges", turned(sphere(8, 20, false), 0, 7 * 20 * 2 - 20),
         {7 * 20 * 2 - 20, 0, 0, 1, 20, 0, 0, 0}, 7 * 20 * 2 - 20 + 18, true},
        {"hollow box, a face of the inner wall missing",
         join(box({0, 0, 0}, {4, 4, 4}), turned(withoutFaces(box({1, 1, 1}, {2, 2, 2}), {2, 3}), 0, 10)),
         {0, 0, 0, 1, 4, 0, 0, 0}, 24, true},
        {"inside-out cube beside an open one",
         join(turned(withoutFaces(cube(), {2, 3}), 0, 10), withoutFaces(cube(3), {4, 5})), {10, 0, 0, 2, 8, 0, 0, 0},
         24, true},
        // Copies whose edges have no other face: found while the sides are matched.
        {"a face and its copy turned", {fan[0], reversed(fan[0])}, {0, 0, 1, 1, 3, 0, 0, 0}, 2, true},
        // The seam welds within the distance that the far face without area
        // gives; once it is dropped, the saved cube is open there.
        {"cube, a seam closed only by a dropped face's extent", join(seamed, {{distant, distant, Point{0, 0, 0}}}),
         {0, 1, 0, 0, 0, 1, 4, 0}, 12, false},
        {"large sphere", large, {}, largeCount, true},
        {"large sphere, inside out", turned(large, 0, largeCount), {largeCount, 0, 0, 0, 0, 0, 0, 0}, largeCount, true},
    };
}

TEST(Repairs, ShapesWithKnownFaults) {
    for (const RepairRow& row : shapesWithKnownFaults()) {
        SCOPED_TRACE(row.name);
        Solids solids({row.triangles});
        StlMesh out;
        RepairReport report{};
        ASSERT_TRUE(repairMesh(&solids.mesh, kAllRepairs, &out, &report, nullptr, Converter().producerSink()));
        const RepairCounts& c = report.counts;
        EXPECT_EQ(c.turnedFaces, row.counts.turnedFaces);
        EXPECT_EQ(c.droppedWithoutArea, row.counts.droppedWithoutArea);
        EXPECT_EQ(c.droppedDuplicates, row.counts.droppedDuplicates);
        EXPECT_EQ(c.closedHoles, row.counts.closedHoles);
        EXPECT_EQ(c.closedHoleEdges, row.counts.closedHoleEdges);
        EXPECT_EQ(c.openHoles, row.counts.openHoles);
        EXPECT_EQ(c.openHoleEdges, row.counts.openHoleEdges);
        EXPECT_EQ(c.nonManifoldEdges, row.counts.nonManifoldEdges);
        EXPECT_EQ(+out.solids[0].triangleCount, row.trianglesAfter);
        SurfaceCheck check;
        ASSERT_TRUE(checkSurface(&out, &check, nullptr, nullptr, nullptr));
        EXPECT_EQ(check.closed != 0, row.closedAfter);
        EXPECT_EQ(check.flippedEdges, 0u);
        EXPECT_EQ(check.insideOut, 0);
        EXPECT_EQ(check.degenerateTriangles, 0u);
        EXPECT_EQ(memcmp(&check, &report.after, sizeof check), 0);
        freeMeshSolids(&out, processHeap());
    }
}

TEST(Repairs, ReportLines) {
    Converter lines;
    const std::pair<RepairCounts, std::string> rows[] = {
        {{36, 12, 0, 2, 18, 0, 0, 0}, "Turned 36 faces outwards; dropped 12 triangles without area; closed 2 holes of 18 edges"},
        {{1, 0, 1, 1, 4, 0, 0, 0}, "Turned 1 face outwards; dropped 1 duplicate triangle; closed 1 hole of 4 edges"},
        {{}, "Nothing needed repair"},
    };
    for (const auto& [counts, text] : rows) {
        lines.convert(kInfoRepaired, &counts);
        EXPECT_EQ(lines.inner.lines().back(), widenAscii(text));
    }
    const std::pair<RepairCounts, std::string> left[] = {
        {{0, 0, 0, 0, 0, 1, 2400, 0}, "Still open: 1 hole of 2,400 edges"},
        {{0, 0, 0, 0, 0, 2, 1234567, 3}, "Still open: 2 holes of 1,234,567 edges; 3 edges of more than two faces"},
        {{}, "Nothing is left open"},
    };
    for (const auto& [counts, text] : left) {
        lines.convert(kInfoStillOpen, &counts);
        EXPECT_EQ(lines.inner.lines().back(), widenAscii(text));
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

float largestCoordinate(const StlMesh& mesh) {
    float largest = 0;
    for (uint32_t s = 0; s < mesh.solidCount; ++s)
        for (uint32_t t = 0; t < mesh.solids[s].triangleCount; ++t)
            for (int k = 0; k < 9; ++k) {
                float x;
                memcpy(&x, reinterpret_cast<const char*>(mesh.solids[s].triangles + t) + 4 * k, 4);
                largest = std::max(largest, std::fabs(x));
            }
    return largest;
}

std::string binaryFile(const std::vector<Tri>& tris, const std::string& header, uint16_t attribute = 0) {
    std::vector<TestTriangle> records;
    for (const Tri& t : tris) {
        TestTriangle r{};
        for (int c = 0; c < 3; ++c)
            for (int d = 0; d < 3; ++d) r.vertices[c][d] = t[c][d];
        r.attribute = attribute;
        records.push_back(r);
    }
    return binaryStl(records, header);
}

struct SaveRow {
    const char* name;
    std::string file;
    const char* output;
    float largest;       // of the saved coordinates
    uint32_t triangles;  // saved
    bool unitKnown;
};

TEST(SaveAs, WrittenFilesReadBackInMillimetres) {
    TempFolder folder;
    const SaveRow rows[] = {
        {"inch STL to STL", binaryFile(cube(), std::string("model UNITS=Inch COLOR=\x10\x20\x30\xFF", 27)), "inch.stl",
         25.4f, 12, true},
        {"centimetre 3MF to STL", package3mf(modelXml("<resources>" + tetrahedronObject(1) +
                                                     "</resources><build><item objectid=\"1\"/></build>",
                                                     "unit=\"centimeter\"")),
         "cm.stl", 100, 4, true},
        {"centimetre 3MF to 3MF", package3mf(modelXml("<resources>" + tetrahedronObject(1) +
                                                     "</resources><build><item objectid=\"1\"/></build>",
                                                     "unit=\"centimeter\"")),
         "cm.3mf", 100, 4, true},
        {"inside-out cube, unit unknown, to 3MF", binaryFile(turned(cube(2), 0, 12), "plain header"), "unknown.3mf", 3, 12, false},
        {"unit unknown, to STL", binaryFile(cube(), "plain header"), "unknown.stl", 1, 12, false},
        {"inside-out cube, a face missing, to STL", binaryFile(turned(withoutFaces(cube(), {0, 1}), 0, 10), "UNITS=mm"),
         "open.stl", 1, 12, true},
        {"coloured STL to STL", binaryFile(cube(), "Veldmark STL Viewer, millimetres, colours BGR", 0x7C00 | 3),
         "colours.stl", 1, 12, true},
        {"coloured 3MF to 3MF", redCube3mf(), "red.3mf", 5, 12, true},
    };
    for (const SaveRow& row : rows) {
        SCOPED_TRACE(row.name);
        Loaded source(row.file);
        ASSERT_TRUE(source.loaded());
        std::string path = folder.directory() + row.output;
        std::vector<Utf16> wide = utf16Path(path);
        Converter lines;
        SaveRequest request{&source.part, 1, nullptr, 0, saveFormatFor(wide.data()), kAllRepairs, wide.data()};
        SaveOutcome outcome;
        ASSERT_TRUE(saveModel(&request, &outcome, nullptr, lines.producerSink()));
        EXPECT_EQ(lines.inner.lines().back().substr(0, 6), widenAscii("Saved "));
        Loaded saved(readFile(path));
        ASSERT_TRUE(saved.loaded());
        EXPECT_EQ(saved.part.format == kFormat3mf, request.format == kSave3mf);
        EXPECT_EQ(+saved.part.metadata.unitScale, kMillimetre);
        EXPECT_EQ(source.part.metadata.unitAssumed, !row.unitKnown);
        // A 3MF file always states its unit.
        EXPECT_EQ(saved.part.metadata.unitAssumed, !row.unitKnown && request.format == kSaveBinaryStl);
        EXPECT_FLOAT_EQ(largestCoordinate(saved.part.mesh), row.largest);
        uint32_t triangles = 0;
        for (uint32_t s = 0; s < saved.part.mesh.solidCount; ++s) triangles += saved.part.mesh.solids[s].triangleCount;
        EXPECT_EQ(triangles, row.triangles);
        SurfaceCheck check;
        ASSERT_TRUE(checkSurface(&saved.part.mesh, &check, nullptr, nullptr, nullptr));
        EXPECT_TRUE(check.closed);
        EXPECT_FALSE(check.insideOut);
        EXPECT_EQ(check.flippedEdges, 0u);
        // The colours as the source showed them.
        const StlSolid& a = source.part.mesh.solids[0];
        const StlSolid& b = saved.part.mesh.solids[0];
        EXPECT_EQ(+a.hasColours, +b.hasColours);
        if (a.hasColours)
            EXPECT_EQ(triangleColour(a.triangles[0].attribute, source.part.metadata.colorOrder, true),
                      triangleColour(b.triangles[0].attribute, saved.part.metadata.colorOrder, true));
        // Names (binary STL has none) and the model's colour as the source had them.
        if (source.part.format == kFormat3mf && request.format == kSave3mf) EXPECT_EQ(saved.name(0), source.name(0));
        EXPECT_EQ(memcmp(saved.part.metadata.headerColor, source.part.metadata.headerColor, 4), 0);
        if (row.unitKnown) continue;
        bool warned = false;
        for (const Text& line : lines.inner.lines()) warned |= line.find(widenAscii(" is unknown; its coordinates")) != Text::npos;
        EXPECT_TRUE(warned);
    }
}

// What one save wrote and said.
struct SaveResult {
    bool saved;
    std::string bytes;
    std::vector<Text> lines;
    RepairReport report;
};

SaveResult saveTo(const ModelPart& part, const RepairChoice& repairs, const std::string& path, const CheckedBefore* checked) {
    std::vector<Utf16> wide = utf16Path(path);
    SaveRequest request{&part, 1, nullptr, 0, saveFormatFor(wide.data()), repairs, wide.data(), checked};
    Converter lines;
    SaveOutcome outcome;
    SaveResult result{saveModel(&request, &outcome, nullptr, lines.producerSink()), "", {}, outcome.report};
    result.bytes = readFile(path);
    result.lines = lines.inner.lines();
    std::filesystem::remove(path);
    return result;
}

// A text STL of named solids.
std::string asciiFile(const std::vector<std::vector<Tri>>& solids) {
    std::string text;
    for (size_t s = 0; s < solids.size(); ++s) {
        text += "solid part" + std::to_string(s) + "\n";
        for (const Tri& t : solids[s]) {
            text += "facet normal 0 0 0\nouter loop\n";
            for (const Point& p : t) {
                char line[96];
                snprintf(line, sizeof line, "vertex %.9g %.9g %.9g\n", p[0], p[1], p[2]);
                text += line;
            }
            text += "endloop\nendfacet\n";
        }
        text += "endsolid part" + std::to_string(s) + "\n";
    }
    return text;
}

// Save as repairs on the welding that the window's check kept, where it is
// of the very mesh saved, instead of welding again: what is written and said
// must be byte for byte the same either way, in both formats and for each
// choice of repairs; with a solid hidden the kept welding is not the saved
// mesh's and is left alone.
TEST(SaveAs, RepairsOnTheChecksWeldingWriteWhatTheirOwnWrites) {
    TempFolder folder;
    struct Source {
        std::string name;
        std::string file;
        int hidden;  // a solid hidden, or -1
    };
    std::vector<Source> sources;
    for (const RepairRow& row : shapesWithKnownFaults()) sources.push_back({row.name, binaryFile(row.triangles, "UNITS=mm"), -1});
    std::vector<std::vector<Tri>> solids = {turned(cube(), 0, 12), withoutFaces(cube(2), {4}), {}, join(cube(4), {cube(4)[3]})};
    sources.push_back({"three solids with faults and an empty one", asciiFile(solids), -1});
    sources.push_back({"the same, a solid hidden", asciiFile(solids), 1});
    sources.push_back({"the same, the empty solid hidden", asciiFile(solids), 2});
    for (const CorpusEntry& entry : readCorpusManifest()) sources.push_back({entry.file, readCorpusFile(entry.file), -1});
    const RepairChoice choices[] = {kAllRepairs, {1, 0, 0, 0}, {0, 1, 1, 0}, {0, 0, 0, 1}, {1, 1, 1, 0}, {}};
    int compared = 0;
    for (const Source& source : sources) {
        SCOPED_TRACE(source.name);
        Loaded loaded(source.file);
        if (!loaded.loaded()) continue;
        std::vector<uint8_t> visible(loaded.part.mesh.solidCount, 1);
        if (source.hidden >= 0) {
            ASSERT_LT(uint32_t(source.hidden), loaded.part.mesh.solidCount);
            visible[size_t(source.hidden)] = 0;
            loaded.part.visibleSolids = visible.data();
        }
        SurfaceCheck result;
        SurfaceWelding welding;
        std::vector<uint8_t> marks(meshTriangleCount(&loaded.part.mesh) + 1);
        ASSERT_TRUE(checkSurfaceKeepingWelding(&loaded.part.mesh, &result, marks.data(), &welding, nullptr, nullptr));
        CheckedBefore checked{&welding, &result};
        for (const RepairChoice& choice : choices)
            for (const char* output : {"out.stl", "out.3mf"}) {
                SCOPED_TRACE(testing::Message() << output << " " << +choice.turnFaces << +choice.dropWithoutArea
                                                << +choice.dropDuplicates << +choice.closeHoles);
                SaveResult welded = saveTo(loaded.part, choice, folder.directory() + output, nullptr);
                SaveResult reused = saveTo(loaded.part, choice, folder.directory() + output, &checked);
                EXPECT_EQ(reused.saved, welded.saved);
                EXPECT_TRUE(reused.bytes == welded.bytes);
                EXPECT_EQ(reused.lines, welded.lines);
                EXPECT_EQ(memcmp(&reused.report, &welded.report, sizeof welded.report), 0);
                ++compared;
            }
        freeSurfaceWelding(&welding);
    }
    EXPECT_GE(compared, int(shapesWithKnownFaults().size() + 3) * 12);
}

// Where the repairs change nothing, the check done before is the check
// afterwards: the save does not check the part again.
TEST(SaveAs, TheCheckBeforeStandsWhereTheRepairsChangeNothing) {
    TempFolder folder;
    Loaded sound(binaryFile(cube(), "UNITS=mm")), open(binaryFile(withoutFaces(cube(), {0}), "UNITS=mm"));
    for (Loaded* loaded : {&sound, &open}) {
        SurfaceCheck result;
        SurfaceWelding welding;
        ASSERT_TRUE(checkSurfaceKeepingWelding(&loaded->part.mesh, &result, nullptr, &welding, nullptr, nullptr));
        SurfaceCheck marked = result;
        marked.shells = 5;  // a check that stands is taken as it is
        CheckedBefore checked{&welding, &marked};
        SaveResult saved = saveTo(loaded->part, kAllRepairs, folder.directory() + "out.stl", &checked);
        ASSERT_TRUE(saved.saved);
        EXPECT_EQ(saved.report.after.shells, loaded == &sound ? 5u : 1u);
        freeSurfaceWelding(&welding);
    }
}

TEST(SaveAs, PlacementAndWayUpAreApplied) {
    TempFolder folder;
    Loaded source(binaryFile(cube(), "UNITS=mm"));
    Placement placement = identityPlacement();
    placement.shift[1] = 10;
    std::string path = folder.directory() + "placed.stl";
    std::vector<Utf16> wide = utf16Path(path);
    SaveRequest request{&source.part, 1, &placement, 1, kSaveBinaryStl, {}, wide.data()};
    SaveOutcome outcome;
    ASSERT_TRUE(saveModel(&request, &outcome, nullptr, Converter().producerSink()));
    Loaded saved(readFile(path));
    ASSERT_TRUE(saved.loaded());
    // Y up becomes Z up: the shift along Y is now along Z, and Z is now -Y (bounds in metres).
    EXPECT_FLOAT_EQ(+saved.gpu->boundsMin[2], 0.010f);
    EXPECT_FLOAT_EQ(+saved.gpu->boundsMax[2], 0.011f);
    EXPECT_FLOAT_EQ(+saved.gpu->boundsMin[1], -0.001f);
}

// Wherever saving fails, the file that was there keeps its bytes and no
// temporary file is left beside it.
TEST(SaveAs, AFailedSaveChangesNothing) {
    TempFolder folder;
    Loaded source(binaryFile(withoutFaces(cube(), {0}), "UNITS=mm"));
    std::string path = folder.directory() + "kept.3mf";
    folder.write("kept.3mf", "the old bytes");
    std::vector<Utf16> wide = utf16Path(path);
    SaveRequest request{&source.part, 1, nullptr, 0, kSave3mf, kAllRepairs, wide.data()};
    bool saved = false;
    for (int64_t allowed = 0; !saved && allowed < 10000; ++allowed) {
        Converter lines;
        SaveOutcome outcome;
        failHeapRequestsAfter(allowed);
        saved = saveModel(&request, &outcome, nullptr, lines.producerSink());
        failHeapRequestsAfter(-1);
        if (!saved) ASSERT_EQ(readFile(path), "the old bytes") << allowed;
        ASSERT_EQ(std::distance(std::filesystem::directory_iterator(folder.directory()), {}), 1) << allowed;
    }
    EXPECT_TRUE(saved);
    Loaded written(readFile(path));
    EXPECT_TRUE(written.loaded());

    // A folder that is not there, and a destination that cannot be replaced.
    std::filesystem::create_directory(folder.directory() + "a folder.stl");
    for (const char* name : {"no such folder/x.stl", "a folder.stl"}) {
        Converter lines;
        std::vector<Utf16> failing = utf16Path(folder.directory() + name);
        request.path = failing.data();
        SaveOutcome outcome;
        EXPECT_FALSE(saveModel(&request, &outcome, nullptr, lines.producerSink()));
        Text last = lines.inner.lines().back();
        EXPECT_NE(last.find(widenAscii(" could not be written: ")), Text::npos);
        EXPECT_NE(last.find(widenAscii("; nothing was changed")), Text::npos);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.directory()), {}), 2);
    }
}

TEST(SaveAs, CoordinateTexts) {
    const std::pair<float, const char*> rows[] = {
        {0, "0"}, {1, "1"}, {-2.5f, "-2.5"}, {0.1f, "0.1"}, {25.4f, "25.4"}, {1234567.0f, "1234567"},
        {0.001f, "0.001"}, {1e-10f, "1e-10"}, {3.4028235e38f, "3.4028235e38"}, {16777216.0f, "16777216"},
    };
    for (const auto& [value, text] : rows) {
        char out[32];
        *formatCoordinate(value, out) = 0;
        EXPECT_STREQ(out, text);
    }
    // Every text reads back as its float.
    for (uint32_t bits = 0x00800000; bits < 0x7F800000; bits += 0x00012345) {
        float value;
        memcpy(&value, &bits, 4);
        char out[32];
        *formatCoordinate(value, out) = 0;
        EXPECT_EQ(strtof(out, nullptr), value) << out;
    }
}

// A part that nothing turns or scales is written without the transform:
// the records must be those the transform gives, -0 as +0 and a corner with
// an infinite or NaN coordinate NaN throughout included.
TEST(SaveAs, IdentityRecordsAreThoseOfTheTransform) {
    auto f = [](uint32_t bits) {
        float value;
        memcpy(&value, &bits, 4);
        return value;
    };
    const float special[] = {0.0f, -0.0f, 1.5f, -3.25f, f(0x00000001), f(0x80400000), INFINITY, -INFINITY, NAN, f(0x7FC12345), 1e30f};
    std::vector<StlTriangle> triangles;
    for (size_t i = 0; i < std::size(special); ++i)
        for (size_t j = 0; j < std::size(special); ++j) {
            StlTriangle t{{{special[i], special[j], -0.0f}, {1, special[i], 2}, {special[j], 4, 5}}, uint16_t(i * 16 + j)};
            triangles.push_back(t);
        }
    StlSolid solid{1, 0, uint32_t(triangles.size()), triangles.data(), {}};
    auto written = [&](const double (&transform)[3][4]) {
        SolidToWrite one{};
        memcpy(one.transform, transform, sizeof one.transform);
        one.solid = &solid;
        one.colorOrder = kOrderUnstated;
        ModelToWrite model{&one, 1, 1, {0, 0, 0, 0}};
        std::vector<uint8_t> bytes(84 + 50 * triangles.size() + 1);
        ByteOutput out = byteOutput([](void*, const uint8_t*, size_t) { return true; }, nullptr, bytes.data(), bytes.size());
        EXPECT_TRUE(writeBinaryStl(&model, &out));
        bytes.resize(out.written);
        return bytes;
    };
    const double identity[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    const double alsoIdentity[3][4] = {{1, -0.0, 0, 0}, {0, 1, -0.0, 0}, {-0.0, 0, 1, 0}};  // not the same bits
    std::vector<uint8_t> fast = written(identity), full = written(alsoIdentity);
    ASSERT_EQ(fast.size(), 84 + 50 * triangles.size());
    EXPECT_EQ(fast, full);
}

}  // namespace
