// The repairs see the mesh as the check does: corners welded into vertices
// (weldMeshCorners), sides bucketed under their smaller vertex to find each
// edge's faces. Faces are then walked shell by shell across edges of exactly
// two faces; holes are the loops of open edges, grouped through their vertices.
#include "mesh/mesh_repair.h"

#include <cmath>
#include <cstring>
#include "core/memory.h"
#include "core/sse2.h"
#include "mesh/union_find.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// partner[side] for a side that is not matched with exactly one other.
constexpr uint32_t kOpenSide = 0xFFFFFFFFu;
constexpr uint32_t kManySides = 0xFFFFFFFEu;
constexpr uint32_t kNoSide = 0xFFFFFFFDu;  // a face left out (dropped or without area)
constexpr uint32_t kFilledSide = 0xFFFFFFFCu;  // after closing: an open side of a hole that was closed
constexpr uint32_t kStopCheckEvery = 1u << 16;

constexpr uint8_t kAlive = 1, kTurned = 2, kSeen = 4, kSeenAfterClosing = 8;

bool stopped(const volatile uint8_t* keepGoing) {
    return keepGoing && !*keepGoing;
}

template <typename T>
T* allocate(uint64_t count, const MessageSink* sink) {
    return static_cast<T*>(allocArray(processHeap(), count ? count : 1, sizeof(T), sink));
}

// Every block the repairs hold, freed together however they end.
struct Work {
    uint64_t* firstTriangle = nullptr;  // per solid, and the total
    uint32_t* ids = nullptr;
    uint8_t* faces = nullptr;  // kAlive, kTurned, kSeen
    uint32_t* partner = nullptr;
    uint32_t* bucketEnd = nullptr;
    uint32_t* sides = nullptr;
    uint32_t* perVertex = nullptr;  // two per vertex
    uint32_t* outIds = nullptr;  // when the repaired part has more corners than `partner` holds
    GrowBuffer shells{};  // ClosedShell records
    GrowBuffer added{};   // AddedTriangle records
    ~Work() {
        void* blocks[] = {firstTriangle, ids, faces, partner, bucketEnd, sides, perVertex, outIds, shells.data, added.data};
        for (void* block : blocks) freeBytes(block);
    }
};

struct Mesh {
    const StlMesh* mesh;
    const uint64_t* firstTriangle;
    uint32_t triangles;
    const uint32_t* ids;
};

uint32_t solidOf(const Mesh& m, uint32_t t) {
    uint32_t low = 0, high = m.mesh->solidCount;  // last solid whose first triangle <= t
    while (high - low > 1) {
        uint32_t middle = low + (high - low) / 2;
        if (m.firstTriangle[middle] <= t) low = middle;
        else high = middle;
    }
    while (m.mesh->solids[low].triangleCount == 0) ++low;  // empty solids share their first index
    return low;
}

const StlTriangle& triangleAt(const Mesh& m, uint32_t t) {
    uint32_t s = solidOf(m, t);
    return m.mesh->solids[s].triangles[t - m.firstTriangle[s]];
}

bool withoutArea(const uint32_t* v) {
    return v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
}

uint32_t nextCorner(uint32_t c) {
    return c % 3 == 2 ? c - 2 : c + 1;
}

// Drops (or leaves out of the edges) faces without area.
void dropWithoutArea(const Mesh& m, const RepairChoice& choice, uint8_t* faces, RepairReport* report) {
    uint64_t flats = 0;
    for (uint32_t t = 0; t < m.triangles; ++t) {
        bool flat = withoutArea(m.ids + 3 * t);
        faces[t] = flat ? 0 : kAlive;
        flats += flat;
    }
    report->counts.droppedWithoutArea = choice.dropWithoutArea ? flats : 0;
}

// Drops later copies of a face on the same three vertices.
bool dropDuplicates(const Mesh& m, uint8_t* faces, RepairReport* report, const MessageSink* sink) {
    uint32_t size = 1;
    while (size < 2ull * m.triangles) size <<= 1;
    uint32_t* table = allocate<uint32_t>(size, sink);
    if (!table) return false;
    memset(table, 0xFF, static_cast<size_t>(size) * 4);
    for (uint32_t t = 0; t < m.triangles; ++t) {
        if (!faces[t]) continue;
        uint32_t k[3];
        memcpy(k, m.ids + 3 * t, 12);
        if (k[0] > k[1]) k[0] ^= k[1], k[1] ^= k[0], k[0] ^= k[1];
        if (k[1] > k[2]) k[1] ^= k[2], k[2] ^= k[1], k[1] ^= k[2];
        if (k[0] > k[1]) k[0] ^= k[1], k[1] ^= k[0], k[0] ^= k[1];
        uint64_t h = (k[0] * 0x9E3779B97F4A7C15ull) ^ (k[1] * 0xC2B2AE3D27D4EB4Full) ^ (k[2] * 0x94D049BB133111EBull);
        uint32_t slot = static_cast<uint32_t>(h >> 32) & (size - 1);
        for (;; slot = (slot + 1) & (size - 1)) {
            uint32_t held = table[slot];
            if (held == kNone) {
                table[slot] = t;
                break;
            }
            const uint32_t* v = m.ids + 3 * held;
            bool same = (v[0] == k[0] || v[1] == k[0] || v[2] == k[0]) && (v[0] == k[1] || v[1] == k[1] || v[2] == k[1]) &&
                        (v[0] == k[2] || v[1] == k[2] || v[2] == k[2]);
            if (same) {
                faces[t] = 0;
                ++report->counts.droppedDuplicates;
                break;
            }
        }
    }
    freeBytes(table);
    return true;
}

// Sides ahead in a bucket walk, or faces ahead in a shell's queue, whose
// data are asked for early.
constexpr uint32_t kWalkAhead = 16;

bool allocateSides(uint32_t triangles, uint32_t vertices, Work* work, const MessageSink* sink) {
    uint64_t corners = 3ull * triangles;
    return (work->partner = allocate<uint32_t>(corners, sink)) &&
           (work->bucketEnd = allocate<uint32_t>(vertices + 1ull, sink)) && (work->sides = allocate<uint32_t>(corners, sink)) &&
           (work->perVertex = allocate<uint32_t>(2ull * vertices, sink));
}

// What the matching of the sides found.
struct SideFacts {
    // Copies of a face share each edge; false when no face can have one:
    // every edge has at most two faces, and no two faces of an edge share
    // their third vertex.
    bool mayRepeat;
    bool everyEdgeTwoFaces;  // no open edge, none of more than two faces
    bool anyFlipped;         // two faces of an edge run it the same way
};

