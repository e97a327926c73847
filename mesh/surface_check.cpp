// Welding by hashing corners into a table of representative corners (for a
// large mesh two halves on two threads), then joining positions within the
// welding distance (near_corners.cpp); edges by bucketing each side under its
// smaller vertex, so a vertex with a million faces still costs one pass;
// shells and holes by union-find.
#include "mesh/surface_check.h"

#include <cstring>
#include "core/memory.h"
#include "core/sse2.h"
#include "mesh/near_corners.h"
#include "mesh/union_find.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
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

bool degenerate(const uint32_t* v) {
    return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
}

template <typename T>
T* take(T** slot) {
    T* block = *slot;
    *slot = nullptr;
    return block;
}

// Six times the signed volume, about the first corner, which keeps far-off
// models precise. Triangles without area add nothing (or a rounding error),
// so the sum needs no vertex ids and runs beside the welding.
struct VolumeSum {
    const StlMesh* mesh;
    double sixVolume;
};

void sumSixVolume(void* context) {
    VolumeSum* sum = static_cast<VolumeSum*>(context);
    float origin[3];
    bool first = true;
    double sixVolume = 0;
    for (uint32_t s = 0; s < sum->mesh->solidCount; ++s) {
        const StlSolid& solid = sum->mesh->solids[s];
        for (uint32_t i = 0; i < solid.triangleCount; ++i) {
            const StlTriangle& tri = solid.triangles[i];
            if (first) memcpy(origin, tri.vertices[0], 12), first = false;
            double p[3][3];
            for (int c = 0; c < 3; ++c)
                for (int d = 0; d < 3; ++d) p[c][d] = static_cast<double>(tri.vertices[c][d]) - origin[d];
            sixVolume += p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) -
                         p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
                         p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
        }
    }
    sum->sixVolume = sixVolume;
}

// Every block the check holds, freed together however it ends.
struct Work {
    uint32_t* ids = nullptr;  // per corner: representative corner, then vertex id
    uint64_t* firstTriangle = nullptr;
    uint32_t* bucketEnd = nullptr;
    uint32_t* sides = nullptr;
    uint32_t* edgeUses = nullptr;
    uint32_t* firstUse = nullptr;
    uint32_t* shellParent = nullptr;
    uint32_t* holeParent = nullptr;
    uint8_t* ownMarks = nullptr;
    uint32_t* groups = nullptr;
    VolumeSum volume{nullptr, 0};

    ~Work() {
        void* blocks[] = {ids, firstTriangle, bucketEnd, sides, edgeUses, firstUse, shellParent,
                          holeParent, ownMarks, groups};
        for (void* block : blocks) freeBytes(block);
    }
};

// The representative held for the key, or kNone.
uint32_t heldFor(const WeldTable& table, const SolidRuns& runs, const CornerKey& key, uint64_t hash) {
    for (uint32_t slot = slotOf(hash, table.size);;) {
        uint32_t held = table.slots[slot];
        if (held == kNone || sameKey(keyOf(triangleAt(runs, held / 3), held % 3), key)) return held;
        if (++slot == table.size) slot = 0;
    }
}

// The welding of a run of triangles into a table of its own, so that two
// halves of a large mesh can weld on two threads; the second half's new
// positions are looked up in the first's table afterwards.
struct WeldJob {
    const StlMesh* mesh;
    const SolidRuns* runs;
    uint64_t begin, end;  // triangles, counted over all solids
    uint32_t* ids;
    const volatile uint8_t* keepGoing;
    const MessageSink* sink;  // null on a thread of its own
    WeldTable table;
    uint32_t* grown;
    RecentCorner* recent;
    bool done;
};

void freeWeldJob(WeldJob* job) {
    void* blocks[] = {job->table.slots, job->grown, job->recent};
    for (void* block : blocks) freeBytes(block);
    job->table.slots = job->grown = nullptr;
    job->recent = nullptr;
}

// Rebuilds the job's table at `largest` slots from the representatives met
// so far (corners of the job's own below `corner`), which are in corner order.
bool growWeldTable(WeldJob* job, uint32_t largest, uint32_t corner) {
    job->grown = static_cast<uint32_t*>(allocArray(processHeap(), largest, 4, job->sink));
    if (!job->grown) return false;
    memset(job->grown, 0xFF, static_cast<size_t>(largest) * 4);
    WeldTable bigger{job->grown, largest, 0};
    for (uint32_t c = static_cast<uint32_t>(job->begin * 3); c < corner; ++c) {
        if (job->ids[c] != c) continue;
        CornerKey key = keyOf(triangleAt(*job->runs, c / 3), c % 3);
        weld(&bigger, *job->runs, key, hashOf(key), c);
    }
    freeBytes(job->table.slots);
    job->grown = nullptr;
    job->table = bigger;
    return true;
}

