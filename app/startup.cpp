// The process: start-up, the single-window hand-over, the message loop.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "commands.h"
#include "main_dialog.h"
#include "open_files.h"
#include "picture_mode.h"
#include "settings.h"
#include "view/view_control.h"

namespace {

constexpr DWORD kCommonControlClasses = 0x402F;
constexpr DWORD kMultithreadedNoOle1 = COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE;
constexpr int kDialogClassUnits = 8;

// One for the process; it outlives the dialog at a fixed address.
MainDialogState theState;

BOOL CALLBACK matchRunningDialog(HWND window, LPARAM result) {
    wchar_t className[kDialogClassUnits];
    if (GetClassNameW(window, className, kDialogClassUnits) && lstrcmpW(className, L"#32770") != 0) return TRUE;
    constexpr int kTitleLength = sizeof L"Veldmark STL Viewer" / sizeof(wchar_t);
    wchar_t title[kTitleLength];
    if (GetWindowTextW(window, title, kTitleLength) != kTitleLength - 1 || lstrcmpW(title, kApplicationTitle) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

// True when a running window took the file.
bool handOverToRunningWindow(const wchar_t* path) {
    HWND running = nullptr;
    EnumWindows(matchRunningDialog, reinterpret_cast<LPARAM>(&running));
    if (!running) return false;
    COPYDATASTRUCT data;
    data.dwData = kHandOverTag;
    data.cbData = static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path);
    return SendMessageW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) != 0;
}

// Some window systems give a dialog without stored placement no useful size;
// such a window gets three quarters of the work area, centred.
void ensureUsableSize(HWND dialog) {
    RECT window, work;
    GetWindowRect(dialog, &window);
    SIZE minimum = dialogUnitsToPixels(dialog, 232, 160);
    minimum.cx += GetSystemMetrics(SM_CXMINTRACK);
    minimum.cy += GetSystemMetrics(SM_CYMINTRACK);
    if (window.right - window.left >= minimum.cx && window.bottom - window.top >= minimum.cy) return;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int width = (work.right - work.left) * 3 / 4, height = (work.bottom - work.top) * 3 / 4;
    if (width < minimum.cx) width = minimum.cx;
    if (height < minimum.cy) height = minimum.cy;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void runMessageLoop(MainDialogState* state) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND dialog = state->dialog;
        bool forDialog = message.hwnd == dialog || IsChild(dialog, message.hwnd);
        if (state->activeAccelerators && !forDialog) {
            DispatchMessageW(&message);
            continue;
        }
        if (state->activeAccelerators && TranslateAcceleratorW(dialog, state->activeAccelerators, &message)) continue;
        if (!IsDialogMessageW(dialog, &message)) DispatchMessageW(&message);
    }
}

int startAndRun() {
    int argumentCount = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    if (arguments && isPictureCommandLine(argumentCount, arguments)) return runPictureMode(argumentCount, arguments);
    const wchar_t* file = arguments && argumentCount >= 2 ? arguments[1] : nullptr;
    HWND foreground = GetForegroundWindow();
    CoInitializeEx(nullptr, kMultithreadedNoOle1);
    INITCOMMONCONTROLSEX controls{sizeof controls, kCommonControlClasses};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    registerViewClass(instance, nullptr);
    MainDialogState* state = &theState;
    openSettingsKeys(state->settingsKeys);
    bool singleInstance = false;
    readSettingBool(&singleInstance, state->settingsKeys, L"SingleInstance");
    if (singleInstance && file && handOverToRunningWindow(file)) TerminateProcess(GetCurrentProcess(), 0);
    state->menu = buildMenuBar();
    state->accelerators = buildAccelerators();
    HWND dialog = createMainDialog(instance, state);
    if (!dialog) return 0;
    ensureUsableSize(dialog);
    if (file && makeFileNameList(file, &state->startupFiles)) openFiles(state, &state->startupFiles, true, foreground);
    RECT client;
    GetClientRect(dialog, &client);
    layoutDialog(state, client.right, client.bottom);
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    runMessageLoop(state);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ExitProcess(static_cast<UINT>(startAndRun()));
}
