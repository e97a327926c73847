// Painting the view: a Direct3D frame presented to the window's swap chain
// (or copied in through GDI where there is none), or, while there is no
// device or no mesh, the flat GDI picture. Windows only.
#pragma once
#include <cstdint>
#include "view/view_state.h"

struct ID3D11DeviceContext;
struct ID3D11RenderTargetView;
struct ID3D11DepthStencilView;

// The whole of WM_PAINT. A frame the device has not finished within
// kFrameWaitMs stays in flight and shows when pollFrame finds it done; a
// paint meanwhile is answered by one more frame after it.
void paintView(ViewState* state);
// kFrameTimerId's tick: shows the frame in flight once the device is done.
void pollFrame(ViewState* state);

// The view's camera, mode, colours and meshes drawn into targets of
// width x height; the caller holds the view's lock and the device exists.
void renderViewFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                     ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height);
// Records one frame into the given targets. meshes ends at the first null
// entry or after five. With a section (else null) the removed side is cut
// away in every mode and, except in Wireframe, each mesh's cut is capped.
// showProblems draws the meshes' problem lists (problem_edges.h) over it all.
void renderFrame(const GpuPipeline* pipeline, RenderMode mode, GpuMesh* const meshes[kViewMeshSlots],
                 ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
                 int32_t width, int32_t height, const float clearColour[4], const float centre[3],
                 const float rotation[3][3], const float pan[3], float radius, float zoom, bool yUp,
                 const SectionConstants* section, bool showProblems, const MessageSink* sink);
// Per-mesh constants and draws.
void drawMeshes(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
                const MessageSink* sink);
// The draws of the visible solids of one mesh.
void drawSolids(ID3D11DeviceContext* context, const GpuMesh* mesh);

// The union box's twelve edges in the first mesh's colour, unlit, over the
// background: a frame that costs next to nothing at any model size.
void renderBoxFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                    ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height);

// The performance counter, never 0, and its ticks a second (0 when unknown):
// the rotation timer and the frames' times.
int64_t readCounter();
int64_t counterFrequency();

// Test seam: the next Present or copy answers `result` instead of showing
// the frame, when it is a failure code; 0 turns it off.
void failNextPresent(int32_t result);
