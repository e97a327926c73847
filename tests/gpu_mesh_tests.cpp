#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "tests/sink_recorder.h"
#include "view/gpu_mesh.h"

namespace {

StlTriangle triangle(float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
                     uint16_t attribute = 0) {
    StlTriangle t{};
    float v[9] = {x0, y0, z0, x1, y1, z1, x2, y2, z2};
    memcpy(t.vertices, v, sizeof v);
    t.attribute = attribute;
    return t;
}

StlSolid solidOf(std::vector<StlTriangle>& triangles, bool hasColours = false) {
    return StlSolid{static_cast<uint8_t>(hasColours), 0, static_cast<uint32_t>(triangles.size()), triangles.data(),
                    {nullptr, 0, 0}};
}

StlMetadata metadataWith(float unitScale, uint8_t colorOrder = 0) {
    return StlMetadata{2, unitScale, colorOrder, {0, 0, 0, 0}, {nullptr, 0, 0}};
}

struct Measured {
    float min[3], max[3];
    MeshFacts facts;
};

Measured measure(std::vector<StlTriangle> triangles, float unitScale) {
    StlSolid solid = solidOf(triangles);
    StlMesh mesh{nullptr, &solid, 1};
    Measured m;
    computeMeshBounds(&mesh, unitScale, m.min, m.max, &m.facts);
    return m;
}

constexpr float kBig = 3e38f;

// The four faces of the unit corner tetrahedron, wound outwards: volume 1/6.
std::vector<StlTriangle> cornerTetrahedron(float size) {
    return {triangle(0, 0, 0, 0, size, 0, size, 0, 0), triangle(0, 0, 0, size, 0, 0, 0, 0, size),
            triangle(0, 0, 0, 0, 0, size, 0, size, 0), triangle(size, 0, 0, 0, size, 0, 0, 0, size)};
}

struct BoundsCase {
    const char* what;
    std::vector<StlTriangle> triangles;
    float unitScale;
    float min[3], max[3];  // NAN: not checked
};

TEST(MeshBounds, BoxInMetresForEveryKindOfInput) {
    const float e = 0.000001f;
    const BoundsCase cases[] = {
        {"scaled to metres", {triangle(0, 0, 0, 10, 0, 0, 0, 10, 10)}, 0.0254f, {0, 0, 0}, {0.254f, 0.254f, 0.254f}},
        {"flat at zero", {triangle(0, 0, 0, 1, 0, 0, 0, 1, 0)}, 1.0f, {0, 0, -e}, {1, 1, e}},
        {"flat square at 100 mm keeps its height",
         {triangle(0, 0, 100, 10, 0, 100, 0, 10, 100)},
         0.001f,
         {0, 0, 0.1f - e},
         {0.01f, 0.01f, 0.1f + e}},
        {"flat far out still has an extent", {triangle(0, 0, 1e12f, 1, 0, 1e12f, 0, 1, 1e12f)}, 1.0f,
         {0, 0, std::nextafter(1e12f, 0.0f)}, {1, 1, std::nextafter(1e12f, INFINITY)}},
        {"non-finite components ignored one by one", {triangle(NAN, 7, -2, INFINITY, 3, 4, -INFINITY, 5, 1)}, 1.0f,
         {-e, 3, -2}, {e, 7, 4}},
        {"no triangles", {}, 0.001f, {-e, -e, -e}, {e, e, e}},
        {"overflowing scale clamped", {triangle(-kBig, 0, 0, kBig, 1, 0, 0, 0, 1)}, 1000.0f, {-1e15f, 0, 0},
         {1e15f, 1000, 1000}},
    };
    for (const BoundsCase& c : cases) {
        SCOPED_TRACE(c.what);
        Measured m = measure(c.triangles, c.unitScale);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_FLOAT_EQ(m.min[axis], c.min[axis]) << axis;
            EXPECT_FLOAT_EQ(m.max[axis], c.max[axis]) << axis;
            EXPECT_LT(m.min[axis], m.max[axis]) << axis;
        }
    }
}

struct FactsCase {
    const char* what;
    std::vector<StlTriangle> triangles;
    float unitScale;
    double area, volume;
};

