#include "view/problem_legend.h"

#include <windows.h>
#include <d3d11.h>

#include "core/memory.h"
#include "view/problem_edges.h"

const wchar_t* const kProblemLegendRows[3] = {L"orange: face turned the wrong way", L"red: open edge",
                                              L"blue: edge of 3+ faces"};

namespace {

constexpr int kShownOrder[3] = {kProblemOpen, kProblemNonManifold, kProblemFlipped};
// The drawn colours as they reach the screen (the lines' linear light in
// sRGB), as GDI takes them.
constexpr COLORREF kSwatches[3] = {RGB(255, 152, 0), RGB(255, 0, 0), RGB(0, 124, 255)};
// Dark text on a pale box with a dark rim: readable over black, white and
// any model colour alike.
constexpr COLORREF kBoxColour = RGB(250, 250, 250);
constexpr COLORREF kRimColour = RGB(90, 90, 90);
constexpr COLORREF kTextColour = RGB(24, 24, 24);
constexpr int kFontPoints = 9;

int scaled(int pixelsAt96, uint32_t dpi) {
    return MulDiv(pixelsAt96, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

int rowCount(uint32_t kinds) {
    int count = 0;
    for (int kind : kShownOrder) count += (kinds >> kind) & 1;
    return count;
}

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT area = {left, top, right, bottom};
    SetDCBrushColor(dc, colour);
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// The box drawn into a top-down DIB of the size found for the font.
bool drawLegend(HDC dc, HFONT font, uint32_t kinds, uint32_t dpi, ProblemLegend* legend) {
    HGDIOBJ oldFont = SelectObject(dc, font);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    int pad = scaled(6, dpi), swatch = scaled(14, dpi), gap = scaled(6, dpi), rowHeight = metrics.tmHeight;
    int textWidth = 0;
    for (int kind : kShownOrder) {
        if (!((kinds >> kind) & 1)) continue;
        SIZE size;
        if (GetTextExtentPoint32W(dc, kProblemLegendRows[kind], lstrlenW(kProblemLegendRows[kind]), &size) &&
            size.cx > textWidth)
            textWidth = size.cx;
    }
    int width = 2 * pad + swatch + gap + textWidth, height = 2 * pad + rowCount(kinds) * rowHeight;
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    uint32_t* pixels = bitmap ? static_cast<uint32_t*>(allocArray(processHeap(), static_cast<size_t>(width) * height,
                                                                  sizeof(uint32_t), nullptr))
                              : nullptr;
    if (!pixels) {
        if (bitmap) DeleteObject(bitmap);
        SelectObject(dc, oldFont);
        return false;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    fill(dc, 0, 0, width, height, kRimColour);
    fill(dc, 1, 1, width - 1, height - 1, kBoxColour);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
    int top = pad, thick = scaled(4, dpi);
    for (int kind : kShownOrder) {
        if (!((kinds >> kind) & 1)) continue;
        int middle = top + rowHeight / 2;
        fill(dc, pad, middle - thick / 2, pad + swatch, middle - thick / 2 + thick, kSwatches[kind]);
        TextOutW(dc, pad + swatch + gap, top, kProblemLegendRows[kind], lstrlenW(kProblemLegendRows[kind]));
        top += rowHeight;
    }
    GdiFlush();
    const uint32_t* drawn = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        uint32_t bgr = drawn[i];  // blue in the low byte
        pixels[i] = 0xFF000000u | (bgr >> 16 & 0xFF) | (bgr & 0xFF00) | (bgr & 0xFF) << 16;
    }
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteObject(bitmap);
    *legend = ProblemLegend{kinds, dpi, width, height, pixels};
    return true;
}

}  // namespace

void releaseProblemLegend(ProblemLegend* legend) {
    freeBytes(legend->pixels);
    *legend = ProblemLegend{};
}

void prepareProblemLegend(ProblemLegend* legend, uint32_t kinds, uint32_t dpi) {
    if (legend->pixels && legend->kinds == kinds && legend->dpi == dpi) return;
    releaseProblemLegend(legend);
    if (rowCount(kinds) == 0) return;
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(kFontPoints, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
    if (dc && font) drawLegend(dc, font, kinds, dpi, legend);
    if (font) DeleteObject(font);
    if (dc) DeleteDC(dc);
}

uint32_t windowDpiOf(void* window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    static const GetDpi getDpi =
        user32 ? reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow"))) : nullptr;
    UINT dpi = getDpi ? getDpi(static_cast<HWND>(window)) : 0;
    if (dpi) return dpi;
    HDC screen = GetDC(nullptr);
    dpi = screen ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY)) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void stampProblemLegend(ID3D11DeviceContext* context, ID3D11Resource* frame, int32_t frameWidth, int32_t frameHeight,
                        const ProblemLegend* legend) {
    if (!legend->pixels || !frame) return;
    int32_t margin = static_cast<int32_t>(legend->dpi) / 12;
    if (legend->width + 2 * margin > frameWidth || legend->height + 2 * margin > frameHeight) return;
    UINT left = static_cast<UINT>(margin), top = static_cast<UINT>(frameHeight - margin - legend->height);
    D3D11_BOX box = {left, top, 0, left + static_cast<UINT>(legend->width), top + static_cast<UINT>(legend->height), 1};
    context->UpdateSubresource(frame, 0, &box, legend->pixels, static_cast<UINT>(legend->width) * 4, 0);
}
