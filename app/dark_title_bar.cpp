#include "app/dark_title_bar.h"

#include <dwmapi.h>

namespace {

constexpr DWORD kImmersiveDarkMode = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE
// The same attribute's number before Windows 10 20H1 (build 19041), which refuses 20.
constexpr DWORD kImmersiveDarkModeBefore20H1 = 19;

}  // namespace

bool appsUseDarkTheme() {
    DWORD light = 1, size = sizeof light;
    LSTATUS read = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                                L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light, &size);
    return read == ERROR_SUCCESS && light == 0;
}

void followAppsTheme(HWND window, WindowAttributeSetter setAttribute) {
    if (!setAttribute) setAttribute = DwmSetWindowAttribute;
    BOOL dark = appsUseDarkTheme();
    if (FAILED(setAttribute(window, kImmersiveDarkMode, &dark, sizeof dark)))
        setAttribute(window, kImmersiveDarkModeBefore20H1, &dark, sizeof dark);
}

bool isThemeChange(LPARAM settingName) {
    const wchar_t* name = reinterpret_cast<const wchar_t*>(settingName);
    return name && lstrcmpW(name, L"ImmersiveColorSet") == 0;
}
