// Welding by hashing corners into a table of representative corners; edges
// by bucketing each side under its smaller vertex, so a vertex with a
// million faces still costs one pass; shells and holes by union-find.
#include "mesh/surface_check.h"

#include <cstring>
#include "core/memory.h"
#include "core/sse2.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kMapped = 0x80000000u;
// Corner indices, vertex ids and bucket positions stay below 2^31.
constexpr uint64_t kMostTriangles = 0x7FFFFFFFu / 3;
constexpr uint32_t kStopCheckEvery = 1u << 16;

// Triangles of the non-empty solids, found by a triangle's index.
struct SolidRuns {
    const StlSolid* solids;
    uint32_t solidCount;
    uint64_t* firstTriangle;  // per solid; null with one solid
};

const StlTriangle* triangleAt(const SolidRuns& runs, uint64_t index) {
    if (!runs.firstTriangle) {
        for (uint32_t s = 0;; ++s)
            if (runs.solids[s].triangleCount) return runs.solids[s].triangles + index;
    }
    uint32_t low = 0, high = runs.solidCount;  // last solid whose first triangle <= index
    while (high - low > 1) {
        uint32_t middle = low + (high - low) / 2;
        if (runs.firstTriangle[middle] <= index) low = middle;
        else high = middle;
    }
    return runs.solids[low].triangles + (index - runs.firstTriangle[low]);
}

struct CornerKey {
    uint32_t x, y, z;
};

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, 4);
    return bits == 0x80000000u ? 0 : bits;
}

CornerKey keyOf(const StlTriangle* triangle, uint32_t corner) {
    return {bitsOf(triangle->vertices[corner][0]), bitsOf(triangle->vertices[corner][1]),
            bitsOf(triangle->vertices[corner][2])};
}

