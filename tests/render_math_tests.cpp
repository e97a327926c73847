// The arithmetic behind a frame and the mapping of Direct3D failures; no device needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/sink_recorder.h"
#include "view/frame_math.h"
#include "view/gpu_device.h"

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
TEST(ReportGpuError, NamesTheFailureAndCarriesTheResult) {
    const struct {
        uint32_t result;
        StatusCode code;
    } cases[] = {{0x887A0005, kGpuLost}, {0x8007000E, kOutOfGpuMemory}, {0x887A000A, kGpuStillDrawing},
                 {0x80070057, kGpuInvalidCall}};
    for (const auto& c : cases) {
        RecordingSink sink;
        reportGpuError(int32_t(c.result), &sink.sink);
        ASSERT_EQ(sink.received.size(), 1u);
        EXPECT_EQ(sink.received[0].code, c.code) << std::hex << c.result;
        EXPECT_EQ(sink.received[0].argument, uintptr_t{c.result});
    }
    reportGpuError(int32_t(0x887A0005), nullptr);  // no sink, no report, no crash
}

}  // namespace
