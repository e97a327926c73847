// The arithmetic behind a frame and the mapping of Direct3D failures; no device needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/sink_recorder.h"
#include "view/adapter_limits.h"
#include "view/frame_math.h"
#include "view/gpu_device.h"
#include "view/measure_marks.h"
#include "view/section_plane.h"

namespace {

TEST(ClearColourTable, IsTheSrgbTransferFunction) {
    for (int i = 0; i < 256; ++i) {
        double v = i / 255.0;
        EXPECT_EQ(kClearColourTable[i], float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))) << i;
    }
}

FrameCamera frontCamera(float radius) {
    FrameCamera camera{};
    camera.rotation[0][0] = camera.rotation[1][1] = camera.rotation[2][2] = 1;
    camera.radius = radius;
    camera.zoom = 4.75f;
    camera.yUp = true;
    camera.width = 300;
    camera.height = 200;
    return camera;
}

TEST(CameraClipRange, HugsTheBoundingSphereWithANearPlaneInFront) {
    const struct {
        float radius, panZ, nearPlane, farPlane;
    } cases[] = {
        {0.05f, 0, 0.2f, 0.3f},
        {1.0f, 2, 6.0f, 8.0f},          // column 2 of the identity is +z: the target moves towards the eye
        {2.0f, -9.5f, 0.002f, 4.002f},  // target beyond the model: the near plane stays in front of the eye
    };
    for (const auto& c : cases) {
        FrameCamera camera = frontCamera(c.radius);
        camera.pan[2] = c.panZ;
        float n, f;
        cameraClipRange(&camera, &n, &f);
        EXPECT_FLOAT_EQ(n, c.nearPlane) << c.radius << " " << c.panZ;
        EXPECT_FLOAT_EQ(f, c.farPlane) << c.radius << " " << c.panZ;
    }
}

// Normalised device coordinates of target + a·right + b·up + c·back, where
// the axes are the columns of the camera's rotation.
void project(const FrameCamera& camera, const FrameConstants& frame, const float target[3], float a, float b,
             float c, double ndc[3]) {
    float vp[4][4];
    memcpy(vp, frame.viewProjection, sizeof vp);
    const float(*r)[3] = camera.rotation;
    double clip[4];
    for (int k = 0; k < 4; ++k) {
        clip[k] = vp[3][k];
        for (int i = 0; i < 3; ++i) clip[k] += (target[i] + a * r[i][0] + b * r[i][1] + c * r[i][2]) * vp[i][k];
    }
    for (int k = 0; k < 3; ++k) ndc[k] = clip[k] / clip[3];
}

// For any box, from a point to the huge clamped extents: the target (centre
// plus pan) lands in the middle, the bounding sphere about the centre fills
// the depth range, a radius up or right of the target shows at zoom / 5
// (width corrected), and the light stays fixed to the camera. The centre is
// in file axes: Z-up models turn it like their model matrix.
TEST(FrameConstants, FrameTheBoundingSphereForAnyBox) {
    const struct {
        float radius, centre[3], pan[3];
        bool yUp, turned;
    } cases[] = {
        {0.5f, {1, 2, 3}, {0, 0, 0}, true, false},
        {1.0f, {0, 0, 0}, {0.5f, -1, 0}, true, true},
        {0.01f, {0, 0.02f, 0.01f}, {0, 0, 0}, false, true},
        {1.7e-6f, {0, 0, 0}, {0, 0, 0}, true, true},  // every axis flat
        {1.7e15f, {0, 0, 0}, {0, 0, 0}, false, false},  // infinite extents clamped
    };
    double viewLight[3] = {};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.radius);
        FrameCamera camera = frontCamera(c.radius);
        memcpy(camera.centre, c.centre, sizeof c.centre);
        memcpy(camera.pan, c.pan, sizeof c.pan);
        camera.yUp = c.yUp;
        const float quarterTurn[3][3] = {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}};  // about Y; not symmetric
        if (c.turned) memcpy(camera.rotation, quarterTurn, sizeof quarterTurn);
        ObjectConstants object;
        computeObjectConstants(1.0f, c.yUp, 0, &object);
        float model[4][4], centre[3], target[3];
        memcpy(model, object.model, sizeof model);
        for (int k = 0; k < 3; ++k) {
            centre[k] = c.centre[0] * model[0][k] + c.centre[1] * model[1][k] + c.centre[2] * model[2][k] + model[3][k];
            target[k] = centre[k] + c.pan[k];
        }
        FrameConstants frame;
        computeFrameConstants(&camera, &frame);
        double ndc[3];
        project(camera, frame, target, 0, 0, 0, ndc);
        EXPECT_NEAR(ndc[0], 0, 1e-6);
        EXPECT_NEAR(ndc[1], 0, 1e-6);
        project(camera, frame, centre, 0, 0, c.radius, ndc);
        EXPECT_NEAR(ndc[2], 0, 1e-5);
        project(camera, frame, centre, 0, 0, -c.radius, ndc);
        EXPECT_NEAR(ndc[2], 1, 1e-5);
        project(camera, frame, target, 0, c.radius, 0, ndc);
        EXPECT_NEAR(ndc[1], 4.75 / 5, 1e-5);
        project(camera, frame, target, c.radius, 0, 0, ndc);
        EXPECT_NEAR(ndc[0], 4.75 / 5 * 200 / 300, 1e-5);
        float light[4];
        memcpy(light, frame.light, sizeof light);
        for (int j = 0; j < 3; ++j) {
            double inView = 0;
            for (int i = 0; i < 3; ++i) inView += light[i] * camera.rotation[i][j];
            if (&c == cases) viewLight[j] = inView;
            EXPECT_NEAR(inView, viewLight[j], 1e-6) << j;
        }
    }
}

