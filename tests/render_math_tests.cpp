// The arithmetic behind a frame and the mapping of Direct3D failures; no device needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/sink_recorder.h"
#include "view/frame_math.h"
#include "view/gpu_device.h"

namespace {

struct Matrix {
    float m[4][4];
};

Matrix rowsOf(std::initializer_list<float> values) {
    Matrix result{};
    int i = 0;
    for (float v : values) result.m[i / 4][i % 4] = v, ++i;
    return result;
}

TEST(MultiplyAffine, IsTheProductWithAnAffineLeftFactor) {
    // A has a non-trivial fourth column, which must be read as (0, 0, 0, 1).
    Matrix a = rowsOf({1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99});
    Matrix b = rowsOf({1, 0, 2, 0, 0, 3, 0, 1, 4, 0, 5, 0, 6, 7, 8, 9});
    Matrix out;
    multiplyAffine(a.m, b.m, out.m);
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            double expected = 0;
            for (int j = 0; j < 3; ++j) expected += double(a.m[i][j]) * b.m[j][k];
            if (i == 3) expected += b.m[3][k];
            EXPECT_EQ(out.m[i][k], float(expected)) << i << "," << k;
        }
    }
    multiplyAffine(a.m, b.m, b.m);  // the output may be an input
    EXPECT_EQ(memcmp(out.m, b.m, sizeof b.m), 0);
}

TEST(NormalMatrix, DividesEachRowByItsSquaredLength) {
    float rows[3][4] = {{2, 0, 0, 0}, {0, 0, -0.5f, 0}, {3, 4, 0, 1}};
    float out[3][4];
    normalMatrix(rows, out);
    EXPECT_EQ(out[0][0], 0.5f);
    EXPECT_EQ(out[1][2], -2.0f);
    EXPECT_EQ(out[2][0], 3.0f / 25);
    EXPECT_EQ(out[2][1], 4.0f / 25);
    EXPECT_EQ(out[2][3], 1.0f / 25);  // the fourth component does not count towards the length
    EXPECT_EQ(out[0][1], 0.0f);
}

TEST(NormalMatrix, MillimetreScaleGivesTheInverseScale) {
    ObjectConstants constants;
    computeObjectConstants(0.001f, true, 0xFFFFFFFF, &constants);
    float normalRows[3][4];
    memcpy(normalRows, constants.normalRows, sizeof normalRows);
    EXPECT_FLOAT_EQ(normalRows[0][0], 1000.0f);
    EXPECT_FLOAT_EQ(normalRows[1][1], 1000.0f);
    EXPECT_FLOAT_EQ(normalRows[2][2], 1000.0f);
}

