#include <gtest/gtest.h>

#include <algorithm>
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

TEST(PrepareGpuMesh, RefusesMoreTrianglesThanOneBufferHolds) {
    // The triangles are never read: the count alone decides.
    StlSolid solids[2] = {{0, 0, static_cast<uint32_t>(kMaxMeshTriangles), nullptr, {nullptr, 0, 0}},
                          {0, 0, 1, nullptr, {nullptr, 0, 0}}};
    StlMesh mesh{nullptr, solids, 2};
    StlMetadata metadata{2, 0.001f, 0, {0, 0, 0, 0}, {nullptr, 0, 0}};
    uint8_t visible[2] = {1, 1};
    RecordingSink recorder;
    HeapHandle heap = createPrivateHeap();
    EXPECT_EQ(prepareGpuMesh(&mesh, &metadata, visible, heap, &recorder.sink), nullptr);
    EXPECT_EQ(recorder.codes(), std::vector<StatusCode>{kErrorText});
    destroyPrivateHeap(heap);
}

}  // namespace

// The check's marks as index lists over the vertex buffer: kind after kind,
// within a kind solid after solid (an empty solid and one after a gap in the
// buffer included), each side as its two corners in the face's own order.
TEST(ProblemEdges, MarksBecomeIndexListsByKindAndSolid) {
    const SolidRange ranges[] = {{0, 2}, {6, 0}, {6, 3}, {30, 1}};
    const uint8_t marks[] = {
        kMarkFlipped | kMarkOpenSide << 2,         // solid 0, vertices 0-2
        0,                                          //          3-5
        kMarkOpenSide | kMarkNonManifoldSide << 1,  // solid 2, vertices 6-8
        kMarkFlipped,                               //          9-11
        7 * kMarkOpenSide,                          //          12-14
        kMarkNonManifoldSide << 2 | kMarkFlipped,   // solid 3, vertices 30-32
    };
    uint32_t starts[problemStartCount(4)];
    ASSERT_EQ(countProblemIndices(marks, ranges, 4, starts), 9u + 10u + 4u);
    EXPECT_EQ(std::vector<uint32_t>(starts, starts + 15),
              (std::vector<uint32_t>{0, 3, 3, 6, 9,  9, 11, 11, 19, 19,  19, 19, 19, 21, 23}));
    std::vector<uint32_t> indices(23);
    fillProblemIndices(marks, ranges, 4, starts, indices.data());
    EXPECT_EQ(indices, (std::vector<uint32_t>{0, 1, 2, 9, 10, 11, 30, 31, 32,  // flipped faces
                                              2, 0, 6, 7, 12, 13, 13, 14, 14, 12,  // open sides
                                              7, 8, 32, 30}));  // non-manifold sides
    // Nothing marked: empty lists.
    const uint8_t none[6] = {};
    EXPECT_EQ(countProblemIndices(none, ranges, 4, starts), 0u);
    EXPECT_EQ(std::count(starts, starts + 15, 0u), 15);
}