// Gives every corner of the job's triangles its representative corner: the first with equal bits.
bool weldRun(WeldJob* job) {
    uint64_t triangles = job->end - job->begin;
    // Closed meshes have about n/2 vertices; a soup of 3n still fits the largest
    // size. Growth is looked at per triangle, so half a table takes its three corners.
    job->table = WeldTable{nullptr, static_cast<uint32_t>(triangles * 2 + 6), 0};
    uint32_t largest = static_cast<uint32_t>(triangles * 4 + 6);
    if (!(job->table.slots = static_cast<uint32_t*>(allocArray(processHeap(), job->table.size, 4, job->sink))) ||
        !(job->recent = static_cast<RecentCorner*>(
              allocArray(processHeap(), 1u << kRecentBits, sizeof(RecentCorner), job->sink))))
        return false;
    memset(job->recent, 0xFF, sizeof(RecentCorner) << kRecentBits);
    memset(job->table.slots, 0xFF, static_cast<size_t>(job->table.size) * 4);
    uint32_t* ids = job->ids;
    uint64_t first = 0;  // of the solid
    uint32_t corner = static_cast<uint32_t>(job->begin * 3);
    for (uint32_t s = 0; s < job->mesh->solidCount && first < job->end; first += job->mesh->solids[s++].triangleCount) {
        const StlSolid& solid = job->mesh->solids[s];
        if (first + solid.triangleCount <= job->begin) continue;
        uint32_t from = static_cast<uint32_t>(job->begin > first ? job->begin - first : 0);
        uint32_t to = static_cast<uint32_t>(job->end - first < solid.triangleCount ? job->end - first : solid.triangleCount);
        // Keys and hashes of the corners ahead, in a ring.
        uint64_t ahead[3 * kWeldAhead];
        CornerKey aheadKeys[3 * kWeldAhead];
        for (uint32_t t = from; t < from + kWeldAhead && t < to; ++t)
            for (uint32_t k = 0; k < 3; ++k) {
                uint32_t i = 3 * (t % kWeldAhead) + k;
                aheadKeys[i] = keyOf(solid.triangles + t, k);
                ahead[i] = hashOf(aheadKeys[i]);
            }
        for (uint32_t t = from; t < to; ++t) {
            if (corner % kStopCheckEvery < 3 && stopped(job->keepGoing)) return false;
            WeldTable& table = job->table;
            if (table.used > table.size / 2 && table.size < largest && !growWeldTable(job, largest, corner))
                return false;
            // New vertices go to random places of the large table: asking
            // for the places of later corners early lets the misses overlap.
            // Their hashes wait in a ring until their triangle comes.
            uint64_t hashes[3];
            CornerKey keys[3];
            memcpy(hashes, ahead + 3 * (t % kWeldAhead), sizeof hashes);
            memcpy(keys, aheadKeys + 3 * (t % kWeldAhead), sizeof keys);
            if (t + kWeldAhead < to) {
                for (uint32_t k = 0; k < 3; ++k) {
                    CornerKey later = aheadKeys[3 * (t % kWeldAhead) + k] = keyOf(solid.triangles + t + kWeldAhead, k);
                    uint64_t hash = ahead[3 * (t % kWeldAhead) + k] = hashOf(later);
                    const RecentCorner& recent = job->recent[hash & ((1u << kRecentBits) - 1)];
                    if (recent.representative == kNone || !sameKey(recent.key, later))
                        prefetch(table.slots + slotOf(hash, table.size));
                }
            }
            for (uint32_t k = 0; k < 3; ++k, ++corner) {
                const CornerKey& key = keys[k];
                uint64_t hash = hashes[k];
                RecentCorner& recent = job->recent[hash & ((1u << kRecentBits) - 1)];
                if (recent.representative != kNone && sameKey(recent.key, key)) {
                    ids[corner] = recent.representative;
                    continue;
                }
                uint32_t representative = weld(&table, *job->runs, key, hash, corner);
                ids[corner] = representative;
                recent = RecentCorner{key, representative};
            }
        }
    }
    return true;
}

void runWeldJob(void* job) {
    WeldJob* weldJob = static_cast<WeldJob*>(job);
    weldJob->done = weldRun(weldJob);
}

// The second half's representatives among corners [begin, end) that the
// first half has met become its copies; a batch's table places are asked
// for before any is looked at, so that the misses overlap.
struct MatchJob {
    const WeldTable* table;
    const SolidRuns* runs;
    uint32_t* ids;
    uint32_t begin, end;
    uint32_t matched;
};

constexpr uint32_t kMatchBatch = 32;

void runMatchJob(void* context) {
    MatchJob* job = static_cast<MatchJob*>(context);
    const WeldTable& table = *job->table;
    uint32_t* ids = job->ids;
    uint32_t corners[kMatchBatch];
    CornerKey keys[kMatchBatch];
    uint64_t hashes[kMatchBatch];
    uint32_t matched = 0;
    for (uint32_t c = job->begin; c < job->end;) {
        uint32_t n = 0;
        for (; c < job->end && n < kMatchBatch; ++c) {
            if (ids[c] != c) continue;
            corners[n] = c;
            keys[n] = keyOf(triangleAt(*job->runs, c / 3), c % 3);
            hashes[n] = hashOf(keys[n]);
            prefetch(table.slots + slotOf(hashes[n], table.size));
            ++n;
        }
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t held = heldFor(table, *job->runs, keys[i], hashes[i]);
            if (held != kNone) ids[corners[i]] = held, ++matched;
        }
    }
    job->matched = matched;
}

