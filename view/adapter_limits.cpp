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
