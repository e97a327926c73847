#include "view/gpu_mesh.h"

#include <cmath>
#include <cstring>

#include "core/memory.h"
#include "core/sse2.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr double kFlatExtent = 0.000001;
// Far beyond any model, small enough that the camera's squares stay finite.
constexpr double kLargestCoordinate = 1e15;
constexpr uint8_t kColorOrderBgr = 3;

uint32_t widenFiveBits(uint32_t value) {
    return (value << 3) | (value >> 2);
}

}  // namespace

uint32_t triangleColour(uint16_t attribute, uint8_t colorOrder, bool solidHasColours) {
    if (!solidHasColours || colorOrder == 0) return kWhite;
    uint32_t low = widenFiveBits(attribute & 31);
    uint32_t green = widenFiveBits(attribute >> 5 & 31);
    uint32_t high = widenFiveBits(attribute >> 10 & 31);
    uint32_t red = colorOrder == kColorOrderBgr ? high : low;
    uint32_t blue = colorOrder == kColorOrderBgr ? low : high;
    return red | green << 8 | blue << 16 | 0xFF000000u;
}

MeshVertex* expandSolid(const StlMesh* mesh, uint32_t solidIndex, MeshVertex* out, uint8_t colorOrder) {
    const StlSolid* solid = &mesh->solids[solidIndex];
    return expandTriangles(solid, 0, solid->triangleCount, out, colorOrder);
}

MeshVertex* expandTriangles(const StlSolid* solid, uint32_t first, uint32_t count, MeshVertex* out, uint8_t colorOrder) {
    bool coloured = solid->hasColours != 0 && colorOrder != 0;
    const uint8_t* record = reinterpret_cast<const uint8_t*>(solid->triangles) + uint64_t{first} * sizeof(StlTriangle);
    for (uint32_t i = 0; i < count; ++i, record += sizeof(StlTriangle)) {
        uint32_t colour = kWhite;
        if (coloured) {
            uint16_t attribute;
            memcpy(&attribute, record + offsetof(StlTriangle, attribute), sizeof attribute);
            colour = triangleColour(attribute, colorOrder, true);
        }
#if STLV_SSE2
        // A vertex is one 16-byte store: the corner's three floats with the
        // colour as the fourth lane. The third corner is loaded from four
        // bytes early and moved down, so no load reaches past the record.
        __m128i colourLane = _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int32_t>(colour)), 12);
        __m128i keepCorner = _mm_set_epi32(0, -1, -1, -1);
        const uint8_t* corners = record + offsetof(StlTriangle, vertices);
        __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(corners));
        __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(corners + 12));
        __m128i third = _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(corners + 20)), 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_and_si128(first, keepCorner), colourLane));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1),
                         _mm_or_si128(_mm_and_si128(second, keepCorner), colourLane));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2), _mm_or_si128(third, colourLane));
        out += 3;
#else
        for (int corner = 0; corner < 3; ++corner, ++out) {
            memcpy(out->position, record + offsetof(StlTriangle, vertices) + 12 * corner, 3 * sizeof(float));
            memcpy(out->colour, &colour, sizeof colour);
        }
#endif
    }
    return out;
}

