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

// Render targets. Colour and depth take 4 bytes a sample each; the targets
// of a frame (or of a picture's tile) may take half of the adapter's
// guaranteed size, so that the model's pieces keep the rest. `supported`
// has bit n set for each count n the device offers for both formats.
uint32_t chooseSampleCount(int32_t width, int32_t height, uint64_t budgetBytes, uint32_t maxCount, uint32_t supported);
// The next fewer count the device offers, for a creation that failed; 1 at the end.
uint32_t fewerSamples(uint32_t samples, uint32_t supported);

// The largest side of a 2D texture: 16384 from feature level 11_0 on, 8192
// on 10_0 and 10_1 (D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION, D3D10's).
int32_t maxTextureSide(uint32_t featureLevel);

// A picture larger than one target allows is drawn in tiles of equal size
// (the last row and column may be smaller): none wider or higher than
// maxSide, none whose single-sampled colour, depth and read-back copy take
// more than half the budget.
struct TilePlan {
    int32_t columns, rows;
    int32_t tileWidth, tileHeight;
};
TilePlan planTiles(int32_t width, int32_t height, int32_t maxSide, uint64_t budgetBytes);
