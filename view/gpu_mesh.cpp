#include "view/gpu_mesh.h"

#include <cmath>
#include <cstring>

#include "core/memory.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr double kFlatExtent = 0.000001;
// Far beyond any model, small enough that the camera's squares stay finite.
constexpr double kLargestCoordinate = 1e15;
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

namespace {

// Twice the area and six times the signed volume of the tetrahedron with the
// origin, in file units; zero for a triangle with a non-finite corner.
struct TriangleMeasures {
    double twiceArea;
    double sixVolume;
};

TriangleMeasures measureTriangle(const float v[9], bool finite) {
    double ax = double{v[3]} - v[0], ay = double{v[4]} - v[1], az = double{v[5]} - v[2];
    double bx = double{v[6]} - v[0], by = double{v[7]} - v[1], bz = double{v[8]} - v[2];
    double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    double twiceArea = std::sqrt(cx * cx + cy * cy + cz * cz);
    double sixVolume = v[0] * cx + v[1] * cy + v[2] * cz;
    return TriangleMeasures{finite ? twiceArea : 0.0, finite ? sixVolume : 0.0};
}

// One axis of the box in metres: scaled in double so that nothing overflows,
// kept within the view's range, and an axis thinner than a flat one gets the
// flat extent around its middle (a subnormal height would otherwise show as
// dozens of zeros).
void finishAxis(float fileLow, float fileHigh, double scale, float* low, float* high) {
    double a = fileLow * scale, b = fileHigh * scale;
    if (!(fileLow <= fileHigh)) a = b = 0.0;  // no finite component at all
    double lowest = a < b ? a : b, highest = a < b ? b : a;
    lowest = std::fmin(std::fmax(lowest, -kLargestCoordinate), kLargestCoordinate);
    highest = std::fmin(std::fmax(highest, -kLargestCoordinate), kLargestCoordinate);
    if (!(highest - lowest >= 2 * kFlatExtent)) {
        double middle = lowest + (highest - lowest) / 2;
        lowest = middle - kFlatExtent;
        highest = middle + kFlatExtent;
    }
    *low = static_cast<float>(lowest);
    *high = static_cast<float>(highest);
    // Far from zero the tiny extent is below a float step.
    if (!(*low < *high)) {
        *low = std::nextafter(*low, -INFINITY);
        *high = std::nextafter(*high, INFINITY);
    }
}

}  // namespace

void computeMeshBounds(const StlMesh* mesh, float unitScale, float boundsMin[3], float boundsMax[3],
                       MeshFacts* facts) {
    float low[3] = {INFINITY, INFINITY, INFINITY};
    float high[3] = {-INFINITY, -INFINITY, -INFINITY};
    double twiceArea = 0.0;
    double sixVolume = 0.0;
    uint64_t triangles = 0;
    // Branch-free: a NaN or infinite component is swapped for the value that
    // cannot move the bound (+inf for the minimum, -inf for the maximum). The
    // comparisons are those of the plain loop, so ties (-0 and +0) keep the
    // first value just the same.
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const StlSolid& solid = mesh->solids[s];
        const uint8_t* record = reinterpret_cast<const uint8_t*>(solid.triangles);
        triangles += solid.triangleCount;
        for (uint32_t i = 0; i < solid.triangleCount; ++i, record += sizeof(StlTriangle)) {
            float corners[9];
            bool allFinite = true;
            for (int c = 0; c < 9; ++c) {
                // Four-byte copies become plain loads, also under the sanitizers.
                uint32_t bits;
                memcpy(&bits, record + offsetof(StlTriangle, vertices) + 4 * c, sizeof bits);
                float value;
                memcpy(&value, &bits, sizeof value);
                bool finite = (bits & 0x7F800000u) != 0x7F800000u;
                allFinite = allFinite && finite;
                corners[c] = finite ? value : 0.0f;
                float forLow = finite ? value : INFINITY;
                float forHigh = finite ? value : -INFINITY;
                int axis = c % 3;
                low[axis] = forLow < low[axis] ? forLow : low[axis];
                high[axis] = forHigh > high[axis] ? forHigh : high[axis];
            }
            TriangleMeasures measures = measureTriangle(corners, allFinite);
            twiceArea += measures.twiceArea;
            sixVolume += measures.sixVolume;
        }
    }
    double scale = unitScale;
    for (int axis = 0; axis < 3; ++axis) finishAxis(low[axis], high[axis], scale, &boundsMin[axis], &boundsMax[axis]);
    *facts = MeshFacts{triangles, twiceArea / 2 * scale * scale, sixVolume / 6 * scale * scale * scale};
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
    float boundsMin[3], boundsMax[3];
    MeshFacts facts;
    computeMeshBounds(mesh, metadata->unitScale, boundsMin, boundsMax, &facts);
    memcpy(gpuMesh->boundsMin, boundsMin, sizeof boundsMin);
    memcpy(gpuMesh->boundsMax, boundsMax, sizeof boundsMax);
    gpuMesh->facts = facts;
    gpuMesh->solids = mesh->solids;
    gpuMesh->heap = heap;
    gpuMesh->pickIndex = nullptr;
    gpuMesh->problemIndices = nullptr;
    gpuMesh->problemStarts = nullptr;
    return gpuMesh;
}
