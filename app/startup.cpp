// The process: start-up, the single-window hand-over, the message loop.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/command_table.h"
#include "app/key_routing.h"
#include "app/main_dialog.h"
#include "app/open_files.h"
#include "app/panel.h"
#include "app/picture_mode.h"
#include "app/save_mode.h"
#include "app/preferences.h"
#include "app/window_apartment.h"
#include "app/window_ids.h"
#include "core/memory.h"
#include "stlv_version.h"
#include "view/view_control.h"

namespace {

constexpr DWORD kCommonControlClasses = 0x402F;
constexpr int kDialogClassUnits = 8;
constexpr UINT kHandOverWaitMs = 5000;
// The holder normally lets go within a second; under Wine on a busy machine a
// start takes up to ten. Only a start that hangs holding the lock costs this much.
constexpr DWORD kStartLockWaitMs = 30000;
// Serialises "find the running window or create ours" between simultaneous starts.
const wchar_t kStartLockName[] = L"Veldmark STL Viewer start";

// One for the process; it outlives the dialog at a fixed address.
MainDialogState theState;

BOOL CALLBACK matchRunningDialog(HWND window, LPARAM result) {
    wchar_t className[kDialogClassUnits];
    if (GetClassNameW(window, className, kDialogClassUnits) && lstrcmpW(className, L"#32770") != 0) return TRUE;
    constexpr int kTitleLength = sizeof kApplicationTitle / sizeof kApplicationTitle[0];
    wchar_t title[kTitleLength];
    if (GetWindowTextW(window, title, kTitleLength) != kTitleLength - 1 || lstrcmpW(title, kApplicationTitle) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

// True when a running window took the files. A hung window is given up on
// after a while; this start then opens them itself.
bool handOverToRunningWindow(const wchar_t* paths, size_t units) {
    HWND running = nullptr;
    EnumWindows(matchRunningDialog, reinterpret_cast<LPARAM>(&running));
    if (!running) return false;
    // Only the sender may pass on the right to come to the front.
    DWORD runningProcess = 0;
    GetWindowThreadProcessId(running, &runningProcess);
    AllowSetForegroundWindow(runningProcess);
    COPYDATASTRUCT data;
    data.dwData = kHandOverTag;
    data.cbData = static_cast<DWORD>(units * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(paths);
    DWORD_PTR accepted = 0;
    return SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                               kHandOverWaitMs, &accepted) &&
           accepted != 0;
}

// The command-line files as full paths, each terminated, one after the other,
// so that neither the running window nor the folder listing depends on this
// start's current folder. A path that does not fit is left out. Returns the
// units used; 0 when there are no files.
size_t fullCommandLinePaths(wchar_t** arguments, int argumentCount, wchar_t* paths) {
    size_t used = 0;
    for (int k = 1; k < argumentCount; ++k) {
        DWORD room = static_cast<DWORD>(kFileListUnits - used);
        DWORD length = GetFullPathNameW(arguments[k], room, paths + used, nullptr);
        if (length && length < room) used += length + 1;
    }
    return used;
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

// Held from the search for a running window until ours can be found, so that
// of several simultaneous starts exactly one creates a window.
HANDLE takeStartLock() {
    HANDLE lock = CreateMutexW(nullptr, FALSE, kStartLockName);
    if (lock && WaitForSingleObject(lock, kStartLockWaitMs) == WAIT_TIMEOUT) {
        CloseHandle(lock);
        return nullptr;  // a start that hangs holding it does not hold this one up
    }
    return lock;
}

void releaseStartLock(HANDLE lock) {
    if (!lock) return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

// The start lock is released only once the loop takes messages: a start that
// then finds this window is answered at once rather than judging it hung.
void runMessageLoop(MainDialogState* state, HANDLE startLock) {
    MSG message;
    PostMessageW(state->dialog, WM_NULL, 0, 0);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        releaseStartLock(startLock);
        startLock = nullptr;
        if (!translateWindowMessage(state->dialog, state->activeAccelerators, &message)) DispatchMessageW(&message);
    }
}

int startAndRun() {
    int argumentCount = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    CommandLineKind kind = arguments ? commandLineKind(argumentCount, arguments) : CommandLineKind::kWindow;
    if (kind == CommandLineKind::kHelp) return printUsage();
    if (kind == CommandLineKind::kVersion) {
        writeText(consoleOutput(), L"stlview " STLV_VERSION_WIDE L"\r\n");
        return 0;
    }
    if (kind == CommandLineKind::kSave) return runSaveMode(argumentCount, arguments);
    if (kind == CommandLineKind::kPicture) return runPictureMode(argumentCount, arguments);
    HWND foreground = GetForegroundWindow();
    enterWindowThreadApartment();
    INITCOMMONCONTROLSEX controls{sizeof controls, kCommonControlClasses};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    registerViewClass(instance, nullptr);
    MainDialogState* state = &theState;
    wchar_t* paths = static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), nullptr));
    size_t pathUnits = paths && arguments ? fullCommandLinePaths(arguments, argumentCount, paths) : 0;
    openSettingsKeys(state->preferences.keys);
    bool handOver = readSetting(state->preferences.keys, kSettingSingleInstance) && pathUnits;
    HANDLE startLock = handOver ? takeStartLock() : nullptr;
    if (handOver && handOverToRunningWindow(paths, pathUnits)) TerminateProcess(GetCurrentProcess(), 0);
    state->menu = buildMenuBar();
    state->accelerators = buildAccelerators();
    HWND dialog = createMainDialog(instance, state);
    if (!dialog) return 0;
    ensureUsableSize(dialog);
    if (pathUnits) openPathSequence(state, paths, pathUnits, &state->navigation.startupFiles, foreground);
    freeBytes(paths);
    layoutForClient(&state->panel, usedPartCount(&state->model));
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    runMessageLoop(state, startLock);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ExitProcess(static_cast<UINT>(startAndRun()));
}
