// wait_for_view: starts the viewer and waits until it shows a model (or, with
// no file, until its window is up), so that a script can take a screenshot.
// usage: wait_for_view SECONDS PROGRAM [FILE]; exit 0 when ready, 1 if not.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kViewId = 16;

struct Search {
    DWORD processId;
    bool wantModel;
    bool ready;
};

BOOL CALLBACK checkWindow(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    wchar_t className[16];
    if (!GetClassNameW(window, className, 16) || lstrcmpW(className, L"#32770") != 0) return TRUE;
    HWND view = GetDlgItem(window, kViewId);
    search->ready = !search->wantModel || (view && IsWindowVisible(view));
    return !search->ready;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fputs("usage: wait_for_view SECONDS PROGRAM [FILE]\n", stderr);
        return 2;
    }
    int seconds = _wtoi(argv[1]);
    std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
    if (argc > 3) commandLine += L" \"" + std::wstring(argv[3]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "cannot start the viewer (error %lu)\n", GetLastError());
        return 1;
    }
    Search search{process.dwProcessId, argc > 3, false};
    for (int waited = 0; waited < seconds * 10 && !search.ready; ++waited) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
            fputs("the viewer ended before it was ready\n", stderr);
            return 1;
        }
        EnumWindows(checkWindow, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.ready) {
        fputs("the viewer did not get ready in time\n", stderr);
        return 1;
    }
    Sleep(1500);  // let the first frames paint
    puts("ready");
    return 0;
}
