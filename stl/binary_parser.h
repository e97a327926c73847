// Binary STL: an 80-byte header, then blocks of a 32-bit count and that many
// 50-byte records; every block becomes one solid whose triangles stay in the mapping.
#pragma once
#include "stl/stl_mesh.h"

constexpr uint64_t kBinaryHeaderSize = 80;
constexpr uint64_t kBinaryTriangleSize = 50;

// On failure the mesh holds nothing and must not be used.
bool parseBinaryStl(StlMesh* mesh, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink);
