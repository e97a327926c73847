// Binary STL: an 80-byte header, then blocks of a 32-bit count and that many
// 50-byte records; every block becomes one solid, its triangles copied into
// the heap as 38-byte records (the file's normals left out).
#pragma once
#include "stl/stl_mesh.h"

constexpr uint64_t kBinaryHeaderSize = 80;
constexpr uint64_t kBinaryTriangleSize = 50;
// Where a record's corners start; the attribute follows them, as in StlTriangle.
constexpr uint64_t kBinaryCornersAt = 12;
static_assert(kBinaryTriangleSize - kBinaryCornersAt == sizeof(StlTriangle));

// On failure the mesh holds nothing and must not be used.
bool parseBinaryStl(StlMesh* mesh, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink);
