#include "mesh/surface_pick.h"

#include <cmath>
#include <cstring>

namespace {

// Rays that pass a shared edge exactly still hit one of its two triangles.
constexpr double kEdgeTolerance = 1e-9;

struct Ray {
    double origin[3];
    double direction[3];
};

double dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// The ray parameter of the hit, or a negative value. The direction's length
// makes the parameter the depth along the view axis.
double hitTriangle(const Ray& ray, const float corners[3][3], double* u, double* v) {
    double a[3], e1[3], e2[3];
    for (int axis = 0; axis < 3; ++axis) {
        a[axis] = corners[0][axis];
        e1[axis] = double{corners[1][axis]} - a[axis];
        e2[axis] = double{corners[2][axis]} - a[axis];
    }
    double p[3];
    cross(ray.direction, e2, p);
    double determinant = dot(e1, p);
    if (determinant == 0 || !std::isfinite(determinant)) return -1;  // seen edge-on: not drawn either
    double inverse = 1 / determinant;
    double s[3] = {ray.origin[0] - a[0], ray.origin[1] - a[1], ray.origin[2] - a[2]};
    *u = dot(s, p) * inverse;
    if (*u < -kEdgeTolerance || *u > 1 + kEdgeTolerance) return -1;
    double q[3];
    cross(s, e1, q);
    *v = dot(ray.direction, q) * inverse;
    if (*v < -kEdgeTolerance || *u + *v > 1 + kEdgeTolerance) return -1;
    return dot(e2, q) * inverse;
}

// Whether the ray meets the box between the two depths; the box is widened
// by a hair so that the tolerance of the triangle test is not cut off.
bool hitsBox(const Ray& ray, const double inverse[3], const PickBox& box, double nearest, double farthest) {
    double enter = nearest, leave = farthest;
    for (int axis = 0; axis < 3; ++axis) {
        double low = box.low[axis], high = box.high[axis];
        if (!(low <= high)) return false;
        double pad = (high - low) * 1e-6 + (std::fabs(low) + std::fabs(high)) * 1e-7;
        low -= pad;
        high += pad;
        if (ray.direction[axis] == 0) {
            if (ray.origin[axis] < low || ray.origin[axis] > high) return false;
            continue;
        }
        double t0 = (low - ray.origin[axis]) * inverse[axis], t1 = (high - ray.origin[axis]) * inverse[axis];
        if (t0 > t1) {
            double swap = t0;
            t0 = t1;
            t1 = swap;
        }
        enter = t0 > enter ? t0 : enter;
        leave = t1 < leave ? t1 : leave;
        if (enter > leave) return false;
    }
    return true;
}

// The kept side in one part's file units: f·normal + w >= 0.
struct KeptSide {
    double normal[3];
    double w;
};

struct Nearest {
    double depth;
    uint32_t solid;
    uint32_t triangle;
    double u, v;
};

bool isKept(const Ray& ray, const KeptSide& kept, double depth) {
    double sum = kept.w;
    for (int axis = 0; axis < 3; ++axis) sum += (ray.origin[axis] + depth * ray.direction[axis]) * kept.normal[axis];
    return sum >= 0;
}

void castRange(const Ray& ray, const KeptSide& kept, const StlSolid& solid, uint32_t solidIndex, uint32_t first,
               uint32_t end, double nearDepth, Nearest* nearest) {
    for (uint32_t t = first; t < end; ++t) {
        float corners[3][3];
        if (!readTriangleCorners(&solid.triangles[t], corners)) continue;
        double u = 0, v = 0;
        double depth = hitTriangle(ray, corners, &u, &v);
        if (depth >= nearDepth && depth < nearest->depth && isKept(ray, kept, depth))
            *nearest = Nearest{depth, solidIndex, t, u, v};
    }
}

// The nearest hit of one part's visible triangles closer than nearest->depth.
bool castPart(const Ray& ray, const KeptSide& kept, const PickPart& part, double nearDepth, Nearest* nearest) {
    double inverse[3];
    for (int axis = 0; axis < 3; ++axis) inverse[axis] = 1 / ray.direction[axis];
    bool found = false;
    for (uint32_t s = 0; s < part.solidCount; ++s) {
        if (part.visibleSolids && !part.visibleSolids[s]) continue;
        const StlSolid& solid = part.solids[s];
        if (!solid.triangles) continue;
        double before = nearest->depth;
        if (!part.index || part.index->solidCount != part.solidCount) {
            castRange(ray, kept, solid, s, 0, solid.triangleCount, nearDepth, nearest);
        } else {
            uint64_t run = part.index->firstRun[s];
            for (uint32_t first = 0; first < solid.triangleCount; first += kPickRunTriangles, ++run) {
                PickBox box;
                memcpy(&box, &part.index->boxes[run], sizeof box);
                if (!hitsBox(ray, inverse, box, nearDepth, nearest->depth)) continue;
                uint32_t end = solid.triangleCount - first < kPickRunTriangles ? solid.triangleCount : first + kPickRunTriangles;
                castRange(ray, kept, solid, s, first, end, nearDepth, nearest);
            }
        }
        found = found || nearest->depth < before;
    }
    return found;
}

// The ray and the kept side in the file's units of a placed part: the
// placement undone (its turn keeps lengths, so the ray's parameter stays the depth).
void unplace(const Placement& placement, Ray* ray, KeptSide* kept) {
    double origin[3], direction[3], normal[3];
    for (int j = 0; j < 3; ++j) {
        origin[j] = direction[j] = normal[j] = 0;
        for (int i = 0; i < 3; ++i) {
            origin[j] += placement.turn[i][j] * (ray->origin[i] - placement.shift[i]);
            direction[j] += placement.turn[i][j] * ray->direction[i];
            normal[j] += placement.turn[i][j] * kept->normal[i];
        }
    }
    kept->w += kept->normal[0] * placement.shift[0] + kept->normal[1] * placement.shift[1] +
               kept->normal[2] * placement.shift[2];
    memcpy(ray->origin, origin, sizeof origin);
    memcpy(ray->direction, direction, sizeof direction);
    memcpy(kept->normal, normal, sizeof normal);
}

}  // namespace

