#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>

#include "tests/sink_recorder.h"
#include "tests/test_files.h"
#include "mesh/surface_check.h"
#include "view/gpu_mesh.h"
#include "view/problem_edges.h"

namespace {

StlTriangle triangle(float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2) {
    StlTriangle t{};
    float v[9] = {x0, y0, z0, x1, y1, z1, x2, y2, z2};
    memcpy(t.vertices, v, sizeof v);
    return t;
}

// The cube of side 10 around the origin, wound outwards or inside out.
std::vector<StlTriangle> cube(bool insideOut) {
    std::vector<StlTriangle> out;
    for (const TestTriangle& t : cubeTriangles()) {
        StlTriangle s{};
        memcpy(s.vertices, t.vertices, sizeof t.vertices);
        if (insideOut) memcpy(s.vertices[1], t.vertices[2], 12), memcpy(s.vertices[2], t.vertices[1], 12);
        out.push_back(s);
    }
    return out;
}

constexpr float kBig = 3e38f;

// The box: an axis without extent centred on its value, infinite or
// overflowing extents clamped. The facts: from the triangles whose corners
// are all finite, the volume signed by the winding.
TEST(MeshBounds, BoxAndFactsInMetres) {
    const float e = 0.000001f, half = 0.5f;
    const double unchecked = NAN;
    struct {
        const char* what;
        std::vector<StlTriangle> triangles;
        float unitScale, min[3], max[3];
        double area, volume;
    } cases[] = {
        {"unit cube", cube(false), 0.1f, {-half, -half, -half}, {half, half, half}, 6, 1},
        {"unit cube inside out", cube(true), 0.1f, {-half, -half, -half}, {half, half, half}, 6, -1},
        {"flat square at 100 mm keeps its height", {triangle(0, 0, 100, 10, 0, 100, 0, 10, 100)}, 0.001f,
         {0, 0, 0.1f - e}, {0.01f, 0.01f, 0.1f + e}, 50e-6, unchecked},
        {"a subnormal height is flat", {triangle(0, 0, 0, 10, 0, 0, 0, 10, 1.4e-45f)}, 0.001f, {0, 0, -e},
         {0.01f, 0.01f, e}, 50e-6, unchecked},
        {"flat far out still has an extent", {triangle(0, 0, 1e12f, 1, 0, 1e12f, 0, 1, 1e12f)}, 1.0f,
         {0, 0, std::nextafter(1e12f, 0.0f)}, {1, 1, std::nextafter(1e12f, INFINITY)}, unchecked, unchecked},
        {"non-finite components ignored one by one", {triangle(NAN, 7, -2, INFINITY, 3, 4, -INFINITY, 5, 1)}, 1.0f,
         {-e, 3, -2}, {e, 7, 4}, 0, 0},
        {"no triangles", {}, 0.001f, {-e, -e, -e}, {e, e, e}, 0, 0},
        {"overflowing scale clamped both ways", {triangle(-kBig, 0, 0, kBig, 1, 0, 0, 0, 1)}, 1000.0f, {-1e15f, 0, 0},
         {1e15f, 1000, 1000}, unchecked, unchecked},
        {"huge: box clamped, facts finite", {triangle(kBig, 0, 0, 0, kBig, 0, 0, 0, kBig)}, 1000.0f, {0, 0, 0},
         {1e15f, 1e15f, 1e15f}, std::sqrt(3.0) / 2 * double{kBig} * kBig * 1e6, double{kBig} * kBig * kBig / 6 * 1e9},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        StlSolid solid{0, 0, static_cast<uint32_t>(c.triangles.size()), c.triangles.data(), {nullptr, 0, 0}};
        StlMesh mesh{nullptr, &solid, 1};
        float min[3], max[3];
        MeshFacts facts;
        computeMeshBounds(&mesh, c.unitScale, min, max, &facts);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_FLOAT_EQ(min[axis], c.min[axis]) << axis;
            EXPECT_FLOAT_EQ(max[axis], c.max[axis]) << axis;
            EXPECT_LT(min[axis], max[axis]) << axis;
        }
        EXPECT_EQ(facts.triangleCount, c.triangles.size());
        if (!std::isnan(c.area)) EXPECT_NEAR(facts.surfaceArea, c.area, std::fabs(c.area) * 1e-6);
        if (!std::isnan(c.volume)) EXPECT_NEAR(facts.volume, c.volume, std::fabs(c.volume) * 1e-6);
    }
}

