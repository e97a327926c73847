// The surface check's numbers counted the plain way, for comparing: welding
// by an ordered map, edges by sorting, shells and holes by searching graphs.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "mesh/surface_check.h"

inline SurfaceCheck plainCount(const StlMesh& mesh) {
    std::map<std::array<uint32_t, 3>, uint32_t> welded;
    std::vector<std::array<uint32_t, 3>> faces;
    SurfaceCheck r{};
    for (uint32_t s = 0; s < mesh.solidCount; ++s)
        for (uint32_t t = 0; t < mesh.solids[s].triangleCount; ++t) {
            std::array<uint32_t, 3> face;
            for (int c = 0; c < 3; ++c) {
                std::array<uint32_t, 3> key;
                for (int d = 0; d < 3; ++d) {
                    float v = mesh.solids[s].triangles[t].vertices[c][d];
                    memcpy(&key[d], &v, 4);
                    if (key[d] == 0x80000000u) key[d] = 0;
                }
                face[c] = welded.emplace(key, static_cast<uint32_t>(welded.size())).first->second;
            }
            if (face[0] == face[1] || face[1] == face[2] || face[0] == face[2]) ++r.degenerateTriangles;
            else faces.push_back(face);
        }
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
