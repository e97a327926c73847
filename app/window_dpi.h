// The density of the monitor a window is on, and the dialog font made for it.
#pragma once
#include <windows.h>

// The window's dots per inch: its monitor's on systems that know one per
// monitor, else the system's.
int windowDpi(HWND window);

// Keeps the dialog manager from scaling the dialog on its own: the dialog
// lays itself out for each density.
void takeOverDpiScaling(HWND dialog);

// The dialog's own font face at 8 points for dpi; null when it cannot be made.
HFONT createDialogFont(HWND dialog, int dpi);

// Gives every control of the dialog the font.
void setControlsFont(HWND dialog, HFONT font);
