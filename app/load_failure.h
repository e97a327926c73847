// A load that brought nothing: said where the model would be, not only in a
// line at the bottom.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"

// "Could not open " NAME ": " and the reason; with the terminator it fits this.
constexpr int kFailureTextUnits = 512;

// The reason of a failed load in the messages' own words: the first error
// line without its "STL error: ", the file name after it and its
// "; aborting"; else the first line that is neither information nor a
// warning; else "nothing could be loaded". Writes "Could not open NAME:
// REASON" (cut to fit) and returns where the line chosen starts in
// `messages`, or -1 when none was.
int describeLoadFailure(const wchar_t* messages, const wchar_t* fileName, wchar_t out[kFailureTextUnits]);

// Shows the failure of loading `fileName` in the view's place when no model
// is shown (a shown model and its title stay), and scrolls the messages box
// to the line that says why.
void showLoadFailure(MainDialogState* state, const wchar_t* fileName);
