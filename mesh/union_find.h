#pragma once

#include <cstdint>

// Groups of numbered things joined pairwise (corners that weld, faces of one
// shell or region, edges of one hole). A group's root is its smallest member,
// so the result does not depend on the order of the joins.

inline uint32_t findRoot(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// True when a and b were apart.
inline bool join(uint32_t* parent, uint32_t a, uint32_t b) {
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a < b) parent[b] = a;
    else if (b < a) parent[a] = b;
    return a != b;
}