void fileToWorld(bool yUp, const double file[3], double world[3]) {
    double x = file[0], y = file[1], z = file[2];
    world[0] = x;
    world[1] = yUp ? y : z;
    world[2] = yUp ? z : -y;
}

void worldToFile(bool yUp, const double world[3], double file[3]) {
    double x = world[0], y = world[1], z = world[2];
    file[0] = x;
    file[1] = yUp ? y : -z;
    file[2] = yUp ? z : y;
}

bool projectToScreen(const PickCamera* camera, const double world[3], double* x, double* y) {
    double offset[3] = {world[0] - camera->eye[0], world[1] - camera->eye[1], world[2] - camera->eye[2]};
    double depth = -dot(offset, camera->axes[2]);
    if (!(depth > 0)) return false;
    double scale = camera->zoom * camera->height / (2 * depth);
    *x = camera->width / 2.0 + dot(offset, camera->axes[0]) * scale;
    *y = camera->height / 2.0 - dot(offset, camera->axes[1]) * scale;
    return std::isfinite(*x) && std::isfinite(*y);
}

int32_t snapCorner(const PickCamera* camera, const double corners[3][3], double x, double y) {
    int32_t best = -1;
    double bestDistance = kSnapPixels * kSnapPixels;
    for (int32_t corner = 0; corner < 3; ++corner) {
        double cx, cy;
        if (!projectToScreen(camera, corners[corner], &cx, &cy)) continue;
        double distance = (cx - x) * (cx - x) + (cy - y) * (cy - y);
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = corner;
        }
    }
    return best;
}

bool pickSurface(const PickCamera* camera, const PickPart* parts, uint32_t partCount, double x, double y,
                 SurfacePick* pick) {
    if (camera->width <= 0 || camera->height <= 0 || !(camera->zoom > 0)) return false;
    // View direction with a depth of one: right, up, then away from the viewer.
    double right = (2 * x / camera->width - 1) * camera->width / (camera->height * camera->zoom);
    double up = (1 - 2 * y / camera->height) / camera->zoom;
    double world[3];
    for (int axis = 0; axis < 3; ++axis)
        world[axis] = right * camera->axes[0][axis] + up * camera->axes[1][axis] - camera->axes[2][axis];
    double keep[4];
    memcpy(keep, camera->keep, sizeof keep);  // the record is packed
    Nearest nearest = {camera->farDepth, 0, 0, 0, 0};
    uint32_t hitPart = partCount;
    for (uint32_t p = 0; p < partCount; ++p) {
        double scale = parts[p].unitScale;
        if (!(scale > 0) || !std::isfinite(scale)) continue;
        // The same ray in the part's file units: its parameter stays the depth.
        Ray ray;
        double eye[3] = {camera->eye[0] / scale, camera->eye[1] / scale, camera->eye[2] / scale};
        double direction[3] = {world[0] / scale, world[1] / scale, world[2] / scale};
        worldToFile(camera->yUp != 0, eye, ray.origin);
        worldToFile(camera->yUp != 0, direction, ray.direction);
        // The axes only turn, so the plane's normal turns with them; its offset scales.
        KeptSide kept;
        worldToFile(camera->yUp != 0, keep, kept.normal);
        kept.w = keep[3] / scale;
        if (parts[p].placement) unplace(*parts[p].placement, &ray, &kept);
        if (castPart(ray, kept, parts[p], camera->nearDepth, &nearest)) hitPart = p;
    }
    if (hitPart == partCount) return false;
    const PickPart& part = parts[hitPart];
    float corners[3][3];
    readTriangleCorners(&part.solids[nearest.solid].triangles[nearest.triangle], corners);
    double placed[3][3];
    for (int corner = 0; corner < 3; ++corner) {
        double p[3] = {corners[corner][0], corners[corner][1], corners[corner][2]};
        if (part.placement) placePoint(*part.placement, p, p);
        memcpy(placed[corner], p, sizeof p);
    }
    double cornersWorld[3][3];
    double cornersMetres[3][3];
    for (int corner = 0; corner < 3; ++corner) {
        for (int axis = 0; axis < 3; ++axis) cornersMetres[corner][axis] = placed[corner][axis] * part.unitScale;
        fileToWorld(camera->yUp != 0, cornersMetres[corner], cornersWorld[corner]);
    }
    pick->part = hitPart;
    pick->solid = nearest.solid;
    pick->triangle = nearest.triangle;
    pick->depth = nearest.depth;
    int32_t corner = snapCorner(camera, cornersWorld, x, y);
    pick->corner = corner;
    double point[3];
    for (int axis = 0; axis < 3; ++axis) {
        // From the corners, so that a face lying in a plane of the file's axes keeps its coordinate exactly.
        double a = placed[0][axis], b = placed[1][axis], c = placed[2][axis];
        double onFace = a + nearest.u * (b - a) + nearest.v * (c - a);
        point[axis] = (corner >= 0 ? placed[corner][axis] : onFace) * part.unitScale;
    }
    memcpy(pick->point, point, sizeof point);
    return true;
}
