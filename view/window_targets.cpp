#include "view/window_targets.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include <cstring>

#include "view/adapter_limits.h"
#include "view/com_helpers.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"

namespace {

const GUID kDxgiDevice1Id = {0x77db970f, 0x6276, 0x48ba, {0xba, 0x28, 0x07, 0x01, 0x43, 0xb4, 0x39, 0x2c}};
const GUID kDxgiAdapter1Id = {0x29038f61, 0x3839, 0x4626, {0x91, 0xfd, 0x08, 0x68, 0x79, 0x01, 0x1a, 0x05}};
const GUID kDxgiFactory1Id = {0x770aae78, 0xf26f, 0x4dba, {0xa8, 0x29, 0x25, 0x3c, 0x83, 0xd1, 0xb3, 0x87}};

constexpr DXGI_FORMAT kColourFormat = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
constexpr DXGI_FORMAT kDepthFormat = DXGI_FORMAT_D24_UNORM_S8_UINT;
constexpr uint32_t kMaxSampleCount = 16;
constexpr uint32_t kMaxSoftwareSampleCount = 4;

HRESULT createTexture(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* description, ID3D11Texture2D** texture) {
    if (description->SampleDesc.Count > 1 && targetsRefused(description->SampleDesc.Count)) return E_OUTOFMEMORY;
    return device->CreateTexture2D(description, nullptr, texture);
}

// A depth buffer of the colour buffer's size and samples, with its view.
HRESULT createDepthOf(ID3D11Device* device, ID3D11Texture2D* colourBuffer, ID3D11DepthStencilView** depthView) {
    D3D11_TEXTURE2D_DESC description;
    colourBuffer->GetDesc(&description);
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.Format = kDepthFormat;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_DEPTH_STENCIL;
    description.CPUAccessFlags = 0;
    description.MiscFlags = 0;
    ID3D11Texture2D* depthBuffer = nullptr;
    HRESULT result = createTexture(device, &description, &depthBuffer);
    if (SUCCEEDED(result)) result = device->CreateDepthStencilView(depthBuffer, nullptr, depthView);
    releaseInterface(depthBuffer);
    return result;
}

// A colour view of the buffer and a depth buffer like it. The views keep
// their textures alive; the outputs are written only on success.
HRESULT createViewsOf(ID3D11Device* device, ID3D11Texture2D* colourBuffer, ID3D11RenderTargetView** renderTargetView,
                      ID3D11DepthStencilView** depthStencilView) {
    ID3D11RenderTargetView* colourView = nullptr;
    ID3D11DepthStencilView* depthView = nullptr;
    HRESULT result = device->CreateRenderTargetView(colourBuffer, nullptr, &colourView);
    if (SUCCEEDED(result)) result = createDepthOf(device, colourBuffer, &depthView);
    if (FAILED(result)) {
        releaseInterface(colourView);
        return result;
    }
    *renderTargetView = colourView;
    *depthStencilView = depthView;
    return S_OK;
}

HRESULT createFrameTexturesOnce(ID3D11Device* device, int32_t width, int32_t height, uint32_t samples,
                                ID3D11RenderTargetView** renderTargetView, ID3D11DepthStencilView** depthStencilView) {
    D3D11_TEXTURE2D_DESC description;
    memset(&description, 0, sizeof description);
    description.Width = width > 1 ? static_cast<UINT>(width) : 1;
    description.Height = height > 1 ? static_cast<UINT>(height) : 1;
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.Format = kColourFormat;
    description.SampleDesc.Count = samples;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_RENDER_TARGET;
    ID3D11Texture2D* colour = nullptr;
    HRESULT result = createTexture(device, &description, &colour);
    if (FAILED(result)) return result;
    result = createViewsOf(device, colour, renderTargetView, depthStencilView);
    colour->Release();
    return result;
}

// The client size, which the record does not hold yet during a resize.
void clientSizeOf(void* window, int32_t* width, int32_t* height) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(static_cast<HWND>(window), &client);
    *width = client.right - client.left;
    *height = client.bottom - client.top;
}