// partner[c] for the side from corner c to the next: the one other side of
// its edge, or kOpenSide, kManySides, kNoSide.
bool matchSides(const Mesh& m, uint32_t vertices, const uint8_t* faces, Work* work, SideFacts* facts,
                const volatile uint8_t* keepGoing) {
    const uint32_t* ids = m.ids;
    bool mayRepeat = false, many = false, flipped = false;
    uint64_t unpaired = 0;
    uint32_t* end = work->bucketEnd;
    uint32_t* partner = work->partner;
    memset(end, 0, (vertices + 1ull) * 4);
    for (uint32_t t = 0; t < m.triangles; ++t) {
        const uint32_t* v = ids + 3 * t;
        partner[3 * t] = partner[3 * t + 1] = partner[3 * t + 2] = kNoSide;
        if (!(faces[t] & kAlive)) continue;
        ++end[(v[0] < v[1] ? v[0] : v[1]) + 1];
        ++end[(v[1] < v[2] ? v[1] : v[2]) + 1];
        ++end[(v[2] < v[0] ? v[2] : v[0]) + 1];
    }
    for (uint32_t v = 0; v < vertices; ++v) end[v + 1] += end[v];
    for (uint32_t t = 0; t < m.triangles; ++t) {
        const uint32_t* v = ids + 3 * t;
        if (!(faces[t] & kAlive)) continue;
        work->sides[end[v[0] < v[1] ? v[0] : v[1]]++] = 3 * t;
        work->sides[end[v[1] < v[2] ? v[1] : v[2]]++] = 3 * t + 1;
        work->sides[end[v[2] < v[0] ? v[2] : v[0]]++] = 3 * t + 2;
    }
    // Filling moved each bucket's start to its end: bucket v is [end(v-1), end(v)).
    // Per larger vertex: the bucket it was last met in, and its first side there.
    uint32_t* met = work->perVertex;
    memset(met, 0xFF, static_cast<size_t>(vertices) * 8);
    uint32_t begin = 0, sideCount = vertices ? end[vertices - 1] : 0;
    for (uint32_t v = 0; v < vertices; begin = end[v++]) {
        if (v % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        for (uint32_t p = begin; p < end[v]; ++p) {
            // Sides further on: their corners' vertices, then the larger vertex's entry.
            if (p + kWalkAhead < sideCount) prefetchLine(ids + work->sides[p + kWalkAhead]);
            if (p + kWalkAhead / 2 < sideCount) {
                uint32_t later = work->sides[p + kWalkAhead / 2];
                uint32_t a = ids[later], b = ids[nextCorner(later)];
                prefetchLine(met + 2 * (a < b ? b : a));
            }
            uint32_t s = work->sides[p];
            uint32_t a = ids[s], b = ids[nextCorner(s)];
            uint32_t w = a < b ? b : a;
            if (met[2 * w] != v) {
                met[2 * w] = v;
                met[2 * w + 1] = s;
                partner[s] = kOpenSide;
                ++unpaired;
                continue;
            }
            uint32_t f = met[2 * w + 1];
            if (partner[f] == kOpenSide) {
                partner[f] = s;
                partner[s] = f;
                --unpaired;
                mayRepeat = mayRepeat || ids[nextCorner(nextCorner(f))] == ids[nextCorner(nextCorner(s))];
                flipped = flipped || ids[f] == ids[s];
            } else {
                if (partner[f] != kManySides) partner[partner[f]] = kManySides;
                partner[f] = partner[s] = kManySides;
                mayRepeat = many = true;
            }
        }
    }
    *facts = SideFacts{mayRepeat, unpaired == 0 && !many, flipped};
    return true;
}

// The faces without area and the sides matched, while the welding joins
// near positions: on the positions' ids first, on the vertices' again
// when some joined.
struct SideMatching {
    const Mesh* m;
    const RepairChoice* choice;
    uint8_t* faces;
    Work* work;
    RepairReport* found;
    SideFacts facts;
    const volatile uint8_t* keepGoing;
    const MessageSink* sink;
};

bool matchWhileWelding(void* context, const uint32_t* ids, uint32_t vertices) {
    SideMatching* job = static_cast<SideMatching*>(context);
    (void)ids;  // job->m->ids, being welded
    // The first run has the most vertices.
    if (!job->work->partner && !allocateSides(job->m->triangles, vertices, job->work, job->sink)) return false;
    dropWithoutArea(*job->m, *job->choice, job->faces, job->found);
    return matchSides(*job->m, vertices, job->faces, job->work, &job->facts, job->keepGoing);
}

// A shell all of whose edges have two faces: its faces in the queue, its
// volume with the turns found so far, its box (found only where needed).
struct ClosedShell {
    uint32_t start, count;
    double sixVolume;
    float low[3], high[3];
};

// Six times the signed volume about `origin` of the face as it will be written.
double sixVolumeOf(const StlTriangle& tri, bool turned, const float* origin) {
    double p[3][3];
    for (int c = 0; c < 3; ++c)
        for (int d = 0; d < 3; ++d) p[c][d] = static_cast<double>(tri.vertices[c][d]) - origin[d];
    double v = p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
               p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
    return turned ? -v : v;
}

void setTurned(uint8_t* faces, uint32_t t, bool turned) {
    faces[t] = static_cast<uint8_t>(turned ? faces[t] | kTurned : faces[t] & ~kTurned);
}

// The box of the shell's faces.
void findBox(const Mesh& m, const uint32_t* queue, ClosedShell* shell) {
    for (int d = 0; d < 3; ++d) shell->low[d] = INFINITY, shell->high[d] = -INFINITY;
    for (uint32_t i = shell->start; i < shell->start + shell->count; ++i) {
        const StlTriangle& tri = triangleAt(m, queue[i]);
        for (int c = 0; c < 3; ++c)
            for (int d = 0; d < 3; ++d) {
                float x = tri.vertices[c][d];
                if (x < shell->low[d]) shell->low[d] = x;
                if (x > shell->high[d]) shell->high[d] = x;
            }
    }
}

// One shell from `start`: the faces it reaches across edges of two faces
// turned to agree with `start` (or, where fewer, the other way); false for
// a shell that cannot agree (a Möbius-like surface), left as it was. The
// volume about the start's first corner comes with the walk: a turn of the
// whole shell afterwards negates each term, so the sum too.
bool walkShell(const Mesh& m, uint32_t start, uint8_t* faces, const uint32_t* partner, uint32_t* queue,
               uint32_t* tail, bool* closed, ClosedShell* shell) {
    uint32_t head = *tail;
    uint32_t from = head;
    faces[start] |= kSeen;
    queue[(*tail)++] = start;
    bool agrees = true;
    *closed = true;
    uint32_t turned = 0;
    *shell = ClosedShell{from, 0, 0, {}, {}};
    float origin[3];
    memcpy(origin, triangleAt(m, start).vertices[0], 12);
    while (head < *tail) {
        // The queue runs along a front across the file: what faces further
        // on will need is asked for early, their neighbours' once their
        // partners are in.
        if (head + kWalkAhead < *tail) {
            uint32_t later = queue[head + kWalkAhead];
            prefetchLine(partner + 3 * later);
            prefetchLine(m.ids + 3 * later);
            prefetchLine(&triangleAt(m, later));
        }
        if (head + kWalkAhead / 2 < *tail) {
            const uint32_t* sides = partner + 3 * queue[head + kWalkAhead / 2];
            for (int k = 0; k < 3; ++k)
                if (sides[k] < kNoSide) prefetchLine(faces + sides[k] / 3), prefetchLine(m.ids + sides[k]);
        }
        uint32_t u = queue[head++];
        bool uTurned = faces[u] & kTurned;
        turned += uTurned;
        shell->sixVolume += sixVolumeOf(triangleAt(m, u), uTurned, origin);
        for (uint32_t c = 3 * u; c < 3 * u + 3; ++c) {
            uint32_t p = partner[c];
            if (p >= kNoSide) {
                *closed = false;
                continue;
            }
            uint32_t n = p / 3;
            // Two sides of one edge that start at one vertex run it the same way.
            bool want = uTurned != (m.ids[c] == m.ids[p]);
            if (!(faces[n] & kSeen)) {
                faces[n] |= kSeen;
                setTurned(faces, n, want);
                queue[(*tail)++] = n;
            } else if (((faces[n] & kTurned) != 0) != want) {
                agrees = false;
            }
        }
    }
    uint32_t count = *tail - from;
    bool invert = 2ull * turned > count;
    shell->count = count;
    if (invert) shell->sixVolume = -shell->sixVolume;
    for (uint32_t i = from; i < *tail; ++i) {
        uint32_t t = queue[i];
        if (!agrees) setTurned(faces, t, false);
        else if (invert) faces[t] ^= kTurned;
    }
    if (!agrees) *closed = false;
    return agrees;
}

bool boxInside(const ClosedShell& inner, const ClosedShell& outer) {
    for (int d = 0; d < 3; ++d)
        if (inner.low[d] < outer.low[d] || inner.high[d] > outer.high[d]) return false;
    return true;
}

// Beyond this many pairs of inside-out and outward shells, a shell inside
// out is compared with the largest outward one only.
constexpr uint64_t kMostShellPairs = 10000000;

// The closed shells that turnFaces found, to tell a hollow's wall from a
// shell inside out.
struct ShellList {
    const ClosedShell* shells;
    uint64_t count;
    const ClosedShell* largest;  // outward
    bool everyPair;
};

const ClosedShell* largestOutward(const ClosedShell* shells, uint64_t count) {
    const ClosedShell* largest = nullptr;
    for (uint64_t i = 0; i < count; ++i)
        if (shells[i].sixVolume > 0 && (!largest || shells[i].sixVolume > largest->sixVolume)) largest = &shells[i];
    return largest;
}

bool wallOfHollow(const ClosedShell& shell, const ShellList& list) {
    for (uint64_t j = 0; j < list.count; ++j) {
        const ClosedShell& other = list.shells[j];
        if (other.sixVolume > 0 && (list.everyPair || &other == list.largest) && -shell.sixVolume < other.sixVolume &&
            boxInside(shell, other))
            return true;
    }
    return false;
}

// Turns faces to agree within each shell, then each closed shell whose
// volume is negative, unless its box lies within that of an outward shell
// (the wall of a hollow, which faces inwards as it should).
bool turnFaces(const Mesh& m, uint8_t* faces, Work* work, RepairReport* report, const volatile uint8_t* keepGoing,
               const MessageSink* sink) {
    uint32_t* queue = work->sides;  // free once the sides are matched
    uint32_t tail = 0;
    bool open = false;  // a shell that agrees, which the closing of holes may close
    for (uint32_t t = 0; t < m.triangles; ++t) {
        if ((faces[t] & (kAlive | kSeen)) != kAlive) continue;
        if (t % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        bool closed;
        ClosedShell shell;
        bool agrees = walkShell(m, t, faces, work->partner, queue, &tail, &closed, &shell);
        open = open || (agrees && !closed);
        if (!closed) continue;
        GrowBuffer& shells = work->shells;
        if (shells.used + sizeof shell > shells.capacity && !growBuffer(&shells, shells.used + sizeof shell, processHeap(), sink))
            return false;
        memcpy(static_cast<uint8_t*>(shells.data) + shells.used, &shell, sizeof shell);
        shells.used += sizeof shell;
    }
    ClosedShell* shells = static_cast<ClosedShell*>(work->shells.data);
    uint64_t count = work->shells.used / sizeof(ClosedShell), outward = 0, inward = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (shells[i].sixVolume >= 0) ++outward;
        else ++inward;
    }
    ShellList list{shells, count, largestOutward(shells, count), outward * inward <= kMostShellPairs};
    // Boxes tell a hollow's wall from a shell inside out, when there are both
    // ways or an open shell may be closed inside out; the queue is gone then.
    for (uint64_t i = 0; i < count && (inward || open) && outward; ++i) findBox(m, queue, &shells[i]);
    for (uint64_t i = 0; i < count; ++i) {
        const ClosedShell& shell = shells[i];
        if (shell.sixVolume >= 0 || wallOfHollow(shell, list)) continue;
        for (uint32_t q = shell.start; q < shell.start + shell.count; ++q) faces[queue[q]] ^= kTurned;
    }
    for (uint32_t t = 0; t < m.triangles; ++t) report->counts.turnedFaces += (faces[t] & kTurned) != 0;
    return true;
}

// Where every edge has two faces that run it opposite ways, each shell is
// closed and its faces agree as they are: the walk would turn only shells
// inside out. A shell's volume summed in file order, when larger than what
// rounding can move a sum of its terms in any order, has the sign of the
// walk's sum; *outward is true when every shell's is so surely positive
// and nothing needs turning. Otherwise the walk decides.
struct ShellSum {
    double sixVolume, magnitude;  // of the terms, and of their sizes
    float origin[3];
    uint32_t faces;
};

bool shellsSurelyOutward(const Mesh& m, const uint8_t* faces, Work* work, bool* outward,
                         const volatile uint8_t* keepGoing, const MessageSink* sink) {
    *outward = false;
    uint32_t* parent = work->sides;  // free once the sides are matched
    uint32_t* shellOf = work->sides + m.triangles;  // at a shell's first face
    const uint32_t* partner = work->partner;
    for (uint32_t t = 0; t < m.triangles; ++t) parent[t] = t;
    for (uint32_t t = 0; t < m.triangles; ++t) {
        if (t % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        if (!(faces[t] & kAlive)) continue;
        for (uint32_t c = 3 * t; c < 3 * t + 3; ++c)
            if (partner[c] > c) join(parent, t, partner[c] / 3);
    }
    // A shell's root is its first face, where the walk starts and takes its origin.
    GrowBuffer& sums = work->shells;
    uint32_t shells = 0;
    for (uint32_t t = 0; t < m.triangles; ++t) {
        if (t % kStopCheckEvery == 0 && stopped(keepGoing)) return false;
        if (!(faces[t] & kAlive)) continue;
        uint32_t root = findRoot(parent, t);
        const StlTriangle& tri = triangleAt(m, t);
        if (root == t) {
            uint64_t needed = sums.used + sizeof(ShellSum);
            if (needed > sums.capacity && !growBuffer(&sums, needed, processHeap(), sink)) return false;
            ShellSum* sum = static_cast<ShellSum*>(sums.data) + shells;
            *sum = ShellSum{0, 0, {}, 0};
            memcpy(sum->origin, tri.vertices[0], 12);
            sums.used = needed;
            shellOf[t] = shells++;
        }
        ShellSum& sum = static_cast<ShellSum*>(sums.data)[shellOf[root]];
        double v = sixVolumeOf(tri, false, sum.origin);
        sum.sixVolume += v;
        sum.magnitude += fabs(v);
        ++sum.faces;
    }
    // Any order sums n terms to within about (n - 1) · 2^-53 of their
    // magnitude from the exact sum: four times that bounds both sums' distance.
    bool sure = true;
    const ShellSum* sum = static_cast<const ShellSum*>(sums.data);
    for (uint32_t i = 0; i < shells && sure; ++i) sure = sum[i].sixVolume > 0x1p-50 * sum[i].faces * sum[i].magnitude;
    sums.used = 0;  // the walk's, when it runs
    *outward = sure;
    return true;
}

// A triangle closing a hole, with the solid it joins, its vertices and a
// face beside the hole.
struct AddedTriangle {
    StlTriangle triangle;
    uint32_t solid;
    uint32_t vertices[3];
    uint32_t face;
};

// The loop edge of an open side runs against the side as it will be written.
uint32_t loopFrom(const uint8_t* faces, uint32_t side) {
    return (faces[side / 3] & kTurned) ? side : nextCorner(side);
}
uint32_t loopTo(const uint8_t* faces, uint32_t side) {
    return (faces[side / 3] & kTurned) ? nextCorner(side) : side;
}

struct Point2 {
    double x, y;
};

double cross(const Point2& a, const Point2& b, const Point2& c) {
    return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
}

// Whether segments ab and cd meet, touching included.
bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    auto side = [](const Point2& p, const Point2& q, const Point2& r) {
        double v = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
        return v > 0 ? 1 : v < 0 ? -1 : 0;
    };
    int d1 = side(a, b, c), d2 = side(a, b, d), d3 = side(c, d, a), d4 = side(c, d, b);
    if (d1 * d2 < 0 && d3 * d4 < 0) return true;
    auto within = [](const Point2& p, const Point2& q, const Point2& r) {
        return r.x >= (p.x < q.x ? p.x : q.x) && r.x <= (p.x < q.x ? q.x : p.x) && r.y >= (p.y < q.y ? p.y : q.y) &&
               r.y <= (p.y < q.y ? q.y : p.y);
    };
    return (d1 == 0 && within(a, b, c)) || (d2 == 0 && within(a, b, d)) || (d3 == 0 && within(c, d, a)) ||
           (d4 == 0 && within(c, d, b));
}

bool insideTriangle(const Point2& p, const Point2& a, const Point2& b, const Point2& c) {
    return cross(a, b, p) >= 0 && cross(b, c, p) >= 0 && cross(c, a, p) >= 0;
}

// One hole's loop: the corners its vertices are copied from, in loop order.
struct HoleLoop {
    uint32_t corners[kMostHoleEdges];
    uint32_t count;
    Point2 flat[kMostHoleEdges];
    uint32_t next[kMostHoleEdges], previous[kMostHoleEdges];
    uint32_t triangles[kMostHoleEdges][3];  // indices into the loop
    uint32_t triangleCount;
};

// The loop laid into its best-fit plane (Newell's normal), which it runs
// counter-clockwise in; false when it has no area there or crosses itself.
bool flattenLoop(const Mesh& m, HoleLoop* loop) {
    uint32_t n = loop->count;
    double points[kMostHoleEdges][3];
    double centre[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; ++i) {
        float p[3];
        memcpy(p, triangleAt(m, loop->corners[i] / 3).vertices[loop->corners[i] % 3], 12);
        for (int d = 0; d < 3; ++d) centre[d] += (points[i][d] = p[d]) / n;
    }
    double normal[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; ++i) {
        const double* a = points[i];
        const double* b = points[i + 1 == n ? 0 : i + 1];
        normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
        normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
        normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    double length = sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 0) || !std::isfinite(length)) return false;
    for (double& x : normal) x /= length;
    // u any direction across the normal, v = normal x u.
    int smallest = fabs(normal[0]) <= fabs(normal[1]) && fabs(normal[0]) <= fabs(normal[2]) ? 0
                   : fabs(normal[1]) <= fabs(normal[2])                                     ? 1
                                                                                             : 2;
    double axis[3] = {0, 0, 0};
    axis[smallest] = 1;
    double u[3] = {axis[1] * normal[2] - axis[2] * normal[1], axis[2] * normal[0] - axis[0] * normal[2],
                   axis[0] * normal[1] - axis[1] * normal[0]};
    double uLength = sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    for (double& x : u) x /= uLength;
    double v[3] = {normal[1] * u[2] - normal[2] * u[1], normal[2] * u[0] - normal[0] * u[2],
                   normal[0] * u[1] - normal[1] * u[0]};
    for (uint32_t i = 0; i < n; ++i) {
        double d[3] = {points[i][0] - centre[0], points[i][1] - centre[1], points[i][2] - centre[2]};
        loop->flat[i] = {d[0] * u[0] + d[1] * u[1] + d[2] * u[2], d[0] * v[0] + d[1] * v[1] + d[2] * v[2]};
    }
    double area = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const Point2& a = loop->flat[i];
        const Point2& b = loop->flat[i + 1 == n ? 0 : i + 1];
        area += a.x * b.y - b.x * a.y;
    }
    if (!(area > 0)) return false;
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = i + 2; j < n; ++j) {
            if (i == 0 && j == n - 1) continue;  // neighbours through the loop's start
            if (segmentsMeet(loop->flat[i], loop->flat[i + 1], loop->flat[j], loop->flat[j + 1 == n ? 0 : j + 1]))
                return false;
        }
    return true;
}

