#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "view/camera.h"
#include "view/frame_math.h"
#include "view/gpu_mesh.h"
#include "view/view_picking.h"
#include "tests/view_test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Worst error over the angles start, start + stride, ... up to last, against
// double precision (errors some 1e-16).
double worstError(int64_t start, int64_t last, int64_t stride, int32_t* worstAngle) {
    double worst = 0;
    for (int64_t a = start; a <= last; a += stride) {
        SinCos got = sinCos(static_cast<int32_t>(a));
        double radians = double(static_cast<int32_t>(a)) * (2 * kPi / 4294967296.0);
        double error = std::fmax(std::fabs(got.cosine - std::cos(radians)), std::fabs(got.sine - std::sin(radians)));
        if (error > worst) worst = error, *worstAngle = static_cast<int32_t>(a);
    }
    return worst;
}

struct ViewFixture : ::testing::Test {
    ViewState state;
    void SetUp() override { initViewState(&state, nullptr, 10000000); }

    float pan(int axis) const { return packedFloat(state.pan, axis); }
    float rotation(int row, int column) const { return packedFloat(state.rotation, row * 3 + column); }
};

}  // namespace

TEST(SinCos, StaysWithinToleranceEverywhereAndNearTheFolds) {
    // A prime stride spreads the sample over every residue class (the Windows
    // runtime's sin and cos are slower, so that tree samples more thinly).
#ifdef _WIN32
    constexpr int64_t stride = 8191;
#else
    constexpr int64_t stride = 1021;
#endif
    int32_t angle = 0;
    EXPECT_LT(worstError(INT32_MIN, INT32_MAX, stride, &angle), 3e-8) << "at angle " << angle;
    // The folding changes at every eighth of a turn; every angle near each.
    for (int64_t centre = -(int64_t{1} << 31); centre <= (int64_t{1} << 31); centre += int64_t{1} << 29) {
        int64_t low = std::max<int64_t>(INT32_MIN, centre - 20000), high = std::min<int64_t>(INT32_MAX, centre + 20000);
        EXPECT_LT(worstError(low, high, 1, &angle), 3e-8) << "near " << centre << ", at angle " << angle;
    }
}

// Exact quarter turns, and cos(-a) = cos a, sin(-a) = -sin a.
TEST(SinCos, QuarterTurnsAndSymmetries) {
    const struct {
        int32_t angle;
        float cosine, sine;
    } quarters[] = {{0, 1, 0}, {1 << 30, 0, 1}, {INT32_MIN, -1, 0}, {-(1 << 30), 0, -1}};
    for (const auto& q : quarters) {
        EXPECT_EQ(sinCos(q.angle).cosine, q.cosine) << q.angle;
        EXPECT_EQ(sinCos(q.angle).sine, q.sine) << q.angle;
    }
    for (int32_t angle : {1, 12345, 536870912, 2000000000, INT32_MAX}) {
        EXPECT_EQ(sinCos(angle).cosine, sinCos(-angle).cosine) << angle;
        EXPECT_EQ(sinCos(angle).sine, -sinCos(-angle).sine) << angle;
    }
}

// The eye sits along the rotation's third column: above, to the left, in
// front, and opposite those. Top stops short of straight down, so its pitch cosine is never 0.
TEST_F(ViewFixture, PresetViewsLookFromEachSide) {
    const struct {
        ViewPreset preset;
        float eye[3];
    } cases[] = {{kViewTop, {0, 1, 0}},    {kViewLeft, {-1, 0, 0}}, {kViewFront, {0, 0, 1}},
                 {kViewBottom, {0, -1, 0}}, {kViewRight, {1, 0, 0}}, {kViewBack, {0, 0, -1}}};
    for (const auto& c : cases) {
        CameraAngles angles = presetAngles(c.preset);
        float zero[3] = {0, 0, 0};
        setAnglesInState(&state, zero, angles.yaw, angles.pitch);
        for (int axis = 0; axis < 3; ++axis) EXPECT_NEAR(rotation(axis, 2), c.eye[axis], 1e-6) << c.preset << axis;
    }
    EXPECT_GT(sinCos(presetAngles(kViewTop).pitch).cosine, 1e-7f);
}

