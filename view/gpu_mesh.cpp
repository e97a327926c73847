#include "gpu_mesh.h"

#include <cmath>
#include <cstring>

#include "core/memory.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr float kFlatExtent = 0.000001f;
constexpr uint8_t kColorOrderBgr = 3;

uint32_t widenFiveBits(uint32_t value) {
    return (value << 3) | (value >> 2);
}

void readVertex(const StlTriangle* triangle, int corner, float position[3]) {
    memcpy(position, triangle->vertices[corner], 3 * sizeof(float));
}

}  // namespace

uint32_t triangleColour(uint16_t attribute, uint8_t colorOrder, bool solidHasColours) {
    if (!solidHasColours || colorOrder == 0) return kWhite;
    uint32_t low = widenFiveBits(attribute & 31);
    uint32_t green = widenFiveBits(attribute >> 5 & 31);
    uint32_t high = widenFiveBits(attribute >> 10 & 31);
    uint32_t red = colorOrder == kColorOrderBgr ? high : low;
    uint32_t blue = colorOrder == kColorOrderBgr ? low : high;
    return red | green << 8 | blue << 16 | 0xFF000000u;
}

MeshVertex* expandSolid(const StlMesh* mesh, uint32_t solidIndex, MeshVertex* out, uint8_t colorOrder) {
    const StlSolid& solid = mesh->solids[solidIndex];
    for (uint32_t i = 0; i < solid.triangleCount; ++i) {
        const StlTriangle* triangle = &solid.triangles[i];
        uint16_t attribute;
        memcpy(&attribute, &triangle->attribute, sizeof attribute);
        uint32_t colour = triangleColour(attribute, colorOrder, solid.hasColours != 0);
        for (int corner = 0; corner < 3; ++corner, ++out) {
            readVertex(triangle, corner, out->position);
            memcpy(out->colour, &colour, sizeof colour);
        }
    }
    return out;
}

void computeMeshBounds(const StlMesh* mesh, float unitScale, float boundsMin[3], float boundsMax[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        boundsMin[axis] = INFINITY;
        boundsMax[axis] = -INFINITY;
    }
    // Branch-free: a NaN or infinite component is swapped for the value that
    // cannot move the bound (+inf for the minimum, -inf for the maximum). The
    // comparisons are those of the plain loop, so ties (-0 and +0) keep the
    // first value just the same.
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const StlSolid& solid = mesh->solids[s];
        const uint8_t* record = reinterpret_cast<const uint8_t*>(solid.triangles);
        float low[3] = {boundsMin[0], boundsMin[1], boundsMin[2]};
        float high[3] = {boundsMax[0], boundsMax[1], boundsMax[2]};
        for (uint32_t i = 0; i < solid.triangleCount; ++i, record += sizeof(StlTriangle)) {
            for (int c = 0; c < 9; ++c) {
                // Four-byte copies become plain loads, also under the sanitizers.
                uint32_t bits;
                memcpy(&bits, record + offsetof(StlTriangle, vertices) + 4 * c, sizeof bits);
                float value;
                memcpy(&value, &bits, sizeof value);
                bool finite = (bits & 0x7F800000u) != 0x7F800000u;
                float forLow = finite ? value : INFINITY;
                float forHigh = finite ? value : -INFINITY;
                int axis = c % 3;
                low[axis] = forLow < low[axis] ? forLow : low[axis];
                high[axis] = forHigh > high[axis] ? forHigh : high[axis];
            }
        }
        for (int axis = 0; axis < 3; ++axis) {
            boundsMin[axis] = low[axis];
            boundsMax[axis] = high[axis];
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        boundsMin[axis] *= unitScale;
        boundsMax[axis] *= unitScale;
        if (!(boundsMin[axis] < boundsMax[axis])) {
            boundsMin[axis] = -kFlatExtent;
            boundsMax[axis] = kFlatExtent;
        }
    }
}

uint64_t meshTriangleCount(const StlMesh* mesh) {
    uint64_t total = 0;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) total += mesh->solids[s].triangleCount;
    return total;
}

GpuMesh* prepareGpuMesh(const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                        HeapHandle heap, const MessageSink* sink) {
    uint64_t triangles = meshTriangleCount(mesh);
    if (triangles > kMaxMeshTriangles) {
        if (sink)
            report(sink, kErrorText,
                   reinterpret_cast<uintptr_t>("Direct3D 11 error: the model has more than 89,478,485 triangles, "
                                               "too many for one vertex buffer"));
        return nullptr;
    }
    GpuMesh* gpuMesh = static_cast<GpuMesh*>(allocArray(heap, 1, sizeof(GpuMesh), sink));
    if (!gpuMesh) return nullptr;
    SolidRange* ranges = nullptr;
    if (mesh->solidCount) {
        ranges = static_cast<SolidRange*>(allocArray(heap, mesh->solidCount, sizeof(SolidRange), sink));
        if (!ranges) return nullptr;
        uint32_t firstVertex = 0;
        for (uint32_t s = 0; s < mesh->solidCount; ++s) {
            ranges[s].firstVertex = firstVertex;
            ranges[s].triangleCount = mesh->solids[s].triangleCount;
            firstVertex += 3 * mesh->solids[s].triangleCount;
        }
    }
    gpuMesh->solidCount = mesh->solidCount;
    gpuMesh->visibleSolids = visibleSolids;
    gpuMesh->color = kWhite;
    gpuMesh->ranges = ranges;
    gpuMesh->vertexBuffer = nullptr;
    gpuMesh->vertexCount = static_cast<uint32_t>(3 * triangles);
    gpuMesh->unitScale = metadata->unitScale;
    gpuMesh->facts = MeshFacts{triangles, 0.0, 0.0};
    computeMeshBounds(mesh, metadata->unitScale, gpuMesh->boundsMin, gpuMesh->boundsMax);
    return gpuMesh;
}
