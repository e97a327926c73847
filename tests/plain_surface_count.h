// The surface check's numbers counted the plain way, for comparing: welding
// by an ordered map, near positions by trying every pair in neighbouring
// cells of a map, edges by sorting, shells and holes by searching graphs.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

#include "mesh/surface_check.h"

// Groups of positions whose coordinates each lie within 2^-20 of the largest
// extent, by a search of the 27 cells around each position.
inline std::vector<uint32_t> plainNearGroups(const std::vector<std::array<float, 3>>& points) {
    std::vector<uint32_t> group(points.size());
    for (uint32_t i = 0; i < group.size(); ++i) group[i] = i;
    auto finite = [](const std::array<float, 3>& p) {
        return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
    };
    double low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const auto& p : points)
        if (finite(p))
            for (int d = 0; d < 3; ++d) low[d] = std::min(low[d], double(p[d])), high[d] = std::max(high[d], double(p[d]));
    double extent = 0;
    for (int d = 0; d < 3; ++d) extent = std::max(extent, high[d] - low[d]);
    double eps = std::ldexp(extent, -20);
    if (!(eps > 0)) return group;
    std::map<std::array<int64_t, 3>, std::vector<uint32_t>> cells;
    auto cellOf = [&](const std::array<float, 3>& p) {
        std::array<int64_t, 3> cell;
        for (int d = 0; d < 3; ++d) cell[d] = static_cast<int64_t>(std::floor((p[d] - low[d]) / eps));
        return cell;
    };
    for (uint32_t i = 0; i < points.size(); ++i)
        if (finite(points[i])) cells[cellOf(points[i])].push_back(i);
    std::function<uint32_t(uint32_t)> root = [&](uint32_t x) { return group[x] == x ? x : group[x] = root(group[x]); };
    for (uint32_t i = 0; i < points.size(); ++i) {
        if (!finite(points[i])) continue;
        std::array<int64_t, 3> cell = cellOf(points[i]);
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    auto found = cells.find({cell[0] + dx, cell[1] + dy, cell[2] + dz});
                    if (found == cells.end()) continue;
                    for (uint32_t j : found->second) {
                        bool near = true;
                        for (int d = 0; d < 3; ++d) near = near && std::fabs(double(points[i][d]) - points[j][d]) <= eps;
                        uint32_t a = root(i), b = root(j);
                        if (near && a != b) group[std::max(a, b)] = std::min(a, b);
                    }
                }
    }
    for (uint32_t i = 0; i < group.size(); ++i) group[i] = root(i);
    return group;
}

inline SurfaceCheck plainCount(const StlMesh& mesh) {
    std::map<std::array<uint32_t, 3>, uint32_t> welded;
    std::vector<std::array<float, 3>> points;
    std::vector<std::array<uint32_t, 3>> corners;
    SurfaceCheck r{};
    for (uint32_t s = 0; s < mesh.solidCount; ++s)
        for (uint32_t t = 0; t < mesh.solids[s].triangleCount; ++t) {
            std::array<uint32_t, 3> face;
            for (int c = 0; c < 3; ++c) {
                std::array<uint32_t, 3> key;
                float v[3];
                memcpy(v, mesh.solids[s].triangles[t].vertices[c], 12);
                for (int d = 0; d < 3; ++d) {
                    memcpy(&key[d], &v[d], 4);
                    if (key[d] == 0x80000000u) key[d] = 0;
                }
                auto added = welded.emplace(key, static_cast<uint32_t>(welded.size()));
                if (added.second) points.push_back({v[0], v[1], v[2]});
                face[c] = added.first->second;
            }
            corners.push_back(face);
        }
    std::vector<uint32_t> group = plainNearGroups(points);
    std::vector<std::array<uint32_t, 3>> faces;
    for (auto face : corners) {
        for (uint32_t& v : face) v = group[v];
        if (face[0] == face[1] || face[1] == face[2] || face[0] == face[2]) ++r.degenerateTriangles;
        else faces.push_back(face);
    }
    for (uint32_t i = 0; i < group.size(); ++i) r.weldedCorners += group[i] != i;
    struct Use {
        uint32_t low, high, face;
        bool forward;
    };
    std::vector<Use> uses;
    for (uint32_t f = 0; f < faces.size(); ++f)
        for (int k = 0; k < 3; ++k) {
            uint32_t a = faces[f][k], b = faces[f][(k + 1) % 3];
            uses.push_back({std::min(a, b), std::max(a, b), f, a < b});
        }
    std::sort(uses.begin(), uses.end(), [](const Use& x, const Use& y) {
        return std::tie(x.low, x.high) < std::tie(y.low, y.high);
    });
    std::vector<std::vector<uint32_t>> faceLinks(faces.size());
    std::map<uint32_t, std::vector<uint32_t>> openLinks;
    for (size_t i = 0; i < uses.size();) {
        size_t j = i;
        while (j < uses.size() && uses[j].low == uses[i].low && uses[j].high == uses[i].high) ++j;
        size_t count = j - i;
        if (count == 1) {
            ++r.openEdges;
            openLinks[uses[i].low].push_back(uses[i].high);
            openLinks[uses[i].high].push_back(uses[i].low);
        }
        if (count >= 3) ++r.nonManifoldEdges;
        if (count == 2 && uses[i].forward == uses[i + 1].forward) ++r.flippedEdges;
        for (size_t k = i + 1; k < j; ++k) {
            faceLinks[uses[i].face].push_back(uses[k].face);
            faceLinks[uses[k].face].push_back(uses[i].face);
        }
        i = j;
    }
    std::vector<bool> seen(faces.size());
    for (uint32_t f = 0; f < faces.size(); ++f) {
        if (seen[f]) continue;
        ++r.shells;
        std::vector<uint32_t> stack{f};
        seen[f] = true;
        while (!stack.empty()) {
            uint32_t g = stack.back();
            stack.pop_back();
            for (uint32_t h : faceLinks[g])
                if (!seen[h]) seen[h] = true, stack.push_back(h);
        }
    }
    std::map<uint32_t, bool> visited;
    for (const auto& [vertex, links] : openLinks) {
        if (visited[vertex]) continue;
        ++r.holes;
        std::vector<uint32_t> stack{vertex};
        visited[vertex] = true;
        while (!stack.empty()) {
            uint32_t v = stack.back();
            stack.pop_back();
            for (uint32_t w : openLinks[v])
                if (!visited[w]) visited[w] = true, stack.push_back(w);
        }
    }
    r.closed = r.openEdges == 0 && r.nonManifoldEdges == 0;
    return r;
}
