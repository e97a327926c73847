#include "stl/stl_mesh.h"

void freeMeshSolids(StlMesh* mesh, HeapHandle heap) {
    if (!mesh->solids) return;
    if (!mesh->source)
        for (uint32_t i = 0; i < mesh->solidCount; ++i) heapFree(heap, mesh->solids[i].triangles);
    heapFree(heap, mesh->solids);
    mesh->solids = nullptr;
    mesh->solidCount = 0;
}

uint64_t meshTriangleCount(const StlMesh* mesh) {
    uint64_t total = 0;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) total += mesh->solids[s].triangleCount;
    return total;
}
