// Is the surface of one part closed, turned one way and in how many pieces?
// Corners weld into one vertex when their floats are equal bit for bit (-0 as
// +0), and then when every coordinate lies within 2^-20 of the part's largest
// extent of the other's (a seam written as 6e-17 on one side and 0 on the
// other is no hole); everything runs in linear time on temporary arrays,
// freed before returning. The volume is well defined where every edge is run
// as often one way as the other: two closed boxes on one edge have one.
#pragma once
#include <cstdint>
#include "core/platform.h"
#include "core/status.h"
#include "stl/stl_mesh.h"

#pragma pack(push, 1)
struct SurfaceCheck {
    uint64_t shells;               // pieces joined through edges of two or more faces
    uint64_t holes;                // open edges joined through shared vertices
    uint64_t openEdges;            // used by one face
    uint64_t nonManifoldEdges;     // used by three or more faces
    uint64_t flippedEdges;         // two faces running it the same way
    uint64_t degenerateTriangles;  // two corners on one vertex; left out of the rest
    uint8_t closed;                // no open and no non-manifold edges
    uint8_t insideOut;             // no uneven edge, negative volume
    uint64_t weldedCorners;        // bit-distinct positions that joined another within the welding distance
    uint64_t flippedFaces;         // the smaller side of each region that flipped edges bound
    uint64_t unevenEdges;          // run more often one way than the other (open and flipped ones too)
};
#pragma pack(pop)
static_assert(sizeof(SurfaceCheck) == 74);
static_assert(offsetof(SurfaceCheck, closed) == 48);
static_assert(offsetof(SurfaceCheck, weldedCorners) == 50);

// Bits of the per-triangle problem marks: side i runs from corner i to i+1.
constexpr uint8_t kMarkOpenSide = 0x01;         // shifted left by the side
constexpr uint8_t kMarkNonManifoldSide = 0x08;  // shifted left by the side; on one face of the edge
constexpr uint8_t kMarkFlipped = 0x40;          // the face is on the smaller side of flipped edges

// Checks all solids of the mesh together. With marks non-null, fills one byte
// per triangle (solids in order). Returns false when keepGoing turned 0 or
// memory ran out (reported to sink); the result is then not filled.
bool checkSurface(const StlMesh* mesh, SurfaceCheck* result, uint8_t* marks, const volatile uint8_t* keepGoing,
                  const MessageSink* sink);

// The welding a check did, kept for repairs of the same mesh later.
struct SurfaceWelding {
    uint32_t* ids;      // per corner as weldMeshCorners gives them, process heap; null: none kept
    uint32_t vertices;  // the ids are below this
    uint32_t joined;    // the check's weldedCorners
};

// checkSurface that hands its welding over to `welding` (freed with
// freeSurfaceWelding) instead of freeing it; none for a mesh without
// triangles or when the check fails. The welding is the check's own
// array, so keeping it asks for no memory more.
bool checkSurfaceKeepingWelding(const StlMesh* mesh, SurfaceCheck* result, uint8_t* marks, SurfaceWelding* welding,
                                const volatile uint8_t* keepGoing, const MessageSink* sink);
void freeSurfaceWelding(SurfaceWelding* welding);

// Work on the corners' vertex ids that may run while near positions are
// joined: first on the ids of bit-equal positions, then, only when some
// joined, again on the final ones. False ends the welding.
struct WeldFollowUp {
    bool (*run)(void* context, const uint32_t* ids, uint32_t vertices);
    void* context;
};

// The vertex ids the check gives the corners (solids in order, three per
// triangle; ids below *vertices, numbered in order of first use), for
// repairs that work on the same welding; *joined (may be null) gets the
// check's weldedCorners. With `meanwhile` not null, it has run on the final
// ids when this returns true. Returns false when keepGoing turned 0 or
// memory ran out (reported to sink).
bool weldMeshCorners(const StlMesh* mesh, uint32_t* ids, uint32_t* vertices, uint32_t* joined,
                     const WeldFollowUp* meanwhile, const volatile uint8_t* keepGoing, const MessageSink* sink);

// The check of a mesh whose corners are welded already: `ids` as
// weldMeshCorners would give them (below `vertices`), `weldedCorners` as it
// counted them. Only the edges, shells, holes and volume are found; the
// result is checkSurface's where the ids are the ones it would weld.
bool checkWeldedSurface(const StlMesh* mesh, const uint32_t* ids, uint32_t vertices, uint32_t weldedCorners,
                        SurfaceCheck* result, const volatile uint8_t* keepGoing, const MessageSink* sink);
