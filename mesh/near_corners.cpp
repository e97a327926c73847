// Cells of size eps: positions in one cell are always within eps of each
// other, so a cell is one vertex; two positions within eps lie in the same
// or in touching cells. The cells are sorted by key (x, y, z), so the cells
// touching each next cell from above lie in five runs whose keys only grow:
// five pointers moving forward find them all in one pass.
#include "mesh/near_corners.h"

#include <cmath>
#include <cstring>
#include "core/memory.h"
#include "mesh/union_find.h"

namespace {

constexpr uint32_t kStopCheckEvery = 1u << 16;
constexpr int kCellBits = 21;  // cells 0..2^20 per axis, kept from 1 so that a neighbour below is no borrow
constexpr uint64_t kCellMask = (1ull << kCellBits) - 1;
constexpr uint64_t kStepY = 1ull << kCellBits, kStepX = 1ull << 2 * kCellBits;
// Touching cells beyond which a pair of cells is tested by sorting, not pair by pair.
constexpr uint64_t kMostPairsTried = 256;

#pragma pack(push, 1)
struct KeyedEntry {
    uint64_t key;
    uint32_t value;
};
#pragma pack(pop)
static_assert(sizeof(KeyedEntry) == 12);

bool stopped(const volatile uint8_t* keepGoing) {
    return keepGoing && !*keepGoing;
}

// Stable, least significant 11 bits first; `spare` holds `count` entries.
// One pass counts every digit.
void sortByKey(KeyedEntry* entries, KeyedEntry* spare, uint32_t count, int keyBits) {
    constexpr int kMostDigits = 6;
    int digits = (keyBits + 10) / 11;
    uint32_t starts[kMostDigits][2048];
    memset(starts, 0, sizeof starts);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t key = entries[i].key;
        for (int d = 0; d < digits; ++d) ++starts[d][(key >> 11 * d) & 2047];
    }
    KeyedEntry* from = entries;
    KeyedEntry* to = spare;
    for (int d = 0; d < digits; ++d) {
        int shift = 11 * d;
        if (starts[d][(from[0].key >> shift) & 2047] == count) continue;  // one digit for all
        uint32_t sum = 0;
        for (uint32_t& start : starts[d]) {
            uint32_t n = start;
            start = sum;
            sum += n;
        }
        for (uint32_t i = 0; i < count; ++i) to[starts[d][(from[i].key >> shift) & 2047]++] = from[i];
        KeyedEntry* swap = from;
        from = to;
        to = swap;
    }
    if (from != entries) memcpy(entries, from, static_cast<size_t>(count) * sizeof(KeyedEntry));
}

// Doubles as keys whose unsigned order is their order.
uint64_t orderKey(double value) {
    uint64_t bits;
    memcpy(&bits, &value, 8);
    return bits >> 63 ? ~bits : bits | 1ull << 63;
}

