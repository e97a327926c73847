#include "app/window_apartment.h"

#include <windows.h>
#include <ole2.h>

bool enterWindowThreadApartment() {
    // Looked up, not linked: systems before Windows 8 lack it and keep their pool threads as they were.
    using IncrementMtaUsage = HRESULT(WINAPI*)(void**);
    HMODULE ole32 = GetModuleHandleW(L"ole32.dll");
    auto increment = ole32 ? reinterpret_cast<IncrementMtaUsage>(
                                 reinterpret_cast<void*>(GetProcAddress(ole32, "CoIncrementMTAUsage")))
                           : nullptr;
    void* cookie = nullptr;
    if (increment) increment(&cookie);  // held until the process ends
    return SUCCEEDED(OleInitialize(nullptr));
}