// Meshes from which on the joining of near positions and the volume run on a
// thread of their own.
constexpr uint64_t kNearThreadTriangles = 1u << 16;

// Meshes from which on two threads weld a half each.
constexpr uint64_t kWeldThreadTriangles = 1u << 16;

// Gives every corner its representative corner, the first with equal bits,
// and counts the distinct positions.
bool weldCorners(const StlMesh* mesh, const SolidRuns& runs, uint64_t triangles, uint32_t* ids, uint32_t* positions,
                 const volatile uint8_t* keepGoing, const MessageSink* sink) {
    WeldJob jobs[2];
    for (WeldJob& job : jobs) job = WeldJob{mesh, &runs, 0, triangles, ids, keepGoing, sink, {}, nullptr, nullptr, false};
    ThreadHandle second = nullptr;
    if (triangles >= kWeldThreadTriangles) {
        jobs[0].end = jobs[1].begin = triangles / 2;
        jobs[0].sink = jobs[1].sink = nullptr;
        second = startThread(runWeldJob, &jobs[1]);
        if (!second) jobs[0].end = triangles;
    }
    runWeldJob(&jobs[0]);
    bool done = jobs[0].done;
    if (second) {
        joinThread(second);
        done = done && jobs[1].done;
        if (done) {
            // In two halves again, on two threads.
            uint32_t begin = static_cast<uint32_t>(jobs[1].begin * 3), end = static_cast<uint32_t>(triangles * 3);
            uint32_t middle = begin + (end - begin) / 2;
            MatchJob halves[2] = {{&jobs[0].table, &runs, ids, begin, middle, 0}, {&jobs[0].table, &runs, ids, middle, end, 0}};
            ThreadHandle other = startThread(runMatchJob, &halves[1]);
            runMatchJob(&halves[0]);
            if (other) joinThread(other);
            else runMatchJob(&halves[1]);
            jobs[1].table.used -= halves[0].matched + halves[1].matched;
        }
        if (!done && sink && !stopped(keepGoing)) reportCode(sink, kOutOfMemory);
    }
    *positions = jobs[0].table.used + (second ? jobs[1].table.used : 0);
    for (WeldJob& job : jobs) freeWeldJob(&job);
    return done;
}

void cornerOf(const void* runs, uint32_t corner, float* point) {
    memcpy(point, triangleAt(*static_cast<const SolidRuns*>(runs), corner / 3)->vertices[corner % 3], 12);
}

// Dense position ids in order of first appearance (a representative comes
// before its copies), and each position's representative corner in `groups`.
void numberPositions(uint32_t* ids, uint32_t corners, uint32_t* groups) {
    uint32_t position = 0;
    for (uint32_t c = 0; c < corners; ++c) {
        if (ids[c] != c) {
            ids[c] = ids[ids[c]];
            continue;
        }
        groups[position] = c;
        ids[c] = position++;
    }
}

// The positions joined within the welding distance, and the volume, which
// need each other's results no more than the edges need theirs: for a large
// mesh they run on a thread of their own beside the edges of the positions,
// which stand unless a position joined another.
struct NearJob {
    const SolidRuns* runs;
    uint32_t positions;
    uint32_t* groups;  // representative corner, then the group's first position
    const volatile uint8_t* keepGoing;
    const MessageSink* sink;  // null on a thread of its own
    VolumeSum* volume;        // summed after the joining when not null
    uint32_t joined;
    bool done;
};

void runNearJob(void* job) {
    NearJob* near = static_cast<NearJob*>(job);
    near->done = joinNearPositions(near->positions, cornerOf, near->runs, near->groups, &near->joined,
                                   near->keepGoing, near->sink);
    if (near->done && near->volume) sumSixVolume(near->volume);
}

// Vertex ids from the groups of joined positions: a group's first position
// comes first, so numbering in order leaves no gaps.
bool applyGroups(uint32_t* ids, uint32_t corners, uint32_t* groups, uint32_t positions) {
    uint32_t next = 0;
    for (uint32_t p = 0; p < positions; ++p) groups[p] = groups[p] == p ? next++ : groups[groups[p]];
    for (uint32_t c = 0; c < corners; ++c) ids[c] = groups[ids[c]];
    return true;
}

// The sides of one bucket (those under one vertex) and what their edges are.
struct EdgeCount {
    const uint32_t* ids;
    const uint32_t* sides;  // triangle << 2 | side
    uint32_t* uses;  // per side of the bucket being counted, for large buckets
    uint32_t* firstUse;  // per larger vertex: the position of its edge's first side in the bucket
    uint32_t* shellParent;
    uint8_t* marks;
    SurfaceCheck* check;
    uint64_t shellJoins;  // joins of two shells into one
    // Set for the second walk, once flipped edges were found: faces joined
    // through edges their faces run opposite ways (regions of one
    // orientation), and the pairs of faces of each flipped edge.
    uint32_t* regionParent;
    uint32_t* flippedPairs;
    uint32_t pairCount;
};