bool finitePoint(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

struct Cells {
    CornerReader read;
    const void* context;
    const uint32_t* corners;  // per position
    const KeyedEntry* entries;  // cell key, position; sorted by key
    uint32_t* parent;
    double eps;

    void point(uint32_t entry, float* p) const { read(context, corners[entries[entry].value], p); }
};

bool within(const float* a, const float* b, double eps) {
    for (int axis = 0; axis < 3; ++axis)
        if (!(std::fabs(static_cast<double>(a[axis]) - b[axis]) <= eps)) return false;
    return true;
}

// Whether some position of cell a and some of the touching cell b (each a
// whole group already) are within eps, for cells of many positions: on each
// axis where b lies above a the pair needs b - eps <= a (below: -b - eps <=
// -a), on the others it holds. Such dominance of a over b is found by
// sweeping the cells' positions from the largest first coordinate down,
// keeping the largest third coordinate of a's positions met so far by rank of
// the second coordinate (a Fenwick tree of maxima).
int touchesBySorting(const Cells& cells, uint32_t a, uint32_t aEnd, uint32_t b, uint32_t bEnd, const int* direction,
                     const MessageSink* sink) {
    uint32_t count = (aEnd - a) + (bEnd - b);
    size_t bytes = static_cast<size_t>(count) * (3 * sizeof(double) + 2 * sizeof(KeyedEntry) + 4 + sizeof(double));
    uint8_t* block = static_cast<uint8_t*>(allocArray(processHeap(), bytes, 1, sink));
    if (!block) return -1;
    double* coordinates = reinterpret_cast<double*>(block);  // three per item; a's items first
    double* best = coordinates + 3 * static_cast<size_t>(count);  // the tree, by rank
    KeyedEntry* order = reinterpret_cast<KeyedEntry*>(best + count);
    KeyedEntry* spare = order + count;
    uint32_t* rank = reinterpret_cast<uint32_t*>(spare + count);
    uint32_t aCount = aEnd - a;
    for (uint32_t item = 0; item < count; ++item) {
        bool inA = item < aCount;
        float p[3];
        cells.point(inA ? a + item : b + item - aCount, p);
        for (int axis = 0; axis < 3; ++axis) {
            double value = direction[axis] < 0 ? -static_cast<double>(p[axis]) : p[axis];
            coordinates[3 * item + axis] = direction[axis] == 0 ? 0 : inA ? value : value - cells.eps;
        }
    }
    // Ranks by the second coordinate, largest first; a before b where equal (stable sort).
    for (uint32_t item = 0; item < count; ++item) order[item] = {~orderKey(coordinates[3 * item + 1]), item};
    sortByKey(order, spare, count, 64);
    for (uint32_t r = 0; r < count; ++r) rank[order[r].value] = r;
    for (uint32_t item = 0; item < count; ++item) order[item] = {~orderKey(coordinates[3 * item]), item};
    sortByKey(order, spare, count, 64);
    for (uint32_t r = 0; r < count; ++r) best[r] = -INFINITY;
    int touching = 0;
    for (uint32_t i = 0; i < count && !touching; ++i) {
        uint32_t item = order[i].value;
        double third = coordinates[3 * item + 2];
        if (item < aCount) {
            for (uint32_t r = rank[item] + 1; r <= count; r += r & (0 - r))
                if (best[r - 1] < third) best[r - 1] = third;
        } else {
            for (uint32_t r = rank[item]; r > 0; r -= r & (0 - r))
                if (best[r - 1] >= third) touching = 1;
        }
    }
    freeBytes(block);
    return touching;
}

// 1 when cells [a, aEnd) and [b, bEnd) hold positions within eps, 0 when not, -1 without memory.
int cellsTouch(const Cells& cells, uint32_t a, uint32_t aEnd, uint32_t b, uint32_t bEnd, const MessageSink* sink) {
    if (static_cast<uint64_t>(aEnd - a) * (bEnd - b) > kMostPairsTried) {
        int direction[3];
        for (int axis = 0; axis < 3; ++axis) {
            int shift = (2 - axis) * kCellBits;
            direction[axis] = static_cast<int>((cells.entries[b].key >> shift & kCellMask)) -
                              static_cast<int>((cells.entries[a].key >> shift & kCellMask));
        }
        return touchesBySorting(cells, a, aEnd, b, bEnd, direction, sink);
    }
    for (uint32_t i = a; i < aEnd; ++i) {
        float p[3], q[3];
        cells.point(i, p);
        for (uint32_t j = b; j < bEnd; ++j) {
            cells.point(j, q);
            if (within(p, q, cells.eps)) return 1;
        }
    }
    return 0;
}

// The end of the cell that starts at `start`; the entries end with a key above every cell's.
uint32_t runEnd(const KeyedEntry* entries, uint32_t start) {
    uint32_t end = start + 1;
    while (entries[end].key == entries[start].key) ++end;
    return end;
}

// Tests cell [cell, end) against each cell from `other` on whose key is at most `high`.
bool touchFrom(const Cells& cells, uint32_t cell, uint32_t end, uint32_t other, uint64_t high,
               const MessageSink* sink) {
    const KeyedEntry* entries = cells.entries;
    while (entries[other].key <= high) {
        uint32_t otherEnd = runEnd(entries, other);
        uint32_t mine = entries[cell].value, theirs = entries[other].value;
        if (findRoot(cells.parent, mine) != findRoot(cells.parent, theirs)) {
            int touching = cellsTouch(cells, cell, end, other, otherEnd, sink);
            if (touching < 0) return false;
            if (touching) join(cells.parent, mine, theirs);
        }
        other = otherEnd;
    }
    return true;
}

// Joins each cell's positions, then each cell with the touching cells above
// it: the next cell when it is the one above in z, and those of the four
// rows above in y or x (each z - 1 to z + 1), found by pointers that only
// move forward. The entries end with a key above every cell's.
bool joinCells(const Cells& cells, uint32_t count, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    const KeyedEntry* entries = cells.entries;
    const uint64_t rows[4] = {kStepY - 1, kStepX - kStepY - 1, kStepX - 1, kStepX + kStepY - 1};
    uint32_t at[4] = {0, 0, 0, 0};
    for (uint32_t cell = 0; cell < count;) {
        uint32_t end = runEnd(entries, cell);
        if (cell / kStopCheckEvery != end / kStopCheckEvery && stopped(keepGoing)) return false;
        uint64_t key = entries[cell].key;
        for (uint32_t i = cell + 1; i < end; ++i) join(cells.parent, entries[cell].value, entries[i].value);
        if (entries[end].key == key + 1 && !touchFrom(cells, cell, end, end, key + 1, sink)) return false;
        for (int r = 0; r < 4; ++r) {
            uint64_t low = key + rows[r];
            uint32_t other = at[r];
            while (entries[other].key < low) ++other;
            at[r] = other;
            if (entries[other].key <= low + 2 && !touchFrom(cells, cell, end, other, low + 2, sink)) return false;
        }
        cell = end;
    }
    return true;
}

// Multiplying by the inverse may put a position a rounding error (2^-52 of a
// cell) into the wrong cell; positions in one cell then lie that much
// farther apart than eps, which no file can tell.
uint64_t cellKey(const float* p, const double* low, double inverse) {
    uint64_t key = 0;
    for (int axis = 0; axis < 3; ++axis) {
        double cell = (static_cast<double>(p[axis]) - low[axis]) * inverse;  // not below 0: truncation floors
        uint64_t index = cell > double(1 << 20) ? 1 << 20 : static_cast<uint64_t>(cell);
        key = key << kCellBits | (index + 1);
    }
    return key;
}

}  // namespace

