#include "view/problem_edges.h"

#include <bit>

#include "mesh/surface_check.h"

namespace {

// Indices one triangle adds to each kind.
void indicesOf(uint8_t mark, uint32_t counts[kProblemKinds]) {
    counts[kProblemFlipped] = mark & kMarkFlipped ? 3 : 0;
    counts[kProblemOpen] = 2 * static_cast<uint32_t>(std::popcount(mark & 7u * kMarkOpenSide));
    counts[kProblemNonManifold] = 2 * static_cast<uint32_t>(std::popcount(mark & 7u * kMarkNonManifoldSide));
}

}  // namespace

uint64_t countProblemIndices(const uint8_t* marks, const SolidRange* ranges, uint32_t solidCount, uint32_t* starts) {
    uint32_t stride = solidCount + 1;
    for (uint32_t k = 0; k < kProblemKinds; ++k) starts[k * stride] = 0;
    const uint8_t* mark = marks;
    for (uint32_t s = 0; s < solidCount; ++s) {
        uint32_t sums[kProblemKinds] = {0, 0, 0};
        for (uint32_t t = 0; t < ranges[s].triangleCount; ++t, ++mark) {
            if (!*mark) continue;
            uint32_t counts[kProblemKinds];
            indicesOf(*mark, counts);
            for (uint32_t k = 0; k < kProblemKinds; ++k) sums[k] += counts[k];
        }
        for (uint32_t k = 0; k < kProblemKinds; ++k) starts[k * stride + s + 1] = starts[k * stride + s] + sums[k];
    }
    // Each kind follows the one before: at most nine indices per triangle
    // of a buffer-sized mesh, well within 32 bits.
    for (uint32_t k = 1; k < kProblemKinds; ++k) {
        uint32_t offset = starts[k * stride - 1];
        for (uint32_t s = 0; s < stride; ++s) starts[k * stride + s] += offset;
    }
    return starts[kProblemKinds * stride - 1];
}

void fillProblemIndices(const uint8_t* marks, const SolidRange* ranges, uint32_t solidCount, const uint32_t* starts,
                        uint32_t* indices) {
    uint32_t stride = solidCount + 1;
    uint32_t* out[kProblemKinds];
    for (uint32_t k = 0; k < kProblemKinds; ++k) out[k] = indices + starts[k * stride];
    const uint8_t* mark = marks;
    for (uint32_t s = 0; s < solidCount; ++s) {
        uint32_t vertex = ranges[s].firstVertex;
        for (uint32_t t = 0; t < ranges[s].triangleCount; ++t, ++mark, vertex += 3) {
            uint8_t m = *mark;
            if (!m) continue;
            if (m & kMarkFlipped) {
                for (uint32_t c = 0; c < 3; ++c) *out[kProblemFlipped]++ = vertex + c;
            }
            for (uint32_t side = 0; side < 3; ++side) {
                uint32_t kind = m & kMarkOpenSide << side ? kProblemOpen
                                : m & kMarkNonManifoldSide << side ? kProblemNonManifold
                                                                   : kProblemKinds;
                if (kind == kProblemKinds) continue;
                *out[kind]++ = vertex + side;
                *out[kind]++ = vertex + (side == 2 ? 0 : side + 1);
            }
        }
    }
}