double srgbToLinear(int value) {
    double v = value / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

TEST(ClearColourTable, IsTheSrgbTransferFunction) {
    EXPECT_EQ(kClearColourTable[0], 0.0f);
    EXPECT_EQ(kClearColourTable[255], 1.0f);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(kClearColourTable[i], float(srgbToLinear(i))) << i;
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
    struct Case {
        float radius, panZ, nearPlane, farPlane;
    };
    const Case cases[] = {
        {0.05f, 0, 0.2f, 0.3f},
        {1.0f, 2, 6.0f, 8.0f},          // column 2 of the identity is +z: the target moves towards the eye
        {2.0f, -9.5f, 0.002f, 4.002f},  // target beyond the model: d - s stays above 0.001 s
    };
    for (const Case& c : cases) {
        FrameCamera camera = frontCamera(c.radius);
        camera.pan[2] = c.panZ;
        float n, f;
        cameraClipRange(&camera, &n, &f);
        EXPECT_FLOAT_EQ(n, c.nearPlane) << c.radius << " " << c.panZ;
        EXPECT_FLOAT_EQ(f, c.farPlane) << c.radius << " " << c.panZ;
    }
}

// clip = (p, 1) · VP, then the perspective division.
void project(const FrameConstants& frame, const float p[3], double ndc[3]) {
    float vp[4][4];
    memcpy(vp, frame.viewProjection, sizeof vp);
    double clip[4];
    for (int k = 0; k < 4; ++k) clip[k] = p[0] * vp[0][k] + p[1] * vp[1][k] + p[2] * vp[2][k] + vp[3][k];
    for (int k = 0; k < 3; ++k) ndc[k] = clip[k] / clip[3];
}

TEST(FrameConstants, CentreProjectsToTheMiddleAndTheSphereFitsTheDepthRange) {
    FrameCamera camera = frontCamera(0.5f);
    camera.centre[0] = 1, camera.centre[1] = 2, camera.centre[2] = 3;
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    float eye[4];
    memcpy(eye, frame.eye, sizeof eye);
    EXPECT_FLOAT_EQ(eye[0], 1);
    EXPECT_FLOAT_EQ(eye[1], 2);
    EXPECT_FLOAT_EQ(eye[2], 3 + 2.5f);
    double ndc[3];
    project(frame, camera.centre, ndc);
    EXPECT_NEAR(ndc[0], 0, 1e-6);
    EXPECT_NEAR(ndc[1], 0, 1e-6);
    EXPECT_GT(ndc[2], 0);
    EXPECT_LT(ndc[2], 1);
    const float nearest[3] = {1, 2, 3.5f}, farthest[3] = {1, 2, 2.5f};
    project(frame, nearest, ndc);
    EXPECT_NEAR(ndc[2], 0, 1e-5);
    project(frame, farthest, ndc);
    EXPECT_NEAR(ndc[2], 1, 1e-5);
}

TEST(FrameConstants, ZoomIsTheCotangentOfHalfTheVerticalFieldAndWidthIsCorrected) {
    FrameCamera camera = frontCamera(1.0f);
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    // A point one unit up at the depth of the centre: ndc y = zoom / 5.
    const float up[3] = {0, 1, 0}, right[3] = {1, 0, 0};
    double ndc[3];
    project(frame, up, ndc);
    EXPECT_NEAR(ndc[1], 4.75 / 5, 1e-6);
    EXPECT_NEAR(ndc[0], 0, 1e-6);
    project(frame, right, ndc);
    EXPECT_NEAR(ndc[0], 4.75 / 5 * 200 / 300, 1e-6);
}

TEST(FrameConstants, LightIsFixedToTheCamera) {
    FrameCamera camera = frontCamera(1.0f);
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    float light[4];
    memcpy(light, frame.light, sizeof light);
    EXPECT_FLOAT_EQ(light[0], 2.0f / 7);
    EXPECT_FLOAT_EQ(light[1], 3.0f / 7);
    EXPECT_FLOAT_EQ(light[2], 6.0f / 7);
    // Turned half round about Y: the light comes from the other side in world space.
    float turned[3][3] = {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
    memcpy(camera.rotation, turned, sizeof turned);
    computeFrameConstants(&camera, &frame);
    memcpy(light, frame.light, sizeof light);
    EXPECT_FLOAT_EQ(light[0], -2.0f / 7);
    EXPECT_FLOAT_EQ(light[1], 3.0f / 7);
    EXPECT_FLOAT_EQ(light[2], -6.0f / 7);
    float eye[4];
    memcpy(eye, frame.eye, sizeof eye);
    EXPECT_FLOAT_EQ(eye[2], -5.0f);
}

TEST(FrameConstants, ZUpCentreIsTurnedLikeTheModel) {
    // A Z-up model centred at (0, 0, 10) file units of a millimetre: world centre (0, 0.01, 0).
    FrameCamera camera = frontCamera(0.01f);
    camera.yUp = false;
    camera.centre[2] = 10 * 0.001f;
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    float eye[4];
    memcpy(eye, frame.eye, sizeof eye);
    EXPECT_FLOAT_EQ(eye[0], 0);
    EXPECT_FLOAT_EQ(eye[1], 0.01f);
    EXPECT_FLOAT_EQ(eye[2], 0.05f);
    ObjectConstants object;
    computeObjectConstants(0.001f, false, 0xFFFFFFFF, &object);
    float model[4][4];
    memcpy(model, object.model, sizeof model);
    const float file[3] = {0, 0, 10};
    float world[3];
    for (int k = 0; k < 3; ++k) world[k] = file[0] * model[0][k] + file[1] * model[1][k] + file[2] * model[2][k] + model[3][k];
    EXPECT_FLOAT_EQ(world[0], 0);
    EXPECT_FLOAT_EQ(world[1], 0.01f);
    EXPECT_FLOAT_EQ(world[2], 0);
}

TEST(ObjectConstants, ZUpTurnsFileAxesAndYUpKeepsThem) {
    ObjectConstants object;
    computeObjectConstants(2.0f, false, 0x00000000, &object);
    float model[4][4];
    memcpy(model, object.model, sizeof model);
    const float expectedZUp[4][4] = {{2, 0, 0, 0}, {0, 0, -2, 0}, {0, 2, 0, 0}, {0, 0, 0, 1}};
    EXPECT_EQ(memcmp(model, expectedZUp, sizeof model), 0);
    computeObjectConstants(2.0f, true, 0x00000000, &object);
    memcpy(model, object.model, sizeof model);
    const float expectedYUp[4][4] = {{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 1}};
    EXPECT_EQ(memcmp(model, expectedYUp, sizeof model), 0);
}

TEST(ObjectConstants, ColourBytesBecomeUnitValuesWithOpaqueAlpha) {
    ObjectConstants object;
    computeObjectConstants(1.0f, true, 0x00FF8000, &object);  // red 0, green 128, blue 255, alpha 0
    float colour[4];
    memcpy(colour, object.colour, sizeof colour);
    EXPECT_EQ(colour[0], 0.0f);
    EXPECT_EQ(colour[1], 128 / 255.0f);
    EXPECT_EQ(colour[2], 1.0f);
    EXPECT_EQ(colour[3], 1.0f);
}

TEST(GpuErrorCode, FollowsTheTable) {
    EXPECT_EQ(gpuErrorCode(int32_t(0x80004005)), 0x80000d00u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x8007000E)), 0x80000006u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x887A0004)), 0x80000d05u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x887A0005)), 0x80000d07u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x887A000A)), 1u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x887C0001)), 0x80000d02u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x887C0003)), 0x80000d03u);
    EXPECT_EQ(gpuErrorCode(int32_t(0x80070057)), 0x80000d01u);  // E_INVALIDARG
    EXPECT_EQ(gpuErrorCode(int32_t(0x80004001)), 0x80000d01u);  // E_NOTIMPL
    EXPECT_EQ(gpuErrorCode(int32_t(0x887C0002)), 0x80000d01u);
}

TEST(ReportGpuError, CarriesTheResultAsTheArgument) {
    RecordingSink sink;
    reportGpuError(int32_t(0x80070057), &sink.sink);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, 0x80000d01u);
    EXPECT_EQ(sink.received[0].argument, uintptr_t{0x80070057});
    reportGpuError(int32_t(0x887A0005), nullptr);  // no sink, no report, no crash
}

TEST(ReportGpuError, LinesReadAsTheLogShowsThem) {
    Converter converter;
    reportGpuError(int32_t(0x887A0005), converter.producerSink());
    reportGpuError(int32_t(0x8007000E), converter.producerSink());
    std::vector<Text> lines;
    for (const Received& entry : converter.inner.received)
        if (entry.code == kLine) lines.push_back(entry.line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], widenAscii("Direct3D 11 error: lost GPU (may be overload or driver problems)"));
    EXPECT_EQ(lines[1], widenAscii("out of GPU memory"));
}

}  // namespace
