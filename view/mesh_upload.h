// The Direct3D half of preparing a part for the view (Windows only): the
// record, ranges and box come from prepareGpuMesh (gpu_mesh.h), the vertices
// from expandTriangles; this creates the pieces' immutable vertex buffers.
#pragma once
#include "view/gpu_mesh.h"

struct ID3D11Device;

// Lays the triangles out in pieces of the device's size and uploads them one
// at a time from one piece's vertex array in the heap, freed again: the GPU
// copy is the only one kept. False after reporting, with nothing made; the
// caller destroys the heap or keeps what it had.
bool buildGpuMesh(GpuMesh* gpuMesh, ID3D11Device* device, const StlMesh* mesh, uint8_t colorOrder,
                  HeapHandle heap, const MessageSink* sink);

// The buffers of `count` pieces, their problem starts and the array itself.
void releasePieces(MeshPiece* pieces, uint32_t count, HeapHandle heap);
