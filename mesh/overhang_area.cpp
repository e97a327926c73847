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

// How far a corner may lie from the bed and still be on it.
constexpr double kBedSlack = 1e-6;

// A plane lower by no more than the slack keeps the faces on the old one.
void lowerPlane(OverhangSums* sums, double level, double slack) {
    if (level >= sums->lowest) return;
    if (level < sums->lowest - slack) {
        sums->elsewhere += sums->onLowest;
        sums->onLowest = 0.0;
    }
    sums->lowest = level;
}

double dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void addTriangle(OverhangSums* sums, const float v[9], const OverhangFrame& frame, double sine) {
    double p[3][3];
    double largest = 0;
    for (int i = 0; i < 9; ++i) {
        p[i / 3][i % 3] = v[i];
        largest = fmax(largest, fabs(double{v[i]}));
    }
    double slack = kBedSlack * largest;
    double a = dot(frame.up, p[0]), b = dot(frame.up, p[1]), c = dot(frame.up, p[2]);
    lowerPlane(sums, fmin(a, fmin(b, c)), slack);
    double e[3], f[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = p[1][i] - p[0][i];
        f[i] = p[2][i] - p[0][i];
    }
    double cross[3] = {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
    double up = dot(cross, frame.up);
    if (!isOverhang(cross, frame.insideOut ? -up : up, sine)) return;
    double twiceArea = sqrt(dot(cross, cross));
    bool onBed = fmax(a, fmax(b, c)) <= sums->lowest + slack;
    (onBed ? sums->onLowest : sums->elsewhere) += twiceArea;
}

bool allFinite(const float v[9]) {
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace

double overhangArea(const StlMesh* mesh, const OverhangFrame& frame, double degrees, float unitScale) {
    double sine = sin(degrees * (kPi / 180.0));
    OverhangSums sums;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const uint8_t* record = reinterpret_cast<const uint8_t*>(mesh->solids[s].triangles);
        for (uint32_t i = 0; i < mesh->solids[s].triangleCount; ++i, record += sizeof(StlTriangle)) {
            float corners[9];
            memcpy(corners, record + offsetof(StlTriangle, vertices), sizeof corners);
            if (allFinite(corners)) addTriangle(&sums, corners, frame, sine);
        }
    }
    double scale = unitScale;
    return sums.elsewhere / 2 * scale * scale;
}