namespace {

// Twice the area and six times the signed volume of the tetrahedron with the
// origin, in file units; zero for a triangle with a non-finite corner.
struct TriangleMeasures {
    double twiceArea;
    double sixVolume;
};

#if !STLV_SSE2
TriangleMeasures measureTriangle(const float v[9], bool finite) {
    double ax = double{v[3]} - v[0], ay = double{v[4]} - v[1], az = double{v[5]} - v[2];
    double bx = double{v[6]} - v[0], by = double{v[7]} - v[1], bz = double{v[8]} - v[2];
    double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    double twiceArea = std::sqrt(cx * cx + cy * cy + cz * cz);
    double sixVolume = v[0] * cx + v[1] * cy + v[2] * cz;
    return TriangleMeasures{finite ? twiceArea : 0.0, finite ? sixVolume : 0.0};
}
#endif

// One axis of the box in metres: scaled in double so that nothing overflows,
// kept within the view's range, and an axis thinner than a flat one gets the
// flat extent around its middle (a subnormal height would otherwise show as
// dozens of zeros).
void finishAxis(float fileLow, float fileHigh, double scale, float* low, float* high) {
    double a = fileLow * scale, b = fileHigh * scale;
    if (!(fileLow <= fileHigh)) a = b = 0.0;  // no finite component at all
    double lowest = a < b ? a : b, highest = a < b ? b : a;
    lowest = std::fmin(std::fmax(lowest, -kLargestCoordinate), kLargestCoordinate);
    highest = std::fmin(std::fmax(highest, -kLargestCoordinate), kLargestCoordinate);
    if (!(highest - lowest >= 2 * kFlatExtent)) {
        double middle = lowest + (highest - lowest) / 2;
        lowest = middle - kFlatExtent;
        highest = middle + kFlatExtent;
    }
    *low = static_cast<float>(lowest);
    *high = static_cast<float>(highest);
    // Far from zero the tiny extent is below a float step.
    if (!(*low < *high)) {
        *low = std::nextafter(*low, -INFINITY);
        *high = std::nextafter(*high, INFINITY);
    }
}

#if STLV_SSE2
// Four floats ending with a corner's z at `record + offset`: the first lane
// (the normal's z or the previous corner's z) is never used, so no load
// reaches beyond the record's 50 bytes.
struct CornerLanes {
    __m128 values;
    __m128 forBounds;  // a non-finite component as NaN, which the minimum and maximum below pass over
    __m128i nonFinite;
};

// A corner in lanes 1 to 3, from the 16 bytes that end with it; the first
// corner, with nothing before it in the record, is loaded from its start and moved up.
inline CornerLanes loadCorner(const uint8_t* record, uint32_t corner) {
    const uint8_t* corners = record + offsetof(StlTriangle, vertices);
    __m128i bits = corner ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(corners + 12 * corner - 4))
                          : _mm_slli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(corners)), 4);
    __m128i exponent = _mm_set1_epi32(0x7F800000);
    __m128i nonFinite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
    return CornerLanes{_mm_castsi128_ps(bits), _mm_castsi128_ps(_mm_or_si128(bits, nonFinite)), nonFinite};
}

// x and y, and z, of a corner's lanes as doubles.
struct CornerDoubles {
    __m128d xy, z;
};

inline CornerDoubles cornerDoubles(__m128 lanes) {
    return CornerDoubles{_mm_cvtps_pd(_mm_shuffle_ps(lanes, lanes, _MM_SHUFFLE(3, 3, 2, 1))),
                         _mm_cvtps_pd(_mm_shuffle_ps(lanes, lanes, _MM_SHUFFLE(3, 3, 3, 3)))};
}

inline double sumOfLanes(__m128d pair) {
    return _mm_cvtsd_f64(_mm_add_sd(pair, _mm_unpackhi_pd(pair, pair)));
}

// measureTriangle on corner lanes: the same operations in the same order, two at a time.
inline TriangleMeasures measureTriangleLanes(__m128 first, __m128 second, __m128 third, bool finite) {
    CornerDoubles v = cornerDoubles(first), b = cornerDoubles(second), c = cornerDoubles(third);
    __m128d exy = _mm_sub_pd(b.xy, v.xy), ez = _mm_sub_sd(b.z, v.z);
    __m128d fxy = _mm_sub_pd(c.xy, v.xy), fz = _mm_sub_sd(c.z, v.z);
    __m128d eyz = _mm_shuffle_pd(exy, ez, 1), ezx = _mm_shuffle_pd(ez, exy, 0);
    __m128d fyz = _mm_shuffle_pd(fxy, fz, 1), fzx = _mm_shuffle_pd(fz, fxy, 0);
    __m128d cxy = _mm_sub_pd(_mm_mul_pd(eyz, fzx), _mm_mul_pd(ezx, fyz));
    __m128d crossed = _mm_mul_pd(exy, _mm_shuffle_pd(fxy, fxy, 1));
    double cz = _mm_cvtsd_f64(crossed) - _mm_cvtsd_f64(_mm_unpackhi_pd(crossed, crossed));
    // The instruction rather than std::sqrt, whose error path keeps every register on the stack.
    __m128d squares = _mm_set_sd(sumOfLanes(_mm_mul_pd(cxy, cxy)) + cz * cz);
    double twiceArea = _mm_cvtsd_f64(_mm_sqrt_sd(squares, squares));
    double sixVolume = sumOfLanes(_mm_mul_pd(v.xy, cxy)) + _mm_cvtsd_f64(v.z) * cz;
    return TriangleMeasures{finite ? twiceArea : 0.0, finite ? sixVolume : 0.0};
}
#endif

}  // namespace

