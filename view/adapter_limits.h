// What a Direct3D 11 adapter guarantees, which Wine does not enforce: the
// largest resource, and from it the size of a mesh's pieces. Free of
// Direct3D, so the rules build and are tested natively.
#pragma once
#include <cstdint>

// Microsoft's adapters: WARP and the Basic Render Driver, no GPU of their own.
constexpr uint32_t kMicrosoftVendor = 0x1414;

constexpr uint64_t kMegabyte = uint64_t{1} << 20;

// The largest resource every device of the adapter can make:
// min(max(128 MB, a quarter of its dedicated video memory), 2048 MB)
// ("Resource Limits (Direct3D 11)", D3D11_REQ_RESOURCE_SIZE_IN_MEGABYTES_
// EXPRESSION_A/B/C_TERM), and 128 MB for Microsoft's software adapters,
// whatever memory they report.
uint64_t guaranteedResourceBytes(uint32_t vendorId, uint64_t dedicatedVideoMemory);

// A piece of a mesh is one vertex buffer of whole triangles (48 bytes each)
// within the guaranteed size, and at most 256 MiB, so that the copy an
// upload stages in memory stays small; `limitBytes` (0: none) lowers it
// further, for tests.
constexpr uint64_t kPieceBytesCap = 256 * kMegabyte;
uint32_t pieceTrianglesFor(uint64_t resourceBytes, uint64_t limitBytes);
