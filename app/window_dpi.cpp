#include "app/window_dpi.h"

namespace {

constexpr int kDialogFontPoints = 8;

// Looked up, not linked: older systems lack them and must still start.
template <typename Function>
Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
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
