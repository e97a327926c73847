// The section: a plane across one of the model's own file axes that cuts
// away everything on one side, and the constants the shaders draw it with.
// Free of Direct3D, so it builds and is tested natively.
#pragma once
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct SectionPlane {
    uint8_t on;
    uint8_t axis;  // 0 X, 1 Y, 2 Z of the model's file
    uint8_t flip;  // keeps the side of larger coordinates instead of smaller
    float share;   // the place along the axis: 0 the box's low end, 1 its high end
};

// Constant buffer 2 of the section shaders, in world space.
struct SectionConstants {
    float plane[4];    // a point p is kept where p·xyz + w >= 0
    float corner[4];   // the cap rectangle: corner, then its two edges
    float edgeU[4];
    float edgeV[4];
};
#pragma pack(pop)

static_assert(sizeof(SectionPlane) == 7);
static_assert(offsetof(SectionPlane, share) == 3);
static_assert(sizeof(SectionConstants) == 64);

// Page Up and Page Down move the plane by a hundredth of the extent, with
// Shift by a tenth.
constexpr float kSectionStep = 0.01f;
constexpr float kSectionLargeStep = 0.1f;

// Where the plane lies, in metres along its axis, in a box given in metres
// and file axes.
float sectionPlace(const SectionPlane* section, const float boundsMin[3], const float boundsMax[3]);

// The share after `steps` steps of `step` (a wheel turns in fractions of
// one), kept within the box.
float movedSectionShare(float share, float steps, float step);

// Whether the section cuts anything away: it is on and the plane lies off
// the box's ends. A plane on an end (where Page Up and Page Down stop) shows
// the whole model: there the cut would meet the end faces themselves.
bool sectionCuts(const SectionPlane* section);

// The section of a new view: off, across Z, in the middle.
SectionPlane initialSection();

// The plane and the cap rectangle for the frame: the rectangle spans the
// box across the plane and a little beyond, so that no cut edge misses it.
// Z-up models are turned as the model matrix turns them.
void computeSectionConstants(const SectionPlane* section, bool yUp, const float boundsMin[3],
                             const float boundsMax[3], SectionConstants* out);