// The HRESULT travels as the argument.
// A file point in the world as the model matrix puts it (one metre per unit).
void fileToWorld(const float p[3], bool yUp, float out[3]) {
    ObjectConstants object;
    computeObjectConstants(1.0f, yUp, 0, &object);
    float m[4][4];
    memcpy(m, object.model, sizeof m);
    for (int k = 0; k < 3; ++k) out[k] = p[0] * m[0][k] + p[1] * m[1][k] + p[2] * m[2][k] + m[3][k];
}

float planeDistance(const SectionConstants& c, const float world[3]) {
    float plane[4];
    memcpy(plane, c.plane, sizeof plane);
    return world[0] * plane[0] + world[1] * plane[1] + world[2] * plane[2] + plane[3];
}

// The plane cuts along the file's own axis whichever way the model is
// turned, and keeps the side that Flip says.
TEST(SectionConstants, KeepTheChosenSideOfTheFilesAxis) {
    const float low[3] = {-10, 0, 20}, high[3] = {10, 4, 30};
    const struct {
        uint8_t axis, flip;
        float share;
        float kept[3], removed[3];
    } cases[] = {
        {0, 0, 0.5f, {-0.1f, 2, 25}, {0.1f, 2, 25}},
        {0, 1, 0.5f, {0.1f, 2, 25}, {-0.1f, 2, 25}},
        {1, 0, 0.25f, {0, 0.9f, 25}, {0, 1.1f, 25}},
        {1, 1, 0.25f, {0, 1.1f, 25}, {0, 0.9f, 25}},
        {2, 0, 0.8f, {0, 2, 27.9f}, {0, 2, 28.1f}},
        {2, 1, 0.0f, {0, 2, 20.1f}, {0, 2, 19.9f}},
        {2, 0, 1.5f, {0, 2, 34.9f}, {0, 2, 35.1f}},  // beyond the box
        {2, 0, -0.5f, {0, 2, 14.9f}, {0, 2, 15.1f}},
    };
    for (bool yUp : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << yUp << " axis " << int(c.axis) << " flip " << int(c.flip));
            SectionPlane section = {1, c.axis, c.flip, c.share};
            SectionConstants constants;
            computeSectionConstants(&section, yUp, low, high, &constants);
            float kept[3], removed[3];
            fileToWorld(c.kept, yUp, kept);
            fileToWorld(c.removed, yUp, removed);
            EXPECT_GT(planeDistance(constants, kept), 0);
            EXPECT_LT(planeDistance(constants, removed), 0);
            EXPECT_FLOAT_EQ(sectionPlace(&section, low, high), low[c.axis] + c.share * (high[c.axis] - low[c.axis]));
        }
    }
}

