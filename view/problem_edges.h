// "Show problems": the surface check's per-triangle marks turned into index
// lists over a mesh's own vertex buffer, made once when the check ends, and
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

// Index positions of one mesh's lists: kind k of solid s runs from
// starts[k * (solidCount + 1) + s] to the next entry; kinds follow one
// another, so visible solids next to each other make one draw.
constexpr uint64_t problemStartCount(uint32_t solidCount) {
    return kProblemKinds * (uint64_t{solidCount} + 1);
}

// Fills starts (problemStartCount entries) from the marks of every triangle
// (solids in order) and answers the number of indices.
uint64_t countProblemIndices(const uint8_t* marks, const SolidRange* ranges, uint32_t solidCount, uint32_t* starts);
// Writes the indices at the places the starts give: three corners per
// flipped triangle, two per open or non-manifold side, as positions in the
// mesh's vertex buffer.
void fillProblemIndices(const uint8_t* marks, const SolidRange* ranges, uint32_t solidCount, const uint32_t* starts,
                        uint32_t* indices);

// Windows only from here.
struct ID3D11Device;

// Makes the mesh's problem lists on the device of its vertex buffer; the
// starts live in the mesh's heap. A mesh without problems gets none. False
// (reported) when memory or the buffer fails; the mesh stays as it was.
bool buildProblemEdges(GpuMesh* mesh, ID3D11Device* device, const uint8_t* marks, const MessageSink* sink);
// The same for a mesh the view shows, swapped in under the view's lock; a
// mesh that has its lists already keeps them.
bool attachProblemEdges(void* viewWindow, GpuMesh* mesh, const uint8_t* marks, const MessageSink* sink);
