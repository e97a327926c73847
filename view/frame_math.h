// The arithmetic of a frame: the orbit camera, the constant-buffer contents
// and the clear colour. Free of Direct3D, so it builds and is tested natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include "mesh/face_placement.h"
#include "mesh/surface_pick.h"

#pragma pack(push, 1)
// Constant buffer 0 of the shaders. Points are row vectors: clip = (x, y, z, 1) · VP.
struct FrameConstants {
    float viewProjection[4][4];
    float eye[4];    // world position; w not read
    float light[4];  // world direction towards the light, unit length; w not read
};

// Constant buffer 1, rewritten for every mesh.
struct ObjectConstants {
    float model[4][4];        // world = (x, y, z, 1) · model
    float normalRows[3][4];   // not read by the shaders
    float colour[4];          // object colour, 0 to 1
    // The overhang tint (face geometry shader): a face is tinted where its
    // outward normal's downward part exceeds `sine` (above 1: never) unless
    // every corner lies at or below `bedTop` (world height, metres);
    // `outward` is -1 for an inside-out part, else 1.
    float overhangSine;
    float bedTop;
    float outward;
    float unused;
};
#pragma pack(pop)

static_assert(sizeof(FrameConstants) == 96);
static_assert(offsetof(FrameConstants, eye) == 64);
static_assert(sizeof(ObjectConstants) == 144);
static_assert(offsetof(ObjectConstants, colour) == 112);
static_assert(offsetof(ObjectConstants, overhangSine) == 128);

// The tint's colour, sRGB from 0 to 1 as object colours are: a purple that
// no common colour blindness takes for the grey, white or blue of a model,
// or for the red and orange of "Show problems", and that stands out on
// light and dark backgrounds alike.
// The eye's distance from the target, the middle of the box plus the pan.
constexpr float kEyeDistanceInRadii = 5.0f;

constexpr float kOverhangTint[3] = {0.80f, 0.15f, 0.70f};
// "Show overhangs" off: no face is steeper than this.
constexpr float kNoOverhangs = 2.0f;

// Linear-light value of each sRGB-encoded byte: entry 0 is 0, entry 255 is 1.
extern const float kClearColourTable[256];

// A · B, with the fourth column of A taken as (0, 0, 0, 1).
void multiplyAffine(const float a[4][4], const float b[4][4], float out[4][4]);
// Each row divided by the square of its xyz length.
void normalMatrix(const float rows[3][4], float out[3][4]);

// The camera looks at the model centre plus pan from five radii away along
// the rotation's third column. The clip range hugs the bounding sphere.
struct FrameCamera {
    float centre[3];       // model centre, metres, in file axes (turned for Z-up models here)
    float rotation[3][3];  // rows; columns are the screen axes in world space
    float pan[3];
    float radius;
    float zoom;
    bool yUp;
    int32_t width;   // client size, pixels
    int32_t height;
};

void cameraClipRange(const FrameCamera* camera, float* nearPlane, float* farPlane);
void computeFrameConstants(const FrameCamera* camera, FrameConstants* out);
// World position of the eye: five radii from the target along the third column.
void cameraEye(const FrameCamera* camera, float eye[3]);
// The same camera for picking, in double precision from the frame's floats.
void framePickCamera(const FrameCamera* camera, PickCamera* out);

// Model matrix for metres per file unit, turning Z-up files so that Z becomes world Y;
// colour bytes red, green, blue from the low byte up; no overhang tint.
void computeObjectConstants(float unitScale, bool yUp, uint32_t colour, ObjectConstants* out);
// The model matrix of a part placed on a face: the placement first.
void placeObject(ObjectConstants* constants, const Placement& placement);
// The overhang tint of a part at `degrees` from vertical whose lowest point
// lies at world height `lowest` (metres) in a box whose farthest corner
// component is `reach` metres from the origin: corners a hundred-thousandth
// of that (and two micrometres, what the box adds to a flat part) above the
// lowest are on the bed, as the shader finds the corners' heights only to
// float precision.
void setOverhangTint(ObjectConstants* constants, double degrees, float lowest, float reach, bool insideOut);
