// The view's state record and its Direct3D objects: data only, so that
// every module of the view can include it without including another's
// operations. The record is the window's user data (view_lookup.h finds it).
#pragma once
#include <cstddef>
#include <cstdint>
#include "core/status.h"
#include "view/frame_pacing.h"
#include "view/measure_marks.h"
#include "view/problem_legend.h"
#include "view/section_plane.h"

struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11VertexShader;
struct ID3D11GeometryShader;
struct ID3D11PixelShader;
struct ID3D11InputLayout;
struct ID3D11RasterizerState;
struct ID3D11DepthStencilState;
struct ID3D11BlendState;
struct ID3D11Buffer;
struct ID3D11RenderTargetView;
struct ID3D11DepthStencilView;
struct ID3D11Texture2D;
struct ID3D11Query;
struct IDXGISwapChain;
struct GpuMesh;

// 2^32 units make one turn; sums wrap around, so no angle is ever clamped.
typedef int32_t BinaryAngle;

struct CameraAngles {
    BinaryAngle yaw;
    BinaryAngle pitch;
};

enum RenderMode : uint8_t {
    kRenderSolid = 0,
    kRenderWireframe = 1,
    kRenderOutline = 2,
};

constexpr int kViewMeshSlots = 5;

#pragma pack(push, 1)
// "Show overhangs": faces steeper than `degrees` from vertical tinted.
struct OverhangTint {
    uint8_t on;
    float degrees;
};
#pragma pack(pop)
constexpr float kInitialZoom = 4.75f;
constexpr uintptr_t kRotationTimerId = 1;
constexpr uint32_t kRotationTimerPeriod = 4;  // milliseconds; the step size follows the counter
// The wheel counts as moving the model until it has rested this long.
constexpr uintptr_t kWheelTimerId = 2;
constexpr uint32_t kWheelPauseMs = 300;
// A frame the device has not finished within kFrameWaitMs is shown later,
// when a timer finds it done, so that the window answers meanwhile.
constexpr uintptr_t kFrameTimerId = 3;
constexpr uint32_t kFramePollMs = 10;
constexpr uint32_t kFrameWaitMs = 50;
// The window thread never waits for the view's lock: a paint, a size change
// or a new device that finds it taken is tried again this much later.
constexpr uintptr_t kRetryTimerId = 4;
constexpr uint32_t kRetryMs = 10;
// Posted to the view by any thread that has made or lost its device
// (device_work.h); the window thread then does the rest.
constexpr uint32_t kViewDeviceMessage = 0x0400 + 0x3A0;  // WM_USER + 0x3A0

#pragma pack(push, 1)
// Everything Direct3D needs that does not depend on a model or the window.
// Each pointer owns one reference; all are null while `device` is null.
struct GpuPipeline {
    ID3D11Device* device;
    ID3D11DeviceContext* context;
    ID3D11VertexShader* litVertexShader;
    ID3D11InputLayout* litInputLayout;
    ID3D11GeometryShader* faceGeometryShader;
    ID3D11PixelShader* litPixelShader;
    ID3D11VertexShader* outlineVertexShader;
    ID3D11InputLayout* outlineInputLayout;
    ID3D11PixelShader* outlinePixelShader;
    ID3D11RasterizerState* solidRasterizer;
    ID3D11RasterizerState* wireRasterizer;
    ID3D11Buffer* frameConstants;
    ID3D11Buffer* objectConstants;
    // The outline pass: "less or equal", so that edges lying in their own
    // faces pass the depth test where those faces are drawn.
    ID3D11DepthStencilState* outlineDepthState;
    // The section: the plane's constants, which the lit and outline programs
    // always read, and the cap, drawn where the surfaces behind the plane are
    // odd in number (a stencil bit flipped by each, depth ignored).
    ID3D11VertexShader* sectionCapVertexShader;
    ID3D11PixelShader* sectionCapPixelShader;
    ID3D11Buffer* sectionConstants;
    ID3D11DepthStencilState* sectionCountState;
    ID3D11DepthStencilState* sectionCapState;
    // "Show problems" tints faces: the blend factor's share of the drawn
    // colour over what is there.
    ID3D11BlendState* problemTintBlend;
};