void computeMeshBounds(const StlMesh* mesh, float unitScale, float boundsMin[3], float boundsMax[3],
                       MeshFacts* facts) {
    float low[3] = {INFINITY, INFINITY, INFINITY};
    float high[3] = {-INFINITY, -INFINITY, -INFINITY};
    double twiceArea = 0.0;
    double sixVolume = 0.0;
    uint64_t triangles = 0;
    // Branch-free: a NaN or infinite component is swapped for a value that
    // cannot move the bound (+inf for the minimum, -inf for the maximum; with
    // SSE, NaN: its minimum and maximum keep the second operand unless the
    // first is less or greater). The comparisons are those of the plain loop,
    // so ties (-0 and +0) keep the first value just the same.
#if STLV_SSE2
    __m128 lowLanes = _mm_set1_ps(INFINITY);
    __m128 highLanes = _mm_set1_ps(-INFINITY);
#endif
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const StlSolid& solid = mesh->solids[s];
        const uint8_t* record = reinterpret_cast<const uint8_t*>(solid.triangles);
        triangles += solid.triangleCount;
        for (uint32_t i = 0; i < solid.triangleCount; ++i, record += sizeof(StlTriangle)) {
#if STLV_SSE2
            CornerLanes a = loadCorner(record, 0);
            CornerLanes b = loadCorner(record, 1);
            CornerLanes c = loadCorner(record, 2);
            lowLanes = _mm_min_ps(c.forBounds, _mm_min_ps(b.forBounds, _mm_min_ps(a.forBounds, lowLanes)));
            highLanes = _mm_max_ps(c.forBounds, _mm_max_ps(b.forBounds, _mm_max_ps(a.forBounds, highLanes)));
            __m128i nonFinite = _mm_or_si128(a.nonFinite, _mm_or_si128(b.nonFinite, c.nonFinite));
            bool allFinite = (_mm_movemask_ps(_mm_castsi128_ps(nonFinite)) & 0xE) == 0;
            // A triangle with a non-finite corner adds nothing, whatever its lanes made of it.
            TriangleMeasures measures = measureTriangleLanes(a.values, b.values, c.values, allFinite);
#else
            float corners[9];
            bool allFinite = true;
            for (int c = 0; c < 9; ++c) {
                // Four-byte copies become plain loads, also under the sanitizers.
                uint32_t bits;
                memcpy(&bits, record + offsetof(StlTriangle, vertices) + 4 * c, sizeof bits);
                float value;
                memcpy(&value, &bits, sizeof value);
                bool finite = (bits & 0x7F800000u) != 0x7F800000u;
                allFinite = allFinite && finite;
                corners[c] = finite ? value : 0.0f;
                float forLow = finite ? value : INFINITY;
                float forHigh = finite ? value : -INFINITY;
                int axis = c % 3;
                low[axis] = forLow < low[axis] ? forLow : low[axis];
                high[axis] = forHigh > high[axis] ? forHigh : high[axis];
            }
            TriangleMeasures measures = measureTriangle(corners, allFinite);
#endif
            twiceArea += measures.twiceArea;
            sixVolume += measures.sixVolume;
        }
    }
#if STLV_SSE2
    float lanes[4];
    _mm_storeu_ps(lanes, lowLanes);
    memcpy(low, lanes + 1, sizeof low);
    _mm_storeu_ps(lanes, highLanes);
    memcpy(high, lanes + 1, sizeof high);
#endif
    double scale = unitScale;
    for (int axis = 0; axis < 3; ++axis) finishAxis(low[axis], high[axis], scale, &boundsMin[axis], &boundsMax[axis]);
    *facts = MeshFacts{triangles, twiceArea / 2 * scale * scale, sixVolume / 6 * scale * scale * scale};
}

uint64_t meshTriangleCount(const StlMesh* mesh) {
    uint64_t total = 0;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) total += mesh->solids[s].triangleCount;
    return total;
}

