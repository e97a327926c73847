// What the view shows under a pixel: its camera and the surface point
// picked there. Free of Direct3D.
#pragma once
#include <cstdint>
#include "mesh/surface_pick.h"
#include "view/view_state.h"

struct FrameCamera;

// The camera a view of that size shows.
void viewFrameCamera(const ViewState* state, int32_t width, int32_t height, FrameCamera* camera);

// The index of a mesh in its part's heap, built once; without memory for it
// (reported) every triangle is tried.
void preparePicking(GpuMesh* mesh, const MessageSink* sink);
// The visible surface point under the client position; false over the background.
bool pickInView(const ViewState* state, int32_t x, int32_t y, SurfacePick* pick);