TEST_F(ViewFixture, RotateDragTurnsAgainstTheMouseAndPitchIsNotLimited) {
    state.lastMouseX = 10;
    state.lastMouseY = 20;
    applyRotateDrag(&state, 110, 20);
    EXPECT_NEAR(copyOf(state.yaw) / double(kDegreeUnits), -48.25, 0.01);
    EXPECT_EQ(copyOf(state.pitch), 0);
    // One pixel down from just above the negative end wraps past it.
    state.pitch = INT32_MIN + 5;
    applyRotateDrag(&state, 10, 21);
    EXPECT_GT(copyOf(state.pitch), INT32_MAX - kDegreeUnits);
    // Slower when zoomed in, and symmetric.
    EXPECT_EQ(dragAngleDelta(0, 4.75f), 0);
    EXPECT_GT(std::abs(dragAngleDelta(10, 2.0f)), std::abs(dragAngleDelta(10, 128.0f)));
    EXPECT_EQ(dragAngleDelta(-10, 4.75f), -dragAngleDelta(10, 4.75f));
}

// A notch magnifies by 1/16 (shows more when flipped), within 2 and 128.
TEST(WheelZoom, Cases) {
    const struct {
        float zoom;
        int delta;
        bool flip;
        float expected;
    } cases[] = {
        {4.75f, 120, false, 4.75f * 1.0625f}, {4.75f, -120, false, 4.75f * 0.9375f},
        {4.75f, 120, true, 4.75f * 0.9375f},  {4.0f, -240, true, 4.0f * 1.125f},
        {2.0f, -120, false, 2.0f},            {128.0f, 120, false, 128.0f},
        {100.0f, 32767, false, 128.0f},       {100.0f, -32768, false, 2.0f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wheelZoom(c.zoom, c.delta, c.flip), c.expected) << c.zoom << " " << c.delta << " " << c.flip;
}

// Where a point lands on the screen, in normalised device coordinates.
void project(const ViewState& state, const float point[3], float ndc[2]) {
    FrameCamera camera;
    viewFrameCamera(&state, state.clientWidth, state.clientHeight, &camera);
    FrameConstants constants;
    computeFrameConstants(&camera, &constants);
    float m[4][4];
    memcpy(m, constants.viewProjection, sizeof m);
    float clip[4];
    for (int k = 0; k < 4; ++k) clip[k] = point[0] * m[0][k] + point[1] * m[1][k] + point[2] * m[2][k] + m[3][k];
    ndc[0] = clip[0] / clip[3];
    ndc[1] = clip[1] / clip[3];
}

// The point of the target's plane under the pointer stays there as the
// wheel zooms, in and out, anywhere in the view; at the centre nothing pans.
TEST_F(ViewFixture, TheWheelZoomsTowardThePointer) {
    float zero[3] = {0, 0, 0};
    setAnglesInState(&state, zero, degreesToAngle(30), degreesToAngle(-20));
    state.radius = 2.0f;
    state.yUp = 1;
    state.clientWidth = 800;
    state.clientHeight = 600;
    const float origin[3] = {0, 0, 0};
    memcpy(state.boundsMin, origin, sizeof origin);
    memcpy(state.boundsMax, origin, sizeof origin);
    const struct {
        int32_t x, y, wheel;
    } cases[] = {{700, 100, 120}, {700, 100, -360}, {10, 590, 240}, {399, 299, 120}};
    for (const auto& c : cases) {
        float ndc[2] = {2.0f * (c.x + 0.5f) / 800 - 1, 1 - 2.0f * (c.y + 0.5f) / 600};
        float depth = kEyeDistanceInRadii * state.radius, point[3];
        for (int i = 0; i < 3; ++i)  // the box's middle is the origin
            point[i] = pan(i) + ndc[0] * depth * 800 / (600 * state.zoom) * rotation(i, 0) +
                       ndc[1] * depth / state.zoom * rotation(i, 1);
        float before[2], after[2];
        project(state, point, before);
        applyWheelAt(&state, c.wheel, c.x, c.y);
        project(state, point, after);
        EXPECT_NEAR(before[0], ndc[0], 1e-4) << c.x;
        EXPECT_NEAR(after[0], before[0], 1e-4) << c.x;
        EXPECT_NEAR(after[1], before[1], 1e-4) << c.y;
    }
}

// The target moves against the mouse along the screen axes of the rotation.
TEST_F(ViewFixture, PanFollowsTheScreenAxes) {
    float zero[3] = {0, 0, 0};
    setAnglesInState(&state, zero, 0, 0);
    state.radius = 2.0f;
    state.lastMouseX = 50;
    state.lastMouseY = 50;
    applyPanDrag(&state, 60, 45);
    EXPECT_LT(pan(0), 0.0f);
    EXPECT_EQ(pan(0), 2 * pan(1));
    EXPECT_EQ(pan(2), 0.0f);
    float start[3] = {1.0f, 2.0f, 3.0f};
    setAnglesInState(&state, start, degreesToAngle(90), 0);
    state.lastMouseX = 60;
    state.lastMouseY = 45;
    applyPanDrag(&state, 61, 45);
    // Yaw 90 degrees: the screen's right is model -Z.
    EXPECT_NEAR(pan(0), 1.0f, 1e-6);
    EXPECT_EQ(pan(1), 2.0f);
    EXPECT_GT(pan(2), 3.0f);
}

TEST_F(ViewFixture, AutomaticRotationCountsEveryTickOnceAndWraps) {
    // Counters too fast for a whole unit per tick would never turn with a rate of 0.
    EXPECT_EQ(rotationRateFor(3000000000LL), 1u);
    EXPECT_EQ(rotationRateFor(0), 1u);
    // Only the low 32 bits of the counter count, and the difference wraps; so does the yaw.
    EXPECT_EQ(rotatedYaw(5, (int64_t{7} << 32) + 0xFFFFFFF0, (int64_t{8} << 32) + 0x10, 14), 5 - 0x20 * 14);
    EXPECT_EQ(rotatedYaw(INT32_MIN, 0, 1, 1), INT32_MAX);
    state.rotationStamp = 5000;
    applyRotationStep(&state, 5100);
    applyRotationStep(&state, 5350);
    EXPECT_EQ(copyOf(state.yaw), -350 * static_cast<int32_t>(copyOf(state.rotationRate)));
    EXPECT_EQ(rotation(0, 0), sinCos(copyOf(state.yaw)).cosine);
}

// The first mesh resets pan and zoom; further ones widen the box and keep
// the camera, up to five; a freed slot is filled first.
TEST_F(ViewFixture, MeshesFillFiveSlotsAndWidenTheBox) {
    float panValue[3] = {1, 2, 3};
    setAnglesInState(&state, panValue, 0, 0);
    state.zoom = 30.0f;
    GpuMesh meshes[6];
    for (int i = 0; i < 6; ++i) meshes[i] = meshWithBox(float(i), -1, -2, float(i) + 1, 1, 2);
    EXPECT_TRUE(placeMesh(&state, &meshes[0], true));
    EXPECT_EQ(copyOf(state.zoom), kInitialZoom);
    EXPECT_EQ(pan(0), 0.0f);
    state.zoom = 10.0f;
    for (int i = 1; i < 5; ++i) EXPECT_TRUE(placeMesh(&state, &meshes[i], false));
    EXPECT_FALSE(placeMesh(&state, &meshes[5], false));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(copyOf(state.meshes[i]), &meshes[i]);
    const float wideMin[3] = {0, -1, -2}, wideMax[3] = {5, 1, 2};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(packedFloat(state.boundsMin, axis), wideMin[axis]);
        EXPECT_EQ(packedFloat(state.boundsMax, axis), wideMax[axis]);
    }
    EXPECT_EQ(copyOf(state.radius), boxRadius(wideMin, wideMax));
    EXPECT_EQ(copyOf(state.zoom), 10.0f);
    state.meshes[1] = nullptr;
    EXPECT_TRUE(placeMesh(&state, &meshes[5], false));
    EXPECT_EQ(copyOf(state.meshes[1]), &meshes[5]);
}
