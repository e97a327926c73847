// The parsed geometry shared by both parsers and every user of a loaded part.
#pragma once
#include <cstddef>
#include <cstdint>
#include "../core/platform.h"
#include "../core/status.h"

#pragma pack(push, 1)
// The 50-byte record of the binary file format, used in memory for ASCII files too.
struct StlTriangle {
    float normal[3];
    float vertices[3][3];
    uint16_t attribute;  // colour bits in binary files; unwritten for ASCII solids
};

struct StlSolid {
    uint8_t hasColours;
    uint8_t hasNormals;
    uint32_t triangleCount;
    StlTriangle* triangles;  // null when an ASCII solid has none
    CountedText name;
};

// How big a part is and how much material it holds, in metres.
struct MeshFacts {
    uint64_t triangleCount;
    double surfaceArea;  // square metres
    double volume;       // cubic metres, signed: negative when the winding is inside out
};

struct StlMesh {
    const uint8_t* source;  // binary: the file mapping (triangles not owned); ASCII: null
    StlSolid* solids;
    uint32_t solidCount;
};
#pragma pack(pop)

static_assert(sizeof(StlTriangle) == 50);
static_assert(offsetof(StlTriangle, vertices) == 12);
static_assert(offsetof(StlTriangle, attribute) == 48);
static_assert(sizeof(StlSolid) == 30);
static_assert(offsetof(StlSolid, triangleCount) == 2);
static_assert(offsetof(StlSolid, triangles) == 6);
static_assert(offsetof(StlSolid, name) == 14);
static_assert(sizeof(StlMesh) == 20);
static_assert(sizeof(MeshFacts) == 24);

// Frees the solids array, and each solid's triangles when the mesh owns them.
void freeMeshSolids(StlMesh* mesh, HeapHandle heap);