// Ear clipping, or a fan where every corner is convex; false when no ear is left.
bool triangulateLoop(HoleLoop* loop) {
    uint32_t n = loop->count;
    loop->triangleCount = 0;
    bool convex = true;
    for (uint32_t i = 0; i < n && convex; ++i)
        convex = cross(loop->flat[(i + n - 1) % n], loop->flat[i], loop->flat[(i + 1) % n]) > 0;
    if (convex) {
        for (uint32_t i = 1; i + 1 < n; ++i) {
            uint32_t* t = loop->triangles[loop->triangleCount++];
            t[0] = 0, t[1] = i, t[2] = i + 1;
        }
        return true;
    }
    for (uint32_t i = 0; i < n; ++i) loop->next[i] = (i + 1) % n, loop->previous[i] = (i + n - 1) % n;
    uint32_t left = n, at = 0, tried = 0;
    while (left > 3) {
        if (tried++ > left) return false;
        uint32_t a = loop->previous[at], c = loop->next[at];
        const Point2 &pa = loop->flat[a], &pb = loop->flat[at], &pc = loop->flat[c];
        bool ear = cross(pa, pb, pc) > 0;
        for (uint32_t q = loop->next[c]; ear && q != a; q = loop->next[q]) ear = !insideTriangle(loop->flat[q], pa, pb, pc);
        if (!ear) {
            at = c;
            continue;
        }
        uint32_t* t = loop->triangles[loop->triangleCount++];
        t[0] = a, t[1] = at, t[2] = c;
        loop->next[a] = c;
        loop->previous[c] = a;
        --left;
        at = c;
        tried = 0;
    }
    uint32_t a = loop->previous[at], c = loop->next[at];
    if (!(cross(loop->flat[a], loop->flat[at], loop->flat[c]) > 0)) return false;
    uint32_t* t = loop->triangles[loop->triangleCount++];
    t[0] = a, t[1] = at, t[2] = c;
    return true;
}

