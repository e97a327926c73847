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

uint64_t countProblemIndices(const uint8_t* marks, const SolidRange* ranges, const MeshPiece* piece, uint32_t* starts) {
    uint32_t stride = piece->solidSpan + 1;
    for (uint32_t k = 0; k < kProblemKinds; ++k) starts[k * stride] = 0;
    for (uint32_t i = 0; i < piece->solidSpan; ++i) {
        TriangleSpan span = solidInPiece(&ranges[piece->firstSolid + i], piece);
        uint32_t sums[kProblemKinds] = {0, 0, 0};
        for (uint64_t t = span.first; t < span.end; ++t) {
            if (!marks[t]) continue;
            uint32_t counts[kProblemKinds];
            indicesOf(marks[t], counts);
            for (uint32_t k = 0; k < kProblemKinds; ++k) sums[k] += counts[k];
        }
        for (uint32_t k = 0; k < kProblemKinds; ++k) starts[k * stride + i + 1] = starts[k * stride + i] + sums[k];
    }
    // Each kind follows the one before.
    for (uint32_t k = 1; k < kProblemKinds; ++k) {
        uint32_t offset = starts[k * stride - 1];
        for (uint32_t i = 0; i < stride; ++i) starts[k * stride + i] += offset;
    }
    return starts[kProblemKinds * stride - 1];
}

void fillProblemIndices(const uint8_t* marks, const SolidRange* ranges, const MeshPiece* piece, const uint32_t* starts,
                        uint32_t* indices) {
    uint32_t stride = piece->solidSpan + 1;
    uint32_t* out[kProblemKinds];
    for (uint32_t k = 0; k < kProblemKinds; ++k) out[k] = indices + starts[k * stride];
    for (uint32_t i = 0; i < piece->solidSpan; ++i) {
        TriangleSpan span = solidInPiece(&ranges[piece->firstSolid + i], piece);
        for (uint64_t t = span.first; t < span.end; ++t) {
            uint8_t m = marks[t];
            if (!m) continue;
            uint32_t vertex = static_cast<uint32_t>(3 * (t - piece->firstTriangle));
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
