// Builds without Direct3D prepare a part for the view without a vertex
// buffer: ranges and bounds, so that loading works everywhere.
#include "view/gpu_mesh.h"

GpuMesh* uploadMesh(void*, const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                    HeapHandle heap, const MessageSink* sink) {
    return prepareGpuMesh(mesh, metadata, visibleSolids, heap, sink);
}

void releaseGpuMesh(GpuMesh*) {}

bool recolourGpuMesh(void*, GpuMesh*, const StlMesh*, uint8_t, HeapHandle, const MessageSink*) {
    return false;
}