bool addTriangles(const Mesh& m, const HoleLoop& loop, uint32_t face, GrowBuffer* added, const MessageSink* sink) {
    const StlTriangle& neighbour = triangleAt(m, face);
    uint32_t solid = solidOf(m, face);
    uint64_t needed = added->used + uint64_t{loop.triangleCount} * sizeof(AddedTriangle);
    if (needed > added->capacity && !growBuffer(added, needed, processHeap(), sink)) return false;
    AddedTriangle* out = reinterpret_cast<AddedTriangle*>(static_cast<uint8_t*>(added->data) + added->used);
    for (uint32_t i = 0; i < loop.triangleCount; ++i) {
        for (int k = 0; k < 3; ++k) {
            uint32_t corner = loop.corners[loop.triangles[i][k]];
            memcpy(out[i].triangle.vertices[k], triangleAt(m, corner / 3).vertices[corner % 3], 12);
            out[i].vertices[k] = m.ids[corner];
        }
        out[i].triangle.attribute = neighbour.attribute;
        out[i].solid = solid;
        out[i].face = face;
    }
    added->used = needed;
    return true;
}

// Holes are the open edges joined through their vertices, as the check
// counts them; one whose vertices each start and end one open edge is a
// single loop, closed when it has at most kMostHoleEdges edges. The sides
// of a hole closed become kFilledSide.
bool closeHoles(const Mesh& m, uint32_t vertices, const uint8_t* faces, Work* work, RepairReport* report,
                const MessageSink* sink) {
    uint32_t* partner = work->partner;
    uint32_t corners = 3 * m.triangles;
    uint32_t* degree = work->perVertex;  // out-going open edges in bits 0-15, in-coming above
    uint32_t* leaving = work->perVertex + vertices;  // per vertex: an open side whose loop edge starts there
    uint32_t* parent = work->sides;  // free once the sides are matched; vertices are fewer than corners
    memset(degree, 0, static_cast<size_t>(vertices) * 4);
    memset(parent, 0xFF, static_cast<size_t>(vertices) * 4);
    for (uint32_t c = 0; c < corners; ++c) {
        if (partner[c] != kOpenSide) continue;
        uint32_t a = m.ids[loopFrom(faces, c)], b = m.ids[loopTo(faces, c)];
        if ((degree[a] & 0xFFFF) < 0xFFFF) ++degree[a];
        if ((degree[b] >> 16) < 0xFFFF) degree[b] += 1u << 16;
        leaving[a] = c;
        if (parent[a] == kNone) parent[a] = a;
        if (parent[b] == kNone) parent[b] = b;
        join(parent, a, b);
    }
    // Per root: its edges in bits 0-30, bit 31 when it is no single loop.
    uint32_t* hole = work->bucketEnd;
    memset(hole, 0, static_cast<size_t>(vertices) * 4);
    for (uint32_t v = 0; v < vertices; ++v) {
        if (parent[v] == kNone) continue;
        uint32_t root = findRoot(parent, v);
        if (degree[v] != (1u | 1u << 16)) hole[root] |= 0x80000000u;
        if ((hole[root] & 0x7FFFFFFF) < 0x7FFFFFFF) hole[root] += degree[v] & 0xFFFF;
    }
    HoleLoop* loop = static_cast<HoleLoop*>(allocArray(processHeap(), 1, sizeof(HoleLoop), sink));
    if (!loop) return false;
    bool done = true;
    for (uint32_t v = 0; v < vertices && done; ++v) {
        if (parent[v] != v) continue;
        uint32_t edges = hole[v] & 0x7FFFFFFF;
        bool closed = false;
        if (!(hole[v] & 0x80000000u) && edges >= 3 && edges <= kMostHoleEdges) {
            loop->count = 0;
            uint32_t side = leaving[v];
            for (uint32_t i = 0; i < edges; ++i) {
                loop->corners[loop->count++] = loopFrom(faces, side);
                side = leaving[m.ids[loopTo(faces, side)]];
            }
            closed = flattenLoop(m, loop) && triangulateLoop(loop);
            if (closed) done = addTriangles(m, *loop, leaving[v] / 3, &work->added, sink);
            for (uint32_t i = 0, side = leaving[v]; closed && i < edges; ++i) {
                uint32_t next = leaving[m.ids[loopTo(faces, side)]];
                partner[side] = kFilledSide;
                side = next;
            }
        }
        if (closed) {
            ++report->counts.closedHoles;
            report->counts.closedHoleEdges += edges;
        }
    }
    freeBytes(loop);
    return done;
}

