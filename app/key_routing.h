// Keys between the accelerators and the focused control: a control that uses
// a key itself gets it, whatever the menu says.
#pragma once
#include <windows.h>


// True when the focused control uses the key of this message itself: an open
// drop-down list every key (Esc closes it), a text box the keys that move,
// select and copy, the tree the keys that move through it.
bool focusedControlTakesKey(HWND focus, const MSG* message);

// The main window's part of the message loop: its accelerators (null while it
// is not active) unless the focused control takes the key, Ctrl+A in a text
// box, the dialog's own keys. True when the message was handled and must not
// be dispatched.
bool translateWindowMessage(HWND dialog, HACCEL activeAccelerators, MSG* message);
