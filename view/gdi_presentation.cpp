#include "view/gdi_presentation.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/spin_lock.h"
#include "view/com_helpers.h"

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

// A single-sampled copy of the frame that the processor can read and write.
HRESULT readableCopy(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* frame,
                     ID3D11Texture2D** copy) {
    D3D11_TEXTURE2D_DESC description;
    frame->GetDesc(&description);
    UINT samples = description.SampleDesc.Count;
    description.SampleDesc.Count = 1;
    description.SampleDesc.Quality = 0;
    description.BindFlags = 0;
    description.MiscFlags = 0;
    ID3D11Texture2D* resolved = nullptr;
    HRESULT result = S_OK;
    if (samples > 1) {
        result = device->CreateTexture2D(&description, nullptr, &resolved);
        if (FAILED(result)) return result;
        context->ResolveSubresource(resolved, 0, frame, 0, description.Format);
    }
    description.Usage = D3D11_USAGE_STAGING;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ | D3D11_CPU_ACCESS_WRITE;
    result = device->CreateTexture2D(&description, nullptr, copy);
    if (SUCCEEDED(result)) context->CopyResource(*copy, resolved ? resolved : frame);
    releaseInterface(resolved);
    return result;
}

// The frame holds red in the low byte; a device-independent bitmap wants blue there.
void swapRedAndBlue(uint8_t* rows, UINT rowPitch, UINT width, UINT height) {
    for (UINT y = 0; y < height; ++y) {
        uint8_t* pixel = rows + static_cast<size_t>(y) * rowPitch;
        for (UINT x = 0; x < width; ++x, pixel += 4) {
            uint8_t red = pixel[0];
            pixel[0] = pixel[2];
            pixel[2] = red;
        }
    }
}

void drawRows(HWND window, const void* rows, UINT rowPitch, UINT width, UINT height) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(rowPitch / 4);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(window);
    if (!dc) return;
    StretchDIBits(dc, 0, 0, static_cast<int>(width), static_cast<int>(height), 0, 0, static_cast<int>(width),
                  static_cast<int>(height), rows, &info, DIB_RGB_COLORS, SRCCOPY);
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

int32_t copyFrameToWindow(ID3D11Device* device, ID3D11DeviceContext* context,
                          ID3D11RenderTargetView* renderTargetView, void* window) {
    ID3D11Texture2D* frame = textureOf(renderTargetView);
    if (!frame) return E_NOINTERFACE;
    ID3D11Texture2D* copy = nullptr;
    HRESULT result = readableCopy(device, context, frame, &copy);
    frame->Release();
    if (FAILED(result)) return result;
    D3D11_TEXTURE2D_DESC description;
    copy->GetDesc(&description);
    D3D11_MAPPED_SUBRESOURCE mapped;
    result = context->Map(copy, 0, D3D11_MAP_READ_WRITE, 0, &mapped);
    if (SUCCEEDED(result)) {
        uint8_t* rows = static_cast<uint8_t*>(mapped.pData);
        swapRedAndBlue(rows, mapped.RowPitch, description.Width, description.Height);
        drawRows(static_cast<HWND>(window), rows, mapped.RowPitch, description.Width, description.Height);
        context->Unmap(copy, 0);
    }
    copy->Release();
    return result;
}
