// Settings > Material, Settings > Printer and Settings > Overhang angle: the
// presets' menu items, the "Other…" questions, the stored choice and what it
// changes in the panel and the view.
#pragma once
#include <windows.h>

#include "app/dialog_state.h"
#include "app/print_choice.h"

// Puts an item for every preset before the "Other…" item of each submenu.
void fillPrintMenus(HMENU menuBar);
// The choice the settings hold now.
PrintChoice storedPrintChoice(const Preferences* preferences);
// A command of the two submenus: chosen, stored, the panel told; false for any other command.
bool runPrintCommand(MainDialogState* state, WORD id);
// The radio marks of the submenus.
void checkPrintMenus(HMENU menuBar, const Preferences* preferences);
