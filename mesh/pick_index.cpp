#include "mesh/pick_index.h"

#include <cmath>
#include <cstring>

#include "core/memory.h"

bool readTriangleCorners(const StlTriangle* triangle, float corners[3][3]) {
    // Records are packed and may sit at any address of a mapping.
    memcpy(corners, reinterpret_cast<const uint8_t*>(triangle) + offsetof(StlTriangle, vertices), 9 * sizeof(float));
    bool finite = true;
    for (int corner = 0; corner < 3; ++corner)
        for (int axis = 0; axis < 3; ++axis) finite = finite && std::isfinite(corners[corner][axis]);
    return finite;
}

PickIndex* buildPickIndex(const StlSolid* solids, uint32_t solidCount, HeapHandle heap, const MessageSink* sink) {
    uint64_t runs = 0;
    for (uint32_t s = 0; s < solidCount; ++s) runs += (uint64_t{solids[s].triangleCount} + kPickRunTriangles - 1) / kPickRunTriangles;
    PickIndex* index = static_cast<PickIndex*>(allocArray(heap, 1, sizeof(PickIndex), sink));
    if (!index) return nullptr;
    index->solidCount = solidCount;
    index->firstRun = static_cast<uint64_t*>(allocArray(heap, uint64_t{solidCount} + 1, sizeof(uint64_t), sink));
    // At least one box, so that an empty model still gets a block to free.
    index->boxes = index->firstRun ? static_cast<PickBox*>(allocArray(heap, runs ? runs : 1, sizeof(PickBox), sink)) : nullptr;
    if (!index->boxes) {
        freePickIndex(index, heap);
        return nullptr;
    }
    uint64_t run = 0;
    for (uint32_t s = 0; s < solidCount; ++s) {
        index->firstRun[s] = run;
        const StlSolid& solid = solids[s];
        for (uint32_t first = 0; first < solid.triangleCount; first += kPickRunTriangles, ++run) {
            uint32_t end = solid.triangleCount - first < kPickRunTriangles ? solid.triangleCount : first + kPickRunTriangles;
            PickBox box = {{INFINITY, INFINITY, INFINITY}, {-INFINITY, -INFINITY, -INFINITY}};
            for (uint32_t t = first; t < end; ++t) {
                float corners[3][3];
                if (!readTriangleCorners(&solid.triangles[t], corners)) continue;  // never hit, so never boxed
                for (int corner = 0; corner < 3; ++corner)
                    for (int axis = 0; axis < 3; ++axis) {
                        box.low[axis] = std::fmin(box.low[axis], corners[corner][axis]);
                        box.high[axis] = std::fmax(box.high[axis], corners[corner][axis]);
                    }
            }
            memcpy(&index->boxes[run], &box, sizeof box);
        }
    }
    index->firstRun[solidCount] = run;
    return index;
}

void freePickIndex(PickIndex* index, HeapHandle heap) {
    if (!index) return;
    if (index->firstRun) heapFree(heap, index->firstRun);
    if (index->boxes) heapFree(heap, index->boxes);
    heapFree(heap, index);
}
