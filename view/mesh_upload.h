// The Direct3D half of preparing a part for the view (Windows only): the
// record, ranges and box come from prepareGpuMesh (gpu_mesh.h), the vertices
// from expandTriangles; this creates the pieces' immutable vertex buffers.
#pragma once
#include "view/gpu_mesh.h"

struct ID3D11Device;

// Lays the triangles out in pieces of the device's size and uploads them one
// at a time from one piece's vertex array in the heap, freed again: the GPU
// copy is the only one kept. False with nothing made, the failure reported
// unless it is a device loss, and its HRESULT in *failure (if given); the
// caller destroys the heap or keeps what it had. A non-zero *stop, looked at
// between pieces, ends it so (E_ABORT), unreported.
bool buildGpuMesh(GpuMesh* gpuMesh, ID3D11Device* device, const StlMesh* mesh, uint8_t colorOrder,
                  HeapHandle heap, const MessageSink* sink, const volatile int32_t* stop = nullptr,
                  int32_t* failure = nullptr);

// The buffers of `count` pieces, their problem starts and the array itself.
void releasePieces(MeshPiece* pieces, uint32_t count, HeapHandle heap);
