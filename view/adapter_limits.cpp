#include "view/adapter_limits.h"

namespace {

constexpr uint64_t kSmallestGuarantee = 128 * kMegabyte;
constexpr uint64_t kLargestGuarantee = 2048 * kMegabyte;
constexpr uint64_t kTriangleBytes = 48;  // three 16-byte vertices

}  // namespace

uint64_t guaranteedResourceBytes(uint32_t vendorId, uint64_t dedicatedVideoMemory) {
    if (vendorId == kMicrosoftVendor) return kSmallestGuarantee;
    uint64_t quarter = dedicatedVideoMemory / 4;
    uint64_t bytes = quarter > kSmallestGuarantee ? quarter : kSmallestGuarantee;
    return bytes < kLargestGuarantee ? bytes : kLargestGuarantee;
}

uint32_t pieceTrianglesFor(uint64_t resourceBytes, uint64_t limitBytes) {
    uint64_t bytes = resourceBytes < kPieceBytesCap ? resourceBytes : kPieceBytesCap;
    if (limitBytes && limitBytes < bytes) bytes = limitBytes;
    uint64_t triangles = bytes / kTriangleBytes;
    return triangles ? static_cast<uint32_t>(triangles) : 1;
}

namespace {

constexpr uint64_t kSampleBytes = 8;     // colour and depth
constexpr uint64_t kTilePixelBytes = 12;  // colour, depth and the read-back copy, one sample

}  // namespace

uint32_t chooseSampleCount(int32_t width, int32_t height, uint64_t budgetBytes, uint32_t maxCount, uint32_t supported) {
    uint64_t pixels = uint64_t(width > 1 ? width : 1) * uint64_t(height > 1 ? height : 1);
    for (uint32_t count = maxCount < 31 ? maxCount : 31; count > 1; --count)
        if ((supported >> count & 1) && pixels * count * kSampleBytes <= budgetBytes / 2) return count;
    return 1;
}

uint32_t fewerSamples(uint32_t samples, uint32_t supported) {
    for (uint32_t count = samples < 32 ? samples : 32; count-- > 2;)
        if (supported >> count & 1) return count;
    return 1;
}

int32_t maxTextureSide(uint32_t featureLevel) {
    return featureLevel >= 0xB000 ? 16384 : 8192;
}

TilePlan planTiles(int32_t width, int32_t height, int32_t maxSide, uint64_t budgetBytes) {
    TilePlan plan = {(width + maxSide - 1) / maxSide, (height + maxSide - 1) / maxSide, 0, 0};
    for (;;) {
        plan.tileWidth = (width + plan.columns - 1) / plan.columns;
        plan.tileHeight = (height + plan.rows - 1) / plan.rows;
        plan.columns = (width + plan.tileWidth - 1) / plan.tileWidth;  // none left empty
        plan.rows = (height + plan.tileHeight - 1) / plan.tileHeight;
        uint64_t bytes = uint64_t(plan.tileWidth) * uint64_t(plan.tileHeight) * kTilePixelBytes;
        if (bytes <= budgetBytes / 2 || (plan.tileWidth == 1 && plan.tileHeight == 1)) return plan;
        // The longer side is split further, so that tiles stay near square.
        if (plan.tileWidth >= plan.tileHeight)
            plan.columns = plan.columns * 2 < width ? plan.columns * 2 : width;
        else
            plan.rows = plan.rows * 2 < height ? plan.rows * 2 : height;
    }
}