// The cap rectangle lies in the plane and covers the whole cut of the box.
TEST(SectionConstants, CapRectangleCoversTheBoxInThePlane) {
    const float low[3] = {-10, 0, 20}, high[3] = {10, 4, 30};
    for (bool yUp : {true, false}) {
        for (uint8_t axis = 0; axis < 3; ++axis) {
            SCOPED_TRACE(testing::Message() << yUp << " axis " << int(axis));
            SectionPlane section = {1, axis, 0, 0.3f};
            SectionConstants c;
            computeSectionConstants(&section, yUp, low, high, &c);
            float corner[4], u[4], v[4];
            memcpy(corner, c.corner, sizeof corner);
            memcpy(u, c.edgeU, sizeof u);
            memcpy(v, c.edgeV, sizeof v);
            for (float a : {0.0f, 1.0f})
                for (float b : {0.0f, 1.0f}) {
                    float p[3];
                    for (int k = 0; k < 3; ++k) p[k] = corner[k] + a * u[k] + b * v[k];
                    EXPECT_NEAR(planeDistance(c, p), 0, 1e-5f);
                }
            // Every corner of the box's cut, moved into the world, within the rectangle.
            for (int i = 0; i < 4; ++i) {
                int first = (axis + 1) % 3, second = (axis + 2) % 3;
                float file[3];
                file[first] = i & 1 ? high[first] : low[first];
                file[second] = i & 2 ? high[second] : low[second];
                file[axis] = sectionPlace(&section, low, high);
                float world[3];
                fileToWorld(file, yUp, world);
                float along[2] = {0, 0}, lengths[2] = {0, 0};
                for (int k = 0; k < 3; ++k) {
                    along[0] += (world[k] - corner[k]) * u[k];
                    along[1] += (world[k] - corner[k]) * v[k];
                    lengths[0] += u[k] * u[k];
                    lengths[1] += v[k] * v[k];
                }
                for (int e = 0; e < 2; ++e) {
                    EXPECT_GT(along[e], 0) << i;
                    EXPECT_LT(along[e], lengths[e]) << i;
                }
            }
        }
    }
}

TEST(SectionPlane, StepsStayWithinTheBox) {
    const struct {
        float share, steps, step, expected;
    } cases[] = {
        {0.5f, 1, kSectionStep, 0.51f},   {0.5f, -3, kSectionStep, 0.47f},  {0.5f, 2, kSectionLargeStep, 0.7f},
        {0.95f, 1, kSectionLargeStep, 1}, {0.02f, -5, kSectionStep, 0},      {0.5f, 0.5f, kSectionStep, 0.505f},
    };
    for (const auto& c : cases) EXPECT_FLOAT_EQ(movedSectionShare(c.share, c.steps, c.step), c.expected);
    SectionPlane fresh = initialSection();
    EXPECT_EQ(fresh.on, 0);
    EXPECT_EQ(fresh.axis, 2);
    EXPECT_FLOAT_EQ(fresh.share, 0.5f);
}

struct ScreenRect {
    double x, y, halfWidth, halfHeight;  // pixels, y down
    bool operator<(const ScreenRect& o) const {
        return std::tie(x, y, halfWidth, halfHeight) < std::tie(o.x, o.y, o.halfWidth, o.halfHeight);
    }
};

// The marks' triangles as the screen shows them: each pair of triangles
// covers one rectangle, axis-aligned in the cases here.
std::vector<ScreenRect> markRects(const FrameCamera& frame, const MeasureMarks& marks, int pass) {
    float out[kMaxMarkVertices][3];
    int count = buildMarkVertices(&frame, &marks, pass, out);
    EXPECT_EQ(count % 6, 0);
    PickCamera camera;
    framePickCamera(&frame, &camera);
    std::vector<ScreenRect> rects;
    for (int q = 0; q + 6 <= count; q += 6) {
        double low[2] = {1e9, 1e9}, high[2] = {-1e9, -1e9}, at[6][2], area = 0;
        for (int k = 0; k < 6; ++k) {
            double world[3] = {out[q + k][0], out[q + k][1], out[q + k][2]};
            EXPECT_TRUE(projectToScreen(&camera, world, &at[k][0], &at[k][1]));
            for (int i = 0; i < 2; ++i) low[i] = std::fmin(low[i], at[k][i]), high[i] = std::fmax(high[i], at[k][i]);
        }
        for (int t = 0; t < 6; t += 3)
            area += std::fabs((at[t + 1][0] - at[t][0]) * (at[t + 2][1] - at[t][1]) -
                              (at[t + 2][0] - at[t][0]) * (at[t + 1][1] - at[t][1])) / 2;
        EXPECT_NEAR(area, (high[0] - low[0]) * (high[1] - low[1]), 0.01) << "a gap or an overlap";
        auto rounded = [](double v) { return std::round(v * 100) / 100; };
        rects.push_back({rounded((low[0] + high[0]) / 2), rounded((low[1] + high[1]) / 2),
                         rounded((high[0] - low[0]) / 2), rounded((high[1] - low[1]) / 2)});
    }
    std::sort(rects.begin(), rects.end());
    return rects;
}

