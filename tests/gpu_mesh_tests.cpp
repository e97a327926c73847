#include <gtest/gtest.h>

#include <cmath>

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

struct Box {
    float min[3], max[3];
};

Box boundsOf(std::vector<StlTriangle> triangles, float unitScale) {
    StlSolid solid = solidOf(triangles);
    StlMesh mesh{nullptr, &solid, 1};
    Box box;
    computeMeshBounds(&mesh, unitScale, box.min, box.max);
    return box;
}

TEST(MeshBounds, ScaledToMetres) {
    Box box = boundsOf({triangle(0, 0, 0, 10, 0, 0, 0, 10, 10)}, 0.0254f);
    EXPECT_FLOAT_EQ(+box.max[0], 0.254f);
    EXPECT_FLOAT_EQ(+box.min[0], 0.0f);
}

TEST(MeshBounds, AFlatAxisGetsATinyExtent) {
    Box box = boundsOf({triangle(0, 0, 5, 1, 0, 5, 0, 1, 5)}, 1.0f);
    EXPECT_EQ(+box.min[2], -0.000001f);
    EXPECT_EQ(+box.max[2], 0.000001f);
    EXPECT_EQ(+box.max[0], 1.0f);
}

TEST(MeshBounds, NonFiniteComponentsAreIgnoredOneByOne) {
    Box box = boundsOf({triangle(NAN, 7, -2, INFINITY, 3, 4, -INFINITY, 5, 1)}, 1.0f);
    EXPECT_EQ(+box.min[0], -0.000001f);  // no finite x at all
    EXPECT_EQ(+box.min[1], 3.0f);
    EXPECT_EQ(+box.max[1], 7.0f);
    EXPECT_EQ(+box.min[2], -2.0f);
}

TEST(MeshBounds, NoTrianglesGiveTheTinyBox) {
    Box box = boundsOf({}, 0.001f);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(+box.min[axis], -0.000001f);
        EXPECT_EQ(+box.max[axis], 0.000001f);
    }
}

TEST(TriangleColour, FiveBitChannelsInBothOrders) {
    EXPECT_EQ(triangleColour(0x7C00, 2, true), 0xFFFF0000u);  // blue
    EXPECT_EQ(triangleColour(0x7C00, 3, true), 0xFF0000FFu);  // red
    EXPECT_EQ(triangleColour(0x7C00, 1, true), 0xFFFF0000u);  // unstated order reads as RGB
    EXPECT_EQ(triangleColour(0x03E0, 3, true), 0xFF00FF00u);  // green stays in the middle
    EXPECT_EQ(triangleColour(0x8000 | 0x001F, 2, true), 0xFF0000FFu);  // bit 15 ignored
    EXPECT_EQ(triangleColour(0x0421, 2, true), 0xFF080808u);  // 1 widens to 8
}

TEST(TriangleColour, WhiteWithoutColoursOrWithoutOrder) {
    EXPECT_EQ(triangleColour(0x7C00, 0, true), 0xFFFFFFFFu);
    EXPECT_EQ(triangleColour(0x7C00, 2, false), 0xFFFFFFFFu);
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

struct Lines {
    std::vector<StatusCode> codes;
    static intptr_t collect(void* self, StatusCode code, uintptr_t, const Utf16*) {
        static_cast<Lines*>(self)->codes.push_back(code);
        return 1;
    }
};

TEST(PrepareGpuMesh, RefusesMoreTrianglesThanOneBufferHolds) {
    // The triangles are never read: the count alone decides.
    StlSolid solids[2] = {{0, 0, 89478485, nullptr, {nullptr, 0, 0}}, {0, 0, 1, nullptr, {nullptr, 0, 0}}};
    StlMesh mesh{nullptr, solids, 2};
    StlMetadata metadata = metadataWith(0.001f);
    uint8_t visible[2] = {1, 1};
    Lines lines;
    MessageSink sink{&lines, Lines::collect};
    HeapHandle heap = createPrivateHeap();
    EXPECT_EQ(prepareGpuMesh(&mesh, &metadata, visible, heap, &sink), nullptr);
    ASSERT_EQ(+lines.codes.size(), 1u);
    EXPECT_EQ(+lines.codes[0], kErrorText);
    destroyPrivateHeap(heap);
}

}  // namespace
