// Meshes made of triangles in memory for tests of the mesh layer: solids of
// exact shapes (boxes wound outward) without a file.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "stl/stl_mesh.h"

using Point = std::array<float, 3>;
using Tri = std::array<Point, 3>;

struct Solids {
    std::vector<std::vector<StlTriangle>> triangles;
    std::vector<StlSolid> solids;
    StlMesh mesh{};

    explicit Solids(const std::vector<std::vector<Tri>>& parts) {
        for (const auto& part : parts) {
            triangles.emplace_back();
            for (const Tri& t : part) {
                StlTriangle record{};
                for (int c = 0; c < 3; ++c)
                    for (int d = 0; d < 3; ++d) record.vertices[c][d] = t[c][d];
                triangles.back().push_back(record);
            }
        }
        for (auto& part : triangles) {
            part.shrink_to_fit();  // so that a read past a solid is caught
            solids.push_back(StlSolid{0, 0, static_cast<uint32_t>(part.size()), part.empty() ? nullptr : part.data(), {}});
        }
        mesh = StlMesh{nullptr, solids.data(), static_cast<uint32_t>(solids.size())};
    }
};

// The box from `low` of `size`, its faces wound outward.
inline std::vector<Tri> box(Point low, Point size) {
    static const int quads[6][4][3] = {
        {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}, {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}, {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}},
        {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}};
    std::vector<Tri> out;
    for (const auto& q : quads) {
        auto p = [&](int i) {
            return Point{low[0] + q[i][0] * size[0], low[1] + q[i][1] * size[1], low[2] + q[i][2] * size[2]};
        };
        out.push_back({p(0), p(1), p(2)});
        out.push_back({p(0), p(2), p(3)});
    }
    return out;
}

inline std::vector<Tri> cube(float x = 0, float y = 0, float z = 0) {
    return box(Point{x, y, z}, Point{1, 1, 1});
}

inline Tri reversed(const Tri& t) { return {t[0], t[2], t[1]}; }

inline std::vector<Tri> join(std::vector<Tri> a, const std::vector<Tri>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