// Picked points as the marks draw them in the fill pass (1) and the dark rim
// (0), one pixel wider all round: a plus for a point on a face, a square for
// a snapped corner (whichever corner of its triangle), a band between two
// points; a third point starts anew, a point behind the eye has no mark and
// no band, two points on one pixel no band. The camera of 300 x 200 pixels
// shows 1 cm as 19 pixels.
TEST(MeasureMarks, ShapesOnTheScreen) {
    const double left[3] = {-0.01, 0, 0}, right[3] = {0.01, 0, 0}, up[3] = {0, 0.01, 0}, behind[3] = {0, 0, 0.3};
    const ScreenRect leftPlus[2] = {{131, 100, 1, 7}, {131, 100, 7, 1}}, leftRim[2] = {{131, 100, 2, 8}, {131, 100, 8, 2}};
    const struct Pick {
        const double* point;
        int32_t corner;
    } noPick = {nullptr, 0};
    const struct {
        const char* what;
        Pick picks[3];
        int pass;
        std::vector<ScreenRect> rects;
    } cases[] = {
        {"a point on a face", {{left, -1}, noPick, noPick}, 1, {leftPlus[0], leftPlus[1]}},
        {"the first corner of its triangle", {{left, 0}, noPick, noPick}, 1, {{131, 100, 5, 5}}},
        {"the last corner of its triangle", {{left, 2}, noPick, noPick}, 1, {{131, 100, 5, 5}}},
        {"two points", {{left, -1}, {right, 1}, noPick}, 1, {leftPlus[0], leftPlus[1], {150, 100, 19, 1}, {169, 100, 5, 5}}},
        {"two points, the rim", {{left, -1}, {right, 0}, noPick}, 0, {leftRim[0], leftRim[1], {150, 100, 19, 2}, {169, 100, 6, 6}}},
        {"a third point", {{left, -1}, {right, -1}, {up, 1}}, 1, {{150, 81, 5, 5}}},
        {"behind the eye", {{left, -1}, {behind, 0}, noPick}, 1, {leftPlus[0], leftPlus[1]}},
        {"two points on one pixel", {{left, -1}, {left, 0}, noPick}, 1, {leftPlus[0], {131, 100, 5, 5}, leftPlus[1]}},
    };
    FrameCamera frame = frontCamera(0.05f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MeasureMarks marks{};
        for (const Pick& p : c.picks) {
            if (!p.point) break;
            SurfacePick pick{0, 0, 0, p.corner, {p.point[0], p.point[1], p.point[2]}, 0};
            addMeasurePoint(&marks, &pick);
        }
        std::vector<ScreenRect> got = markRects(frame, marks, c.pass);
        ASSERT_EQ(got.size(), c.rects.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].x, c.rects[i].x, 0.01) << i;
            EXPECT_NEAR(got[i].y, c.rects[i].y, 0.01) << i;
            EXPECT_NEAR(got[i].halfWidth, c.rects[i].halfWidth, 0.01) << i;
            EXPECT_NEAR(got[i].halfHeight, c.rects[i].halfHeight, 0.01) << i;
        }
    }
}