// The larger vertex of a side, and whether the side runs towards it.
uint32_t otherEnd(const EdgeCount& edges, uint32_t side, bool* forward) {
    uint32_t t = side >> 2, k = side & 3;
    uint32_t a = edges.ids[3 * t + k], b = edges.ids[3 * t + (k == 2 ? 0 : k + 1)];
    *forward = a < b;
    return a < b ? b : a;
}

// Counts of uses beyond which a large bucket's edge no longer counts exactly.
constexpr uint32_t kCountCap = 0xFFFF;

// Once per edge of `count` uses (kCountCap: that many or more), `forwards`
// of them from the smaller vertex to the larger; `first` and, for two
// uses, `second` are positions of its sides.
void countEdge(EdgeCount* edges, uint32_t first, uint32_t second, uint32_t count, uint32_t forwards) {
    uint32_t t = edges->sides[first] >> 2, k = edges->sides[first] & 3;
    if (edges->regionParent) {
        if (count != 2) return;
        uint32_t other = edges->sides[second] >> 2;
        if (forwards == 1) {
            join(edges->regionParent, t, other);
        } else {
            edges->flippedPairs[2 * edges->pairCount] = t;
            edges->flippedPairs[2 * edges->pairCount++ + 1] = other;
        }
        return;
    }
    if (count >= kCountCap || 2 * forwards != count) ++edges->check->unevenEdges;
    if (count == 1) {
        ++edges->check->openEdges;
        edges->marks[t] |= static_cast<uint8_t>(kMarkOpenSide << k);
    } else if (count >= 3) {
        ++edges->check->nonManifoldEdges;
        edges->marks[t] |= static_cast<uint8_t>(kMarkNonManifoldSide << k);
    } else if (forwards != 1) {
        ++edges->check->flippedEdges;
    }
}

// While the edges are counted, a triangle's mark says that two of its corners
// are one vertex; the bit is cleared before the marks are handed back.
constexpr uint8_t kMarkWithoutArea = 0x80;

// Most vertices are the smaller end of a handful of sides: those are
// matched within the bucket, in the cache, instead of through firstUse.
constexpr uint32_t kSmallBucket = 16;
static_assert(kSmallBucket < 256);

void countSmallBucket(EdgeCount* edges, uint32_t begin, uint32_t end) {
    uint32_t n = end - begin, other[kSmallBucket], second[kSmallBucket];
    uint8_t count[kSmallBucket], forwards[kSmallBucket];
    bool first[kSmallBucket];
    const uint32_t* sides = edges->sides + begin;
    for (uint32_t i = 0; i < n; ++i) {
        bool forward;
        other[i] = otherEnd(*edges, sides[i], &forward);
        uint32_t j = 0;
        while (other[j] != other[i]) ++j;
        first[i] = j == i;
        if (j == i) {
            count[i] = 1;
            forwards[i] = forward;
            second[i] = i;
            continue;
        }
        if (count[j] == 1) second[j] = i;
        ++count[j];
        forwards[j] = static_cast<uint8_t>(forwards[j] + forward);
        if (!edges->regionParent) edges->shellJoins += join(edges->shellParent, sides[j] >> 2, sides[i] >> 2);
    }
    for (uint32_t i = 0; i < n; ++i)
        if (first[i]) countEdge(edges, begin + i, begin + second[i], count[i], forwards[i]);
}

// A large bucket: per side of it, uses of its edge (up to kCountCap) in
// bits 0-15, uses running from the smaller vertex to the larger in bits 16-31;
// firstUse holds a position of this bucket or an older one.
void countBucket(EdgeCount* edges, uint32_t begin, uint32_t end) {
    uint32_t* uses = edges->uses;
    for (uint32_t p = begin; p < end; ++p) {
        bool forward;
        uint32_t w = otherEnd(*edges, edges->sides[p], &forward);
        uint32_t first = edges->firstUse[w];
        if (first - begin >= end - begin) {  // none yet in this bucket
            edges->firstUse[w] = p;
            uses[p - begin] = 1 | (forward ? 1u << 16 : 0);
            continue;
        }
        uint32_t count = uses[first - begin] & 0xFFFF, forwards = uses[first - begin] >> 16;
        if (count < kCountCap) ++count;
        if (forwards < kCountCap && forward) ++forwards;
        uses[first - begin] = count | forwards << 16;
        if (!edges->regionParent)
            edges->shellJoins += join(edges->shellParent, edges->sides[first] >> 2, edges->sides[p] >> 2);
    }
    // Each edge once: at its first side, or at its second when it has two.
    for (uint32_t p = begin; p < end; ++p) {
        bool forward;
        uint32_t first = edges->firstUse[otherEnd(*edges, edges->sides[p], &forward)];
        uint32_t count = uses[first - begin] & 0xFFFF;
        if ((count == 2) == (first != p)) countEdge(edges, first, p, count, uses[first - begin] >> 16);
    }
}