bool sameKey(const CornerKey& a, const CornerKey& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Model coordinates repeat per axis; the mix spreads such grids evenly.
uint64_t hashOf(const CornerKey& key) {
    uint64_t h = (key.x | static_cast<uint64_t>(key.y) << 32) * 0x9E3779B97F4A7C15ull;
    h ^= (key.z + (h >> 32)) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    return h * 0x94D049BB133111EBull;
}

uint32_t slotOf(uint64_t hash, uint32_t slots) {
    return static_cast<uint32_t>(((hash >> 32) * slots) >> 32);
}

// A vertex is mostly met again a few hundred triangles after its first
// corner (the next row of a strip, the next face of a fan): a small table
// that stays in the cache, of keys with their representatives, answers
// those without a trip to the large table and into the file.
constexpr uint32_t kRecentBits = 14;
struct RecentCorner {
    CornerKey key;
    uint32_t representative;  // kNone while empty
};

// Triangles ahead whose table places are asked for.
constexpr uint32_t kWeldAhead = 8;

void prefetch(const void* address) {
#if STLV_SSE2
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

struct WeldTable {
    uint32_t* slots;  // representative corner, or kNone
    uint32_t size;
    uint32_t used;
};

// Returns the representative of the key, inserting `corner` when it is new.
uint32_t weld(WeldTable* table, const SolidRuns& runs, const CornerKey& key, uint64_t hash, uint32_t corner) {
    uint32_t slot = slotOf(hash, table->size);
    for (;;) {
        uint32_t held = table->slots[slot];
        if (held == kNone) {
            table->slots[slot] = corner;
            ++table->used;
            return corner;
        }
        if (sameKey(keyOf(triangleAt(runs, held / 3), held % 3), key)) return held;
        if (++slot == table->size) slot = 0;
    }
}

bool stopped(const volatile uint8_t* keepGoing) {
    return keepGoing && !*keepGoing;
}

uint32_t findRoot(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

void join(uint32_t* parent, uint32_t a, uint32_t b) {
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a < b) parent[b] = a;
    else if (b < a) parent[a] = b;
}

bool degenerate(const uint32_t* v) {
    return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
}

// Every block the check holds, freed together however it ends.
struct Work {
    uint32_t* ids = nullptr;  // per corner: representative corner, then vertex id
    uint64_t* firstTriangle = nullptr;
    uint32_t* table = nullptr;
    uint32_t* grown = nullptr;
    uint32_t* vertexMap = nullptr;
    uint32_t* bucketEnd = nullptr;
    uint32_t* sides = nullptr;
    uint8_t* edgeUses = nullptr;
    uint32_t* firstUse = nullptr;
    uint32_t* shellParent = nullptr;
    uint32_t* holeParent = nullptr;
    uint8_t* ownMarks = nullptr;
    RecentCorner* recent = nullptr;

    ~Work() {
        void* blocks[] = {ids, firstTriangle, table, grown, vertexMap, bucketEnd, sides, edgeUses, firstUse,
                          shellParent, holeParent, ownMarks, recent};
        for (void* block : blocks) freeBytes(block);
    }
};

template <typename T>
T* take(T** slot) {
    T* block = *slot;
    *slot = nullptr;
    return block;
}

// Gives every corner its representative corner: the first with equal bits.
bool weldCorners(const StlMesh* mesh, const SolidRuns& runs, uint64_t corners, Work* work,
                 const volatile uint8_t* keepGoing, const MessageSink* sink) {
    uint64_t triangles = corners / 3;
    // Closed meshes have about n/2 vertices; a soup of 3n still fits the largest
    // size. Growth is looked at per triangle, so half a table takes its three corners.
    WeldTable table{nullptr, static_cast<uint32_t>(triangles * 2 + 6), 0};
    uint32_t largest = static_cast<uint32_t>(triangles * 4 + 6);
    if (!(work->table = static_cast<uint32_t*>(allocArray(processHeap(), table.size, 4, sink))) ||
        !(work->recent = static_cast<RecentCorner*>(
              allocArray(processHeap(), 1u << kRecentBits, sizeof(RecentCorner), sink))))
        return false;
    memset(work->recent, 0xFF, sizeof(RecentCorner) << kRecentBits);
    memset(work->table, 0xFF, static_cast<size_t>(table.size) * 4);
    table.slots = work->table;
    uint32_t corner = 0;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const StlSolid& solid = mesh->solids[s];
        uint64_t ahead[3 * kWeldAhead];
        for (uint32_t t = 0; t < kWeldAhead && t < solid.triangleCount; ++t)
            for (uint32_t k = 0; k < 3; ++k) ahead[3 * t + k] = hashOf(keyOf(solid.triangles + t, k));
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            if (corner % kStopCheckEvery < 3 && stopped(keepGoing)) return false;
            if (table.used > table.size / 2 && table.size < largest) {
                // Rebuild from the representatives met so far, which are in corner order.
                work->grown = static_cast<uint32_t*>(allocArray(processHeap(), largest, 4, sink));
                if (!work->grown) return false;
                memset(work->grown, 0xFF, static_cast<size_t>(largest) * 4);
                WeldTable bigger{work->grown, largest, 0};
                for (uint32_t c = 0; c < corner; ++c) {
                    if (work->ids[c] != c) continue;
                    CornerKey key = keyOf(triangleAt(runs, c / 3), c % 3);
                    weld(&bigger, runs, key, hashOf(key), c);
                }
                freeBytes(take(&work->table));
                work->table = take(&work->grown);
                table = bigger;
            }
            // New vertices go to random places of the large table: asking
            // for the places of later corners early lets the misses overlap.
            // Their hashes wait in a ring until their triangle comes.
            uint64_t hashes[3];
            memcpy(hashes, ahead + 3 * (t % kWeldAhead), sizeof hashes);
            if (t + kWeldAhead < solid.triangleCount) {
                for (uint32_t k = 0; k < 3; ++k) {
                    CornerKey later = keyOf(solid.triangles + t + kWeldAhead, k);
                    uint64_t hash = ahead[3 * (t % kWeldAhead) + k] = hashOf(later);
                    const RecentCorner& recent = work->recent[hash & ((1u << kRecentBits) - 1)];
                    if (recent.representative == kNone || !sameKey(recent.key, later))
                        prefetch(table.slots + slotOf(hash, table.size));
                }
            }
            for (uint32_t k = 0; k < 3; ++k, ++corner) {
                CornerKey key = keyOf(solid.triangles + t, k);
                uint64_t hash = hashes[k];
                RecentCorner& recent = work->recent[hash & ((1u << kRecentBits) - 1)];
                if (recent.representative != kNone && sameKey(recent.key, key)) {
                    work->ids[corner] = recent.representative;
                    continue;
                }
                uint32_t representative = weld(&table, runs, key, hash, corner);
                work->ids[corner] = representative;
                recent = RecentCorner{key, representative};
            }
        }
    }
    freeBytes(take(&work->table));
    freeBytes(take(&work->recent));
    return true;
}

}  // namespace