// Of magenta, yellow and cyan the one farthest from the background and
// every mesh colour; on a tie the first.
TEST(MeasureMarks, ColourStandsOutFromBackgroundAndMeshes) {
    const uint32_t magenta = 0xFFFF00FF, yellow = 0xFF00DCFF, cyan = 0xFFFFDC00, black = 0xFF000000;
    const struct {
        uint32_t background;
        std::vector<uint32_t> meshes;
        uint32_t mark;
    } cases[] = {
        {black, {0xFFC0C0C0}, magenta},
        {0xFFFF0000, {magenta}, yellow},  // on blue, beside magenta
        {0xFFC040FF, {}, cyan},
        {0xFF00FFFF, {cyan}, magenta},
        {black, {magenta}, yellow},  // yellow and cyan as far from both
        {black, {0xFF808080, magenta, 0xFF00C0FF}, cyan},
    };
    for (const auto& c : cases)
        EXPECT_EQ(markColour(c.background, c.meshes.data(), int(c.meshes.size())), c.mark) << std::hex << c.background;
}

// Each result the view's calls can give has a code with its own text; a
// device loss is left to the device's owner, who tells it once.
TEST(ReportGpuError, NamesTheFailureAndCarriesTheResult) {
    const struct {
        uint32_t result;
        StatusCode code;
        bool loss;
    } cases[] = {
        {0x887A0005, kGpuLost, true},          {0x887A0006, kGpuHung, true},
        {0x887A0007, kGpuReset, true},         {0x887A0020, kGpuDriverFailed, true},
        {0x8007000E, kOutOfGpuMemory, false},  {0x887A000A, kGpuStillDrawing, false},
        {0x80070057, kGpuInvalidCall, false},  {0x887A0001, kGpuInvalidCall, false},
        {0x80004005, kGpuUnspecified, false},  {0x887A002D, kGpuDebugLayerMissing, false},
        {0x887A0004, kGpuNoDriverSupport, false}, {0x80004002, kGpuNoInterface, false},
        {0x887A0022, kGpuNotAvailable, false}, {0x887C0001, kGpuTooManyStates, false},
        {0x887A0030, kGpuOtherFailure, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.result));
        RecordingSink sink, unlessLost;
        reportGpuError(int32_t(c.result), &sink.sink);
        ASSERT_EQ(sink.received.size(), 1u);
        EXPECT_EQ(sink.received[0].code, c.code);
        EXPECT_EQ(sink.received[0].argument, uintptr_t{c.result});
        EXPECT_EQ(isDeviceLoss(int32_t(c.result)), c.loss);
        reportGpuFailure(int32_t(c.result), &unlessLost.sink);
        EXPECT_EQ(unlessLost.received.size(), c.loss ? 0u : 1u);
    }
    // GetDeviceRemovedReason's four answers in words of their own.
    const uint32_t reasons[] = {0x887A0005, 0x887A0006, 0x887A0007, 0x887A0020};
    for (uint32_t a : reasons)
        for (uint32_t b : reasons) EXPECT_EQ(deviceLossWords(int32_t(a)) == deviceLossWords(int32_t(b)), a == b);
    EXPECT_EQ(std::string(deviceLossWords(int32_t(0x887A0005))), "driver updated, or the adapter removed or switched");
    EXPECT_EQ(std::string(deviceLossWords(0)), "no reason given");
    reportGpuError(int32_t(0x887A0005), nullptr);  // no sink, no report, no crash
}

}  // namespace

