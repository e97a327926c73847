// "Show problems": the surface check's per-triangle marks turned into index
// lists over each piece's vertex buffer, made once when the check ends, and
// drawn over the model in every mode. The lists are free of Direct3D and
// build natively; making the buffer and drawing are Windows only.
#pragma once
#include <cstdint>
#include "view/gpu_mesh.h"

enum ProblemKind : uint32_t {
    kProblemFlipped = 0,      // triangles of flipped edges, tinted
    kProblemOpen = 1,         // open edges, as lines
    kProblemNonManifold = 2,  // edges of three or more faces, as lines
    kProblemKinds = 3,
};

// Object colours, red in the low byte, taken as linear light by the unlit
// programs: red and blue lines stand out from grey and white backgrounds
// and the light default material; the tint turns any colour orange.
constexpr uint32_t kProblemColours[kProblemKinds] = {0xFF0050FF, 0xFF0000FF, 0xFFFF3300};
// The tint's share of a face's colour, in linear light.
constexpr float kProblemTintShare = 0.6f;

// Index positions of one piece's lists: kind k of the piece's solid
// firstSolid + i runs from starts[k * (solidSpan + 1) + i] to the next entry;
// kinds follow one another, so visible solids next to each other make one draw.
constexpr uint64_t problemStartCount(uint32_t solidSpan) {
    return kProblemKinds * (uint64_t{solidSpan} + 1);
}

// Fills starts (problemStartCount entries) from the marks of the piece's
// triangles (one mark per triangle of the mesh, solids in order) and answers
// the number of indices: at most nine a triangle, so within 32 bits.
uint64_t countProblemIndices(const uint8_t* marks, const SolidRange* ranges, const MeshPiece* piece, uint32_t* starts);
// Writes the indices at the places the starts give: three corners per
// flipped triangle, two per open or non-manifold side, as positions in the
// piece's vertex buffer.
void fillProblemIndices(const uint8_t* marks, const SolidRange* ranges, const MeshPiece* piece, const uint32_t* starts,
                        uint32_t* indices);

// Windows only from here.
struct ID3D11Device;

// Makes the problem lists of each of `pieces` (the mesh's, or copies of them)
// on the device: one index buffer per piece that has problems, its starts
// in the mesh's heap, one piece's indices staged at a time. False (reported)
// when memory or a buffer fails, with nothing made.
bool buildProblemEdges(const GpuMesh* mesh, MeshPiece* pieces, ID3D11Device* device, const uint8_t* marks,
                       const MessageSink* sink);
// The same for a mesh the view shows, swapped in under the view's lock; a
// mesh that has its lists already keeps them. The marks are kept for a new
// device: the caller keeps them until the mesh has left the view.
bool attachProblemEdges(void* viewWindow, GpuMesh* mesh, const uint8_t* marks, const MessageSink* sink);
