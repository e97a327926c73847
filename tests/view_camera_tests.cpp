#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "view/camera.h"
#include "view/gpu_mesh.h"
#include "tests/view_test_support.h"

namespace {

constexpr double kTolerance = 3e-8;
constexpr double kPi = 3.14159265358979323846;

struct ExactSinCos {
    double cosine;
    double sine;
};

// Double precision is exact enough here: its errors are some 1e-16 against a
// tolerance of 3e-8.
ExactSinCos exactSinCos(int32_t angle) {
    double radians = angle * (2 * kPi / 4294967296.0);
    return {std::cos(radians), std::sin(radians)};
}

// Worst error over the angles start, start + stride, ... up to last.
double worstError(int64_t start, int64_t last, int64_t stride, int32_t* worstAngle) {
    double worst = 0;
    for (int64_t a = start; a <= last; a += stride) {
        int32_t angle = static_cast<int32_t>(a);
        SinCos got = sinCos(angle);
        ExactSinCos want = exactSinCos(angle);
        double error = std::fmax(std::fabs(got.cosine - want.cosine), std::fabs(got.sine - want.sine));
        if (error > worst) {
            worst = error;
            *worstAngle = angle;
        }
    }
    return worst;
}

struct ViewFixture : ::testing::Test {
    ViewState state;
    void SetUp() override { initViewState(&state, nullptr, 10000000); }

    float pan(int axis) const { return packedFloat(state.pan, axis); }
    float boundsMin(int axis) const { return packedFloat(state.boundsMin, axis); }
    float boundsMax(int axis) const { return packedFloat(state.boundsMax, axis); }
    float rotation(int row, int column) const { return packedFloat(state.rotation, row * 3 + column); }
};

}  // namespace

TEST(SinCos, DenseSampleStaysWithinTolerance) {
    // A prime stride spreads the sample over every residue class: about 4.2
    // million angles natively; the Windows runtime's sin and cos are slower,
    // so that tree takes every 8191st.
#ifdef _WIN32
    constexpr int64_t stride = 8191;
#else
    constexpr int64_t stride = 1021;
#endif
    int32_t angle = 0;
    double worst = worstError(INT32_MIN, INT32_MAX, stride, &angle);
    EXPECT_LT(worst, kTolerance) << "at angle " << angle;
}

TEST(SinCos, EveryAngleNearTheFoldsStaysWithinTolerance) {
    // The folding changes at every eighth of a turn; check a neighbourhood of
    // each, and of the largest values where single-precision rounding is coarsest.
    for (int64_t eighth = -4; eighth <= 4; ++eighth) {
        int64_t centre = eighth * (int64_t{1} << 29);
        int64_t low = std::max<int64_t>(INT32_MIN, centre - 20000);
        int64_t high = std::min<int64_t>(INT32_MAX, centre + 20000);
        int32_t angle = 0;
        double worst = worstError(low, high, 1, &angle);
        EXPECT_LT(worst, kTolerance) << "near " << centre << ", at angle " << angle;
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

TEST(SinCos, TopPresetPitchIsNotExactlyStraightDown) {
    CameraAngles top = presetAngles(kViewTop);
    SinCos pitch = sinCos(top.pitch);
    EXPECT_NE(pitch.cosine, 0.0f);
    EXPECT_NEAR(pitch.cosine, 78 * 2 * kPi / 4294967296.0, 1e-12);
    EXPECT_GT(pitch.cosine, 1.1e-7f);
    EXPECT_EQ(pitch.sine, -1.0f);
}

TEST(Rotation, IsRyTimesRxAndOrthonormal) {
    BinaryAngle pitch = degreesToAngle(30);
    BinaryAngle yaw = degreesToAngle(-70);
    float rows[3][3];
    rotationFromAngles(pitch, yaw, rows);
    double p = 30 * kPi / 180, y = -70 * kPi / 180;
    double ry[3][3] = {{cos(y), 0, sin(y)}, {0, 1, 0}, {-sin(y), 0, cos(y)}};
    double rx[3][3] = {{1, 0, 0}, {0, cos(p), -sin(p)}, {0, sin(p), cos(p)}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double want = 0;
            for (int k = 0; k < 3; ++k) want += ry[i][k] * rx[k][j];
            EXPECT_NEAR(rows[i][j], want, 2e-7) << i << "," << j;
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double dot = 0;
            for (int k = 0; k < 3; ++k) dot += double(rows[i][k]) * rows[j][k];
            EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 3e-7);
        }
    }
}