// Walks the buckets of sides; false when stopped.
bool walkBuckets(EdgeCount* edges, const uint32_t* bucketEnd, uint32_t vertices, const volatile uint8_t* keepGoing) {
    uint32_t begin = 0;
    for (uint32_t v = 0; v < vertices; ++v) {
        uint32_t end = bucketEnd[v];
        if (v % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        if (end - begin <= kSmallBucket) countSmallBucket(edges, begin, end);
        else countBucket(edges, begin, end);
        begin = end;
    }
    return true;
}

// Faces turned the wrong way: the regions of one orientation that flipped
// edges bound are coloured two ways, neighbours across a flipped edge apart;
// in each group of regions so joined the colour with fewer faces is the
// wrong one. A group that cannot be so coloured (a Möbius-like surface)
// with no face of the other colour has the faces of its flipped edges marked.
struct Orientation {
    uint32_t* regionParent = nullptr;
    uint32_t* flippedPairs = nullptr;
    uint32_t* faces = nullptr;  // per region root
    uint32_t* neighbourStart = nullptr;  // per region root, and the end
    uint32_t* neighbours = nullptr;
    uint32_t* queue = nullptr;
    uint8_t* colour = nullptr;  // per region root: 0 or 1 while colouring, then kRight, kWrong or kBothSides
    ~Orientation() {
        void* blocks[] = {regionParent, flippedPairs, faces, neighbourStart, neighbours, queue, colour};
        for (void* block : blocks) freeBytes(block);
    }
};
constexpr uint8_t kRight = 0, kWrong = 2, kBothSides = 3, kUnseen = 0xFF;

// Colours the group of regions from `start`; returns the faces found wrong.
uint64_t colourGroup(Orientation* o, uint32_t start) {
    uint32_t head = 0, tail = 0;
    uint64_t faces[2] = {0, 0};
    bool odd = false;
    o->colour[start] = 0;
    o->queue[tail++] = start;
    while (head < tail) {
        uint32_t r = o->queue[head++];
        faces[o->colour[r]] += o->faces[r];
        for (uint32_t i = o->neighbourStart[r]; i < o->neighbourStart[r + 1]; ++i) {
            uint32_t next = o->neighbours[i];
            if (o->colour[next] == kUnseen) {
                o->colour[next] = static_cast<uint8_t>(1 - o->colour[r]);
                o->queue[tail++] = next;
            } else {
                odd |= o->colour[next] == o->colour[r];
            }
        }
    }
    uint8_t wrong = faces[1] <= faces[0] ? 1 : 0;  // the side of the group's first region stays right on a tie
    bool bothSides = odd && !faces[wrong];
    for (uint32_t i = 0; i < tail; ++i) {
        uint8_t& c = o->colour[o->queue[i]];
        c = bothSides ? kBothSides : c == wrong ? kWrong : kRight;
    }
    return bothSides ? 0 : faces[wrong];
}

bool markFlippedFaces(EdgeCount* edges, const uint32_t* bucketEnd, uint32_t vertices, uint32_t triangles,
                      const volatile uint8_t* keepGoing, const MessageSink* sink) {
    Orientation o;
    uint64_t pairs = edges->check->flippedEdges;
    if (!(o.regionParent = static_cast<uint32_t*>(allocArray(processHeap(), triangles, 4, sink))) ||
        !(o.flippedPairs = static_cast<uint32_t*>(allocArray(processHeap(), pairs, 8, sink))) ||
        !(o.faces = static_cast<uint32_t*>(allocArray(processHeap(), triangles, 4, sink))) ||
        !(o.neighbourStart = static_cast<uint32_t*>(allocArray(processHeap(), triangles + 1ull, 4, sink))) ||
        !(o.neighbours = static_cast<uint32_t*>(allocArray(processHeap(), pairs, 8, sink))) ||
        !(o.queue = static_cast<uint32_t*>(allocArray(processHeap(), triangles, 4, sink))) ||
        !(o.colour = static_cast<uint8_t*>(allocArray(processHeap(), triangles, 1, sink))))
        return false;
    for (uint32_t t = 0; t < triangles; ++t) o.regionParent[t] = t;
    memset(edges->firstUse, 0xFF, static_cast<size_t>(vertices) * 4);  // positions of the first walk
    edges->regionParent = o.regionParent;
    edges->flippedPairs = o.flippedPairs;
    edges->pairCount = 0;
    bool walked = walkBuckets(edges, bucketEnd, vertices, keepGoing);
    edges->regionParent = nullptr;
    if (!walked) return false;
    uint8_t* marks = edges->marks;
    memset(o.faces, 0, static_cast<size_t>(triangles) * 4);
    for (uint32_t t = 0; t < triangles; ++t)
        if (!(marks[t] & kMarkWithoutArea)) ++o.faces[findRoot(o.regionParent, t)];
    // Each region's neighbours across flipped edges, by region root.
    uint32_t ends = 2 * edges->pairCount;
    const uint32_t* pair = o.flippedPairs;
    uint32_t* start = o.neighbourStart;
    memset(start, 0, (triangles + 1ull) * 4);
    for (uint32_t i = 0; i < ends; ++i) ++start[findRoot(o.regionParent, pair[i]) + 1];
    for (uint32_t r = 0; r < triangles; ++r) start[r + 1] += start[r];
    memcpy(o.queue, start, static_cast<size_t>(triangles) * 4);  // cursors until the colouring
    for (uint32_t i = 0; i < ends; ++i)
        o.neighbours[o.queue[findRoot(o.regionParent, pair[i])]++] = findRoot(o.regionParent, pair[i ^ 1]);
    memset(o.colour, kUnseen, triangles);
    uint64_t wrongFaces = 0;
    for (uint32_t i = 0; i < ends; ++i) {
        uint32_t r = findRoot(o.regionParent, pair[i]);
        if (o.colour[r] == kUnseen) wrongFaces += colourGroup(&o, r);
    }
    for (uint32_t t = 0; t < triangles; ++t)
        if (!(marks[t] & kMarkWithoutArea) && o.colour[findRoot(o.regionParent, t)] == kWrong) marks[t] |= kMarkFlipped;
    for (uint32_t i = 0; i < ends; ++i) {
        if (o.colour[findRoot(o.regionParent, pair[i])] != kBothSides || (marks[pair[i]] & kMarkFlipped)) continue;
        marks[pair[i]] |= kMarkFlipped;
        ++wrongFaces;
    }
    edges->check->flippedFaces = wrongFaces;
    return true;
}

// Edges, shells and holes of the mesh whose corners have the ids (below
// `vertices`), counted into result afresh.
bool checkEdges(const uint32_t* ids, uint32_t corners, uint32_t vertices, uint8_t* marks, SurfaceCheck* result,
                Work* work, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    uint32_t triangles = corners / 3;
    SurfaceCheck check{};
    memset(marks, 0, triangles);
    // Sides bucketed under their smaller vertex; faces without area left out.
    work->bucketEnd = static_cast<uint32_t*>(allocArray(processHeap(), vertices + 1ull, 4, sink));
    if (!work->bucketEnd) return false;
    uint32_t* bucketEnd = work->bucketEnd;
    memset(bucketEnd, 0, (vertices + 1ull) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        const uint32_t* v = ids + 3 * t;
        if (degenerate(v)) {
            ++check.degenerateTriangles;
            marks[t] = kMarkWithoutArea;
            continue;
        }
        ++bucketEnd[(v[0] < v[1] ? v[0] : v[1]) + 1];
        ++bucketEnd[(v[1] < v[2] ? v[1] : v[2]) + 1];
        ++bucketEnd[(v[2] < v[0] ? v[2] : v[0]) + 1];
    }
    if (stopped(keepGoing)) return false;
    for (uint32_t v = 0; v < vertices; ++v) bucketEnd[v + 1] += bucketEnd[v];
    uint32_t sideCount = bucketEnd[vertices];
    uint32_t largestBucket = 1;
    for (uint32_t v = 0; v < vertices; ++v)
        if (bucketEnd[v + 1] - bucketEnd[v] > largestBucket) largestBucket = bucketEnd[v + 1] - bucketEnd[v];
    if (!(work->sides = static_cast<uint32_t*>(allocArray(processHeap(), sideCount, 4, sink))) ||
        !(work->edgeUses = static_cast<uint32_t*>(allocArray(processHeap(), largestBucket, 4, sink))) ||
        !(work->firstUse = static_cast<uint32_t*>(allocArray(processHeap(), vertices, 4, sink))) ||
        !(work->shellParent = static_cast<uint32_t*>(allocArray(processHeap(), triangles, 4, sink))))
        return false;
    uint32_t* sides = work->sides;
    uint32_t* firstUse = work->firstUse;
    uint32_t* parent = work->shellParent;
    memset(firstUse, 0xFF, static_cast<size_t>(vertices) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        parent[t] = t;
        if (marks[t] & kMarkWithoutArea) continue;
        const uint32_t* v = ids + 3 * t;
        for (uint32_t k = 0; k < 3; ++k) {
            uint32_t a = v[k], b = v[k == 2 ? 0 : k + 1];
            sides[bucketEnd[a < b ? a : b]++] = t << 2 | k;
        }
    }
    // Filling moved each bucket's start to its end: bucket v is [end(v-1), end(v)).

    EdgeCount edges{ids, sides, work->edgeUses, firstUse, parent, marks, &check, 0, nullptr, nullptr, 0};
    if (!walkBuckets(&edges, bucketEnd, vertices, keepGoing)) return false;
    if (check.flippedEdges && !markFlippedFaces(&edges, bucketEnd, vertices, triangles, keepGoing, sink)) return false;
    freeBytes(take(&work->sides));
    freeBytes(take(&work->edgeUses));
    freeBytes(take(&work->firstUse));
    freeBytes(take(&work->bucketEnd));

    // Every face starts a shell of its own, and each join made two one.
    check.shells = triangles - check.degenerateTriangles - edges.shellJoins;
    freeBytes(take(&work->shellParent));
    for (uint32_t t = 0; t < triangles; ++t) marks[t] &= static_cast<uint8_t>(~kMarkWithoutArea);

    // Holes: open edges joined through their vertices.
    if (!check.openEdges) {
        *result = check;
        return true;
    }
    work->holeParent = static_cast<uint32_t*>(allocArray(processHeap(), vertices, 4, sink));
    if (!work->holeParent) return false;
    uint32_t* holeParent = work->holeParent;
    memset(holeParent, 0xFF, static_cast<size_t>(vertices) * 4);
    for (uint32_t t = 0; t < triangles; ++t) {
        if (!(marks[t] & 7 * kMarkOpenSide)) continue;
        for (uint32_t k = 0; k < 3; ++k) {
            if (!(marks[t] & kMarkOpenSide << k)) continue;
            uint32_t a = ids[3 * t + k], b = ids[3 * t + (k == 2 ? 0 : k + 1)];
            if (holeParent[a] == kNone) holeParent[a] = a;
            if (holeParent[b] == kNone) holeParent[b] = b;
            join(holeParent, a, b);
        }
    }
    for (uint32_t v = 0; v < vertices; ++v) check.holes += holeParent[v] == v ? 1 : 0;

    freeBytes(take(&work->holeParent));
    *result = check;
    return true;
}

// The runs of the non-empty solids; false when there are more than two
// solids with triangles and no memory for their starts (reported).
bool findSolidRuns(const StlMesh* mesh, uint32_t filled, Work* work, SolidRuns* runs, const MessageSink* sink) {
    *runs = SolidRuns{mesh->solids, mesh->solidCount, nullptr};
    if (filled <= 1) return true;
    work->firstTriangle = static_cast<uint64_t*>(allocArray(processHeap(), mesh->solidCount, 8, sink));
    if (!work->firstTriangle) return false;
    uint64_t first = 0;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        // An empty solid shares its first triangle with the next one; the
        // search takes the last solid starting at or before the index,
        // which is then the one that holds it.
        work->firstTriangle[s] = first;
        first += mesh->solids[s].triangleCount;
    }
    runs->firstTriangle = work->firstTriangle;
    return true;
}

