#include "core/log_sink.h"

void appendText(HWND edit, const wchar_t* text) {
    int length = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, length, length);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

intptr_t appendToLog(void* edit, StatusCode code, uintptr_t argument, const Utf16*) {
    if (code != kLine) return 1;
    HWND log = static_cast<HWND>(edit);
    appendText(log, reinterpret_cast<const wchar_t*>(argument));
    appendText(log, L"\r\n");
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
    return 1;
}
