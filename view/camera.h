// The orbit camera's arithmetic: binary angles, the rotation matrix, drags,
// wheel zoom, automatic rotation and the union box of installed meshes. Free
// of the window system, so the window procedure only adds capture, cursors,
// timers and repaints around it.
#pragma once
#include <cstdint>
#include "view/view_state.h"

constexpr int32_t kDegreeUnits = 11930465;
constexpr float kRadianUnits = 683565248.0f;  // 2^32 / 2pi
// Top and Left stop 78 units short of a quarter turn, so the pitch cosine of
// the Top view is never exactly 0.
constexpr BinaryAngle kPresetQuarterTurn = -1073741746;  // 0xC000004E
// One turn in 30 seconds: 2^32 / 30 units per second.
constexpr uint32_t kTurnUnitsPerSecond = 143165576;

// Settings hold whole degrees; the product wraps like every angle sum.
inline BinaryAngle degreesToAngle(int32_t degrees) {
    return static_cast<BinaryAngle>(static_cast<uint32_t>(degrees) * static_cast<uint32_t>(kDegreeUnits));
}

enum ViewPreset : uint8_t {
    kViewTop = 0,
    kViewLeft = 1,
    kViewFront = 2,
    kViewBottom = 3,  // and the three opposite ones
    kViewRight = 4,
    kViewBack = 5,
};

// The angles the view commands pass to setViewAngles, always with a zero pan.
CameraAngles presetAngles(ViewPreset preset);

struct SinCos {
    float cosine;
    float sine;
};

// Within 3e-8 of the exact values for every angle.
SinCos sinCos(BinaryAngle angle);

// Ry(yaw)·Rx(pitch) by rows.
void rotationFromAngles(BinaryAngle pitch, BinaryAngle yaw, float rows[3][3]);

// The turn of a rotate drag over `pixels` at `zoom`: 0.04/zoom radians per
// pixel against the mouse, rounded to the nearest unit (ties to even).
BinaryAngle dragAngleDelta(int32_t pixels, float zoom);

// wheelDistance is the signed wheel amount, 120 per notch, positive away
// from the user; the result stays within 2 to 128.
float wheelZoom(float zoom, int32_t wheelDistance, bool flipZoom);

// Angle units per counter tick. Counters faster than 143165576 Hz would give
// 0 and never turn; they get 1 and turn faster than intended instead.
uint32_t rotationRateFor(int64_t counterFrequency);

// The yaw after turning from counter value `stamp` to `now`; only the low 32
// bits of the counter count, so the difference wraps like the angle.
BinaryAngle rotatedYaw(BinaryAngle yaw, int64_t stamp, int64_t now, uint32_t rate);

// Half the diagonal of a box, single precision.
float boxRadius(const float boxMin[3], const float boxMax[3]);

// The state of a freshly created view: zoom 4.75, Solid, Z up, no meshes,
// no device, everything else zero (the rotation matrix too, until angles are set).
void initViewState(ViewState* state, void* window, int64_t counterFrequency);

// Recomputes `rotation` from `pitch` and `yaw`; repainting is the caller's.
void updateRotation(ViewState* state);

void setAnglesInState(ViewState* state, const float pan[3], BinaryAngle yaw, BinaryAngle pitch);

// Drags from (lastMouseX, lastMouseY) to (x, y); they neither store the new
// position nor repaint.
void applyRotateDrag(ViewState* state, int32_t x, int32_t y);
void applyPanDrag(ViewState* state, int32_t x, int32_t y);

void applyWheel(ViewState* state, int32_t wheelDistance);
// The wheel over the client pixel (x, y): zooms as applyWheel, and pans so
// that the point of the target's plane under the pointer stays under it.
void applyWheelAt(ViewState* state, int32_t wheelDistance, int32_t x, int32_t y);

// One automatic rotation step to counter value `now`, which becomes the stamp.
void applyRotationStep(ViewState* state, int64_t now);

// True while the user turns, pans or zooms the model or it turns by itself.
bool viewIsMoving(const ViewState* state);

// Puts a mesh into the slots and updates the box and radius; a first mesh
// also resets pan and zoom. False when a further mesh finds no free slot.
// The caller holds the lock.
bool placeMesh(ViewState* state, GpuMesh* mesh, bool first);
// The box and radius of the meshes as they are now (a part placed on a
// face); pan and zoom stay.
void refitBox(ViewState* state);