// The triangles of all solids and their runs; false when corners could not
// be numbered below 2^31 or there is no memory (reported).
bool prepareMesh(const StlMesh* mesh, uint64_t* triangles, Work* work, SolidRuns* runs, const MessageSink* sink) {
    *triangles = 0;
    uint32_t filled = 0;  // solids with triangles
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        *triangles += mesh->solids[s].triangleCount;
        filled += mesh->solids[s].triangleCount ? 1 : 0;
    }
    if (*triangles > kMostTriangles) {
        if (sink) reportCode(sink, kOutOfMemory);
        return false;
    }
    return findSolidRuns(mesh, filled, work, runs, sink);
}

// Positions of bit-equal corners, each corner's position id in `ids`, and
// the representative corner of each position in work->groups.
bool weldPositions(const StlMesh* mesh, const SolidRuns& runs, uint64_t triangles, uint32_t* ids, Work* work,
                   uint32_t* positions, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    *positions = 0;
    if (!weldCorners(mesh, runs, triangles, ids, positions, keepGoing, sink) ||
        !(work->groups = static_cast<uint32_t*>(allocArray(processHeap(), *positions, 4, sink))))
        return false;
    numberPositions(ids, static_cast<uint32_t>(triangles * 3), work->groups);
    return true;
}

// Joins the near positions and numbers the vertices, meanwhile running
// `then` on the positions' ids: for a large mesh the joining (and the volume,
// when near->volume is set) runs on a thread of its own, and `then` on the
// positions stands unless some joined; it runs again on the final ids then.
bool joinNearThen(uint32_t* ids, uint32_t corners, NearJob* near, bool large, WeldFollowUp then) {
    uint32_t positions = near->positions;
    const MessageSink* sink = near->sink;
    ThreadHandle beside = nullptr;
    if (large) {
        near->sink = nullptr;
        beside = startThread(runNearJob, near);
    }
    bool done;
    if (beside) {
        done = then.run(then.context, ids, positions);
        joinThread(beside);
        if (done && !near->done && sink && !stopped(near->keepGoing)) reportCode(sink, kOutOfMemory);
        done = done && near->done;
    } else {
        near->sink = sink;
        near->volume = nullptr;  // summed by the caller when needed
        runNearJob(near);
        done = near->done;
    }
    near->sink = sink;
    if (done && (near->joined || !beside)) {
        if (near->joined) applyGroups(ids, corners, near->groups, positions);
        done = then.run(then.context, ids, positions - near->joined);
    }
    return done;
}

