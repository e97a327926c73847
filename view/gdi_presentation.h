// Showing frames through GDI where a swap chain's picture never reaches the
// screen. Wine 8 keeps a child window's OpenGL, and so Direct3D, output off
// screen, and once the window has a pixel format its GDI drawing is lost as
// well. There the view keeps no swap chain: frames are drawn into textures of
// the client size and copied into the window. Windows only.
#pragma once
#include <cstdint>
#include "core/status.h"

struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11RenderTargetView;
struct ID3D11Texture2D;
struct ProblemLegend;

// True under Wine, unless a test chose otherwise.
bool presentsThroughGdi();

enum PresentationChoice : int32_t {
    kPresentDetect = -1,  // through GDI exactly under Wine
    kPresentSwapChain = 0,
    kPresentGdi = 1,
};
// Test seam; read by every later device creation.
void choosePresentation(PresentationChoice choice);

// The textures a frame of the view's size travels through, made with the
// frame textures and kept until the size changes: a single-sampled one to
// resolve a multisampled frame into (null when the frame has one sample) and
// a staging copy the processor reads. The outputs are written only on
// success; answers the HRESULT of the failed call, or 0.
int32_t createCopyTextures(ID3D11Device* device, ID3D11RenderTargetView* renderTargetView,
                           ID3D11Texture2D** resolved, ID3D11Texture2D** staging);

// Queues the resolve of the frame into the textures above, the legend (if
// any) written into it, and the copy into the staging texture. Answers the
// HRESULT of the first failed call, or 0.
int32_t queueFrameCopy(ID3D11DeviceContext* context, ID3D11RenderTargetView* renderTargetView,
                       ID3D11Texture2D* resolved, ID3D11Texture2D* staging, const ProblemLegend* legend = nullptr);

// The copy queued, then the staging texture mapped for reading: its rows
// start `rowPitch` bytes apart. The caller unmaps it after a success.
int32_t mapFrameCopy(ID3D11DeviceContext* context, ID3D11RenderTargetView* renderTargetView,
                     ID3D11Texture2D* resolved, ID3D11Texture2D* staging, const void** pixels, uint32_t* rowPitch);

// Draws the staging copy of a queued frame into the window's client area;
// waits for the copy if it is not done. Answers the HRESULT of the failed
// call, or 0.
int32_t drawFrameCopy(ID3D11DeviceContext* context, ID3D11Texture2D* staging, void* window);
