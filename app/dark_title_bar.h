// A dark title bar while Windows shows apps dark; the controls keep the system colours.
#pragma once
#include <windows.h>

// Whether the user's setting asks apps to be dark (AppsUseLightTheme is 0).
bool appsUseDarkTheme();

// DwmSetWindowAttribute, or a test's stand-in for a system that refuses an attribute.
typedef HRESULT(WINAPI* WindowAttributeSetter)(HWND, DWORD, LPCVOID, DWORD);

// Gives the window's title bar the apps' light or dark look; silently nothing
// where the system cannot.
void followAppsTheme(HWND window, WindowAttributeSetter setAttribute = nullptr);

// Whether a WM_SETTINGCHANGE is the one that follows a change of the apps' theme.
bool isThemeChange(LPARAM settingName);
