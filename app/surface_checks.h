// The surface check of every shown part, on a worker thread started once the
// parts are on screen; its results reach the panel through a posted message.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"

// Starts a worker over every slot whose check is pending; false when none could start.
bool startSurfaceChecks(MainDialogState* state);
// Asks the worker to stop and waits for it; a check in flight stays pending.
void stopSurfaceChecks(MainDialogState* state);
// Stops the worker and forgets every result, for a cleared model.
void clearSurfaceChecks(MainDialogState* state);
// Hands a finished check's marks to the view as the part's problem lists,
// once; a message about a part since replaced finds its check not done.
void showCheckedProblems(MainDialogState* state, int slot);
// The line under the facts line: the whole model's check, or the selected part's.
void showCheckLine(MainDialogState* state, int selected);
