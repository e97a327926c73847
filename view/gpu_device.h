// The view's Direct3D 11 device: the pipeline objects that do not depend on a
// model, what its adapter allows, the mapping of Direct3D and DXGI failures
// to status codes, and the seams through which tests make calls fail as they
// do on Windows. Only the error mapping builds natively.
#pragma once
#include <cstdint>
#include "core/status.h"
#include "view/view_state.h"

struct ID3D11RenderTargetView;
struct ID3D11DepthStencilView;

// Status codes of failed Direct3D and DXGI calls, each with its own text.
constexpr StatusCode kGpuDebugLayerMissing = 0x80000d00;
constexpr StatusCode kGpuInvalidCall = 0x80000d01;
constexpr StatusCode kGpuTooManyStates = 0x80000d02;
constexpr StatusCode kGpuTooManyViews = 0x80000d03;
constexpr StatusCode kGpuTooOld = 0x80000d04;
constexpr StatusCode kGpuNoDriverSupport = 0x80000d05;
constexpr StatusCode kGpuLost = 0x80000d07;  // removed: unplugged, switched or its driver updated
constexpr StatusCode kGpuHung = 0x80000d08;
constexpr StatusCode kGpuReset = 0x80000d09;
constexpr StatusCode kGpuDriverFailed = 0x80000d0a;
constexpr StatusCode kGpuUnspecified = 0x80000d0b;  // E_FAIL
constexpr StatusCode kGpuStillDrawing = 0x80000d0c;
constexpr StatusCode kGpuNotAvailable = 0x80000d0d;
constexpr StatusCode kGpuNoInterface = 0x80000d0e;
constexpr StatusCode kGpuNotImplemented = 0x80000d0f;
constexpr StatusCode kGpuAccessDenied = 0x80000d10;
constexpr StatusCode kGpuOtherFailure = kGpuFailureCode;  // the text shows the HRESULT

// The code a failed call's HRESULT is reported with.
StatusCode gpuErrorCode(int32_t result);
// Reports gpuErrorCode(result) with the HRESULT (as unsigned 32 bits) as the argument; no sink, no report.
void reportGpuError(int32_t result, const MessageSink* sink);

// The four results after which a device is gone for good and has to be
// made anew: DXGI_ERROR_DEVICE_REMOVED, _DEVICE_HUNG, _DEVICE_RESET and
// _DRIVER_INTERNAL_ERROR ("Handle device removed scenarios in Direct3D 11").
bool isDeviceLoss(int32_t result);
// reportGpuError for every failure but a device loss, which whoever owns
// the device tells once, when it has made a new one.
void reportGpuFailure(int32_t result, const MessageSink* sink);
// The reason a device was lost, as the words of the line that says so.
const char* deviceLossWords(int32_t reason);

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
// The largest texture side of the device: 8192 on feature level 10_x
// (adapter_limits.h).
int32_t maxTextureSideOf(ID3D11Device* device);
// Test seam: every adapter as though it guaranteed `resourceBytes` and its
// textures went up to `maxTextureSide` (0: its own), for pieces, samples
// and tiles alike.
void pretendAdapter(uint64_t resourceBytes, int32_t maxTextureSide);
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

// Why the device is removed: GetDeviceRemovedReason, or the loss a test
// injected (injectGpuFailure); S_OK while it works.
int32_t deviceRemovedReason(ID3D11Device* device);

// The calls a test can make fail.
enum GpuCall : int32_t {
    kCallPresent = 0,        // presenting a frame, through the swap chain or GDI
    kCallCreateBuffer = 1,   // a piece's vertex buffer
    kCallResizeBuffers = 2,  // the swap chain's, or the frame textures made anew
    kCallCreateSwapChain = 3,
    kGpuCalls = 4,
};
// Test seam: the (skip + 1)-th next call of the kind answers `result`
// instead of being made, once; a device loss result marks the device the
// call was made on as removed with it (deviceRemovedReason).
void injectGpuFailure(GpuCall call, int32_t result, uint32_t skip = 0);
// The injected result for a call about to be made on `device`, or S_OK to make it.
int32_t injectedFailure(GpuCall call, ID3D11Device* device);
// Test seam: render target textures of more than `samples` samples fail
// with E_OUTOFMEMORY, as where their memory is not to be had; 0: none fail.
void failTargetsAbove(uint32_t samples);
bool targetsRefused(uint32_t samples);
// CreateBuffer through the seam of kCallCreateBuffer.
int32_t createGpuBuffer(ID3D11Device* device, const void* description, const void* initialData, ID3D11Buffer** buffer);

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
