// Help > Keys and mouse: every key and mouse action of the window. The keys
// come from the accelerator table and their words from the menu, so that the
// list follows both; only what the view does with the mouse is written here.
#pragma once
#include <windows.h>

constexpr int kKeyHelpKeyUnits = 48;
constexpr int kKeyHelpActionUnits = 96;
constexpr int kMaxKeyHelpRows = 64;

struct KeyHelpRow {
    wchar_t keys[kKeyHelpKeyUnits];
    wchar_t action[kKeyHelpActionUnits];
};

// Fills at most `capacity` rows; answers how many were filled.
int keyHelpRows(KeyHelpRow* rows, int capacity);
// The list in a window of its own, until the user closes it.
void showKeyHelp(HWND owner);