TEST_F(ViewFixture, DraggingHundredPixelsRightTurnsAboutMinus48Degrees) {
    state.lastMouseX = 10;
    state.lastMouseY = 20;
    applyRotateDrag(&state, 110, 20);
    EXPECT_NEAR(copyOf(state.yaw) / double(kDegreeUnits), -48.25, 0.01);
    EXPECT_EQ(copyOf(state.pitch), 0);
}

TEST_F(ViewFixture, DraggingDownTurnsPitchAndWrapsAround) {
    state.pitch = INT32_MIN + 5;
    applyRotateDrag(&state, 0, -1);
    // One pixel up at zoom 4.75 adds about 0.48 degrees, wrapping past the negative end.
    int32_t step = dragAngleDelta(-1, 4.75f);
    EXPECT_GT(step, 0);
    EXPECT_EQ(copyOf(state.pitch), static_cast<int32_t>(static_cast<uint32_t>(INT32_MIN + 5) + uint32_t(step)));
    EXPECT_EQ(copyOf(state.yaw), 0);
}

TEST(DragAngle, RoundsHalfwayToEven) {
    // Search zoom values next to 4.75 for a product that lies exactly halfway.
    float zoom = 4.75f;
    int found = 0;
    for (int i = 0; i < 10000 && found < 4; ++i, zoom = std::nextafter(zoom, 5.0f)) {
        float units = 1.0f * (-0.04f / zoom) * 683565248.0f;
        if (units - std::floor(units) != 0.5f) continue;
        ++found;
        int32_t result = dragAngleDelta(1, zoom);
        EXPECT_EQ(result % 2, 0) << "zoom " << zoom << " units " << units;
        EXPECT_EQ(std::fabs(result - double(units)), 0.5);
    }
    EXPECT_GT(found, 0);
}

TEST(DragAngle, IsSlowerWhenZoomedIn) {
    EXPECT_EQ(dragAngleDelta(0, 4.75f), 0);
    EXPECT_GT(std::abs(dragAngleDelta(10, 2.0f)), std::abs(dragAngleDelta(10, 128.0f)));
    EXPECT_EQ(dragAngleDelta(-10, 4.75f), -dragAngleDelta(10, 4.75f));
}

