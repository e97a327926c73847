// Repairs before saving, on the surface check's welding: faces turned one
// way within each shell and closed shells outwards, triangles without area
// and exact duplicates dropped, small simple holes closed. Linear in the
// triangles; the repaired part is a new mesh, the original stays as it was.
#pragma once
#include <cstdint>
#include "core/platform.h"
#include "core/status.h"
#include "mesh/surface_check.h"
#include "stl/stl_mesh.h"

// Holes of more edges than this are listed, not closed.
constexpr uint32_t kMostHoleEdges = 400;

struct RepairChoice {
    uint8_t turnFaces;
    uint8_t dropWithoutArea;
    uint8_t dropDuplicates;
    uint8_t closeHoles;
};

#pragma pack(push, 1)
// What the repairs did (the argument of kInfoRepaired and kInfoStillOpen)
// and what the check found afterwards, summed over the parts repaired.
struct RepairReport {
    RepairCounts counts;
    SurfaceCheck after;
};
#pragma pack(pop)
static_assert(sizeof(RepairReport) == sizeof(RepairCounts) + sizeof(SurfaceCheck));

// Writes the repaired copy of `mesh` into `out` (solids in the same order
// with their names and colour flags; triangles in the process heap, freed
// by freeMeshSolids with processHeap()) and adds to `report`, checking the
// copy again. False when keepGoing turned 0 or memory ran out (reported);
// `out` is then empty.
bool repairMesh(const StlMesh* mesh, const RepairChoice& choice, StlMesh* out, RepairReport* report,
                const volatile uint8_t* keepGoing, const MessageSink* sink);

struct EarlyCheck;

// The surface check of the very mesh to be repaired, done before, with the
// welding it kept: the repairs start from that welding and weld no more, and
// where they change nothing its result stands for the check afterwards.
struct CheckedBefore {
    const SurfaceWelding* welding;  // of exactly this mesh's corners, ids not null
    const SurfaceCheck* result;     // both held until the check afterwards has run
};

// The repaired copy's vertices as the repairs welded them, kept for the
// check afterwards when it runs later (beside the writing of the file).
struct RepairedWelding {
    uint32_t* ids;  // per corner of the copy, in the process heap; null: the check welds anew
    uint32_t vertices;  // the ids are below this
    uint32_t joined;    // the welding's weldedCorners
    // The check of the part as it was, started while the repairs ran where
    // they were likely to change nothing; it stands when they changed nothing.
    EarlyCheck* early;
    const SurfaceCheck* before;  // the check of the part as it came, where it was done before; else null
    uint8_t unchanged;
};

// repairMesh in two steps: the repairs, adding what they did to `report`
// and filling `welding`, then the check of the copy, adding what it found
// and freeing `welding` (freeRepairedWelding frees it when the check does
// not run). A solid of the copy that keeps every face as it was shares the
// original's triangles: free the copy with freeRepairedMesh. On false the
// repairs leave `out` empty. `before` may be null: the repairs weld then.
bool repairMeshCheckingLater(const StlMesh* mesh, const RepairChoice& choice, const CheckedBefore* before, StlMesh* out,
                             RepairReport* report, RepairedWelding* welding, const volatile uint8_t* keepGoing,
                             const MessageSink* sink);
bool checkRepairedMesh(const StlMesh* repaired, RepairedWelding* welding, RepairReport* report,
                       const volatile uint8_t* keepGoing, const MessageSink* sink);
void freeRepairedWelding(RepairedWelding* welding);
void freeRepairedMesh(StlMesh* repaired, const StlMesh* mesh);
