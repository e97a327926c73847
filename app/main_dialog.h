// The main window: a modeless dialog holding the view, the progress bar, the
// messages box and the information panel; its procedure hands each message
// to the module that owns what it changes.
#pragma once
#include <windows.h>

#include "app/dialog_state.h"

// Creates the dialog from its in-memory template; null on failure.
HWND createMainDialog(HINSTANCE instance, MainDialogState* state);