TEST(MeshFacts, AreaAndSignedVolumeInMetres) {
    std::vector<StlTriangle> inside = cornerTetrahedron(10);
    for (StlTriangle& t : inside) {
        float corners[3][3];
        memcpy(corners, t.vertices, sizeof corners);
        memcpy(t.vertices[1], corners[2], sizeof corners[2]);
        memcpy(t.vertices[2], corners[1], sizeof corners[1]);
    }
    const double tetrahedronArea = (1.5 + std::sqrt(3.0) / 2) * 100;  // three right triangles and the slanted face
    const FactsCase cases[] = {
        {"closed, outward", cornerTetrahedron(10), 0.001f, tetrahedronArea * 1e-6, 1000.0 / 6 * 1e-9},
        {"closed, inside out", inside, 0.001f, tetrahedronArea * 1e-6, -1000.0 / 6 * 1e-9},
        {"a triangle with a NaN corner counts nothing", {triangle(0, 0, 0, 1, 0, 0, 0, NAN, 1)}, 1.0f, 0, 0},
        {"huge coordinates stay finite", {triangle(kBig, 0, 0, 0, kBig, 0, 0, 0, kBig)}, 1000.0f,
         std::sqrt(3.0) / 2 * double{kBig} * kBig * 1e6, double{kBig} * kBig * kBig / 6 * 1e9},
    };
    for (const FactsCase& c : cases) {
        SCOPED_TRACE(c.what);
        Measured m = measure(c.triangles, c.unitScale);
        EXPECT_EQ(m.facts.triangleCount, c.triangles.size());
        EXPECT_NEAR(m.facts.surfaceArea, c.area, std::fabs(c.area) * 1e-6);
        EXPECT_NEAR(m.facts.volume, c.volume, std::fabs(c.volume) * 1e-6);
    }
}

// Five-bit channels in both orders (an unstated one reads as RGB); white
// without colours or without an order.
TEST(TriangleColour, AsDecoded) {
    const std::tuple<uint16_t, uint8_t, bool, uint32_t> rows[] = {
        {0x7C00, 2, true, 0xFFFF0000u},           {0x7C00, 3, true, 0xFF0000FFu},
        {0x7C00, 1, true, 0xFFFF0000u},           {0x03E0, 3, true, 0xFF00FF00u},
        {0x8000 | 0x001F, 2, true, 0xFF0000FFu},  // bit 15 ignored
        {0x0421, 2, true, 0xFF080808u},           // 1 widens to 8
        {0x7C00, 0, true, 0xFFFFFFFFu},           {0x7C00, 2, false, 0xFFFFFFFFu},
    };
    for (const auto& [attribute, order, hasColours, colour] : rows)
        EXPECT_EQ(triangleColour(attribute, order, hasColours), colour) << attribute << " " << int(order);
}

TEST(ExpandSolid, ThreeVerticesPerTriangleWithTheTrianglesColour) {
    std::vector<StlTriangle> triangles = {triangle(1, 2, 3, 4, 5, 6, 7, 8, 9, 0x001F)};
    StlSolid solid = solidOf(triangles, true);
    StlMesh mesh{nullptr, &solid, 1};
    MeshVertex out[4] = {};
    EXPECT_EQ(expandSolid(&mesh, 0, out, 2), out + 3);
    EXPECT_EQ(+out[2].position[0], 7.0f);
    EXPECT_EQ(+out[2].position[2], 9.0f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(+out[i].colour[0], 255);
        EXPECT_EQ(+out[i].colour[2], 0);
        EXPECT_EQ(+out[i].colour[3], 255);
    }
}

TEST(PrepareGpuMesh, RangesFollowTheSolids) {
    std::vector<StlTriangle> first(3, triangle(0, 0, 0, 1, 0, 0, 0, 1, 0));
    std::vector<StlTriangle> second(5, triangle(0, 0, 0, 1, 0, 0, 0, 1, 1));
    StlSolid solids[2] = {solidOf(first), solidOf(second)};
    StlMesh mesh{nullptr, solids, 2};
    StlMetadata metadata = metadataWith(0.001f);
    uint8_t visible[2] = {1, 1};
    HeapHandle heap = createPrivateHeap();
    GpuMesh* gpu = prepareGpuMesh(&mesh, &metadata, visible, heap, nullptr);
    ASSERT_NE(gpu, nullptr);
    EXPECT_EQ(+gpu->ranges[0].firstVertex, 0u);
    EXPECT_EQ(+gpu->ranges[0].triangleCount, 3u);
    EXPECT_EQ(+gpu->ranges[1].firstVertex, 9u);
    EXPECT_EQ(+gpu->ranges[1].triangleCount, 5u);
    EXPECT_EQ(+gpu->vertexCount, 24u);
    EXPECT_EQ(+gpu->color, 0xFFFFFFFFu);
    EXPECT_EQ(+gpu->visibleSolids, visible);
    EXPECT_EQ(+gpu->unitScale, 0.001f);
    destroyPrivateHeap(heap);
}

TEST(PrepareGpuMesh, RefusesMoreTrianglesThanOneBufferHolds) {
    // The triangles are never read: the count alone decides.
    StlSolid solids[2] = {{0, 0, 89478485, nullptr, {nullptr, 0, 0}}, {0, 0, 1, nullptr, {nullptr, 0, 0}}};
    StlMesh mesh{nullptr, solids, 2};
    StlMetadata metadata = metadataWith(0.001f);
    uint8_t visible[2] = {1, 1};
    RecordingSink recorder;
    HeapHandle heap = createPrivateHeap();
    EXPECT_EQ(prepareGpuMesh(&mesh, &metadata, visible, heap, &recorder.sink), nullptr);
    EXPECT_EQ(recorder.codes(), std::vector<StatusCode>{kErrorText});
    destroyPrivateHeap(heap);
}

}  // namespace