// A notch magnifies by 1/16 (shows more when flipped), within 2 and 128.
TEST(WheelZoom, Cases) {
    struct Case {
        float zoom;
        int delta;
        bool flip;
        float expected;
    };
    const Case cases[] = {
        {4.75f, 120, false, 4.75f * 1.0625f}, {4.75f, -120, false, 4.75f * 0.9375f}, {4.75f, 120, true, 4.75f * 0.9375f},
        {4.0f, -240, true, 4.0f * 1.125f},     {2.0f, -120, false, 2.0f},             {128.0f, 120, false, 128.0f},
        {2.0f, 120, true, 2.0f},              {100.0f, 32767, false, 128.0f},        {100.0f, -32768, false, 2.0f},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wheelZoom(c.zoom, c.delta, c.flip), c.expected) << c.zoom << " " << c.delta << " " << c.flip;
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

TEST_F(ViewFixture, SettingAnglesKeepsZoom) {
    state.zoom = 9.0f;
    float panValue[3] = {0.5f, -1.0f, 2.0f};
    setAnglesInState(&state, panValue, 123, -456);
    EXPECT_EQ(copyOf(state.yaw), 123);
    EXPECT_EQ(copyOf(state.pitch), -456);
    EXPECT_EQ(copyOf(state.zoom), 9.0f);
    EXPECT_EQ(pan(0), 0.5f);
    EXPECT_EQ(pan(1), -1.0f);
    EXPECT_EQ(pan(2), 2.0f);
}

TEST(AutomaticRotation, RateIsTheIntegerQuotientOfOneTurnIn30Seconds) {
    EXPECT_EQ(rotationRateFor(10000000), 14u);
    EXPECT_EQ(rotationRateFor(143165576), 1u);
    // Faster counters would never turn with a rate of 0.
    EXPECT_EQ(rotationRateFor(3000000000LL), 1u);
    EXPECT_EQ(rotationRateFor(0), 1u);
}

TEST(AutomaticRotation, TurnsAgainstYawByTicksTimesRate) {
    EXPECT_EQ(rotatedYaw(0, 1000, 1100, 14), -1400);
    // Only the low 32 bits of the counter count, and the difference wraps.
    int64_t stamp = (int64_t{7} << 32) + 0xFFFFFFF0;
    int64_t now = (int64_t{8} << 32) + 0x10;
    EXPECT_EQ(rotatedYaw(5, stamp, now, 14), 5 - 0x20 * 14);
    // The yaw wraps past the negative end.
    EXPECT_EQ(rotatedYaw(INT32_MIN, 0, 1, 1), INT32_MAX);
}

TEST_F(ViewFixture, RotationStepsAddUpToTheWholeCounterDistance) {
    state.rotationStamp = 5000;
    applyRotationStep(&state, 5100);
    applyRotationStep(&state, 5350);
    EXPECT_EQ(copyOf(state.rotationStamp), 5350);
    EXPECT_EQ(copyOf(state.yaw), -350 * 14);
    EXPECT_EQ(rotation(0, 0), sinCos(-350 * 14).cosine);
}

TEST_F(ViewFixture, FirstMeshSetsTheBoxAndResetsPanAndZoom) {
    float panValue[3] = {1, 2, 3};
    setAnglesInState(&state, panValue, 0, 0);
    state.zoom = 30.0f;
    GpuMesh mesh = meshWithBox(-1, -2, -3, 1, 2, 3);
    EXPECT_TRUE(placeMesh(&state, &mesh, true));
    EXPECT_EQ(copyOf(state.meshes[0]), &mesh);
    EXPECT_EQ(copyOf(state.meshes[1]), nullptr);
    EXPECT_EQ(boundsMin(0), -1.0f);
    EXPECT_EQ(boundsMax(2), 3.0f);
    EXPECT_EQ(pan(0), 0.0f);
    EXPECT_EQ(pan(2), 0.0f);
    EXPECT_EQ(copyOf(state.zoom), 4.75f);
    EXPECT_EQ(copyOf(state.radius), 0.5f * std::sqrt(4.0f + 16.0f + 36.0f));
}

TEST_F(ViewFixture, FurtherMeshesWidenTheBoxWithoutResettingTheCamera) {
    GpuMesh first = meshWithBox(0, 0, 0, 1, 1, 1);
    GpuMesh second = meshWithBox(-2, 0.5f, 0.25f, 0.5f, 3, 0.75f);
    placeMesh(&state, &first, true);
    state.zoom = 10.0f;
    float panValue[3] = {0.1f, 0, 0};
    setAnglesInState(&state, panValue, 0, 0);
    EXPECT_TRUE(placeMesh(&state, &second, false));
    EXPECT_EQ(copyOf(state.meshes[1]), &second);
    const float wideMin[3] = {-2, 0, 0}, wideMax[3] = {1, 3, 1};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(boundsMin(axis), wideMin[axis]);
        EXPECT_EQ(boundsMax(axis), wideMax[axis]);
    }
    EXPECT_EQ(copyOf(state.radius), 0.5f * std::sqrt(9.0f + 9.0f + 1.0f));
    EXPECT_EQ(copyOf(state.zoom), 10.0f);
    EXPECT_EQ(pan(0), 0.1f);
}

TEST_F(ViewFixture, FifthMeshTakesTheLastSlotAndSixthDoesNothing) {
    GpuMesh meshes[6];
    for (int i = 0; i < 6; ++i) meshes[i] = meshWithBox(float(i), 0, 0, float(i) + 1, 1, 1);
    placeMesh(&state, &meshes[0], true);
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(placeMesh(&state, &meshes[i], false));
    EXPECT_EQ(copyOf(state.meshes[4]), nullptr);
    EXPECT_TRUE(placeMesh(&state, &meshes[4], false));
    EXPECT_EQ(copyOf(state.meshes[4]), &meshes[4]);
    EXPECT_EQ(boundsMax(0), 5.0f);
    float radius = copyOf(state.radius);
    EXPECT_FALSE(placeMesh(&state, &meshes[5], false));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(copyOf(state.meshes[i]), &meshes[i]);
    EXPECT_EQ(boundsMax(0), 5.0f);
    EXPECT_EQ(copyOf(state.radius), radius);
}

TEST_F(ViewFixture, FurtherMeshFillsTheFirstFreeSlot) {
    GpuMesh a = meshWithBox(0, 0, 0, 1, 1, 1);
    GpuMesh b = meshWithBox(0, 0, 0, 1, 1, 1);
    placeMesh(&state, &a, true);
    state.meshes[2] = &a;  // a gap after slot 0
    EXPECT_TRUE(placeMesh(&state, &b, false));
    EXPECT_EQ(copyOf(state.meshes[1]), &b);
}

TEST_F(ViewFixture, TinyMeshBoxesGiveATinyRadius) {
    GpuMesh flat = meshWithBox(-0.000001f, -0.000001f, -0.000001f, 0.000001f, 0.000001f, 0.000001f);
    placeMesh(&state, &flat, true);
    EXPECT_GT(copyOf(state.radius), 0.0f);
    EXPECT_NEAR(copyOf(state.radius), std::sqrt(3.0) * 0.000001, 1e-12);
}
