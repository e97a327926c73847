// Binary STL as the viewer saves it: its own 80-byte header naming the
// program, the unit and the colour order, normals from the corners, each
// triangle's attribute bits as the file had them.
#pragma once
#include <cstddef>
#include <cstdint>
#include "core/byte_output.h"
#include "core/status.h"
#include "stl/stl_mesh.h"

#pragma pack(push, 1)
// One solid as it is written: its corners go through the transform (into
// millimetres, turned and placed as shown).
struct SolidToWrite {
    double transform[3][4];  // written = transform · (x, y, z, 1)
    const StlSolid* solid;
    CountedText name;        // the object's name in a 3MF file, UTF-8; may be empty
    // 3MF: the vertex of each corner as the surface check welds them (ids
    // below vertexCount); null to join corners whose written floats are equal.
    const uint32_t* vertexOf;
    uint32_t vertexCount;
    uint8_t colorOrder;      // kOrderNone to kOrderBgr, of its part
    uint8_t padding[3];      // keeps the transforms of an array on 8-byte bounds
};

struct ModelToWrite {
    const SolidToWrite* solids;
    uint32_t solidCount;
    uint8_t unitKnown;  // 0: the coordinates are in a unit nobody knows, written as they are
    uint8_t modelColour[4];  // red, green, blue, alpha; alpha 0: none
};
#pragma pack(pop)
static_assert(sizeof(SolidToWrite) == 136);
static_assert(offsetof(SolidToWrite, solid) == 96);
static_assert(sizeof(ModelToWrite) == 17);

// The corner as written.
void transformCorner(const double transform[3][4], const float corner[3], float out[3]);

uint64_t trianglesToWrite(const ModelToWrite* model);

// The colour order the file is written in: the first coloured solid's that
// is stated, else kOrderUnstated for colours of unknown order, else kOrderNone.
uint8_t writtenColourOrder(const ModelToWrite* model);

// The 80-byte header for the unit and colour order (the viewer reads it
// back as its own), with the model's colour as "COLOR=" and red, green,
// blue, alpha where `modelColour` is not null.
void binaryStlHeader(bool unitKnown, uint8_t colorOrder, const uint8_t* modelColour, uint8_t header[80]);

// Writes the whole file to `out`; false when the output failed or the model
// has more than 2^32 - 1 triangles (the caller reports why).
bool writeBinaryStl(const ModelToWrite* model, ByteOutput* out);
