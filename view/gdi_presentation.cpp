#include "view/gdi_presentation.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/spin_lock.h"
#include "view/com_helpers.h"
#include "view/problem_legend.h"

namespace {

// Plain words, so that nothing runs before main.
volatile int32_t chosenPresentation = kPresentDetect;
volatile int32_t wineDetected = -1;  // not yet looked at

bool runsUnderWine() {
    int32_t known = wineDetected;
    if (known >= 0) return known != 0;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    exchange32(&wineDetected, wine ? 1 : 0);
    return wine;
}

// The texture behind a render target view; null if it is not a 2D texture.
ID3D11Texture2D* textureOf(ID3D11RenderTargetView* view) {
    ID3D11Resource* resource = nullptr;
    view->GetResource(&resource);
    if (!resource) return nullptr;
    ID3D11Texture2D* texture = nullptr;
    if (FAILED(resource->QueryInterface(kTexture2DId, reinterpret_cast<void**>(&texture)))) texture = nullptr;
    resource->Release();
    return texture;
}

// A device-independent bitmap whose pixels are the frame's bytes as they
// are: red in the low byte, so no pass over the pixels swaps them.
struct FrameBitmapInfo {
    BITMAPINFOHEADER header;
    DWORD masks[3];  // red, green, blue
};

void drawRows(HWND window, const void* rows, UINT rowPitch, UINT width, UINT height) {
    FrameBitmapInfo info;
    memset(&info, 0, sizeof info);
    info.header.biSize = sizeof info.header;
    info.header.biWidth = static_cast<LONG>(rowPitch / 4);
    info.header.biHeight = -static_cast<LONG>(height);  // top row first
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_BITFIELDS;
    info.masks[0] = 0x000000FF;
    info.masks[1] = 0x0000FF00;
    info.masks[2] = 0x00FF0000;
    HDC dc = GetDC(window);
    if (!dc) return;
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, rows, reinterpret_cast<const BITMAPINFO*>(&info),
                      DIB_RGB_COLORS);
    ReleaseDC(window, dc);
}

}  // namespace

bool presentsThroughGdi() {
    int32_t choice = chosenPresentation;
    if (choice != kPresentDetect) return choice == kPresentGdi;
    return runsUnderWine();
}

void choosePresentation(PresentationChoice choice) {
    exchange32(&chosenPresentation, choice);
}

int32_t createCopyTextures(ID3D11Device* device, ID3D11RenderTargetView* renderTargetView,
                           ID3D11Texture2D** resolvedOut, ID3D11Texture2D** stagingOut) {
    ID3D11Texture2D* frame = textureOf(renderTargetView);
    if (!frame) return E_NOINTERFACE;
    D3D11_TEXTURE2D_DESC description;
    frame->GetDesc(&description);
    frame->Release();
    bool multisampled = description.SampleDesc.Count > 1;
    description.SampleDesc.Count = 1;
    description.SampleDesc.Quality = 0;
    description.BindFlags = 0;
    description.MiscFlags = 0;
    ID3D11Texture2D* resolved = nullptr;
    ID3D11Texture2D* staging = nullptr;
    HRESULT result = multisampled ? device->CreateTexture2D(&description, nullptr, &resolved) : S_OK;
    if (SUCCEEDED(result)) {
        description.Usage = D3D11_USAGE_STAGING;
        description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        result = device->CreateTexture2D(&description, nullptr, &staging);
    }
    if (FAILED(result)) {
        releaseInterface(resolved);
        return result;
    }
    *resolvedOut = resolved;
    *stagingOut = staging;
    return S_OK;
}

int32_t queueFrameCopy(ID3D11DeviceContext* context, ID3D11RenderTargetView* renderTargetView,
                       ID3D11Texture2D* resolved, ID3D11Texture2D* staging, const ProblemLegend* legend) {
    ID3D11Texture2D* frame = textureOf(renderTargetView);
    if (!frame) return E_NOINTERFACE;
    D3D11_TEXTURE2D_DESC description;
    staging->GetDesc(&description);
    if (resolved) context->ResolveSubresource(resolved, 0, frame, 0, description.Format);
    if (legend)
        stampProblemLegend(context, resolved ? resolved : frame, static_cast<int32_t>(description.Width),
                           static_cast<int32_t>(description.Height), legend);
    context->CopyResource(staging, resolved ? resolved : frame);
    frame->Release();
    return S_OK;
}

int32_t mapFrameCopy(ID3D11DeviceContext* context, ID3D11RenderTargetView* renderTargetView,
                     ID3D11Texture2D* resolved, ID3D11Texture2D* staging, const void** pixels, uint32_t* rowPitch) {
    HRESULT result = queueFrameCopy(context, renderTargetView, resolved, staging);
    if (FAILED(result)) return result;
    D3D11_MAPPED_SUBRESOURCE mapped;
    result = context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(result)) return result;
    *pixels = mapped.pData;
    *rowPitch = mapped.RowPitch;
    return S_OK;
}

int32_t drawFrameCopy(ID3D11DeviceContext* context, ID3D11Texture2D* staging, void* window) {
    D3D11_MAPPED_SUBRESOURCE mapped;
    HRESULT result = context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(result)) return result;
    D3D11_TEXTURE2D_DESC description;
    staging->GetDesc(&description);
    drawRows(static_cast<HWND>(window), mapped.pData, mapped.RowPitch, description.Width, description.Height);
    context->Unmap(staging, 0);
    return S_OK;
}