// The sized targets, written into the record only when all were made.
struct SizedTargets {
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    ID3D11Texture2D* resolvedFrame;
    ID3D11Texture2D* stagingFrame;
};

void releaseTargets(const SizedTargets& targets) {
    releaseInterface(targets.stagingFrame);
    releaseInterface(targets.resolvedFrame);
    releaseInterface(targets.depthStencilView);
    releaseInterface(targets.renderTargetView);
}

// Frames reach the window through GDI: the frame textures and those a
// frame is copied through.
HRESULT createGdiTargets(ID3D11Device* device, int32_t width, int32_t height, SizedTargets* targets) {
    HRESULT result = createFrameTextures(device, width, height, targetSampleCount(device, width, height),
                                         &targets->renderTargetView, &targets->depthStencilView);
    if (SUCCEEDED(result))
        result = createCopyTextures(device, targets->renderTargetView, &targets->resolvedFrame, &targets->stagingFrame);
    return result;
}

// Through the swap chain: frames are drawn into multisampled textures and
// resolved into its buffer, or, with one sample, into the buffer itself.
HRESULT createSwapChainTargets(ID3D11Device* device, IDXGISwapChain* swapChain, int32_t width, int32_t height,
                               SizedTargets* targets) {
    ID3D11Texture2D* buffer = nullptr;
    HRESULT result = swapChain->GetBuffer(0, kTexture2DId, reinterpret_cast<void**>(&buffer));
    if (FAILED(result)) return result;
    uint32_t samples = targetSampleCount(device, width, height);
    if (samples > 1)
        result = createFrameTextures(device, width, height, samples, &targets->renderTargetView,
                                     &targets->depthStencilView);
    // Textures that came back with one sample are no better than the buffer.
    if (SUCCEEDED(result) && samples > 1) {
        ID3D11Resource* colour = nullptr;
        targets->renderTargetView->GetResource(&colour);
        D3D11_TEXTURE2D_DESC description;
        static_cast<ID3D11Texture2D*>(colour)->GetDesc(&description);
        colour->Release();
        samples = description.SampleDesc.Count;
        if (samples == 1) {
            releaseTargets(*targets);
            *targets = SizedTargets{nullptr, nullptr, nullptr, nullptr};
        }
    }
    if (SUCCEEDED(result) && samples > 1) {
        targets->resolvedFrame = buffer;  // the reference goes to the record
        return S_OK;
    }
    if (SUCCEEDED(result)) result = createViewsOf(device, buffer, &targets->renderTargetView, &targets->depthStencilView);
    buffer->Release();
    return result;
}

HRESULT createSizedTargets(ViewState* state, SizedTargets* targets) {
    *targets = SizedTargets{nullptr, nullptr, nullptr, nullptr};
    int32_t width, height;
    clientSizeOf(state->window, &width, &height);
    ID3D11Device* device = state->pipeline.device;
    HRESULT result = state->swapChain ? createSwapChainTargets(device, state->swapChain, width, height, targets)
                                      : createGdiTargets(device, width, height, targets);
    if (FAILED(result)) {
        releaseTargets(*targets);
        *targets = SizedTargets{nullptr, nullptr, nullptr, nullptr};
    }
    return result;
}

void storeTargets(ViewState* state, const SizedTargets& targets) {
    state->renderTargetView = targets.renderTargetView;
    state->depthStencilView = targets.depthStencilView;
    state->resolvedFrame = targets.resolvedFrame;
    state->stagingFrame = targets.stagingFrame;
}

