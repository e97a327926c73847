#include "view/section_plane.h"

#include <cstring>

namespace {

// The cap reaches this share of each extent beyond the box on every side.
constexpr float kCapMargin = 0.02f;

// A point in file axes in the world, as the model matrix turns it.
void toWorld(const float file[3], bool yUp, float world[3]) {
    world[0] = file[0];
    world[1] = yUp ? file[1] : file[2];
    world[2] = yUp ? file[2] : -file[1];
}

}  // namespace

float sectionPlace(const SectionPlane* section, const float boundsMin[3], const float boundsMax[3]) {
    int axis = section->axis % 3;
    float share = section->share;
    return boundsMin[axis] + share * (boundsMax[axis] - boundsMin[axis]);
}

float movedSectionShare(float share, float steps, float step) {
    float moved = share + steps * step;
    return moved < 0 ? 0 : moved > 1 ? 1 : moved;
}

bool sectionCuts(const SectionPlane* section) {
    float share = section->share;
    return section->on && share != 0.0f && share != 1.0f;
}

SectionPlane initialSection() {
    SectionPlane section = {0, 2, 0, 0.5f};
    return section;
}

void computeSectionConstants(const SectionPlane* section, bool yUp, const float boundsMin[3],
                             const float boundsMax[3], SectionConstants* out) {
    int axis = section->axis % 3;
    float place = sectionPlace(section, boundsMin, boundsMax);
    float direction[3] = {0, 0, 0};
    direction[axis] = section->flip ? 1.0f : -1.0f;
    float normal[3];
    toWorld(direction, yUp, normal);
    // Kept: coordinate <= place, or >= place when flipped.
    float plane[4] = {normal[0], normal[1], normal[2], section->flip ? -place : place};

    float corner[3], edges[2][3] = {{0, 0, 0}, {0, 0, 0}};
    corner[axis] = place;
    for (int k = 1; k <= 2; ++k) {
        int other = (axis + k) % 3;
        float extent = boundsMax[other] - boundsMin[other];
        float margin = kCapMargin * extent + 1e-6f;
        corner[other] = boundsMin[other] - margin;
        edges[k - 1][other] = extent + 2 * margin;
    }
    float worldCorner[4] = {0, 0, 0, 1}, edgeU[4] = {0, 0, 0, 0}, edgeV[4] = {0, 0, 0, 0};
    toWorld(corner, yUp, worldCorner);
    toWorld(edges[0], yUp, edgeU);
    toWorld(edges[1], yUp, edgeV);
    // The record is packed: its arrays are filled by copying.
    memcpy(out->plane, plane, sizeof plane);
    memcpy(out->corner, worldCorner, sizeof worldCorner);
    memcpy(out->edgeU, edgeU, sizeof edgeU);
    memcpy(out->edgeV, edgeV, sizeof edgeV);
}
