// Every command of the main window as data: the menu bar is built from this
// table, the accelerator table too, and the keys-and-mouse help reads its
// keys and words from it.
#pragma once
#include <windows.h>

// A key the dialog turns into the command itself (the view passes on the
// arrow keys), rather than an accelerator.
constexpr BYTE kDialogKey = 0x40;

struct CommandRow {
    // MF_POPUP and MF_END as in a menu template, or kNotInMenu for a command
    // that only a key reaches; menu_state.cpp enables and checks the items.
    WORD menuFlags;
    WORD command;  // 0 for a popup or a separator
    // The menu item's text ("&Open …\tCtrl+O"; empty for a separator), or for
    // a command not in the menu the help's words for it.
    const wchar_t* text;
    BYTE keyFlags;  // FVIRTKEY with FCONTROL, FSHIFT, FALT: an accelerator; kDialogKey
    WORD key;       // a virtual key; 0 for none
};
constexpr WORD kNotInMenu = 0x8000;

// The rows in menu order; answers their number.
int commandRows(const CommandRow** rows);

HMENU buildMenuBar();
HACCEL buildAccelerators();
int acceleratorCount();
// The command of a key the dialog handles itself; 0 for any other key.
WORD commandOfDialogKey(WORD key);
// The menu item's text for the command ("&Open …\tCtrl+O") and the name of
// the menu that holds it ("&File"); null when no item runs the command.
const wchar_t* menuTextOf(WORD command, const wchar_t** menu);