// A swap chain of one single-sampled buffer for the window, at its client size.
HRESULT createSwapChain(ID3D11Device* device, void* window, IDXGISwapChain** swapChainOut) {
    IDXGIDevice1* dxgiDevice = nullptr;
    IDXGIAdapter1* adapter = nullptr;
    IDXGIFactory1* factory = nullptr;
    IDXGISwapChain* swapChain = nullptr;
    HRESULT result = device->QueryInterface(kDxgiDevice1Id, reinterpret_cast<void**>(&dxgiDevice));
    if (SUCCEEDED(result)) result = dxgiDevice->GetParent(kDxgiAdapter1Id, reinterpret_cast<void**>(&adapter));
    if (SUCCEEDED(result)) result = adapter->GetParent(kDxgiFactory1Id, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(result)) {
        DXGI_SWAP_CHAIN_DESC description;
        memset(&description, 0, sizeof description);
        // Width and height 0: the window's client size.
        description.BufferDesc.Format = kColourFormat;
        description.BufferDesc.ScanlineOrdering = DXGI_MODE_SCANLINE_ORDER_UNSPECIFIED;
        description.BufferDesc.Scaling = DXGI_MODE_SCALING_UNSPECIFIED;
        description.SampleDesc.Count = 1;
        description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        description.BufferCount = 1;
        description.OutputWindow = static_cast<HWND>(window);
        description.Windowed = TRUE;
        description.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
        result = injectedFailure(kCallCreateSwapChain, device);
        if (SUCCEEDED(result)) result = factory->CreateSwapChain(device, &description, &swapChain);
    }
    // The view is a child window: Alt+Enter must not take it full screen.
    if (SUCCEEDED(result)) result = factory->MakeWindowAssociation(static_cast<HWND>(window), DXGI_MWA_NO_ALT_ENTER);
    releaseInterface(factory);
    releaseInterface(adapter);
    releaseInterface(dxgiDevice);
    if (FAILED(result)) {
        if (swapChain) releaseSwapChain(swapChain);
        return result;
    }
    *swapChainOut = swapChain;
    return S_OK;
}

}  // namespace

uint32_t supportedSampleCounts(ID3D11Device* device) {
    uint32_t supported = 1u << 1;
    for (UINT count = 2; count <= kMaxSampleCount; ++count) {
        UINT colourLevels = 0, depthLevels = 0;
        if (SUCCEEDED(device->CheckMultisampleQualityLevels(kColourFormat, count, &colourLevels)) && colourLevels > 0 &&
            SUCCEEDED(device->CheckMultisampleQualityLevels(kDepthFormat, count, &depthLevels)) && depthLevels > 0)
            supported |= 1u << count;
    }
    return supported;
}

uint32_t targetSampleCount(ID3D11Device* device, int32_t width, int32_t height) {
    AdapterFacts facts;
    bool known = adapterFactsOf(device, &facts);
    uint64_t budget = known ? facts.resourceBytes : guaranteedResourceBytes(kMicrosoftVendor, 0);
    uint32_t most = known && facts.vendorId == kMicrosoftVendor ? kMaxSoftwareSampleCount : kMaxSampleCount;
    return chooseSampleCount(width, height, budget, most, supportedSampleCounts(device));
}

int32_t createFrameTextures(ID3D11Device* device, int32_t width, int32_t height, uint32_t samples,
                            ID3D11RenderTargetView** renderTargetView, ID3D11DepthStencilView** depthStencilView) {
    uint32_t supported = samples > 1 ? supportedSampleCounts(device) : 0;
    for (;;) {
        HRESULT result = createFrameTexturesOnce(device, width, height, samples, renderTargetView, depthStencilView);
        // Where the memory is not to be had, fewer samples may fit; a lost
        // device fails whatever the count.
        if (SUCCEEDED(result) || samples == 1 || isDeviceLoss(result)) return result;
        samples = fewerSamples(samples, supported);
    }
}

int32_t makeWindowTargets(ViewState* state, const MessageSink* sink) {
    ID3D11Device* device = state->pipeline.device;
    HRESULT result = S_OK;
    if (!presentsThroughGdi()) result = createSwapChain(device, state->window, &state->swapChain);
    SizedTargets targets;
    if (SUCCEEDED(result)) result = createSizedTargets(state, &targets);
    if (SUCCEEDED(result)) {
        storeTargets(state, targets);
        return S_OK;
    }
    reportGpuFailure(result, sink);
    if (state->swapChain) releaseSwapChain(state->swapChain);
    state->swapChain = nullptr;
    return result;
}

