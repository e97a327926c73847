#include "stl/stl_mesh.h"

void freeMeshSolids(StlMesh* mesh, HeapHandle heap) {
    if (!mesh->solids) return;
    for (uint32_t i = 0; i < mesh->solidCount; ++i) heapFree(heap, mesh->solids[i].triangles);
    heapFree(heap, mesh->solids);
    mesh->solids = nullptr;
    mesh->solidCount = 0;
}
