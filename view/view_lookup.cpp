#include "view/view_lookup.h"

#include <windows.h>

namespace {

SRWLOCK viewLifetimes = SRWLOCK_INIT;

}  // namespace

ViewState* viewStateOf(void* window) {
    HWND handle = static_cast<HWND>(window);
    if (!handle) return nullptr;
    // The user data of another class's window is not ours to interpret.
    wchar_t className[8];
    int length = GetClassNameW(handle, className, 8);
    if (length != 7 || lstrcmpW(className, kViewClassName) != 0) return nullptr;
    return reinterpret_cast<ViewState*>(GetWindowLongPtrW(handle, GWLP_USERDATA));
}

void lockViewLifetimes() {
    AcquireSRWLockExclusive(&viewLifetimes);
}

void unlockViewLifetimes() {
    ReleaseSRWLockExclusive(&viewLifetimes);
}
