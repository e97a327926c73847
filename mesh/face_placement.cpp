#include "mesh/face_placement.h"

#include <cmath>
#include <cstring>

#include "mesh/pick_index.h"

namespace {

double dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void cross(const double a[3], const double b[3], double out[3]) {
    double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    memcpy(out, c, sizeof c);
}

// The rotation about the unit axis by the angle of this cosine and sine (Rodrigues).
void rotationAbout(const double axis[3], double cosine, double sine, double out[3][3]) {
    double x = axis[0], y = axis[1], z = axis[2], t = 1 - cosine;
    double r[3][3] = {{cosine + x * x * t, x * y * t - z * sine, x * z * t + y * sine},
                      {y * x * t + z * sine, cosine + y * y * t, y * z * t - x * sine},
                      {z * x * t - y * sine, z * y * t + x * sine, cosine + z * z * t}};
    memcpy(out, r, sizeof r);
}

// The shortest rotation that takes the unit vector `from` to the unit vector `to`.
void rotationBetween(const double from[3], const double to[3], double out[3][3]) {
    double axis[3];
    cross(from, to, axis);
    double sine = sqrt(dot(axis, axis)), cosine = dot(from, to);
    if (sine > 1e-12) {
        for (double& a : axis) a /= sine;
        rotationAbout(axis, cosine, sine, out);
        return;
    }
    if (cosine > 0) {
        double same[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        memcpy(out, same, sizeof same);
        return;
    }
    // Opposite: half a turn about any axis square to them.
    double other[3] = {fabs(from[0]) < 0.9 ? 1.0 : 0.0, fabs(from[0]) < 0.9 ? 0.0 : 1.0, 0};
    cross(from, other, axis);
    double length = sqrt(dot(axis, axis));
    for (double& a : axis) a /= length;
    rotationAbout(axis, -1, 0, out);
}

}  // namespace

Placement identityPlacement() {
    return Placement{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}};
}

void turnVector(const Placement& placement, const double v[3], double out[3]) {
    double r[3];
    for (int i = 0; i < 3; ++i) r[i] = dot(placement.turn[i], v);
    memcpy(out, r, sizeof r);
}

void placePoint(const Placement& placement, const double p[3], double out[3]) {
    turnVector(placement, p, out);
    for (int i = 0; i < 3; ++i) out[i] += placement.shift[i];
}

void fileUpOf(const Placement& placement, int upAxis, double up[3]) {
    // The turn's transpose undoes it: its row `upAxis` is the placed up in file axes.
    for (int i = 0; i < 3; ++i) up[i] = placement.turn[upAxis][i];
}

bool turnFaceDown(const Placement& current, const float corners[3][3], bool insideOut, int upAxis,
                  const double centre[3], Placement* out) {
    double placed[3][3];
    for (int c = 0; c < 3; ++c) {
        double p[3] = {corners[c][0], corners[c][1], corners[c][2]};
        placePoint(current, p, placed[c]);
    }
    double e[3], f[3], normal[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = placed[1][i] - placed[0][i];
        f[i] = placed[2][i] - placed[0][i];
    }
    cross(e, f, normal);
    double length = sqrt(dot(normal, normal));
    if (!(length > 0) || !std::isfinite(length)) return false;
    for (double& n : normal) n /= insideOut ? -length : length;
    double down[3] = {0, 0, 0};
    down[upAxis] = -1;
    double q[3][3];
    rotationBetween(normal, down, q);
    // new(p) = q · (current(p) - centre) + centre
    Placement next;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            next.turn[i][j] = q[i][0] * current.turn[0][j] + q[i][1] * current.turn[1][j] + q[i][2] * current.turn[2][j];
        double moved[3] = {current.shift[0] - centre[0], current.shift[1] - centre[1], current.shift[2] - centre[2]};
        next.shift[i] = dot(q[i], moved) + centre[i];
    }
    *out = next;
    return true;
}

bool placedBox(const StlSolid* solids, uint32_t solidCount, const Placement& placement, double low[3], double high[3]) {
    for (int i = 0; i < 3; ++i) {
        low[i] = INFINITY;
        high[i] = -INFINITY;
    }
    for (uint32_t s = 0; s < solidCount; ++s) {
        const StlSolid& solid = solids[s];
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            float corners[3][3];
            if (!readTriangleCorners(&solid.triangles[t], corners)) continue;
            for (const float* corner : corners) {
                double p[3] = {corner[0], corner[1], corner[2]}, q[3];
                placePoint(placement, p, q);
                for (int i = 0; i < 3; ++i) {
                    low[i] = fmin(low[i], q[i]);
                    high[i] = fmax(high[i], q[i]);
                }
            }
        }
    }
    return low[0] <= high[0];
}

void settleAt(Placement* placement, int upAxis, double level, double low[3], double high[3]) {
    double move = level - low[upAxis];
    placement->shift[upAxis] += move;
    low[upAxis] += move;
    high[upAxis] += move;
}