double weldDistanceFor(double extent) {
    return std::ldexp(extent, -20);
}

bool joinNearPositions(uint32_t count, CornerReader read, const void* context, uint32_t* groups, uint32_t* joined,
                       const volatile uint8_t* keepGoing, const MessageSink* sink) {
    *joined = 0;
    double low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    uint32_t finite = 0;
    for (uint32_t i = 0; i < count; ++i) {
        float p[3];
        read(context, groups[i], p);
        if (!finitePoint(p)) continue;
        ++finite;
        for (int axis = 0; axis < 3; ++axis) {
            if (p[axis] < low[axis]) low[axis] = p[axis];
            if (p[axis] > high[axis]) high[axis] = p[axis];
        }
    }
    double extent = 0;
    for (int axis = 0; finite && axis < 3; ++axis)
        if (high[axis] - low[axis] > extent) extent = high[axis] - low[axis];
    double eps = weldDistanceFor(extent);
    if (finite < 2 || !(eps > 0)) {
        for (uint32_t i = 0; i < count; ++i) groups[i] = i;
        return true;
    }
    if (stopped(keepGoing)) return false;

    KeyedEntry* entries = static_cast<KeyedEntry*>(allocArray(processHeap(), finite + 1ull, sizeof(KeyedEntry), sink));
    KeyedEntry* spare = entries ? static_cast<KeyedEntry*>(allocArray(processHeap(), finite, sizeof(KeyedEntry), sink))
                                : nullptr;
    if (!spare) {
        freeBytes(entries);
        return false;
    }
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        float p[3];
        read(context, groups[i], p);
        if (finitePoint(p)) entries[n++] = {cellKey(p, low, 1 / eps), i};
    }
    sortByKey(entries, spare, n, 3 * kCellBits);
    freeBytes(spare);
    entries[n] = {~0ull, 0};  // above every cell's key (they use 63 bits)
    uint32_t* parent = static_cast<uint32_t*>(allocArray(processHeap(), count, 4, sink));
    bool done = parent && !stopped(keepGoing);
    if (done) {
        for (uint32_t i = 0; i < count; ++i) parent[i] = i;
        done = joinCells(Cells{read, context, groups, entries, parent, eps}, n, keepGoing, sink);
    }
    freeBytes(entries);
    if (done) {
        for (uint32_t i = 0; i < count; ++i) {
            groups[i] = findRoot(parent, i);
            *joined += groups[i] != i;
        }
    }
    freeBytes(parent);
    return done;
}
