// Drawing a frame of the view's models into given targets: the camera, the
// modes, the section, the problems, the marks. Windows only.
#pragma once
#include <cstdint>
#include "view/view_state.h"

struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11RenderTargetView;
struct ID3D11DepthStencilView;

// Where a frame's targets lie in the picture they are part of: the whole
// picture is width x height pixels, the targets a tile of it from left, top
// (0, 0 for targets of the picture's own size). Tiles of a picture come out
// as the pieces of the picture drawn whole: the viewport is the picture's,
// moved by whole pixels.
struct FrameArea {
    int32_t width;
    int32_t height;
    int32_t left;
    int32_t top;
};

// The view's camera, mode, colours and meshes drawn into the targets; the
// caller holds the view's lock and the device exists.
void renderViewFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                     ID3D11DepthStencilView* depthStencilView, const FrameArea& area);
// Records one frame into the given targets. meshes ends at the first null
// entry or after five. With a section (else null) the removed side is cut
// away in every mode and, except in Wireframe, each mesh's cut is capped.
// showProblems draws the meshes' problem lists (problem_edges.h) over it all.
// The overhang tint colours the faces of every mode, cut or not.
void renderFrame(const GpuPipeline* pipeline, RenderMode mode, GpuMesh* const meshes[kViewMeshSlots],
                 ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
                 const FrameArea& area, const float clearColour[4], const float centre[3],
                 const float rotation[3][3], const float pan[3], float radius, float zoom, bool yUp,
                 const SectionConstants* section, bool showProblems, OverhangTint overhangs,
                 const MessageSink* sink);
// A bit per ProblemKind that the meshes' problem lists of this device hold;
// a part inside out counts as faces turned the wrong way.
uint32_t shownProblemKinds(GpuMesh* const meshes[kViewMeshSlots], ID3D11Device* device);
// Per-mesh constants and draws.
void drawMeshes(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
                OverhangTint overhangs, const MessageSink* sink);
// The draws of the visible solids of one mesh.
void drawSolids(ID3D11DeviceContext* context, const GpuMesh* mesh);

// The union box's twelve edges in the first mesh's colour, unlit, over the
// background: a frame that costs next to nothing at any model size.
void renderBoxFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                    ID3D11DepthStencilView* depthStencilView, const FrameArea& area);

// One triangle drawn in every mode into a tiny texture and read back, so that
// the driver builds its programs for every state now (under Wine on a software
// device that takes seconds) instead of in the first frame of a model. Nobody
// else uses the pipeline meanwhile.
void warmPipeline(const GpuPipeline* pipeline);

// The performance counter, never 0, and its ticks a second (0 when unknown):
// the rotation timer and the frames' times.
int64_t readCounter();
int64_t counterFrequency();
