#include "view/measure_marks.h"

#include <cmath>
#include <cstring>

#include "view/frame_math.h"

namespace {

// Half sizes in pixels; the rim is one pixel wider all round.
constexpr double kBandHalfWidth = 1.0;
constexpr double kPlusHalfLength = 7.0;
constexpr double kPlusHalfWidth = 1.0;
constexpr double kSquareHalfSize = 5.0;

struct MarkBuilder {
    PickCamera camera;
    float (*out)[3];
    int count;

    // World position of a screen offset (pixels, y up) from a world point at `depth`.
    void offset(const double world[3], double depth, double right, double up, float at[3]) const {
        double perPixel = 2 * depth / (camera.zoom * camera.height);
        for (int i = 0; i < 3; ++i)
            at[i] = static_cast<float>(world[i] + (right * camera.axes[0][i] + up * camera.axes[1][i]) * perPixel);
    }

    void quad(const float corners[4][3]) {
        if (count + 6 > kMaxMarkVertices) return;
        const int order[6] = {0, 1, 2, 0, 2, 3};
        for (int k : order) memcpy(out[count++], corners[k], sizeof corners[k]);
    }

    // A rectangle around a world point, axis-aligned on the screen.
    void box(const double world[3], double depth, double halfWidth, double halfHeight) {
        float corners[4][3];
        offset(world, depth, -halfWidth, -halfHeight, corners[0]);
        offset(world, depth, halfWidth, -halfHeight, corners[1]);
        offset(world, depth, halfWidth, halfHeight, corners[2]);
        offset(world, depth, -halfWidth, halfHeight, corners[3]);
        quad(corners);
    }
};

double depthOf(const PickCamera& camera, const double world[3]) {
    double depth = 0;
    for (int i = 0; i < 3; ++i) depth -= (world[i] - camera.eye[i]) * camera.axes[2][i];
    return depth;
}

double colourDistance(uint32_t a, uint32_t b) {
    double sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        double d = static_cast<double>(a >> shift & 0xFF) - static_cast<double>(b >> shift & 0xFF);
        sum += d * d;
    }
    return sum;
}

}  // namespace

void addMeasurePoint(MeasureMarks* marks, const SurfacePick* pick) {
    if (marks->count >= 2) marks->count = 0;
    int slot = marks->count++;
    double point[3];
    memcpy(point, pick->point, sizeof point);
    memcpy(marks->points[slot], point, sizeof point);
    marks->corner[slot] = pick->corner >= 0;
}

int buildMarkVertices(const FrameCamera* frame, const MeasureMarks* marks, int pass, float out[kMaxMarkVertices][3]) {
    MarkBuilder builder{{}, out, 0};
    framePickCamera(frame, &builder.camera);
    const PickCamera& camera = builder.camera;
    double grow = pass == 0 ? 1.0 : 0.0;
    double world[2][3], depth[2], screen[2][2];
    bool shown[2] = {false, false};
    int count = marks->count < 2 ? marks->count : 2;
    for (int k = 0; k < count; ++k) {
        double point[3];
        memcpy(point, marks->points[k], sizeof point);
        fileToWorld(camera.yUp != 0, point, world[k]);
        depth[k] = depthOf(camera, world[k]);
        shown[k] = projectToScreen(&camera, world[k], &screen[k][0], &screen[k][1]);
    }
    if (count == 2 && shown[0] && shown[1]) {
        double dx = screen[1][0] - screen[0][0], dy = screen[0][1] - screen[1][1];  // y up
        double length = std::sqrt(dx * dx + dy * dy);
        if (length >= 0.5) {
            double w = kBandHalfWidth + grow;
            double nx = -dy / length * w, ny = dx / length * w;
            float corners[4][3];
            builder.offset(world[0], depth[0], nx, ny, corners[0]);
            builder.offset(world[1], depth[1], nx, ny, corners[1]);
            builder.offset(world[1], depth[1], -nx, -ny, corners[2]);
            builder.offset(world[0], depth[0], -nx, -ny, corners[3]);
            builder.quad(corners);
        }
    }
    for (int k = 0; k < count; ++k) {
        if (!shown[k]) continue;
        if (marks->corner[k]) {
            builder.box(world[k], depth[k], kSquareHalfSize + grow, kSquareHalfSize + grow);
        } else {
            builder.box(world[k], depth[k], kPlusHalfLength + grow, kPlusHalfWidth + grow);
            builder.box(world[k], depth[k], kPlusHalfWidth + grow, kPlusHalfLength + grow);
        }
    }
    return builder.count;
}

uint32_t markColour(uint32_t background, const uint32_t* meshColours, int meshCount) {
    const uint32_t candidates[3] = {0xFFFF00FF, 0xFF00DCFF, 0xFFFFDC00};  // magenta, yellow, cyan
    uint32_t best = candidates[0];
    double bestDistance = -1;
    for (uint32_t candidate : candidates) {
        double nearest = colourDistance(candidate, background);
        for (int m = 0; m < meshCount; ++m) nearest = std::fmin(nearest, colourDistance(candidate, meshColours[m]));
        if (nearest > bestDistance) {
            bestDistance = nearest;
            best = candidate;
        }
    }
    return best;
}