bool checkSurface(const StlMesh* mesh, SurfaceCheck* result, uint8_t* marks, const volatile uint8_t* keepGoing,
                  const MessageSink* sink) {
    uint64_t triangles = 0;
    uint32_t filled = 0;  // solids with triangles
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        triangles += mesh->solids[s].triangleCount;
        filled += mesh->solids[s].triangleCount ? 1 : 0;
    }
    SurfaceCheck check{};
    if (triangles == 0) {
        check.closed = 1;
        *result = check;
        return true;
    }
    if (triangles > kMostTriangles) {
        if (sink) reportCode(sink, kOutOfMemory);
        return false;
    }
    uint32_t corners = static_cast<uint32_t>(triangles * 3);
    Work work;

    SolidRuns runs{mesh->solids, mesh->solidCount, nullptr};
    if (filled > 1) {
        work.firstTriangle = static_cast<uint64_t*>(allocArray(processHeap(), mesh->solidCount, 8, sink));
        if (!work.firstTriangle) return false;
        uint64_t first = 0;
        for (uint32_t s = 0; s < mesh->solidCount; ++s) {
            // An empty solid shares its first triangle with the next one; the
            // search takes the last solid starting at or before the index,
            // which is then the one that holds it.
            work.firstTriangle[s] = first;
            first += mesh->solids[s].triangleCount;
        }
        runs.firstTriangle = work.firstTriangle;
    }

    work.ids = static_cast<uint32_t*>(allocArray(processHeap(), corners, 4, sink));
    if (!work.ids || !weldCorners(mesh, runs, corners, &work, keepGoing, sink)) return false;
    freeBytes(take(&work.firstTriangle));

    // Dense vertex ids in order of first appearance; a representative comes before its copies.
    uint32_t* ids = work.ids;
    uint32_t vertices = 0;
    for (uint32_t c = 0; c < corners; ++c) ids[c] = ids[c] == c ? vertices++ : ids[ids[c]];

    // Corners per vertex, counting faces with area only.
    work.vertexMap = static_cast<uint32_t*>(allocArray(processHeap(), vertices, 4, sink));
    if (!work.vertexMap) return false;
    uint32_t* vertexMap = work.vertexMap;
    memset(vertexMap, 0, static_cast<size_t>(vertices) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        const uint32_t* v = ids + 3 * t;
        if (degenerate(v)) {
            ++check.degenerateTriangles;
            continue;
        }
        for (uint32_t k = 0; k < 3; ++k) ++vertexMap[v[k]];
    }
    if (stopped(keepGoing)) return false;
    // A vertex of one corner can only have open edges: number the others
    // first, so the edge pass sizes its arrays by them alone.
    uint32_t shared = 0;
    for (uint32_t v = 0; v < vertices; ++v)
        if (vertexMap[v] >= 2) vertexMap[v] = kMapped | shared++;
    uint32_t next = shared;
    for (uint32_t v = 0; v < vertices; ++v) vertexMap[v] = vertexMap[v] & kMapped ? vertexMap[v] & ~kMapped : next++;
    for (uint32_t c = 0; c < corners; ++c) ids[c] = vertexMap[ids[c]];
    freeBytes(take(&work.vertexMap));

    if (marks) {
        memset(marks, 0, static_cast<size_t>(triangles));
    } else {
        marks = work.ownMarks = static_cast<uint8_t*>(allocArray(processHeap(), triangles, 1, sink));
        if (!marks) return false;
        memset(marks, 0, static_cast<size_t>(triangles));
    }

    // Sides between two shared vertices, bucketed under the smaller one.
    work.bucketEnd = static_cast<uint32_t*>(allocArray(processHeap(), shared + 1ull, 4, sink));
    if (!work.bucketEnd) return false;
    uint32_t* bucketEnd = work.bucketEnd;
    memset(bucketEnd, 0, (shared + 1ull) * 4);
    uint32_t sideCount = 0;
    for (uint32_t t = 0; t < triangles; ++t) {
        const uint32_t* v = ids + 3 * t;
        if (degenerate(v)) continue;
        for (uint32_t k = 0; k < 3; ++k) {
            uint32_t a = v[k], b = v[k == 2 ? 0 : k + 1];
            if (a < shared && b < shared) {
                ++bucketEnd[(a < b ? a : b) + 1];
                ++sideCount;
            } else {
                ++check.openEdges;  // a vertex of one corner has no second face
                marks[t] |= static_cast<uint8_t>(kMarkOpenSide << k);
            }
        }
    }
    for (uint32_t v = 0; v < shared; ++v) bucketEnd[v + 1] += bucketEnd[v];
    if (!(work.sides = static_cast<uint32_t*>(allocArray(processHeap(), sideCount, 4, sink))) ||
        !(work.edgeUses = static_cast<uint8_t*>(allocArray(processHeap(), sideCount, 1, sink))) ||
        !(work.firstUse = static_cast<uint32_t*>(allocArray(processHeap(), shared, 4, sink))) ||
        !(work.shellParent = static_cast<uint32_t*>(allocArray(processHeap(), triangles, 4, sink))))
        return false;
    uint32_t* sides = work.sides;
    uint8_t* uses = work.edgeUses;
    uint32_t* firstUse = work.firstUse;
    uint32_t* parent = work.shellParent;
    memset(firstUse, 0xFF, static_cast<size_t>(shared) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        parent[t] = t;
        const uint32_t* v = ids + 3 * t;
        if (degenerate(v)) continue;
        for (uint32_t k = 0; k < 3; ++k) {
            uint32_t a = v[k], b = v[k == 2 ? 0 : k + 1];
            if (a < shared && b < shared) sides[bucketEnd[a < b ? a : b]++] = 3 * t + k;
        }
    }
    // Filling moved each bucket's start to its end: bucket v is [end(v-1), end(v)).

    // Per side position: uses of its edge (1, 2, 3 = three or more) in bits 0-1,
    // uses running from the smaller vertex to the larger in bits 2-3.
    uint32_t begin = 0;
    for (uint32_t v = 0; v < shared; ++v) {
        uint32_t end = bucketEnd[v];
        if (v % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        for (uint32_t p = begin; p < end; ++p) {
            uint32_t side = sides[p], k = side % 3;
            uint32_t a = ids[side], b = ids[side - k + (k == 2 ? 0 : k + 1)];
            uint32_t w = a < b ? b : a;
            uint8_t forward = a < b ? 4 : 0;
            uint32_t first = firstUse[w];
            if (first == kNone) {
                firstUse[w] = p;
                uses[p] = static_cast<uint8_t>(1 | forward);
                continue;
            }
            uint8_t count = uses[first] & 3, forwards = uses[first] >> 2;
            if (count < 3) ++count;
            if (forwards < 3 && forward) ++forwards;
            uses[first] = static_cast<uint8_t>(count | forwards << 2);
            join(parent, sides[first] / 3, side / 3);
        }
        for (uint32_t p = begin; p < end; ++p) {
            uint32_t side = sides[p], k = side % 3;
            uint32_t a = ids[side], b = ids[side - k + (k == 2 ? 0 : k + 1)];
            uint32_t first = firstUse[a < b ? b : a];
            uint8_t count = uses[first] & 3, forwards = uses[first] >> 2;
            bool flipped = count == 2 && forwards != 1;
            if (flipped) marks[side / 3] |= kMarkFlipped;
            if (first != p) continue;
            if (count == 1) {
                ++check.openEdges;
                marks[side / 3] |= static_cast<uint8_t>(kMarkOpenSide << k);
            } else if (count == 3) {
                ++check.nonManifoldEdges;
                marks[side / 3] |= static_cast<uint8_t>(kMarkNonManifoldSide << k);
            } else if (flipped) {
                ++check.flippedEdges;
            }
        }
        for (uint32_t p = begin; p < end; ++p) {
            uint32_t side = sides[p], k = side % 3;
            uint32_t a = ids[side], b = ids[side - k + (k == 2 ? 0 : k + 1)];
            firstUse[a < b ? b : a] = kNone;
        }
        begin = end;
    }
    freeBytes(take(&work.sides));
    freeBytes(take(&work.edgeUses));
    freeBytes(take(&work.firstUse));
    freeBytes(take(&work.bucketEnd));

    for (uint32_t t = 0; t < triangles; ++t)
        if (!degenerate(ids + 3 * t) && findRoot(parent, t) == t) ++check.shells;
    freeBytes(take(&work.shellParent));

    // Holes: open edges joined through their vertices.
    work.holeParent = static_cast<uint32_t*>(allocArray(processHeap(), vertices, 4, sink));
    if (!work.holeParent) return false;
    uint32_t* holeParent = work.holeParent;
    memset(holeParent, 0xFF, static_cast<size_t>(vertices) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        for (uint32_t k = 0; k < 3; ++k) {
            if (!(marks[t] & kMarkOpenSide << k)) continue;
            uint32_t a = ids[3 * t + k], b = ids[3 * t + (k == 2 ? 0 : k + 1)];
            if (holeParent[a] == kNone) holeParent[a] = a;
            if (holeParent[b] == kNone) holeParent[b] = b;
            join(holeParent, a, b);
        }
    }
    for (uint32_t v = 0; v < vertices; ++v) check.holes += holeParent[v] == v ? 1 : 0;

    check.closed = check.openEdges == 0 && check.nonManifoldEdges == 0;
    if (check.closed && check.flippedEdges == 0) {
        // Signed volume about the first corner, which keeps far-off models precise.
        const float* origin = nullptr;
        double sixVolume = 0;
        uint32_t t = 0;
        for (uint32_t s = 0; s < mesh->solidCount; ++s) {
            for (uint32_t i = 0; i < mesh->solids[s].triangleCount; ++i, ++t) {
                const StlTriangle& tri = mesh->solids[s].triangles[i];
                if (!origin) origin = tri.vertices[0];
                if (degenerate(ids + 3 * t)) continue;
                double p[3][3];
                for (int c = 0; c < 3; ++c)
                    for (int d = 0; d < 3; ++d) p[c][d] = static_cast<double>(tri.vertices[c][d]) - origin[d];
                sixVolume += p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) -
                             p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
                             p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
            }
        }
        check.insideOut = sixVolume < 0;
    }
    *result = check;
    return true;
}