// The edges, shells and holes, as the follow-up of the welding.
struct EdgeJob {
    uint32_t corners;
    uint8_t* marks;
    SurfaceCheck* check;
    Work* work;
    const volatile uint8_t* keepGoing;
    const MessageSink* sink;
};

bool runEdgeJob(void* context, const uint32_t* ids, uint32_t vertices) {
    EdgeJob* job = static_cast<EdgeJob*>(context);
    return checkEdges(ids, job->corners, vertices, job->marks, job->check, job->work, job->keepGoing, job->sink);
}

// The result of a mesh without triangles: closed.
bool emptyCheck(SurfaceCheck* result) {
    *result = SurfaceCheck{};
    result->closed = 1;
    return true;
}

// The closed flag, and the way the surface faces where every edge is even
// (the volume summed here unless it was beside the edges).
bool finishCheck(SurfaceCheck check, uint32_t weldedCorners, VolumeSum* volume, bool summed, SurfaceCheck* result) {
    check.weldedCorners = weldedCorners;
    check.closed = check.openEdges == 0 && check.nonManifoldEdges == 0;
    if (check.unevenEdges == 0) {
        if (!summed) sumSixVolume(volume);
        check.insideOut = volume->sixVolume < 0;
    }
    *result = check;
    return true;
}

}  // namespace