// Five-bit channels in both orders (an unstated one reads as RGB), bit 15
// ignored, 1 widening to 8; white without colours or without an order.
TEST(TriangleColour, AsDecoded) {
    const std::tuple<uint16_t, uint8_t, bool, uint32_t> rows[] = {
        {0x7C00, 2, true, 0xFFFF0000u}, {0x7C00, 3, true, 0xFF0000FFu}, {0x7C00, 1, true, 0xFFFF0000u},
        {0x03E0, 3, true, 0xFF00FF00u}, {0x801F, 2, true, 0xFF0000FFu}, {0x0421, 2, true, 0xFF080808u},
        {0x7C00, 0, true, 0xFFFFFFFFu}, {0x7C00, 2, false, 0xFFFFFFFFu},
    };
    for (const auto& [attribute, order, hasColours, colour] : rows)
        EXPECT_EQ(triangleColour(attribute, order, hasColours), colour) << attribute << " " << int(order);
}

// Three vertices a triangle, the corners unchanged, each with its triangle's
// colour; the last record is read only within its 50 bytes.
TEST(ExpandSolid, CornersAndColours) {
    std::vector<StlTriangle> triangles = {triangle(1, 2, 3, 4, 5, 6, 7, 8, 9),
                                          triangle(-0.0f, NAN, INFINITY, 1e-45f, -3e38f, 10, 11, 12, 13)};
    memcpy(&triangles[0].attribute, "\x00\x7C", 2);  // 0x7C00
    memcpy(&triangles[1].attribute, "\x1F\x00", 2);  // 0x001F
    for (bool hasColours : {false, true}) {
        SCOPED_TRACE(hasColours);
        StlSolid solid{static_cast<uint8_t>(hasColours), 0, 2, triangles.data(), {nullptr, 0, 0}};
        StlMesh mesh{nullptr, &solid, 1};
        MeshVertex vertices[7] = {};
        EXPECT_EQ(expandSolid(&mesh, 0, vertices, 3), vertices + 6);
        for (int v = 0; v < 6; ++v) {
            EXPECT_EQ(memcmp(vertices[v].position, triangles[v / 3].vertices[v % 3], 12), 0) << v;
            uint32_t colour;
            memcpy(&colour, vertices[v].colour, 4);
            EXPECT_EQ(colour, !hasColours ? 0xFFFFFFFFu : v < 3 ? 0xFF0000FFu : 0xFFFF0000u) << v;
        }
        EXPECT_EQ(vertices[6].colour[3], 0);
    }
}

// Solids of 5, 0, 7 and 3 triangles (the empty one at triangle 5) in
// pieces of four: each piece names the solids reaching into it.
const SolidRange kRanges[] = {{0, 5}, {5, 0}, {5, 7}, {12, 3}};

