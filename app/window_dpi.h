// The density of the monitor a window is on, and what is made for it: the
// dialog font, the window's icons, the tree's check boxes.
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

// The window's icons from the resource at the sizes for dpi; the ones they
// replace are destroyed.
void setWindowIcons(HWND window, int iconResource, int dpi);

// The tree's check-box images drawn at the size for dpi, in place of those
// the tree made for the system's density (which are destroyed).
void setTreeCheckBoxes(HWND tree, int dpi);