// A shell found again from a face beside a closed hole: closed when every
// open side of it was in a hole closed and its faces agree.
struct FilledShell {
    ClosedShell shell;
    bool closed, turn;
};

// The shell of `start` across matched sides, into the queue from *tail, its
// volume with the turns so far; shellOf[face] gets `index`.
FilledShell walkFilledShell(const Mesh& m, uint32_t start, uint8_t* faces, const uint32_t* partner, uint32_t* queue,
                            uint32_t* tail, uint32_t* shellOf, uint32_t index) {
    FilledShell found{{*tail, 0, 0, {}, {}}, true, false};
    float origin[3];
    memcpy(origin, triangleAt(m, start).vertices[0], 12);
    faces[start] |= kSeenAfterClosing;
    queue[(*tail)++] = start;
    for (uint32_t head = found.shell.start; head < *tail; ++head) {
        uint32_t u = queue[head];
        bool uTurned = faces[u] & kTurned;
        shellOf[u] = index;
        found.shell.sixVolume += sixVolumeOf(triangleAt(m, u), uTurned, origin);
        for (uint32_t c = 3 * u; c < 3 * u + 3; ++c) {
            uint32_t p = partner[c];
            if (p >= kFilledSide) {
                found.closed = found.closed && p == kFilledSide;
                continue;
            }
            uint32_t n = p / 3;
            found.closed = found.closed && (((faces[n] & kTurned) != 0) == (uTurned != (m.ids[c] == m.ids[p])));
            if (faces[n] & kSeenAfterClosing) continue;
            faces[n] |= kSeenAfterClosing;
            queue[(*tail)++] = n;
        }
    }
    found.shell.count = *tail - found.shell.start;
    return found;
}

