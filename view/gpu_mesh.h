// What one loaded part becomes for the view: coloured vertices in pieces,
// each one vertex buffer of whole triangles under the size every adapter
// guarantees for a buffer, a triangle range per solid, and the bounding box
// in metres.
#pragma once
#include <cstddef>
#include <cstdint>
#include "mesh/face_placement.h"
#include "mesh/pick_index.h"
#include "stl/stl_mesh.h"

struct ID3D11Buffer;

#pragma pack(push, 1)
struct MeshVertex {
    float position[3];  // file units, copied unchanged
    uint8_t colour[4];  // red, green, blue, alpha
};

// A solid's triangles among all of its mesh's, solid after solid.
struct SolidRange {
    uint64_t firstTriangle;
    uint32_t triangleCount;
};

// One vertex buffer of a mesh: three vertices for each of its triangles, in
// the mesh's order; a solid may begin in one piece and go on in the next.
struct MeshPiece {
    ID3D11Buffer* vertices;
    uint64_t firstTriangle;  // of the mesh
    uint32_t triangleCount;
    uint32_t firstSolid;  // the solids with triangles in the piece: solidSpan of them
    uint32_t solidSpan;
    // "Show problems" (problem_edges.h): indices into this piece's vertices
    // and where each kind and solid starts; null while there are none.
    ID3D11Buffer* problemIndices;
    uint32_t* problemStarts;  // in the mesh's heap
};

struct GpuMesh {
    uint32_t solidCount;
    uint8_t* visibleSolids;  // the part's bytes, shared with the tree view
    uint32_t color;          // object colour, red in the low byte
    SolidRange* ranges;      // null when there are no solids
    uint64_t triangleCount;  // of all solids
    MeshPiece* pieces;       // in the heap; null until uploaded, and without triangles
    uint32_t pieceCount;
    float boundsMin[3];  // metres; readers take the floats in place, so they stay 4-byte aligned
    float boundsMax[3];
    float unitScale;
    MeshFacts facts;  // filled with the bounds
    // The part's triangles stay in its mapping or heap: for picking (the
    // index is built in that heap when measuring first needs it) and for
    // uploading them again to a new device.
    const StlSolid* solids;
    HeapHandle heap;
    PickIndex* pickIndex;
    // The surface check's marks the problem lists were made from, kept for
    // a new device; the caller's (attachProblemEdges), null until then.
    const uint8_t* problemMarks;
    uint8_t vertexOrder;  // the colour order the vertices were made with
    // The surface check found the part inside out: its outward normals are
    // against the windings (the overhang tint needs them).
    uint8_t insideOut;
    // Tools > Place on face: the part is drawn, picked and boxed turned by
    // `placement` (file units); `previous` is what Undo placement returns to.
    uint8_t placed;
    uint8_t hasPrevious;
    uint8_t previousPlaced;
    Placement placement;
    Placement previous;
};
#pragma pack(pop)

static_assert(sizeof(MeshVertex) == 16);
static_assert(sizeof(SolidRange) == 12);
static_assert(sizeof(MeshPiece) == 44);
static_assert(offsetof(GpuMesh, triangleCount) == 24);
static_assert(offsetof(GpuMesh, boundsMin) == 44);
static_assert(offsetof(GpuMesh, facts) == 72);
static_assert(sizeof(GpuMesh) == 133 + 2 * sizeof(Placement));

// No draw call asks for more triangles than this, so that none nears the
// two seconds after which Windows resets a GPU that has not answered
// (timeout detection and recovery) on a slow adapter.
constexpr uint32_t kMaxDrawTriangles = 1u << 22;

// The colour of a triangle's vertices, red in the low byte: white unless the
// solid has colours and the file states an order; bit 15 of the word is ignored.
uint32_t triangleColour(uint16_t attribute, uint8_t colorOrder, bool solidHasColours);

// Appends the three vertices of every triangle of one solid; returns the position after them.
MeshVertex* expandSolid(const StlMesh* mesh, uint32_t solidIndex, MeshVertex* out, uint8_t colorOrder);
// The same for `count` triangles of the solid from its triangle `first` on.
MeshVertex* expandTriangles(const StlSolid* solid, uint32_t first, uint32_t count, MeshVertex* out, uint8_t colorOrder);

// In one pass over the vertices: the box of all finite vertex components in
// metres, within +-1e15 m, an axis without extent becoming its value
// +-0.000001 (at least one float step each way); and the facts, in square and
// cubic metres, from the triangles whose corners are all finite.
void computeMeshBounds(const StlMesh* mesh, float unitScale, float boundsMin[3], float boundsMax[3],
                       MeshFacts* facts);

// The box in metres of the mesh as it is placed (or as its file has it),
// an axis without extent widened as computeMeshBounds widens it.
void boxAsPlaced(GpuMesh* mesh);

// Total triangles of all solids.
uint64_t meshTriangleCount(const StlMesh* mesh);

// Allocates the record and its ranges from the heap and fills everything but
// the pieces; null after reporting when memory fails.
GpuMesh* prepareGpuMesh(const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                        HeapHandle heap, const MessageSink* sink);

// How many pieces of at most pieceTriangles (at least 1) the triangles take.
uint64_t pieceCountFor(uint64_t triangles, uint32_t pieceTriangles);
// Fills every field of the pieces but the buffers: pieceTriangles triangles
// each, the last the rest, and the solids reaching into each.
void layOutPieces(const SolidRange* ranges, uint32_t solidCount, uint64_t triangles, uint32_t pieceTriangles,
                  MeshPiece* pieces, uint32_t pieceCount);

// The triangles of a solid that lie in a piece, as triangle numbers of the
// mesh from `first` up to `end`; first >= end when there are none.
struct TriangleSpan {
    uint64_t first;
    uint64_t end;
};
inline TriangleSpan solidInPiece(const SolidRange* range, const MeshPiece* piece) {
    uint64_t pieceEnd = piece->firstTriangle + piece->triangleCount;
    uint64_t end = range->firstTriangle + range->triangleCount;
    return TriangleSpan{range->firstTriangle > piece->firstTriangle ? range->firstTriangle : piece->firstTriangle,
                        end < pieceEnd ? end : pieceEnd};
}

// The draws of a piece's visible solids, as vertex ranges of its buffer:
// solids next to each other in one draw, none of more than maxTriangles.
typedef void (*DrawCall)(void* context, uint32_t firstVertex, uint32_t vertexCount);
void forEachDraw(const GpuMesh* mesh, const MeshPiece* piece, uint32_t maxTriangles, DrawCall draw, void* context);

// Hands a parsed part to the view; null when it cannot be shown (reported).
GpuMesh* uploadMesh(void* viewWindow, const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                    HeapHandle heap, const MessageSink* sink);
// The pieces' buffers and the pieces; the record stays, to be uploaded again.
void releaseGpuMesh(GpuMesh* mesh);
// On the view's thread: the mesh's vertices made again with another colour
// order (kOrderNone: white, so the object colour alone shows) and swapped in.
// False, with the old vertices kept, when there is no device or the new ones
// cannot be made.
bool recolourGpuMesh(void* viewWindow, GpuMesh* gpuMesh, const StlMesh* mesh, uint8_t colorOrder, HeapHandle heap,
                     const MessageSink* sink);
