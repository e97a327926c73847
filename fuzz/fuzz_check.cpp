// The surface check on triangles whose corners come from a small palette, so
// that vertices, edges and fans repeat: each input byte picks a corner. The
// counts must match a plain count, agree with the marks and with each other,
// and a failing heap or a stop must leave nothing behind. The repairs before
// saving run on the same triangles: their report must add up and agree with
// the check of what they made.
#include <cmath>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "fuzz/fuzz_support.h"
#include "mesh/mesh_repair.h"
#include "mesh/surface_check.h"
#include "tests/plain_surface_count.h"

namespace {

// Two bits per axis pick 0, 1, 2 or -0; a pick of 0xC0 and up gives the x
// axis an odd value instead: a float step from 1 (which welds with 1 when the
// extent is large enough), -1, infinity or a NaN.
float coordinate(uint8_t pick, int axis) {
    static const float kValues[] = {0.0f, 1.0f, 2.0f, -0.0f, 1.0000001f, -1.0f, INFINITY, NAN};
    uint32_t index = (pick >> 2 * axis) & 3;
    if (axis == 0 && pick >= 0xC0) index += 4;
    return kValues[index];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: how many solids to spread the triangles over and when the heap fails.
    uint8_t control = data[0];
    ++data;
    --size;
    size_t triangles = size / 3;
    std::vector<std::vector<StlTriangle>> parts(1 + control % 3);
    for (size_t t = 0; t < triangles; ++t) {
        StlTriangle record{};
        for (int c = 0; c < 3; ++c) {
            for (int d = 0; d < 3; ++d) record.vertices[c][d] = coordinate(data[3 * t + c], d);
        }
        parts[t * parts.size() / (triangles ? triangles : 1)].push_back(record);
    }
    std::vector<StlSolid> solids;
    for (auto& part : parts) {
        part.shrink_to_fit();
        solids.push_back(StlSolid{0, 0, static_cast<uint32_t>(part.size()), part.empty() ? nullptr : part.data(), {}});
    }
    StlMesh mesh{nullptr, solids.data(), static_cast<uint32_t>(solids.size())};

    std::vector<uint8_t> marks(triangles);
    SurfaceCheck got;
    uint32_t outOfMemory = 0;
    MessageSink sink{&outOfMemory, [](void* count, StatusCode code, uintptr_t, const Utf16*) -> intptr_t {
                         *static_cast<uint32_t*>(count) += code == kOutOfMemory;
                         return 1;
                     }};
    uint64_t before = heapBytesInUse();
    if (control >> 4) {
        failHeapRequestsAfter(control >> 4);
        bool done = checkSurface(&mesh, &got, marks.data(), nullptr, &sink);
        failHeapRequestsAfter(-1);
        FUZZ_CHECK(heapBytesInUse() == before);
        FUZZ_CHECK(outOfMemory == (done ? 0u : 1u));
    }
    volatile uint8_t stop = 0;
    FUZZ_CHECK(triangles == 0 || !checkSurface(&mesh, &got, marks.data(), &stop, nullptr));
    FUZZ_CHECK(checkSurface(&mesh, &got, marks.data(), nullptr, nullptr));
    FUZZ_CHECK(heapBytesInUse() == before);

    SurfaceCheck want = plainCount(mesh);
    FUZZ_CHECK(got.shells == want.shells && got.holes == want.holes && got.openEdges == want.openEdges);
    FUZZ_CHECK(got.nonManifoldEdges == want.nonManifoldEdges && got.flippedEdges == want.flippedEdges);
    FUZZ_CHECK(got.degenerateTriangles == want.degenerateTriangles && got.closed == want.closed);
    FUZZ_CHECK(got.weldedCorners == want.weldedCorners);
    FUZZ_CHECK(!got.insideOut || got.unevenEdges == 0);
    uint64_t openSides = 0, nonManifoldSides = 0, flippedFaces = 0;
    for (uint8_t m : marks) {
        for (int k = 0; k < 3; ++k) {
            openSides += (m >> k) & 1;
            nonManifoldSides += (m >> (3 + k)) & 1;
        }
        flippedFaces += (m & kMarkFlipped) != 0;
        FUZZ_CHECK(!(m & 0x80));
    }
    FUZZ_CHECK(openSides == got.openEdges && nonManifoldSides == got.nonManifoldEdges);
    FUZZ_CHECK(flippedFaces == got.flippedFaces && (flippedFaces == 0) == (got.flippedEdges == 0));
    FUZZ_CHECK(got.unevenEdges == want.unevenEdges);

    const RepairChoice all{1, 1, 1, 1};
    StlMesh repaired;
    RepairReport report{};
    if (control >> 4) {
        failHeapRequestsAfter(control >> 4);
        bool done = repairMesh(&mesh, all, &repaired, &report, nullptr, &sink);
        failHeapRequestsAfter(-1);
        if (done) freeMeshSolids(&repaired, processHeap());
        FUZZ_CHECK(heapBytesInUse() == before);
        report = RepairReport{};
    }
    FUZZ_CHECK(repairMesh(&mesh, all, &repaired, &report, nullptr, nullptr));
    SurfaceCheck after;
    FUZZ_CHECK(checkSurface(&repaired, &after, nullptr, nullptr, nullptr));
    FUZZ_CHECK(memcmp(&after, &report.after, sizeof after) == 0);
    FUZZ_CHECK(after.degenerateTriangles == 0 && report.counts.droppedWithoutArea == got.degenerateTriangles);
    uint64_t kept = 0;
    for (uint32_t s = 0; s < repaired.solidCount; ++s) kept += repaired.solids[s].triangleCount;
    const RepairCounts& c = report.counts;
    FUZZ_CHECK(kept + c.droppedWithoutArea + c.droppedDuplicates + 2 * c.closedHoles == triangles + c.closedHoleEdges);
    FUZZ_CHECK(c.turnedFaces <= triangles && c.openHoles == after.holes);
    freeMeshSolids(&repaired, processHeap());
    FUZZ_CHECK(heapBytesInUse() == before);
    return 0;
}