// The open shells that closed holes made closed are turned outwards as
// closed shells are (a hollow's wall is not), the added triangles with
// them. Only the shells beside a closed hole are walked.
bool turnShellsClosedByFilling(const Mesh& m, uint8_t* faces, Work* work, RepairReport* report,
                               const MessageSink* sink) {
    AddedTriangle* added = static_cast<AddedTriangle*>(work->added.data);
    uint64_t addedCount = work->added.used / sizeof(AddedTriangle);
    uint32_t* queue = work->sides;  // free again once the holes are closed
    uint32_t* shellOf = work->sides + m.triangles;  // per face walked
    GrowBuffer found{};
    FilledShell* shells = nullptr;
    uint32_t tail = 0, count = 0;
    for (uint64_t e = 0; e < addedCount; ++e) {
        if (faces[added[e].face] & kSeenAfterClosing) continue;
        uint64_t needed = found.used + sizeof(FilledShell);
        if (needed > found.capacity && !growBuffer(&found, needed, processHeap(), sink)) {
            freeBytes(found.data);
            return false;
        }
        shells = static_cast<FilledShell*>(found.data);
        shells[count] = walkFilledShell(m, added[e].face, faces, work->partner, queue, &tail, shellOf, count);
        ++count;
        found.used = needed;
    }
    for (uint64_t e = 0; e < addedCount; ++e) {
        FilledShell& shell = shells[shellOf[added[e].face]];
        float origin[3];  // as walkFilledShell took it
        memcpy(origin, triangleAt(m, queue[shell.shell.start]).vertices[0], 12);
        shell.shell.sixVolume += sixVolumeOf(added[e].triangle, false, origin);
    }
    const ClosedShell* closedOnes = static_cast<const ClosedShell*>(work->shells.data);
    uint64_t closedCount = work->shells.used / sizeof(ClosedShell);
    const ClosedShell* largest = largestOutward(closedOnes, closedCount);
    ShellList list{closedOnes, closedCount, largest, uint64_t{count} * closedCount <= kMostShellPairs};
    for (uint32_t i = 0; i < count; ++i) {
        FilledShell& shell = shells[i];
        shell.turn = shell.closed && shell.shell.sixVolume < 0;
        if (shell.turn && largest) {
            findBox(m, queue, &shell.shell);
            shell.turn = !wallOfHollow(shell.shell, list);
        }
        for (uint32_t q = shell.shell.start; shell.turn && q < shell.shell.start + shell.shell.count; ++q) {
            uint8_t& face = faces[queue[q]];
            face ^= kTurned;
            if (face & kTurned) ++report->counts.turnedFaces;
            else --report->counts.turnedFaces;
        }
    }
    for (uint64_t e = 0; e < addedCount; ++e) {
        if (!shells[shellOf[added[e].face]].turn) continue;
        AddedTriangle& a = added[e];
        float corner[3];
        memcpy(corner, a.triangle.vertices[1], 12);
        memcpy(a.triangle.vertices[1], a.triangle.vertices[2], 12);
        memcpy(a.triangle.vertices[2], corner, 12);
        uint32_t vertex = a.vertices[1];
        a.vertices[1] = a.vertices[2];
        a.vertices[2] = vertex;
    }
    freeBytes(found.data);
    return true;
}

bool keptFace(const Mesh& m, const RepairChoice& choice, const uint8_t* faces, uint32_t t) {
    return (faces[t] & kAlive) || (!faces[t] && !choice.dropWithoutArea && withoutArea(m.ids + 3 * t));
}

