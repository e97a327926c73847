// Every enabling and check mark of the menu bar, made from the state in one place.
#pragma once
#include "app/dialog_state.h"

// Called after anything that changes what the menu shows.
void updateMenu(const MainDialogState* state);
