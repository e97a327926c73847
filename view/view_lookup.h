// Finding a view's state from its window, on any thread, and keeping it
// alive while it is used there. Windows only.
#pragma once
#include "view/view_state.h"

// The view's window class.
inline constexpr wchar_t kViewClassName[] = L"STLView";

// The state of a view window, null for any other window or after destruction.
ViewState* viewStateOf(void* window);

// Views are looked up by window handle from pool threads (the device work
// item, uploads). While this lock is held no view state is freed: the window
// thread takes it around tearing a view down. Not re-entrant; taken before a
// view's own lock.
void lockViewLifetimes();
void unlockViewLifetimes();