TEST(MeshPieces, SplitTheTrianglesAndNameTheSolidsInEach) {
    struct Case {
        uint32_t pieceTriangles;
        std::vector<std::array<uint64_t, 4>> pieces;  // first triangle, count, first solid, solids
    };
    const Case cases[] = {
        {4, {{0, 4, 0, 1}, {4, 4, 0, 3}, {8, 4, 2, 1}, {12, 3, 3, 1}}},
        {5, {{0, 5, 0, 1}, {5, 5, 2, 1}, {10, 5, 2, 2}}},
        {15, {{0, 15, 0, 4}}},
        {1000, {{0, 15, 0, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pieceTriangles);
        ASSERT_EQ(pieceCountFor(15, c.pieceTriangles), c.pieces.size());
        std::vector<MeshPiece> pieces(c.pieces.size());
        layOutPieces(kRanges, 4, 15, c.pieceTriangles, pieces.data(), uint32_t(pieces.size()));
        for (size_t p = 0; p < pieces.size(); ++p) {
            EXPECT_EQ(+pieces[p].firstTriangle, c.pieces[p][0]) << p;
            EXPECT_EQ(+pieces[p].triangleCount, c.pieces[p][1]) << p;
            EXPECT_EQ(+pieces[p].firstSolid, c.pieces[p][2]) << p;
            EXPECT_EQ(+pieces[p].solidSpan, c.pieces[p][3]) << p;
        }
    }
    EXPECT_EQ(pieceCountFor(0, 4), 0u);
    // Far beyond one buffer: 32-bit triangle numbers would wrap.
    EXPECT_EQ(pieceCountFor(uint64_t{6} << 30, 5592405), 1153u);
}

// A piece's draws: visible solids next to each other in one, split where
// they would exceed the longest draw; hidden solids leave gaps.
TEST(MeshPieces, DrawTheVisibleSolidsInRunsOfLimitedLength) {
    struct Case {
        std::vector<uint8_t> visible;
        uint32_t maxTriangles;
        std::vector<std::pair<uint32_t, uint32_t>> draws;  // first vertex, vertices
    };
    const Case cases[] = {
        {{1, 1, 1, 1}, 100, {{0, 12}}},
        {{1, 1, 1, 1}, 3, {{0, 9}, {9, 3}}},
        {{0, 1, 1, 1}, 100, {{3, 9}}},
        {{1, 1, 0, 1}, 100, {{0, 3}}},
        {{0, 0, 0, 0}, 100, {}},
    };
    GpuMesh mesh{};
    mesh.solidCount = 4;
    mesh.ranges = const_cast<SolidRange*>(kRanges);
    std::vector<MeshPiece> pieces(4);
    layOutPieces(kRanges, 4, 15, 4, pieces.data(), 4);
    for (const Case& c : cases) {
        std::vector<uint8_t> visible = c.visible;
        mesh.visibleSolids = visible.data();
        std::vector<std::pair<uint32_t, uint32_t>> draws;
        forEachDraw(&mesh, &pieces[1], c.maxTriangles, [](void* out, uint32_t first, uint32_t count) {
            static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(out)->push_back({first, count});
        }, &draws);
        EXPECT_EQ(draws, c.draws);
    }
}

}  // namespace

// The check's marks as index lists over a piece's vertex buffer: kind after
// kind, within a kind solid after solid (an empty solid included), each side
// as its two corners in the face's own order; a piece that starts inside a
// solid counts its vertices from its own start.
TEST(ProblemEdges, MarksBecomeIndexListsByKindAndSolid) {
    const SolidRange ranges[] = {{0, 2}, {2, 0}, {2, 3}, {5, 1}};
    const uint8_t marks[] = {
        kMarkFlipped | kMarkOpenSide << 2,         // solid 0, vertices 0-2
        0,                                          //          3-5
        kMarkOpenSide | kMarkNonManifoldSide << 1,  // solid 2, vertices 6-8
        kMarkFlipped,                               //          9-11
        7 * kMarkOpenSide,                          //          12-14
        kMarkNonManifoldSide << 2 | kMarkFlipped,   // solid 3, vertices 15-17
    };
    MeshPiece whole = {nullptr, 0, 6, 0, 4, nullptr, nullptr};
    uint32_t starts[problemStartCount(4)];
    ASSERT_EQ(countProblemIndices(marks, ranges, &whole, starts), 9u + 10u + 4u);
    EXPECT_EQ(std::vector<uint32_t>(starts, starts + 15),
              (std::vector<uint32_t>{0, 3, 3, 6, 9,  9, 11, 11, 19, 19,  19, 19, 19, 21, 23}));
    std::vector<uint32_t> indices(23);
    fillProblemIndices(marks, ranges, &whole, starts, indices.data());
    EXPECT_EQ(indices, (std::vector<uint32_t>{0, 1, 2, 9, 10, 11, 15, 16, 17,  // flipped faces
                                              2, 0, 6, 7, 12, 13, 13, 14, 14, 12,  // open sides
                                              7, 8, 17, 15}));  // non-manifold sides
    // The last three triangles alone: solid 2's third and solid 3.
    MeshPiece tail = {nullptr, 3, 3, 2, 2, nullptr, nullptr};
    ASSERT_EQ(countProblemIndices(marks, ranges, &tail, starts), 6u + 6u + 2u);
    EXPECT_EQ(std::vector<uint32_t>(starts, starts + 9), (std::vector<uint32_t>{0, 3, 6, 6, 12, 12, 12, 12, 14}));
    fillProblemIndices(marks, ranges, &tail, starts, indices.data());
    indices.resize(14);
    EXPECT_EQ(indices, (std::vector<uint32_t>{0, 1, 2, 6, 7, 8, 3, 4, 4, 5, 5, 3, 8, 6}));
    // Nothing marked: empty lists.
    const uint8_t none[6] = {};
    EXPECT_EQ(countProblemIndices(none, ranges, &whole, starts), 0u);
    EXPECT_EQ(std::count(starts, starts + 15, 0u), 15);
}