int32_t resizeTargets(ViewState* state, const MessageSink* sink) {
    releaseSizedTargets(state);
    // Views still bound to the context would keep the old buffers alive and
    // make ResizeBuffers fail.
    ID3D11DeviceContext* context = state->pipeline.context;
    context->ClearState();
    context->Flush();
    HRESULT result = S_OK;
    if (state->swapChain) {
        result = injectedFailure(kCallResizeBuffers, state->pipeline.device);
        if (SUCCEEDED(result)) result = state->swapChain->ResizeBuffers(0, 0, 0, DXGI_FORMAT_UNKNOWN, 0);
    } else {
        result = injectedFailure(kCallResizeBuffers, state->pipeline.device);
    }
    SizedTargets targets;
    if (SUCCEEDED(result)) result = createSizedTargets(state, &targets);
    if (SUCCEEDED(result)) {
        storeTargets(state, targets);
        return S_OK;
    }
    reportGpuFailure(result, sink);
    return result;
}

bool singleSampleTargets(ViewState* state, const MessageSink* sink) {
    if (!state->resolvedFrame) return false;  // the frame textures have one sample already
    if (state->singleSampleTarget) return true;
    HRESULT result;
    if (state->swapChain) {
        result = createViewsOf(state->pipeline.device, state->resolvedFrame, &state->singleSampleTarget,
                               &state->singleSampleDepth);
    } else {
        result = createFrameTextures(state->pipeline.device, state->clientWidth, state->clientHeight, 1,
                                     &state->singleSampleTarget, &state->singleSampleDepth);
    }
    if (FAILED(result)) {
        reportGpuFailure(result, sink);
        state->singleSampleTarget = nullptr;
        state->singleSampleDepth = nullptr;
    }
    return SUCCEEDED(result);
}

int32_t queueFramePresentation(const ViewState* state, FrameForm form) {
    ID3D11DeviceContext* context = state->pipeline.context;
    bool single = form == kFormSingleSample;
    const ProblemLegend* legend = state->showProblems ? &state->legend : nullptr;
    if (!state->swapChain)
        return queueFrameCopy(context, single ? state->singleSampleTarget : state->renderTargetView,
                              single ? nullptr : state->resolvedFrame, state->stagingFrame, legend);
    // The single-sampled form was drawn into the buffer itself.
    if (!single && state->resolvedFrame) {
        ID3D11Resource* frame = nullptr;
        state->renderTargetView->GetResource(&frame);
        context->ResolveSubresource(state->resolvedFrame, 0, frame, 0, kColourFormat);
        frame->Release();
    }
    if (!legend) return S_OK;
    ID3D11Resource* buffer = nullptr;
    if (state->resolvedFrame) (buffer = state->resolvedFrame)->AddRef();
    else state->renderTargetView->GetResource(&buffer);
    stampProblemLegend(context, buffer, state->clientWidth, state->clientHeight, legend);
    buffer->Release();
    return S_OK;
}

void releaseSizedTargets(ViewState* state) {
    state->frameInFlight = 0;  // drawn for targets that go now; the next paint draws anew
    releaseInterface(state->singleSampleDepth);
    releaseInterface(state->singleSampleTarget);
    state->singleSampleDepth = nullptr;
    state->singleSampleTarget = nullptr;
    releaseTargets(SizedTargets{state->renderTargetView, state->depthStencilView, state->resolvedFrame,
                                state->stagingFrame});
    storeTargets(state, SizedTargets{nullptr, nullptr, nullptr, nullptr});
}

void releaseSwapChain(IDXGISwapChain* swapChain) {
    BOOL fullScreen = FALSE;
    if (SUCCEEDED(swapChain->GetFullscreenState(&fullScreen, nullptr)) && fullScreen)
        swapChain->SetFullscreenState(FALSE, nullptr);
    swapChain->Release();
}

void dropDevice(ViewState* state) {
    releaseSizedTargets(state);
    releaseInterface(state->frameDone);
    state->frameDone = nullptr;
    if (state->swapChain) releaseSwapChain(state->swapChain);
    state->swapChain = nullptr;
    releasePipeline(&state->pipeline);
}
