// What a frame is drawn into: the window's swap chain (its buffer single-
// sampled) or, where frames reach the window through GDI (gdi_presentation.h),
// textures of the client size; in both, multisampled frame textures of as
// many samples as the size allows within the adapter's budget, resolved into
// the buffer that is shown. Swap chain calls are made on the window's thread
// only (DXGI Overview, "Multithread considerations": DXGI sends that window
// messages). Windows only.
#pragma once
#include <cstdint>
#include "core/status.h"
#include "view/view_state.h"

// The samples of a frame's targets of width x height on the device: the
// most it offers for the colour and the depth format (4 on a software
// rasterizer, where each costs processor time) whose targets fit half the
// adapter's budget (adapter_limits.h); 1 always qualifies.
uint32_t targetSampleCount(ID3D11Device* device, int32_t width, int32_t height);
// Bit n set for each count n the device offers for both formats.
uint32_t supportedSampleCounts(ID3D11Device* device);

// A colour texture of the view's sRGB format and its depth buffer, width x
// height (at least 1 x 1), as the two views, with `samples` samples or,
// where those cannot be made, the next fewer the device offers, down to
// one. Answers S_OK or the HRESULT of the last failure (not reported); the
// outputs are written only on success.
int32_t createFrameTextures(ID3D11Device* device, int32_t width, int32_t height, uint32_t samples,
                            ID3D11RenderTargetView** renderTargetView, ID3D11DepthStencilView** depthStencilView);

// On the window thread with the view's lock held, for a device without
// them: the window's targets at its client size, the swap chain made here
// (MakeWindowAssociation without Alt+Enter). Answers S_OK or the failure,
// reported unless it is a device loss; nothing is kept on failure.
int32_t makeWindowTargets(ViewState* state, const MessageSink* sink);
// After a size change, likewise: the swap chain's buffers (ResizeBuffers)
// and the frame textures at the new client size.
int32_t resizeTargets(ViewState* state, const MessageSink* sink);
// The targets of the single-sampled form of a frame of multisampled
// targets: the swap chain's own buffer, or textures where frames go
// through GDI, each with a depth buffer; made when first needed.
bool singleSampleTargets(ViewState* state, const MessageSink* sink);
// The resolve or copy a frame of the form needs once drawn before it can be
// shown. Answers the HRESULT of the first failed call, or S_OK.
int32_t queueFramePresentation(const ViewState* state, FrameForm form);

// Everything that depends on the window's size; the swap chain stays.
void releaseSizedTargets(ViewState* state);
// A swap chain released as DXGI asks: never in full-screen state. Window thread.
void releaseSwapChain(IDXGISwapChain* swapChain);
// Targets, swap chain and pipeline released, device null. The caller holds
// the lock on the window thread, or tears the view down.
void dropDevice(ViewState* state);