// The repaired solids: the faces kept, turned where needed, then the added
// ones; their corners' vertex ids into `ids`. With `share`, a solid that
// keeps every face as it was keeps the original's triangles.
bool buildOutput(const Mesh& m, const RepairChoice& choice, const uint8_t* faces, const GrowBuffer& added, bool share,
                 StlMesh* out, uint32_t* ids, const MessageSink* sink) {
    const StlMesh* mesh = m.mesh;
    const AddedTriangle* extra = static_cast<const AddedTriangle*>(added.data);
    uint64_t extraCount = added.used / sizeof(AddedTriangle);
    out->source = nullptr;
    out->solidCount = 0;
    if (!(out->solids = allocate<StlSolid>(mesh->solidCount, sink))) return false;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        StlSolid solid = mesh->solids[s];
        const uint32_t first = static_cast<uint32_t>(m.firstTriangle[s]);
        uint64_t count = 0;
        bool same = true;
        for (uint32_t t = first; t < first + solid.triangleCount; ++t) {
            bool kept = keptFace(m, choice, faces, t);
            count += kept;
            same = same && kept && !(faces[t] & kTurned);
        }
        for (uint64_t e = 0; e < extraCount; ++e) count += extra[e].solid == s;
        if (count > 0xFFFFFFFFu) {
            reportCode(sink, kOutOfMemory);
            return false;
        }
        same = same && count == solid.triangleCount;
        if (same) {
            memcpy(ids, m.ids + 3 * first, static_cast<size_t>(count) * 12);
            ids += 3 * count;
        }
        if (same && share) {
            out->solids[out->solidCount++] = solid;
            continue;
        }
        solid.triangleCount = static_cast<uint32_t>(count);
        solid.triangles = count ? allocate<StlTriangle>(count, sink) : nullptr;
        out->solids[out->solidCount++] = solid;
        if (count && !solid.triangles) return false;
        const StlTriangle* from = mesh->solids[s].triangles;
        if (same) {
            if (count) memcpy(solid.triangles, from, static_cast<size_t>(count) * sizeof(StlTriangle));
            continue;
        }
        StlTriangle* to = solid.triangles;
        for (uint32_t t = first; t < first + mesh->solids[s].triangleCount; ++t) {
            if (!keptFace(m, choice, faces, t)) continue;
            *to = from[t - first];
            const uint32_t* v = m.ids + 3 * t;
            bool turned = faces[t] & kTurned;
            if (turned) {
                memcpy(to->vertices[1], from[t - first].vertices[2], 12);
                memcpy(to->vertices[2], from[t - first].vertices[1], 12);
            }
            *ids++ = v[0];
            *ids++ = v[turned ? 2 : 1];
            *ids++ = v[turned ? 1 : 2];
            ++to;
        }
        for (uint64_t e = 0; e < extraCount; ++e) {
            if (extra[e].solid != s) continue;
            *to++ = extra[e].triangle;
            for (uint32_t vertex : extra[e].vertices) *ids++ = vertex;
        }
    }
    return true;
}

// The vertices numbered anew in order of first use, as the check numbers
// them, so that its results are the same to the bit; the count of those used.
bool numberInOrderOfUse(uint32_t* ids, uint64_t corners, uint32_t vertices, uint32_t* used, const MessageSink* sink) {
    uint32_t* number = allocate<uint32_t>(vertices, sink);
    if (!number) return false;
    memset(number, 0xFF, static_cast<size_t>(vertices) * 4);
    uint32_t next = 0;
    for (uint64_t c = 0; c < corners; ++c) {
        uint32_t& n = number[ids[c]];
        if (n == kNone) n = next++;
        ids[c] = n;
    }
    freeBytes(number);
    *used = next;
    return true;
}

void addCheck(SurfaceCheck* sum, const SurfaceCheck& check) {
    sum->shells += check.shells;
    sum->holes += check.holes;
    sum->openEdges += check.openEdges;
    sum->nonManifoldEdges += check.nonManifoldEdges;
    sum->flippedEdges += check.flippedEdges;
    sum->degenerateTriangles += check.degenerateTriangles;
    sum->weldedCorners += check.weldedCorners;
    sum->flippedFaces += check.flippedFaces;
    sum->unevenEdges += check.unevenEdges;
    sum->closed = sum->openEdges == 0 && sum->nonManifoldEdges == 0;
    sum->insideOut = sum->insideOut || check.insideOut;
}

template <typename T>
T* take(T** slot) {
    T* block = *slot;
    *slot = nullptr;
    return block;
}

}  // namespace

// The check of the part as it came, on a thread of its own beside the
// repairs, on their welding (its ids, which it owns, are the check's own:
// numbered in order of first use).
struct EarlyCheck {
    const StlMesh* mesh;
    uint32_t* ids;
    uint32_t vertices, joined;
    const volatile uint8_t* keepGoing;
    ThreadHandle thread;
    SurfaceCheck result;
    bool done;
};