struct ViewState {
    void* window;
    int32_t clientWidth;  // last WM_SIZE in which both were non-zero
    int32_t clientHeight;
    uint8_t rotating;
    uint8_t panning;
    uint8_t flipZoom;
    RenderMode renderMode;
    uint8_t yUp;  // 0: Z-up models, turned so that Z points up on the screen
    uint8_t alwaysRotate;
    int32_t lastMouseX;
    int32_t lastMouseY;
    BinaryAngle pitch;
    BinaryAngle yaw;
    float zoom;  // cotangent of half the vertical field of view
    float rotation[3][3];  // Ry(yaw)·Rx(pitch) by rows; columns are the screen axes in model space
    float pan[3];  // orbit target relative to the model centre, metres
    float boundsMin[3];  // union of the installed meshes' boxes, metres
    float boundsMax[3];
    float radius;  // half the diagonal of that box
    GpuPipeline pipeline;
    IDXGISwapChain* swapChain;
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    GpuMesh* meshes[kViewMeshSlots];  // filled from the front; a null entry ends the list
    uint32_t backgroundColor;  // red in the low byte
    const MessageSink* sink;
    // Guards pipeline, swap chain, the two views and meshes; everything else
    // is only touched on the window thread.
    volatile int32_t lock;
    int64_t rotationStamp;  // counter at the last rotation step; 0 while the timer is off
    uint32_t rotationRate;  // angle units per counter tick
    // Where frames reach the window through GDI (gdi_presentation.h), the
    // textures they are copied through, kept until the size changes; null
    // with a swap chain. Guarded by `lock` like the views.
    ID3D11Texture2D* resolvedFrame;
    ID3D11Texture2D* stagingFrame;
    SectionPlane section;  // not saved; a new model keeps it but starts it in the middle
    uint8_t measuring;     // a click on the model picks a point
    uint8_t clickPending;  // the left button is down and has not left the click slack
    int32_t pressX;        // where it went down
    int32_t pressY;
    MeasureMarks marks;
    uint8_t showProblems;  // the surface check's findings drawn over the model
    FramePacing pacing;    // how long the last frames took; window thread only
    uint8_t wheelTurning;  // a wheel notch came less than kWheelPauseMs ago
    // Where frames go through GDI from multisampled textures: a one-sample
    // pair of the same size for frames that must be quick, made when first
    // needed and kept like the others. Guarded by `lock`.
    ID3D11RenderTargetView* singleSampleTarget;
    ID3D11DepthStencilView* singleSampleDepth;
    // The frame handed to the device and not yet shown; one at a time, so
    // that input arriving meanwhile cannot queue up slow frames. Guarded by
    // `lock`; the query is made with the first frame and goes with the device.
    ID3D11Query* frameDone;
    int64_t frameStart;         // counter when its drawing began
    uint8_t frameInFlight;
    FrameForm frameForm;
    uint8_t repaintAfterFrame;  // a paint came while it was drawn
    // The device's comings and goings (device_work.h). Guarded by `lock`
    // unless marked otherwise.
    IDXGISwapChain* retiredSwapChain;  // of a lost device, for the window thread to release
    int32_t lossReason;                // GetDeviceRemovedReason of a loss not yet told
    uint8_t lossPending;
    uint8_t adapterTold;   // the adapter's line is written for this device
    uint8_t deviceFailed;  // the last attempt at a device off the window thread failed
    volatile int32_t deviceWork;      // a device work item is queued or runs; atomic
    volatile int32_t uploadingParts;  // it uploads the shown parts again; atomic
    volatile int32_t stopUploads;     // the window thread waits for it to leave them; set under `lock`
    // Window thread only: what found the lock taken and is tried again.
    uint8_t paintDeferred;
    uint8_t resizePending;
    uint8_t settlePending;
    OverhangTint overhangs;  // window thread only
    uint8_t placing;         // Tools > Place on face: the next click on the model places its part
    int8_t lastPlaced;       // the slot Undo placement turns back, or -1
    ProblemLegend legend;    // "Show problems"'s key, for the kinds last shown; window thread only
    uint32_t framesShown;    // presented without a failure; window thread only
};
#pragma pack(pop)

static_assert(sizeof(GpuPipeline) == 20 * 8);
static_assert(offsetof(ViewState, clientWidth) == 8);
static_assert(offsetof(ViewState, rotating) == 16);
static_assert(offsetof(ViewState, renderMode) == 19);
static_assert(offsetof(ViewState, alwaysRotate) == 21);
static_assert(offsetof(ViewState, lastMouseX) == 22);
static_assert(offsetof(ViewState, pitch) == 30);
static_assert(offsetof(ViewState, yaw) == 34);
static_assert(offsetof(ViewState, zoom) == 38);
static_assert(offsetof(ViewState, rotation) == 42);
static_assert(offsetof(ViewState, pan) == 78);
static_assert(offsetof(ViewState, boundsMin) == 90);
static_assert(offsetof(ViewState, boundsMax) == 102);
static_assert(offsetof(ViewState, radius) == 114);
static_assert(offsetof(ViewState, pipeline) == 118);
static_assert(offsetof(ViewState, swapChain) == 278);
static_assert(offsetof(ViewState, depthStencilView) == 294);
static_assert(offsetof(ViewState, meshes) == 302);
static_assert(offsetof(ViewState, backgroundColor) == 342);
static_assert(offsetof(ViewState, sink) == 346);
static_assert(offsetof(ViewState, lock) == 354);
static_assert(offsetof(ViewState, rotationStamp) == 358);
static_assert(offsetof(ViewState, rotationRate) == 366);
static_assert(offsetof(ViewState, resolvedFrame) == 370);
static_assert(offsetof(ViewState, section) == 386);
static_assert(offsetof(ViewState, measuring) == 393);
static_assert(offsetof(ViewState, pacing) == 455);
static_assert(offsetof(ViewState, frameDone) == 485);
static_assert(offsetof(ViewState, retiredSwapChain) == 504);
static_assert(sizeof(ViewState) == 569);