namespace {

// The samples of a frame's targets for window sizes from one pixel to 8K and
// budgets of the smallest, a middling and the largest guarantee: the targets
// fit half the budget (the model keeps the rest), or have one sample; never
// a count the device does not offer; and a failed creation steps down
// through the offered counts to one.
TEST(TargetSamples, FitTheBudgetAtEverySize) {
    const uint32_t allCounts = 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8 | 1u << 16;
    const uint64_t budgets[] = {128 * kMegabyte, 512 * kMegabyte, 2048 * kMegabyte};
    const int32_t sizes[][2] = {{1, 1},       {16, 16},     {640, 480},   {1280, 720}, {1920, 1080},
                                {2560, 1440}, {3840, 2160}, {5120, 2880}, {7680, 4320}};
    // Expected counts: rows the sizes, columns the budgets.
    const uint32_t expected[][3] = {{16, 16, 16}, {16, 16, 16}, {16, 16, 16}, {8, 16, 16}, {4, 16, 16},
                                    {2, 8, 16},   {1, 4, 16},   {1, 2, 8},    {1, 1, 4}};
    for (size_t s = 0; s < std::size(sizes); ++s)
        for (size_t b = 0; b < std::size(budgets); ++b) {
            auto [width, height] = sizes[s];
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " " +
                         std::to_string(budgets[b] / kMegabyte) + " MB");
            uint32_t count = chooseSampleCount(width, height, budgets[b], 16, allCounts);
            EXPECT_EQ(count, expected[s][b]);
            EXPECT_TRUE(count == 1 || uint64_t(width) * height * count * 8 <= budgets[b] / 2);
            EXPECT_TRUE(allCounts >> count & 1);
            // A software rasterizer's limit, and a device offering only 1 and 4.
            EXPECT_LE(chooseSampleCount(width, height, budgets[b], 4, allCounts), 4u);
            uint32_t few = chooseSampleCount(width, height, budgets[b], 16, 1u << 1 | 1u << 4);
            EXPECT_TRUE(few == 1 || few == 4);
        }
    std::vector<uint32_t> steps;
    for (uint32_t count = 16; count > 1; count = fewerSamples(count, allCounts)) steps.push_back(count);
    EXPECT_EQ(steps, (std::vector<uint32_t>{16, 8, 4, 2}));
    EXPECT_EQ(fewerSamples(4, 1u << 1 | 1u << 4), 1u);
}

// A picture beyond one target's size or budget comes in tiles that cover it
// and fit both; feature level 10_x textures stop at 8192.
TEST(PictureTiles, CoverThePictureWithinTheLimits) {
    EXPECT_EQ(maxTextureSide(0xB000), 16384);
    EXPECT_EQ(maxTextureSide(0xA100), 8192);
    EXPECT_EQ(maxTextureSide(0xA000), 8192);
    struct Case {
        int32_t width, height, maxSide;
        uint64_t budget;
        int32_t columns, rows;
    };
    const Case cases[] = {
        {1280, 960, 16384, 128 * kMegabyte, 1, 1},
        {16384, 16384, 16384, 2048 * kMegabyte, 2, 2},
        {16384, 16384, 8192, 2048 * kMegabyte, 2, 2},
        {16384, 16384, 8192, 128 * kMegabyte, 8, 8},
        {9000, 64, 8192, 2048 * kMegabyte, 2, 1},
        {900, 700, 16384, kMegabyte, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        TilePlan plan = planTiles(c.width, c.height, c.maxSide, c.budget);
        EXPECT_EQ(plan.columns, c.columns);
        EXPECT_EQ(plan.rows, c.rows);
        EXPECT_LE(plan.tileWidth, c.maxSide);
        EXPECT_LE(plan.tileHeight, c.maxSide);
        EXPECT_LE(uint64_t(plan.tileWidth) * plan.tileHeight * 12, c.budget / 2);
        EXPECT_GE(plan.columns * plan.tileWidth, c.width);
        EXPECT_LT((plan.columns - 1) * plan.tileWidth, c.width);
        EXPECT_GE(plan.rows * plan.tileHeight, c.height);
        EXPECT_LT((plan.rows - 1) * plan.tileHeight, c.height);
    }
}

// The guarantee of Direct3D 11's resource limit for an adapter's memory,
// and the pieces of whole triangles within it.
TEST(AdapterLimits, GuaranteedSizeAndPieces) {
    EXPECT_EQ(guaranteedResourceBytes(kMicrosoftVendor, uint64_t{16} << 30), 128 * kMegabyte);
    EXPECT_EQ(guaranteedResourceBytes(0x8086, 128 * kMegabyte), 128 * kMegabyte);  // integrated, 128 MB
    EXPECT_EQ(guaranteedResourceBytes(0x10DE, 2048 * kMegabyte), 512 * kMegabyte);
    EXPECT_EQ(guaranteedResourceBytes(0x1002, uint64_t{24} << 30), 2048 * kMegabyte);
    EXPECT_EQ(pieceTrianglesFor(128 * kMegabyte, 0), 2796202u);
    EXPECT_EQ(pieceTrianglesFor(2048 * kMegabyte, 0), 5592405u);  // the staging cap
    EXPECT_EQ(pieceTrianglesFor(2048 * kMegabyte, 64 * 1024), 1365u);
    EXPECT_EQ(pieceTrianglesFor(2048 * kMegabyte, 10), 1u);
}

}  // namespace