namespace {

void runEarlyCheck(void* context) {
    EarlyCheck* early = static_cast<EarlyCheck*>(context);
    early->done = checkWeldedSurface(early->mesh, early->ids, early->vertices, early->joined, &early->result,
                                     early->keepGoing, nullptr);
}

// Meshes from which on the check may start early, on a thread of its own.
constexpr uint64_t kEarlyCheckTriangles = 1u << 16;

// Starts the early check on the repairs' welding, which it then owns (m.ids
// stays valid until the check is freed); without memory or a thread, none.
void startEarlyCheck(const StlMesh* mesh, Work* work, uint32_t vertices, uint32_t joined,
                     const volatile uint8_t* keepGoing, RepairedWelding* welding) {
    EarlyCheck* early = static_cast<EarlyCheck*>(allocArray(processHeap(), 1, sizeof(EarlyCheck), nullptr));
    if (!early) return;
    *early = EarlyCheck{mesh, work->ids, vertices, joined, keepGoing, nullptr, {}, false};
    early->thread = startThread(runEarlyCheck, early);
    if (!early->thread) {
        freeBytes(early);
        return;
    }
    work->ids = nullptr;
    welding->early = early;
}

// Waits for the early check and frees it; true with its result when it
// stands for the check of the repaired part.
bool finishEarlyCheck(RepairedWelding* welding, SurfaceCheck* result) {
    EarlyCheck* early = welding->early;
    if (!early) return false;
    joinThread(early->thread);
    bool stands = early->done && welding->unchanged;
    if (stands) *result = early->result;
    freeBytes(early->ids);
    freeBytes(early);
    welding->early = nullptr;
    return stands;
}

bool repairInto(const StlMesh* mesh, const RepairChoice& choice, const CheckedBefore* before, StlMesh* out,
                RepairReport* report, Work* work, RepairedWelding* welding, bool share, const volatile uint8_t* keepGoing,
                const MessageSink* sink) {
    uint64_t triangles = 0;
    if (!(work->firstTriangle = allocate<uint64_t>(mesh->solidCount + 1ull, sink))) return false;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        work->firstTriangle[s] = triangles;
        triangles += mesh->solids[s].triangleCount;
    }
    work->firstTriangle[mesh->solidCount] = triangles;
    if (triangles > 0x7FFFFFFFu / 3) {
        reportCode(sink, kOutOfMemory);
        return false;
    }
    uint32_t vertices = 0, joined = 0;
    Mesh m{mesh, work->firstTriangle, static_cast<uint32_t>(triangles), nullptr};
    if (!before && !(work->ids = allocate<uint32_t>(3 * triangles, sink))) return false;
    if (!(work->faces = allocate<uint8_t>(triangles, sink))) return false;
    m.ids = before ? before->welding->ids : work->ids;
    uint8_t* faces = work->faces;
    RepairReport found{};
    SideMatching matching{&m, &choice, faces, work, &found, {}, keepGoing, sink};
    WeldFollowUp meanwhile{matchWhileWelding, &matching};
    if (before) {
        vertices = before->welding->vertices;
        joined = before->welding->joined;
        if (!matchWhileWelding(&matching, m.ids, vertices)) return false;
    } else if (!weldMeshCorners(mesh, work->ids, &vertices, &joined, &meanwhile, keepGoing, sink)) {
        return false;
    }
    if (choice.dropDuplicates && matching.facts.mayRepeat) {
        if (!dropDuplicates(m, faces, &found, sink)) return false;
        if (found.counts.droppedDuplicates && !matchSides(m, vertices, faces, work, &matching.facts, keepGoing)) return false;
    }
    // Closed, turned one way and nothing dropped: unless a shell is inside
    // out the repairs change nothing, and the check of the part as it is
    // (where not done before) stands for the check afterwards.
    bool agreeing = matching.facts.everyEdgeTwoFaces && !matching.facts.anyFlipped;
    bool likelyUnchanged = agreeing && !found.counts.droppedWithoutArea && !found.counts.droppedDuplicates;
    if (!before && likelyUnchanged && triangles >= kEarlyCheckTriangles)
        startEarlyCheck(mesh, work, vertices, joined, keepGoing, welding);
    bool outward = false;
    if (choice.turnFaces && agreeing && !shellsSurelyOutward(m, faces, work, &outward, keepGoing, sink))
        return false;
    if ((choice.turnFaces && !outward && !turnFaces(m, faces, work, &found, keepGoing, sink)) ||
        (choice.closeHoles && !closeHoles(m, vertices, faces, work, &found, sink)))
        return false;
    if (choice.turnFaces && work->added.used && !turnShellsClosedByFilling(m, faces, work, &found, sink)) return false;
    // The repaired part's corners keep their vertices: the check again needs
    // no welding of its own where its welding would be the same, that is
    // unless faces left out held positions that took part in near welding
    // (the welding distance follows the extent, a chain may lose a link).
    uint64_t outCorners = 3 * (triangles + work->added.used / sizeof(AddedTriangle));
    uint32_t* outIds = outCorners <= 3 * triangles ? work->partner : (work->outIds = allocate<uint32_t>(outCorners, sink));
    if (!outIds) return false;
    if (!buildOutput(m, choice, faces, work->added, share, out, outIds, sink)) return false;
    bool dropped = found.counts.droppedWithoutArea || found.counts.droppedDuplicates;
    *welding = RepairedWelding{nullptr, vertices, joined, welding->early, before ? before->result : nullptr,
                               !dropped && !found.counts.turnedFaces && !work->added.used};
    // The early check, or the one done before, stands then; without either the check welds anew.
    bool earlyStands = (welding->early || welding->before) && welding->unchanged;
    if (!(dropped && joined) && !earlyStands)
        welding->ids = outIds == work->partner ? take(&work->partner) : take(&work->outIds);
    report->counts.turnedFaces += found.counts.turnedFaces;
    report->counts.droppedWithoutArea += found.counts.droppedWithoutArea;
    report->counts.droppedDuplicates += found.counts.droppedDuplicates;
    report->counts.closedHoles += found.counts.closedHoles;
    report->counts.closedHoleEdges += found.counts.closedHoleEdges;
    return true;
}

bool repairOnly(const StlMesh* mesh, const RepairChoice& choice, const CheckedBefore* before, StlMesh* out,
                RepairReport* report, RepairedWelding* welding, bool share, const volatile uint8_t* keepGoing,
                const MessageSink* sink) {
    Work work;
    *out = StlMesh{nullptr, nullptr, 0};
    *welding = RepairedWelding{nullptr, 0, 0, nullptr, nullptr, 0};
    if (repairInto(mesh, choice, before, out, report, &work, welding, share, keepGoing, sink)) return true;
    freeRepairedWelding(welding);
    freeRepairedMesh(out, mesh);
    return false;
}

}  // namespace

bool repairMeshCheckingLater(const StlMesh* mesh, const RepairChoice& choice, const CheckedBefore* before, StlMesh* out,
                             RepairReport* report, RepairedWelding* welding, const volatile uint8_t* keepGoing,
                             const MessageSink* sink) {
    return repairOnly(mesh, choice, before, out, report, welding, true, keepGoing, sink);
}

void freeRepairedMesh(StlMesh* repaired, const StlMesh* mesh) {
    for (uint32_t s = 0; s < repaired->solidCount; ++s)
        if (repaired->solids[s].triangles == mesh->solids[s].triangles) repaired->solids[s].triangles = nullptr;
    freeMeshSolids(repaired, processHeap());
}

bool checkRepairedMesh(const StlMesh* repaired, RepairedWelding* welding, RepairReport* report,
                       const volatile uint8_t* keepGoing, const MessageSink* sink) {
    SurfaceCheck after;
    uint64_t corners = 0;
    for (uint32_t s = 0; s < repaired->solidCount; ++s) corners += 3ull * repaired->solids[s].triangleCount;
    uint32_t vertices;
    bool done = finishEarlyCheck(welding, &after);
    if (!done && welding->before && welding->unchanged) {
        after = *welding->before;
        done = true;
    } else if (!done && welding->ids) {
        done = numberInOrderOfUse(welding->ids, corners, welding->vertices, &vertices, sink) &&
               checkWeldedSurface(repaired, welding->ids, vertices, welding->joined, &after, keepGoing, sink);
    } else if (!done) {
        done = checkSurface(repaired, &after, nullptr, keepGoing, sink);
    }
    freeRepairedWelding(welding);
    if (!done) return false;
    // What is still open is what the check finds: the holes left, and any the closing made.
    report->counts.openHoles += after.holes;
    report->counts.openHoleEdges += after.openEdges;
    report->counts.nonManifoldEdges += after.nonManifoldEdges;
    addCheck(&report->after, after);
    return true;
}

void freeRepairedWelding(RepairedWelding* welding) {
    SurfaceCheck unused;
    finishEarlyCheck(welding, &unused);
    freeBytes(welding->ids);
    welding->ids = nullptr;
}

bool repairMesh(const StlMesh* mesh, const RepairChoice& choice, StlMesh* out, RepairReport* report,
                const volatile uint8_t* keepGoing, const MessageSink* sink) {
    RepairedWelding welding;
    if (!repairOnly(mesh, choice, nullptr, out, report, &welding, false, keepGoing, sink)) return false;
    if (checkRepairedMesh(out, &welding, report, keepGoing, sink)) return true;
    freeMeshSolids(out, processHeap());
    return false;
}
