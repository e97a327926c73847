#include "view/camera.h"

#include <cmath>
#include <cstring>

#include "view/frame_math.h"
#include "view/gpu_mesh.h"

namespace {

constexpr uint32_t kQuarterTurn = 1u << 30;
constexpr uint32_t kHalfTurn = 1u << 31;

// The odd polynomial for the sine of an angle in [-2^30, 2^30] units,
// coefficients already scaled for binary-angle units.
constexpr double kC1 = 1.4629180792671596e-09;
constexpr double kC3 = -5.2180564243553265e-28;
constexpr double kC5 = 5.583657727552662e-47;
constexpr double kC7 = -2.845177918016901e-66;
constexpr double kC9 = 8.456885339184503e-86;
constexpr double kC11 = -1.6438192896934818e-105;
constexpr double kC13 = 2.1628315345521565e-125;

float foldedSine(int32_t argument) {
    double x = argument;
    double x2 = x * x;
    double x4 = x2 * x2;
    double p = ((kC7 * x2 + kC5) * x2 + kC3) * x2 + kC1;
    double q = (kC13 * x2 + kC11) * x2 + kC9;
    return static_cast<float>((p + q * (x4 * x4)) * x);
}

// Packed records put floats on odd addresses; copying keeps every float
// access aligned.
struct Vec3 {
    float v[3];
};

Vec3 loadVec3(const void* packed) {
    Vec3 result;
    memcpy(result.v, packed, sizeof result.v);
    return result;
}

void storeVec3(void* packed, const Vec3& value) {
    memcpy(packed, value.v, sizeof value.v);
}

void loadRotation(const ViewState* state, float rows[3][3]) {
    memcpy(rows, state->rotation, 9 * sizeof(float));
}

BinaryAngle addAngles(BinaryAngle a, BinaryAngle b) {
    return static_cast<BinaryAngle>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

CameraAngles presetAngles(ViewPreset preset) {
    switch (preset) {
    case kViewTop:
        return {0, kPresetQuarterTurn};
    case kViewLeft:
        return {kPresetQuarterTurn, 0};
    case kViewBottom:
        return {0, -kPresetQuarterTurn};
    case kViewRight:
        return {-kPresetQuarterTurn, 0};
    case kViewBack:
        return {INT32_MIN, 0};
    default:
        return {0, 0};
    }
}

SinCos sinCos(BinaryAngle angle) {
    uint32_t a = static_cast<uint32_t>(angle);
    // cos a = sin(quarter - |a|); both arguments end up within a quarter turn of 0.
    int32_t cosineArgument = static_cast<int32_t>(angle >= 0 ? kQuarterTurn - a : a + kQuarterTurn);
    int32_t sineArgument = static_cast<int32_t>(a - kQuarterTurn) < 0 ? angle : static_cast<int32_t>(kHalfTurn - a);
    return {foldedSine(cosineArgument), foldedSine(sineArgument)};
}

void rotationFromAngles(BinaryAngle pitch, BinaryAngle yaw, float rows[3][3]) {
    SinCos p = sinCos(pitch);
    SinCos y = sinCos(yaw);
    rows[0][0] = y.cosine;
    rows[0][1] = p.sine * y.sine;
    rows[0][2] = p.cosine * y.sine;
    rows[1][0] = 0.0f;
    rows[1][1] = p.cosine;
    rows[1][2] = -p.sine;
    rows[2][0] = -y.sine;
    rows[2][1] = p.sine * y.cosine;
    rows[2][2] = p.cosine * y.cosine;
}

BinaryAngle dragAngleDelta(int32_t pixels, float zoom) {
    float factor = -0.04f / zoom;
    float units = static_cast<float>(pixels) * factor * kRadianUnits;
    // A drag across a 16-bit coordinate range stays far inside 64 bits; the
    // guard only keeps a broken zoom from making the conversion undefined.
    if (!(std::fabs(units) < 9.0e18f)) return 0;
    int64_t whole = static_cast<int64_t>(std::nearbyint(units));
    return static_cast<BinaryAngle>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

float wheelZoom(float zoom, int32_t wheelDistance, bool flipZoom) {
    int32_t e = flipZoom ? wheelDistance : -wheelDistance;
    float scaled = (1.0f - static_cast<float>(e) / 1920.0f) * zoom;
    if (scaled < 2.0f) return 2.0f;
    if (scaled > 128.0f) return 128.0f;
    return scaled;
}

uint32_t rotationRateFor(int64_t counterFrequency) {
    if (counterFrequency <= 0) return 1;
    int64_t rate = kTurnUnitsPerSecond / counterFrequency;
    return rate > 0 ? static_cast<uint32_t>(rate) : 1;
}

BinaryAngle rotatedYaw(BinaryAngle yaw, int64_t stamp, int64_t now, uint32_t rate) {
    uint32_t ticks = static_cast<uint32_t>(static_cast<uint64_t>(now)) - static_cast<uint32_t>(static_cast<uint64_t>(stamp));
    return static_cast<BinaryAngle>(static_cast<uint32_t>(yaw) - ticks * rate);
}

float boxRadius(const float boxMin[3], const float boxMax[3]) {
    float dx = boxMax[0] - boxMin[0];
    float dy = boxMax[1] - boxMin[1];
    float dz = boxMax[2] - boxMin[2];
    return 0.5f * std::sqrt(dx * dx + dy * dy + dz * dz);
}

void initViewState(ViewState* state, void* window, int64_t counterFrequency) {
    memset(state, 0, sizeof *state);
    state->window = window;
    state->renderMode = kRenderSolid;
    state->zoom = kInitialZoom;
    state->rotationRate = rotationRateFor(counterFrequency);
    state->section = initialSection();
    state->overhangs = OverhangTint{0, 45.0f};
    state->lastPlaced = -1;
}

void updateRotation(ViewState* state) {
    float rows[3][3];
    rotationFromAngles(state->pitch, state->yaw, rows);
    memcpy(state->rotation, rows, sizeof rows);
}

void setAnglesInState(ViewState* state, const float pan[3], BinaryAngle yaw, BinaryAngle pitch) {
    storeVec3(state->pan, loadVec3(pan));
    state->yaw = yaw;
    state->pitch = pitch;
    updateRotation(state);
}

void applyRotateDrag(ViewState* state, int32_t x, int32_t y) {
    // Differences of two 16-bit coordinates; wrapping keeps them exact.
    int32_t dx = static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(state->lastMouseX));
    int32_t dy = static_cast<int32_t>(static_cast<uint32_t>(y) - static_cast<uint32_t>(state->lastMouseY));
    float zoom = state->zoom;
    state->yaw = addAngles(state->yaw, dragAngleDelta(dx, zoom));
    state->pitch = addAngles(state->pitch, dragAngleDelta(dy, zoom));
    updateRotation(state);
}

void applyPanDrag(ViewState* state, int32_t x, int32_t y) {
    int32_t dx = static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(state->lastMouseX));
    int32_t dy = static_cast<int32_t>(static_cast<uint32_t>(state->lastMouseY) - static_cast<uint32_t>(y));
    float length = state->radius * -0.0135f / state->zoom;
    float a = static_cast<float>(dx) * length;
    float b = static_cast<float>(dy) * length;
    float rows[3][3];
    loadRotation(state, rows);
    Vec3 pan = loadVec3(state->pan);
    // Columns 0 and 1 are the screen's right and up in model space, so the
    // model follows the mouse.
    for (int i = 0; i < 3; ++i) pan.v[i] += a * rows[i][0] + b * rows[i][1];
    storeVec3(state->pan, pan);
}

void applyWheel(ViewState* state, int32_t wheelDistance) {
    state->zoom = wheelZoom(state->zoom, wheelDistance, state->flipZoom != 0);
}

// A point of the target's plane lies at ndc * depth / zoom from the target
// along the screen's axes (x widened by the aspect); the pan moves the
// target by the change of that distance.
void applyWheelAt(ViewState* state, int32_t wheelDistance, int32_t x, int32_t y) {
    float before = state->zoom;
    applyWheel(state, wheelDistance);
    float after = state->zoom;
    float width = static_cast<float>(state->clientWidth), height = static_cast<float>(state->clientHeight);
    if (!(width > 0 && height > 0 && before > 0 && after > 0)) return;
    float ndcX = 2.0f * (static_cast<float>(x) + 0.5f) / width - 1.0f;
    float ndcY = 1.0f - 2.0f * (static_cast<float>(y) + 0.5f) / height;
    float change = kEyeDistanceInRadii * state->radius * (1.0f / before - 1.0f / after);
    float a = ndcX * change * width / height, b = ndcY * change;
    float rows[3][3];
    loadRotation(state, rows);
    Vec3 pan = loadVec3(state->pan);
    for (int i = 0; i < 3; ++i) pan.v[i] += a * rows[i][0] + b * rows[i][1];
    storeVec3(state->pan, pan);
}

void applyRotationStep(ViewState* state, int64_t now) {
    state->yaw = rotatedYaw(state->yaw, state->rotationStamp, now, state->rotationRate);
    updateRotation(state);
    state->rotationStamp = now;
}

bool viewIsMoving(const ViewState* state) {
    return state->rotating || state->panning || state->wheelTurning || state->rotationStamp != 0;
}

void refitBox(ViewState* state) {
    Vec3 boxMin = {{INFINITY, INFINITY, INFINITY}}, boxMax = {{-INFINITY, -INFINITY, -INFINITY}};
    for (int slot = 0; slot < kViewMeshSlots && state->meshes[slot]; ++slot) {
        Vec3 meshMin = loadVec3(state->meshes[slot]->boundsMin), meshMax = loadVec3(state->meshes[slot]->boundsMax);
        for (int i = 0; i < 3; ++i) {
            boxMin.v[i] = boxMin.v[i] < meshMin.v[i] ? boxMin.v[i] : meshMin.v[i];
            boxMax.v[i] = boxMax.v[i] > meshMax.v[i] ? boxMax.v[i] : meshMax.v[i];
        }
    }
    if (!(boxMin.v[0] <= boxMax.v[0])) return;
    storeVec3(state->boundsMin, boxMin);
    storeVec3(state->boundsMax, boxMax);
    state->radius = boxRadius(boxMin.v, boxMax.v);
}

bool placeMesh(ViewState* state, GpuMesh* mesh, bool first) {
    if (!mesh) return false;
    Vec3 meshMin = loadVec3(mesh->boundsMin);
    Vec3 meshMax = loadVec3(mesh->boundsMax);
    Vec3 boxMin = meshMin;
    Vec3 boxMax = meshMax;
    if (first) {
        state->meshes[0] = mesh;
        storeVec3(state->pan, Vec3{{0.0f, 0.0f, 0.0f}});
        state->zoom = kInitialZoom;
        state->section.share = 0.5f;  // a new model is cut through its middle
    } else {
        int slot = 0;
        while (slot < kViewMeshSlots && state->meshes[slot]) ++slot;
        if (slot == kViewMeshSlots) return false;
        state->meshes[slot] = mesh;
        Vec3 oldMin = loadVec3(state->boundsMin);
        Vec3 oldMax = loadVec3(state->boundsMax);
        for (int i = 0; i < 3; ++i) {
            boxMin.v[i] = oldMin.v[i] < meshMin.v[i] ? oldMin.v[i] : meshMin.v[i];
            boxMax.v[i] = oldMax.v[i] > meshMax.v[i] ? oldMax.v[i] : meshMax.v[i];
        }
    }
    storeVec3(state->boundsMin, boxMin);
    storeVec3(state->boundsMax, boxMax);
    state->radius = boxRadius(boxMin.v, boxMax.v);
    return true;
}
