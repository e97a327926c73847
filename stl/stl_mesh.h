// The records of a loaded part: the parsed geometry shared by both parsers,
// what the recognisers found, and the part as the view and the window code see it.
#pragma once
#include <cstddef>
#include <cstdint>
#include "core/platform.h"
#include "core/status.h"

// Values of StlMetadata fields.
constexpr uint32_t kSpaceUnknown = 0;
constexpr uint32_t kSpaceYUp = 1;
constexpr uint32_t kSpaceZUp = 2;
constexpr float kMetre = 1.0f;
constexpr float kCentimetre = 0.01f;
constexpr float kMillimetre = 0.001f;
constexpr float kInch = 0.0254f;
constexpr uint32_t kUnknownUnitBits = 0xFFC00000;  // a quiet NaN
constexpr uint8_t kOrderNone = 0;
constexpr uint8_t kOrderUnstated = 1;
constexpr uint8_t kOrderRgb = 2;
constexpr uint8_t kOrderBgr = 3;

#pragma pack(push, 1)
// A triangle as a part keeps it: the corners and attribute of the binary
// file's 50-byte record, whose last 38 bytes they are. The file's normal is
// not kept: the view and the checks work from the corners.
struct StlTriangle {
    float vertices[3][3];
    uint16_t attribute;  // colour bits in binary files; zero for ASCII solids
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
    const uint8_t* source;  // binary: the file's bytes while it is read (the recognisers read the header); else null
    StlSolid* solids;
    uint32_t solidCount;
};

struct StlMetadata {
    uint32_t coordinateSpace;  // 0 unknown, 1 Y up, 2 Z up
    float unitScale;           // metres per file unit; quiet NaN when unknown
    uint8_t colorOrder;        // 0 none, 1 unstated, 2 RGB, 3 BGR
    uint8_t headerColor[4];    // red, green, blue, then 255 when present
    CountedText modelName;
    uint8_t unitAssumed;  // no unit was recognised: unitScale is millimetres by default
};

// What a 3MF file tells beyond its mesh, in the part's heap.
struct PackageFacts {
    uint32_t buildItems;
    CountedText application;  // UTF-8 in the part's heap; empty when the file names none
};

// One loaded file: the heap that owns what was kept of it (triangles, names,
// what recognition found), the parsed mesh and its facts. The file's bytes
// are not kept. The load job fills it; the view and the window code read it.
struct ModelPart {
    uint64_t fileSize;  // bytes the file had when it was read
    void* gpuMesh;
    uint8_t* visibleSolids;
    HeapHandle heap;  // owns everything kept of the file; null marks an empty slot
    uint32_t format;
    StlMesh mesh;
    StlMetadata metadata;
    Utf16* fileName;  // without its folder, terminated, in the heap; null when memory ran out
    Utf16* filePath;  // the whole path it was opened by, in the same block; fileName points into it
    PackageFacts* package;  // 3MF files: in the heap; null for STL files
};
#pragma pack(pop)

static_assert(sizeof(StlTriangle) == 38);
static_assert(offsetof(StlTriangle, vertices) == 0);
static_assert(offsetof(StlTriangle, attribute) == 36);
static_assert(sizeof(StlSolid) == 30);
static_assert(offsetof(StlSolid, triangleCount) == 2);
static_assert(offsetof(StlSolid, triangles) == 6);
static_assert(offsetof(StlSolid, name) == 14);
static_assert(sizeof(StlMesh) == 20);
static_assert(sizeof(MeshFacts) == 24);
static_assert(sizeof(StlMetadata) == 30);
static_assert(offsetof(StlMetadata, headerColor) == 9);
static_assert(offsetof(StlMetadata, modelName) == 13);
static_assert(offsetof(ModelPart, format) == 32);
static_assert(sizeof(ModelPart) == 36 + 20 + 30 + 8 + 8 + 8);
static_assert(sizeof(PackageFacts) == 20);

// Frees the solids array and each solid's triangles.
void freeMeshSolids(StlMesh* mesh, HeapHandle heap);
