// The whole load of one file (STL or 3MF) from its raw bytes through the entry the load
// job and the Explorer thumbnail share (buildModelPart): detection, parsing,
// recognition, defaults, bounds, then the vertex expansion the upload makes,
// in every colour order.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "stl/binary_parser.h"
#include "stl/format_detection.h"
#include "load/load_job.h"
#include "view/gpu_mesh.h"

namespace {

bool inside(const void* pointer, uint64_t length, const uint8_t* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(pointer);
    return p >= data && p <= data + size && length <= static_cast<uint64_t>(data + size - p);
}

void checkMesh(const ModelPart& part, const uint8_t* data, size_t size) {
    const StlMesh& mesh = part.mesh;
    FUZZ_CHECK(mesh.solidCount == 0 || mesh.solids != nullptr);
    // Nothing of a part points into the file: its bytes go after the load.
    FUZZ_CHECK(mesh.source == nullptr);
    for (uint32_t s = 0; s < mesh.solidCount; ++s) {
        const StlSolid& solid = mesh.solids[s];
        FUZZ_CHECK(solid.name.length == 0 || !inside(solid.name.bytes, solid.name.length, data, size));
        FUZZ_CHECK(solid.triangleCount == 0 || !inside(solid.triangles, 1, data, size));
    }
    if (part.format == kFormatBinary) {
        // The blocks tile the file up to at most three spare bytes.
        uint64_t cursor = kBinaryHeaderSize;
        for (uint32_t s = 0; s < mesh.solidCount; ++s) {
            cursor += 4 + uint64_t{mesh.solids[s].triangleCount} * kBinaryTriangleSize;
            FUZZ_CHECK(cursor <= size);
            FUZZ_CHECK(mesh.solids[s].name.length == 0);
        }
        FUZZ_CHECK(size - cursor < 4);
    } else if (part.format != kFormat3mf) {
        for (uint32_t s = 0; s < mesh.solidCount; ++s) {
            FUZZ_CHECK(mesh.solids[s].hasColours == 0);
            // No facet is shorter than "facet normal 0 0 0 endfacet" laid out tightly.
            FUZZ_CHECK(uint64_t{mesh.solids[s].triangleCount} * 20 <= size);
        }
    }
}

void checkMetadata(const StlMetadata& metadata, const uint8_t* data, size_t size) {
    FUZZ_CHECK(metadata.coordinateSpace == 1 || metadata.coordinateSpace == 2);
    FUZZ_CHECK(std::isfinite(metadata.unitScale) && metadata.unitScale > 0);
    FUZZ_CHECK(metadata.colorOrder <= 3);
    FUZZ_CHECK(metadata.headerColor[3] == 0 || metadata.headerColor[3] == 255);
    if (metadata.modelName.length) FUZZ_CHECK(!inside(metadata.modelName.bytes, metadata.modelName.length, data, size));
}

void checkVertices(const StlMesh& mesh, const GpuMesh& gpu, uint8_t colorOrder) {
    std::vector<MeshVertex> vertices(3 * gpu.triangleCount);
    MeshVertex* end = vertices.data();
    for (uint32_t s = 0; s < mesh.solidCount; ++s) {
        FUZZ_CHECK(3 * gpu.ranges[s].firstTriangle == static_cast<uint64_t>(end - vertices.data()));
        FUZZ_CHECK(gpu.ranges[s].triangleCount == mesh.solids[s].triangleCount);
        end = expandSolid(&mesh, s, end, colorOrder);
    }
    FUZZ_CHECK(end == vertices.data() + vertices.size());
    uint64_t index = 0;
    for (uint32_t s = 0; s < mesh.solidCount; ++s) {
        const StlSolid& solid = mesh.solids[s];
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            uint16_t attribute;
            memcpy(&attribute, &solid.triangles[t].attribute, sizeof attribute);
            uint32_t colour = triangleColour(attribute, colorOrder, solid.hasColours != 0);
            for (int corner = 0; corner < 3; ++corner, ++index) {
                const MeshVertex& vertex = vertices[index];
                FUZZ_CHECK(memcmp(vertex.position, solid.triangles[t].vertices[corner], 12) == 0);
                FUZZ_CHECK(memcmp(vertex.colour, &colour, 4) == 0);
                FUZZ_CHECK(vertex.colour[3] == 255);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ModelPart part;
    memset(&part, 0, sizeof part);
    ConvertedLines lines;
    uint32_t detected = detectModelFormat(data, size);
    HeapHandle heap = createPrivateHeap();
    FUZZ_CHECK(heap != nullptr);
    bool built = buildModelPart(&part, kFormatNone, data, size, heap, nullptr, lines.producerSink());
    FUZZ_CHECK(part.format == detected);
    if (detected == kFormatNone) FUZZ_CHECK(!built);
    // A refused file always says why.
    if (!built) FUZZ_CHECK(detected == kFormatNone || lines.counter.lines > 0);
    if (built) {
        checkMesh(part, data, size);
        checkMetadata(part.metadata, data, size);
        FUZZ_CHECK(part.heap == heap);
        for (uint32_t s = 0; s < part.mesh.solidCount; ++s) FUZZ_CHECK(part.visibleSolids[s] == 1);
        const GpuMesh* gpu = static_cast<const GpuMesh*>(part.gpuMesh);
        FUZZ_CHECK(gpu != nullptr);
        FUZZ_CHECK(gpu->triangleCount == meshTriangleCount(&part.mesh));
        for (int axis = 0; axis < 3; ++axis) {
            FUZZ_CHECK(gpu->boundsMin[axis] < gpu->boundsMax[axis]);
            FUZZ_CHECK(!std::isnan(gpu->boundsMin[axis]) && !std::isnan(gpu->boundsMax[axis]));
        }
        for (uint8_t order = 0; order <= 3; ++order) checkVertices(part.mesh, *gpu, order);
        releaseGpuMesh(static_cast<GpuMesh*>(part.gpuMesh));
    }
    destroyPrivateHeap(heap);
    return 0;
}
