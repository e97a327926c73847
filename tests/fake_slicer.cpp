// A stand-in slicer for the Open in slicer tests: writes the arguments it was
// started with, as CommandLineToArgvW reads them, one per line in UTF-16, to
// its own path with ".args" added.
#include <windows.h>

#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t record[32768];
    DWORD length = GetModuleFileNameW(nullptr, record, 32768 - 6);
    if (length == 0 || length >= 32768 - 6) return 1;
    lstrcatW(record, L".args");
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !arguments) return 1;
    for (int k = 1; k < count; ++k) {
        DWORD written;
        WriteFile(file, arguments[k], lstrlenW(arguments[k]) * sizeof(wchar_t), &written, nullptr);
        WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    }
    CloseHandle(file);
    return 0;
}
