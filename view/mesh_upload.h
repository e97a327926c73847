// The Direct3D half of preparing a part for the view (Windows only): the
// record, ranges and box come from prepareGpuMesh (gpu_mesh.h), the vertices
// from expandSolid; this creates the one immutable vertex buffer.
#pragma once
#include "view/gpu_mesh.h"

struct ID3D11Device;

// Expands every solid of a prepared record into a temporary vertex array in
// the heap and uploads it; the array is freed again, the GPU copy is the
// only one kept. False after reporting; the caller destroys the heap.
bool buildGpuMesh(GpuMesh* gpuMesh, ID3D11Device* device, const StlMesh* mesh, uint8_t colorOrder,
                  HeapHandle heap, const MessageSink* sink);
