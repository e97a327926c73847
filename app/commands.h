// Everything the user asks of the main window arrives here as a command: a
// menu item, a key, or a notification from the view or a panel control.
#pragma once
#include <windows.h>

#include "app/dialog_state.h"

void runCommand(MainDialogState* state, WORD id, WORD notification);
