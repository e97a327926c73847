// Boxes around runs of consecutive triangles, so that a ray visits only the
// runs it can hit. Files list neighbouring triangles near each other, so the
// boxes stay small; 1.5 bytes a triangle, built in one pass.
#pragma once
#include <cstddef>
#include <cstdint>
#include "stl/stl_mesh.h"

constexpr uint32_t kPickRunTriangles = 16;

#pragma pack(push, 1)
// File units. A run without a finite triangle has low above high and is never hit.
struct PickBox {
    float low[3];
    float high[3];
};

struct PickIndex {
    uint32_t solidCount;
    uint64_t* firstRun;  // solidCount + 1 entries: the runs of solid s are firstRun[s] up to firstRun[s + 1]
    PickBox* boxes;
};
#pragma pack(pop)
static_assert(sizeof(PickBox) == 24);
static_assert(sizeof(PickIndex) == 20);

// Allocated from the heap in three blocks (record, run starts, boxes); null
// after reporting when memory fails.
PickIndex* buildPickIndex(const StlSolid* solids, uint32_t solidCount, HeapHandle heap, const MessageSink* sink);
void freePickIndex(PickIndex* index, HeapHandle heap);

// The three corners of a triangle record, file units; false when one is not finite.
bool readTriangleCorners(const StlTriangle* triangle, float corners[3][3]);
