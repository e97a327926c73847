// stlview.com: the viewer's console front end. cmd and PowerShell run a .com
// before the .exe of the same name, and wait for a console program where they
// do not wait for a window program; so `stlview --picture ...` typed at a
// prompt waits, its messages land before the next prompt and its exit code
// (0, 1, 2) is the one %ERRORLEVEL% and $LASTEXITCODE show. The work itself
// stays in stlview.exe beside it, which is started with this console's
// handles and waited for.
#include <windows.h>

#include "core/memory.h"
#include "core/platform.h"

namespace {

// Exit code when stlview.exe cannot be started: as a picture not written.
constexpr DWORD kNotStarted = 1;

void writeLine(const wchar_t* first, const wchar_t* second) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode, written;
    const wchar_t* const texts[] = {first, second, L"\r\n"};
    for (const wchar_t* text : texts) {
        DWORD units = static_cast<DWORD>(lstrlenW(text));
        if (GetConsoleMode(error, &mode)) {
            WriteConsoleW(error, text, units, &written, nullptr);
            continue;
        }
        for (DWORD start = 0; start < units; start += 128) {  // a long path in pieces, UTF-8 in a pipe or a file
            char bytes[128 * 3];
            int piece = static_cast<int>(units - start < 128 ? units - start : 128);
            int length = WideCharToMultiByte(CP_UTF8, 0, text + start, piece, bytes, sizeof bytes, nullptr, nullptr);
            if (length > 0) WriteFile(error, bytes, static_cast<DWORD>(length), &written, nullptr);
        }
    }
}

// The command line past this program's own name, by the rule the C runtime
// and CommandLineToArgvW read the first argument with (quotes, no escapes).
const wchar_t* argumentsAfterProgramName(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    return line;
}

bool endsArgument(wchar_t c) {
    return c == 0 || c == L' ' || c == L'\t' || c == L'"';
}

// Only the command-line uses wait: an option (--picture, --version, --help,
// -h, /? or a bad one, answered with exit code 2). Files alone open the
// window, and the prompt comes back at once as it does for stlview.exe.
bool waitsForAnswer(const wchar_t* arguments) {
    for (const wchar_t* at = arguments; *at; ++at) {
        if (at != arguments && !endsArgument(at[-1])) continue;
        if (at[0] == L'-' && at[1] == L'-') return true;
        if (((at[0] == L'-' && at[1] == L'h') || (at[0] == L'/' && at[1] == L'?')) && endsArgument(at[2])) return true;
    }
    return false;
}

// This program's path with ".exe" for its extension; null without memory.
wchar_t* viewerPath() {
    for (DWORD units = MAX_PATH; units <= 32768; units *= 2) {
        wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
        DWORD length = path ? GetModuleFileNameW(nullptr, path, units) : 0;
        if (length > 4 && length < units) {
            lstrcpyW(path + length - 4, L".exe");
            return path;
        }
        freeBytes(path);
        if (length == 0) return nullptr;
    }
    return nullptr;
}

// "\"VIEWER\"" and the arguments as they were typed.
wchar_t* viewerCommandLine(const wchar_t* viewer, const wchar_t* arguments) {
    size_t units = static_cast<size_t>(lstrlenW(viewer)) + static_cast<size_t>(lstrlenW(arguments)) + 3;
    wchar_t* line = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
    if (!line) return nullptr;
    lstrcpyW(line, L"\"");
    lstrcatW(line, viewer);
    lstrcatW(line, L"\"");
    lstrcatW(line, arguments);
    return line;
}

DWORD runViewer(const wchar_t* viewer, wchar_t* commandLine, bool wait) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // The viewer writes its messages to these: the console, or where they were redirected.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE handles[] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
    for (HANDLE handle : handles)
        if (handle && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(viewer, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        writeLine(L"stlview: could not start ", viewer);
        return kNotStarted;
    }
    DWORD exitCode = 0;
    if (wait) {
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = kNotStarted;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

}  // namespace

int wmain() {
    const wchar_t* arguments = argumentsAfterProgramName(GetCommandLineW());
    wchar_t* viewer = viewerPath();
    wchar_t* commandLine = viewer ? viewerCommandLine(viewer, arguments) : nullptr;
    DWORD exitCode = kNotStarted;
    if (commandLine) exitCode = runViewer(viewer, commandLine, waitsForAnswer(arguments));
    else writeLine(L"stlview: ", L"not enough memory");
    freeBytes(commandLine);
    freeBytes(viewer);
    return static_cast<int>(exitCode);
}
