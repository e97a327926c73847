#include "view/view_picking.h"

#include <cstring>

#include "view/frame_math.h"
#include "view/gpu_mesh.h"

void viewFrameCamera(const ViewState* state, int32_t width, int32_t height, FrameCamera* camera) {
    FrameCamera c{};
    for (int axis = 0; axis < 3; ++axis) c.centre[axis] = (state->boundsMin[axis] + state->boundsMax[axis]) * 0.5f;
    memcpy(c.rotation, state->rotation, sizeof c.rotation);
    memcpy(c.pan, state->pan, sizeof c.pan);
    c.radius = state->radius;
    c.zoom = state->zoom;
    c.yUp = state->yUp != 0;
    c.width = width;
    c.height = height;
    *camera = c;
}

void preparePicking(GpuMesh* mesh, const MessageSink* sink) {
    if (mesh->pickIndex || !mesh->solids) return;
    mesh->pickIndex = buildPickIndex(mesh->solids, mesh->solidCount, mesh->heap, sink);
}

bool pickInView(const ViewState* state, int32_t x, int32_t y, SurfacePick* pick) {
    FrameCamera frame;
    viewFrameCamera(state, state->clientWidth, state->clientHeight, &frame);
    PickCamera camera;
    framePickCamera(&frame, &camera);
    SectionPlane section = state->section;
    if (sectionCuts(&section)) {
        float boundsMin[3], boundsMax[3];
        memcpy(boundsMin, state->boundsMin, sizeof boundsMin);
        memcpy(boundsMax, state->boundsMax, sizeof boundsMax);
        SectionConstants constants;
        computeSectionConstants(&section, state->yUp != 0, boundsMin, boundsMax, &constants);
        double keep[4];
        for (int i = 0; i < 4; ++i) keep[i] = constants.plane[i];
        memcpy(camera.keep, keep, sizeof keep);
    }
    PickPart parts[kViewMeshSlots];
    Placement placements[kViewMeshSlots];  // copied out of the packed records
    uint32_t count = 0;
    for (; count < kViewMeshSlots && state->meshes[count]; ++count) {
        const GpuMesh* mesh = state->meshes[count];
        placements[count] = mesh->placement;
        parts[count] = PickPart{mesh->solids, mesh->solids ? mesh->solidCount : 0, mesh->visibleSolids,
                                mesh->pickIndex, mesh->unitScale, mesh->placed ? &placements[count] : nullptr};
    }
    // At the centre of the pixel under the pointer.
    return pickSurface(&camera, parts, count, x + 0.5, y + 0.5, pick);
}