bool checkSurface(const StlMesh* mesh, SurfaceCheck* result, uint8_t* marks, const volatile uint8_t* keepGoing,
                  const MessageSink* sink) {
    return checkSurfaceKeepingWelding(mesh, result, marks, nullptr, keepGoing, sink);
}

bool checkSurfaceKeepingWelding(const StlMesh* mesh, SurfaceCheck* result, uint8_t* marks, SurfaceWelding* welding,
                                const volatile uint8_t* keepGoing, const MessageSink* sink) {
    if (welding) *welding = SurfaceWelding{nullptr, 0, 0};
    Work work;
    SolidRuns runs;
    uint64_t triangles;
    if (!prepareMesh(mesh, &triangles, &work, &runs, sink)) return false;
    if (triangles == 0) return emptyCheck(result);
    uint32_t corners = static_cast<uint32_t>(triangles * 3);
    uint32_t positions;
    work.ids = static_cast<uint32_t*>(allocArray(processHeap(), corners, 4, sink));
    if (!work.ids || !weldPositions(mesh, runs, triangles, work.ids, &work, &positions, keepGoing, sink)) return false;
    if (marks) {
        memset(marks, 0, static_cast<size_t>(triangles));
    } else {
        marks = work.ownMarks = static_cast<uint8_t*>(allocArray(processHeap(), triangles, 1, sink));
        if (!marks) return false;
    }
    work.volume.mesh = mesh;
    SurfaceCheck check{};
    EdgeJob edges{corners, marks, &check, &work, keepGoing, sink};
    NearJob near{&runs, positions, work.groups, keepGoing, sink, &work.volume, 0, false};
    if (!joinNearThen(work.ids, corners, &near, triangles >= kNearThreadTriangles, WeldFollowUp{runEdgeJob, &edges}))
        return false;
    // The ids are final now, as weldMeshCorners leaves them.
    if (welding) *welding = SurfaceWelding{take(&work.ids), positions - near.joined, near.joined};
    return finishCheck(check, near.joined, &work.volume, near.volume != nullptr, result);
}

void freeSurfaceWelding(SurfaceWelding* welding) {
    freeBytes(welding->ids);
    *welding = SurfaceWelding{nullptr, 0, 0};
}

bool weldMeshCorners(const StlMesh* mesh, uint32_t* ids, uint32_t* vertices, uint32_t* joined,
                     const WeldFollowUp* meanwhile, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    Work work;
    SolidRuns runs;
    uint64_t triangles;
    *vertices = 0;
    if (joined) *joined = 0;
    if (!prepareMesh(mesh, &triangles, &work, &runs, sink)) return false;
    if (triangles == 0) return !meanwhile || meanwhile->run(meanwhile->context, ids, 0);
    uint32_t corners = static_cast<uint32_t>(triangles * 3);
    uint32_t positions;
    if (!weldPositions(mesh, runs, triangles, ids, &work, &positions, keepGoing, sink)) return false;
    NearJob near{&runs, positions, work.groups, keepGoing, sink, nullptr, 0, false};
    if (meanwhile) {
        if (!joinNearThen(ids, corners, &near, triangles >= kNearThreadTriangles, *meanwhile)) return false;
    } else {
        runNearJob(&near);
        if (!near.done) return false;
        if (near.joined) applyGroups(ids, corners, work.groups, positions);
    }
    *vertices = positions - near.joined;
    if (joined) *joined = near.joined;
    return true;
}

bool checkWeldedSurface(const StlMesh* mesh, const uint32_t* ids, uint32_t vertices, uint32_t weldedCorners,
                        SurfaceCheck* result, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    Work work;
    SolidRuns runs;
    uint64_t triangles;
    if (!prepareMesh(mesh, &triangles, &work, &runs, sink)) return false;
    if (triangles == 0) return emptyCheck(result);
    if (!(work.ownMarks = static_cast<uint8_t*>(allocArray(processHeap(), triangles, 1, sink)))) return false;
    // The volume beside the edges, which need it only when they are all even.
    work.volume.mesh = mesh;
    ThreadHandle beside = triangles >= kNearThreadTriangles ? startThread(sumSixVolume, &work.volume) : nullptr;
    SurfaceCheck check{};
    bool done = checkEdges(ids, static_cast<uint32_t>(triangles * 3), vertices, work.ownMarks, &check, &work,
                           keepGoing, sink);
    if (beside) joinThread(beside);
    return done && finishCheck(check, weldedCorners, &work.volume, beside != nullptr, result);
}
