#include "app/window_dpi.h"

#include <commctrl.h>

namespace {

constexpr int kDialogFontPoints = 8;

// Looked up, not linked: older systems lack them and must still start.
template <typename Function>
Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

// A system size for dpi where the system can say, else scaled from 96 DPI.
int metricForDpi(int index, int at96, int dpi) {
    using GetMetric = int(WINAPI*)(int, UINT);
    static const GetMetric getMetric = user32Function<GetMetric>("GetSystemMetricsForDpi");
    int size = getMetric ? getMetric(index, static_cast<UINT>(dpi)) : 0;
    return size > 0 ? size : MulDiv(at96, dpi, USER_DEFAULT_SCREEN_DPI);
}

void replaceIcon(HWND window, WPARAM kind, HANDLE icon) {
    HICON old = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, kind, reinterpret_cast<LPARAM>(icon)));
    if (old && old != icon) DestroyIcon(old);
}

// Images 1 and 2 are the tree's unchecked and checked states; 0 stays blank.
HIMAGELIST drawCheckBoxes(int size) {
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32, 3, 0);
    HDC screen = GetDC(nullptr);
    HDC dc = screen ? CreateCompatibleDC(screen) : nullptr;
    HBITMAP strip = screen ? CreateCompatibleBitmap(screen, 3 * size, size) : nullptr;
    if (screen) ReleaseDC(nullptr, screen);
    bool drawn = list && dc && strip;
    if (drawn) {
        HGDIOBJ old = SelectObject(dc, strip);
        RECT all = {0, 0, 3 * size, size};
        FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
        int inset = size / 8;  // the tree's own boxes fill 13 of 16 pixels
        for (int k = 1; k < 3; ++k) {
            RECT box = {k * size + inset, inset, (k + 1) * size - inset, size - inset};
            DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (k == 2 ? DFCS_CHECKED : 0));
        }
        SelectObject(dc, old);
        drawn = ImageList_Add(list, strip, nullptr) >= 0;
    }
    if (strip) DeleteObject(strip);
    if (dc) DeleteDC(dc);
    if (!drawn && list) ImageList_Destroy(list);
    return drawn ? list : nullptr;
}

BOOL CALLBACK setFontOf(HWND control, LPARAM font) {
    SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

}  // namespace

int windowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    static const GetDpi getDpiForWindow = user32Function<GetDpi>("GetDpiForWindow");
    if (getDpiForWindow) {
        UINT dpi = getDpiForWindow(window);
        if (dpi) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void takeOverDpiScaling(HWND dialog) {
    using SetBehavior = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    static const SetBehavior setBehavior = user32Function<SetBehavior>("SetDialogDpiChangeBehavior");
    if (setBehavior) setBehavior(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

HFONT createDialogFont(HWND dialog, int dpi) {
    LOGFONTW face{};
    HFONT current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (!current || !GetObjectW(current, sizeof face, &face)) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return nullptr;
        face = metrics.lfMessageFont;
    }
    face.lfHeight = -MulDiv(kDialogFontPoints, dpi, 72);
    face.lfWidth = 0;
    return CreateFontIndirectW(&face);
}

void setControlsFont(HWND dialog, HFONT font) {
    EnumChildWindows(dialog, setFontOf, reinterpret_cast<LPARAM>(font));
}

void setWindowIcons(HWND window, int iconResource, int dpi) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int big = metricForDpi(SM_CXICON, 32, dpi), small = metricForDpi(SM_CXSMICON, 16, dpi);
    if (HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(iconResource), IMAGE_ICON, big, big, 0))
        replaceIcon(window, ICON_BIG, icon);
    if (HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(iconResource), IMAGE_ICON, small, small, 0))
        replaceIcon(window, ICON_SMALL, icon);
}

void setTreeCheckBoxes(HWND tree, int dpi) {
    HIMAGELIST boxes = drawCheckBoxes(metricForDpi(SM_CXSMICON, 16, dpi));
    if (!boxes) return;  // the tree keeps the boxes it has
    HIMAGELIST old = reinterpret_cast<HIMAGELIST>(
        SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(boxes)));
    if (old && old != boxes) ImageList_Destroy(old);
}
