#include "mesh/overhang_area.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The overhang faces found so far, split by whether they lie on the lowest
// plane seen so far: one pass suffices, as a lower corner turns every face on
// the old plane into a plain overhang.
struct OverhangSums {
    double lowest = INFINITY;
    double elsewhere = 0.0;  // twice the area
    double onLowest = 0.0;
};

void lowerPlane(OverhangSums* sums, double level) {
    if (level >= sums->lowest) return;
    sums->elsewhere += sums->onLowest;
    sums->onLowest = 0.0;
    sums->lowest = level;
}

void addTriangle(OverhangSums* sums, const float v[9], int upAxis, double sine) {
    double a = v[upAxis], b = v[3 + upAxis], c = v[6 + upAxis];
    lowerPlane(sums, fmin(a, fmin(b, c)));
    double e[3], f[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = double{v[3 + i]} - v[i];
        f[i] = double{v[6 + i]} - v[i];
    }
    double cross[3] = {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
    if (!isOverhang(cross, upAxis, sine)) return;
    double twiceArea = sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
    bool onBed = a == sums->lowest && b == sums->lowest && c == sums->lowest;
    (onBed ? sums->onLowest : sums->elsewhere) += twiceArea;
}

bool allFinite(const float v[9]) {
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace

double overhangArea(const StlMesh* mesh, int upAxis, double degrees, float unitScale) {
    double sine = sin(degrees * (kPi / 180.0));
    OverhangSums sums;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const uint8_t* record = reinterpret_cast<const uint8_t*>(mesh->solids[s].triangles);
        for (uint32_t i = 0; i < mesh->solids[s].triangleCount; ++i, record += sizeof(StlTriangle)) {
            float corners[9];
            memcpy(corners, record + offsetof(StlTriangle, vertices), sizeof corners);
            if (allFinite(corners)) addTriangle(&sums, corners, upAxis, sine);
        }
    }
    double scale = unitScale;
    return sums.elsewhere / 2 * scale * scale;
}
