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

// The slack of a face's corners: a millionth of their largest coordinate.
double slackOf(const float v[9]) {
    float largest = 0;
    for (int i = 0; i < 9; ++i) largest = fmaxf(largest, fabsf(v[i]));
    return kBedSlack * largest;
}

// The way up as an axis, the common case: a coordinate, no products.
struct AxisUp {
    int axis;
    double along(const double v[3]) const { return v[axis]; }
};

// The way up of a part turned onto a face.
struct TurnedUp {
    const double* up;
    double along(const double v[3]) const { return dot(up, v); }
};

template <typename Up>
void addTriangle(OverhangSums* sums, const float v[9], const Up& up, bool insideOut, double sine) {
    double p[3][3];
    for (int i = 0; i < 9; ++i) p[i / 3][i % 3] = v[i];
    double a = up.along(p[0]), b = up.along(p[1]), c = up.along(p[2]);
    double low = fmin(a, fmin(b, c));
    // Only a new lowest plane and an overhang need the slack.
    if (low < sums->lowest) lowerPlane(sums, low, slackOf(v));
    double e[3], f[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = p[1][i] - p[0][i];
        f[i] = p[2][i] - p[0][i];
    }
    double cross[3] = {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
    double upward = up.along(cross);
    if (!isOverhang(cross, insideOut ? -upward : upward, sine)) return;
    double twiceArea = sqrt(dot(cross, cross));
    bool onBed = fmax(a, fmax(b, c)) <= sums->lowest + slackOf(v);
    (onBed ? sums->onLowest : sums->elsewhere) += twiceArea;
}

bool allFinite(const float v[9]) {
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

template <typename Up>
OverhangSums sumOverhangs(const StlMesh* mesh, const Up& up, bool insideOut, double sine) {
    OverhangSums sums;
    for (uint32_t s = 0; s < mesh->solidCount; ++s) {
        const uint8_t* record = reinterpret_cast<const uint8_t*>(mesh->solids[s].triangles);
        for (uint32_t i = 0; i < mesh->solids[s].triangleCount; ++i, record += sizeof(StlTriangle)) {
            float corners[9];
            memcpy(corners, record + offsetof(StlTriangle, vertices), sizeof corners);
            if (allFinite(corners)) addTriangle(&sums, corners, up, insideOut, sine);
        }
    }
    return sums;
}

// The axis the way up is, or -1.
int axisOf(const double up[3]) {
    for (int axis = 0; axis < 3; ++axis)
        if (up[axis] == 1 && up[(axis + 1) % 3] == 0 && up[(axis + 2) % 3] == 0) return axis;
    return -1;
}

}  // namespace

double overhangArea(const StlMesh* mesh, const OverhangFrame& frame, double degrees, float unitScale) {
    double sine = sin(degrees * (kPi / 180.0));
    int axis = axisOf(frame.up);
    OverhangSums sums = axis >= 0 ? sumOverhangs(mesh, AxisUp{axis}, frame.insideOut, sine)
                                  : sumOverhangs(mesh, TurnedUp{frame.up}, frame.insideOut, sine);
    double scale = unitScale;
    return sums.elsewhere / 2 * scale * scale;
}