GpuMesh* prepareGpuMesh(const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                        HeapHandle heap, const MessageSink* sink) {
    GpuMesh* gpuMesh = static_cast<GpuMesh*>(allocArray(heap, 1, sizeof(GpuMesh), sink));
    if (!gpuMesh) return nullptr;
    SolidRange* ranges = nullptr;
    uint64_t triangles = 0;
    if (mesh->solidCount) {
        ranges = static_cast<SolidRange*>(allocArray(heap, mesh->solidCount, sizeof(SolidRange), sink));
        if (!ranges) return nullptr;
        for (uint32_t s = 0; s < mesh->solidCount; ++s) {
            ranges[s].firstTriangle = triangles;
            ranges[s].triangleCount = mesh->solids[s].triangleCount;
            triangles += mesh->solids[s].triangleCount;
        }
    }
    gpuMesh->solidCount = mesh->solidCount;
    gpuMesh->visibleSolids = visibleSolids;
    gpuMesh->color = kWhite;
    gpuMesh->ranges = ranges;
    gpuMesh->triangleCount = triangles;
    gpuMesh->pieces = nullptr;
    gpuMesh->pieceCount = 0;
    gpuMesh->vertexOrder = metadata->colorOrder;
    gpuMesh->insideOut = 0;
    gpuMesh->placed = 0;
    gpuMesh->hasPrevious = 0;
    gpuMesh->previousPlaced = 0;
    gpuMesh->unitScale = metadata->unitScale;
    float boundsMin[3], boundsMax[3];
    MeshFacts facts;
    computeMeshBounds(mesh, metadata->unitScale, boundsMin, boundsMax, &facts);
    memcpy(gpuMesh->boundsMin, boundsMin, sizeof boundsMin);
    memcpy(gpuMesh->boundsMax, boundsMax, sizeof boundsMax);
    gpuMesh->facts = facts;
    gpuMesh->solids = mesh->solids;
    gpuMesh->heap = heap;
    gpuMesh->pickIndex = nullptr;
    gpuMesh->problemMarks = nullptr;
    return gpuMesh;
}

uint64_t pieceCountFor(uint64_t triangles, uint32_t pieceTriangles) {
    uint64_t each = pieceTriangles ? pieceTriangles : 1;
    return (triangles + each - 1) / each;
}

void layOutPieces(const SolidRange* ranges, uint32_t solidCount, uint64_t triangles, uint32_t pieceTriangles,
                  MeshPiece* pieces, uint32_t pieceCount) {
    uint64_t each = pieceTriangles ? pieceTriangles : 1;
    uint32_t solid = 0;
    for (uint32_t p = 0; p < pieceCount; ++p) {
        MeshPiece* piece = &pieces[p];
        uint64_t first = p * each;
        uint64_t end = first + each < triangles ? first + each : triangles;
        // Empty solids and those ending before the piece are skipped.
        while (solid < solidCount &&
               (ranges[solid].triangleCount == 0 || ranges[solid].firstTriangle + ranges[solid].triangleCount <= first))
            ++solid;
        uint32_t last = solid;
        while (last + 1 < solidCount && ranges[last + 1].firstTriangle < end) ++last;
        *piece = MeshPiece{nullptr, first, static_cast<uint32_t>(end - first), solid, last - solid + 1, nullptr, nullptr};
    }
}

void forEachDraw(const GpuMesh* mesh, const MeshPiece* piece, uint32_t maxTriangles, DrawCall draw, void* context) {
    const uint8_t* visible = mesh->visibleSolids;
    // Triangles of the piece, relative to its start: the run being gathered.
    uint32_t runStart = 0, runEnd = 0;
    auto flush = [&] {
        for (uint32_t at = runStart; at < runEnd;) {
            uint32_t count = runEnd - at < maxTriangles ? runEnd - at : maxTriangles;
            draw(context, 3 * at, 3 * count);
            at += count;
        }
    };
    for (uint32_t s = piece->firstSolid; s < piece->firstSolid + piece->solidSpan && s < mesh->solidCount; ++s) {
        if (visible && !visible[s]) continue;
        TriangleSpan span = solidInPiece(&mesh->ranges[s], piece);
        if (span.first >= span.end) continue;
        uint32_t localStart = static_cast<uint32_t>(span.first - piece->firstTriangle);
        uint32_t localEnd = static_cast<uint32_t>(span.end - piece->firstTriangle);
        if (runEnd > runStart && localStart == runEnd) {
            runEnd = localEnd;
            continue;
        }
        flush();
        runStart = localStart;
        runEnd = localEnd;
    }
    flush();
}

void boxAsPlaced(GpuMesh* mesh) {
    float low[3], high[3];
    if (!mesh->placed) {
        StlMesh file{nullptr, const_cast<StlSolid*>(mesh->solids), mesh->solids ? mesh->solidCount : 0};
        MeshFacts facts;
        computeMeshBounds(&file, mesh->unitScale, low, high, &facts);
    } else {
        double placedLow[3], placedHigh[3];
        Placement placement = mesh->placement;
        if (!placedBox(mesh->solids, mesh->solidCount, placement, placedLow, placedHigh)) return;
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = static_cast<float>(placedLow[axis] * mesh->unitScale);
            high[axis] = static_cast<float>(placedHigh[axis] * mesh->unitScale);
            if (low[axis] == high[axis]) {
                low[axis] -= 0.000001f;
                high[axis] += 0.000001f;
            }
        }
    }
    memcpy(mesh->boundsMin, low, sizeof low);
    memcpy(mesh->boundsMax, high, sizeof high);
}
