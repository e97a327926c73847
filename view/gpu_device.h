// The view's Direct3D 11 device: the pipeline objects that do not depend on a
// model, the window's swap chain and views, and the mapping of Direct3D and
// DXGI failures to status codes. Only the error mapping builds natively.
#pragma once
#include <cstdint>
#include "core/status.h"
#include "view/view_state.h"

struct ID3D11RenderTargetView;
struct ID3D11DepthStencilView;

// Status codes of failed Direct3D and DXGI calls.
constexpr StatusCode kGpuDebugLayerMissing = 0x80000d00;
constexpr StatusCode kGpuInvalidCall = 0x80000d01;
constexpr StatusCode kGpuTooManyStates = 0x80000d02;
constexpr StatusCode kGpuTooManyViews = 0x80000d03;
constexpr StatusCode kGpuTooOld = 0x80000d04;
constexpr StatusCode kGpuNoDriverSupport = 0x80000d05;
constexpr StatusCode kGpuLost = 0x80000d07;
constexpr StatusCode kGpuStillDrawing = 1;  // no text of its own

// The code a failed call's HRESULT is reported with.
StatusCode gpuErrorCode(int32_t result);
// Reports gpuErrorCode(result) with the HRESULT (as unsigned 32 bits) as the argument; no sink, no report.
void reportGpuError(int32_t result, const MessageSink* sink);

// Everything below is implemented for Windows only.

// The adapter a device runs on.
struct AdapterFacts {
    wchar_t name[128];
    uint32_t vendorId;
    uint64_t resourceBytes;  // the largest buffer it guarantees (adapter_limits.h)
};
bool adapterFactsOf(ID3D11Device* device, AdapterFacts* facts);
// Triangles in a piece of a mesh on the device (adapter_limits.h).
uint32_t pieceTrianglesOf(ID3D11Device* device);
// Test seam: pieces of at most `bytes`; 0 gives the adapter's own size back.
void limitPieceBytes(uint64_t bytes);
// The one "D3D info:" line naming the device's adapter and its largest buffer.
void reportAdapter(ID3D11Device* device, const MessageSink* sink);

// Driver types as D3D_DRIVER_TYPE numbers them.
constexpr int kDriverHardware = 1;
constexpr int kDriverWarp = 5;

// The device and every pipeline object; on failure the record is all null
// and exactly the failing call has been reported.
bool createPipeline(GpuPipeline* pipeline, const MessageSink* sink);
void releaseDevice(GpuPipeline* pipeline);
// Every object and the device; the record is all null afterwards.
void releasePipeline(GpuPipeline* pipeline);

// The highest count up to 16 (4 on a software rasterizer such as WARP, where
// every sample costs processor time) that both the sRGB colour format and
// the depth format support; 1 always qualifies.
uint32_t pickSampleCount(ID3D11Device* device);

// Swap chain of the window's client size, with its two views. The outputs
// are written only on success.
bool createSwapChain(ID3D11Device* device, void* window, IDXGISwapChain** swapChain,
                     ID3D11RenderTargetView** renderTargetView, ID3D11DepthStencilView** depthStencilView,
                     const MessageSink* sink);
// Views of the current back buffer; the outputs are written only on success.
bool createTargetViews(ID3D11Device* device, IDXGISwapChain* swapChain, ID3D11RenderTargetView** renderTargetView,
                       ID3D11DepthStencilView** depthStencilView, const MessageSink* sink);
// Where frames reach the window through GDI (gdi_presentation.h): a colour
// texture with the samples a swap chain would get and its depth buffer, both
// width x height (at least 1 x 1), as the two views. The outputs are written
// only on success.
bool createFrameTextures(ID3D11Device* device, int32_t width, int32_t height,
                         ID3D11RenderTargetView** renderTargetView, ID3D11DepthStencilView** depthStencilView,
                         const MessageSink* sink, uint32_t sampleCount = 0);  // 0: pickSampleCount

// After a size change, with the view's lock held and a device present: the
// swap chain's buffers or the frame textures take the new client size. A
// failure is reported to the view's sink and drops the device.
void resizeTargets(ViewState* state);
// Views, swap chain and pipeline released, device null. The caller holds
// the lock or is the window thread tearing the view down.
void dropDevice(ViewState* state);
// Takes the lock and creates whatever is missing; true when a device exists afterwards.
bool ensureDevice(ViewState* state, const MessageSink* sink);
// ensureDevice that also hands out a reference to the device, taken under
// the same hold of the lock: an upload keeps using a device that the window
// thread drops meanwhile. Null when there is none (reported).
ID3D11Device* ensureDeviceReference(ViewState* state, const MessageSink* sink);

// Test seams. Calls of createPipeline are numbered by step (below); the step
// named here fails with `result` instead of being made, once, and the failing
// pipeline's device is kept with one extra reference for the test to inspect
// (takeFailedPipelineDevice). Step 0 turns the seam off.
enum PipelineStep : int32_t {
    kStepNone = 0,
    kStepDevice = 1,  // the device of either driver type
    kStepLitVertexShader,
    kStepLitInputLayout,
    kStepFaceGeometryShader,
    kStepLitPixelShader,
    kStepOutlineVertexShader,
    kStepOutlineInputLayout,
    kStepOutlinePixelShader,
    kStepSolidRasterizer,
    kStepWireRasterizer,
    kStepFrameConstants,
    kStepObjectConstants,
    kStepOutlineDepthState,
    kStepSectionCapVertexShader,
    kStepSectionCapPixelShader,
    kStepSectionConstants,
    kStepSectionCountState,
    kStepSectionCapState,
    kStepProblemTintBlend,
    kStepCount,
};
void failPipelineStep(PipelineStep step, int32_t result);
// The step still waiting to fail; kStepNone once a pipeline has taken it.
PipelineStep pendingPipelineFailure();
// The device of the last injected failure, with the extra reference; null if none.
ID3D11Device* takeFailedPipelineDevice();
