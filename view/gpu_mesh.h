// What one loaded part becomes for the view: coloured vertices in one buffer,
// a vertex range per solid, and the bounding box in metres.
#pragma once
#include <cstddef>
#include <cstdint>
#include "mesh/pick_index.h"
#include "stl/stl_mesh.h"

struct ID3D11Buffer;

#pragma pack(push, 1)
struct MeshVertex {
    float position[3];  // file units, copied unchanged
    uint8_t colour[4];  // red, green, blue, alpha
};

struct SolidRange {
    uint32_t firstVertex;
    uint32_t triangleCount;
};

struct GpuMesh {
    uint32_t solidCount;
    uint8_t* visibleSolids;  // the part's bytes, shared with the tree view
    uint32_t color;          // object colour, red in the low byte
    SolidRange* ranges;      // null when there are no solids
    ID3D11Buffer* vertexBuffer;  // null when there are no vertices
    uint32_t vertexCount;
    float boundsMin[3];  // metres
    float boundsMax[3];
    float unitScale;
    MeshFacts facts;  // filled with the bounds
    // For picking: the part's triangles stay in its mapping or heap; the
    // index is built in that heap when measuring first needs it.
    const StlSolid* solids;
    HeapHandle heap;
    PickIndex* pickIndex;
    // The surface check's problems (problem_edges.h): indices into the
    // vertex buffer and the starts of each kind and solid; null until the
    // check has found some.
    ID3D11Buffer* problemIndices;
    uint32_t* problemStarts;  // in the heap
};
#pragma pack(pop)

static_assert(sizeof(MeshVertex) == 16);
static_assert(sizeof(SolidRange) == 8);
static_assert(offsetof(GpuMesh, vertexCount) == 32);
static_assert(sizeof(GpuMesh) == 128);

// A buffer's byte width is 32-bit: 268,435,455 vertices at most.
constexpr uint64_t kMaxMeshTriangles = 89478485;

// The colour of a triangle's vertices, red in the low byte: white unless the
// solid has colours and the file states an order; bit 15 of the word is ignored.
uint32_t triangleColour(uint16_t attribute, uint8_t colorOrder, bool solidHasColours);

// Appends the three vertices of every triangle of one solid; returns the position after them.
MeshVertex* expandSolid(const StlMesh* mesh, uint32_t solidIndex, MeshVertex* out, uint8_t colorOrder);

// In one pass over the vertices: the box of all finite vertex components in
// metres, within +-1e15 m, an axis without extent becoming its value
// +-0.000001 (at least one float step each way); and the facts, in square and
// cubic metres, from the triangles whose corners are all finite.
void computeMeshBounds(const StlMesh* mesh, float unitScale, float boundsMin[3], float boundsMax[3],
                       MeshFacts* facts);

// Total triangles of all solids.
uint64_t meshTriangleCount(const StlMesh* mesh);

// Allocates the record and its ranges from the heap and fills everything but
// the vertex buffer; null after reporting when memory fails or the mesh is too large.
GpuMesh* prepareGpuMesh(const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                        HeapHandle heap, const MessageSink* sink);

// Hands a parsed part to the view; null when it cannot be shown (reported).
GpuMesh* uploadMesh(void* viewWindow, const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                    HeapHandle heap, const MessageSink* sink);
void releaseGpuMesh(GpuMesh* mesh);
// On the view's thread: the mesh's vertices made again with another colour
// order (kOrderNone: white, so the object colour alone shows) and swapped in.
// False, with the old vertices kept, when there is no device or the new ones
// cannot be made.
bool recolourGpuMesh(void* viewWindow, GpuMesh* gpuMesh, const StlMesh* mesh, uint8_t colorOrder, HeapHandle heap,
                     const MessageSink* sink);
