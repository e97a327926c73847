// File > Save as …: the repairs chosen in a small step first (each a check
// box, on by default), then the system's Save dialog, whose file type
// chooses binary STL or 3MF and which proposes the model's name with
// "-fixed" in its folder. What the repairs did, what is still open and where
// the file went are lines of the messages box.
#pragma once
#include <windows.h>

#include "app/dialog_state.h"

void saveModelAs(MainDialogState* state);

// NAME-fixed.stl (or .3mf) beside the part's file; empty when it has no path or it does not fit.
void proposeSavePath(const ModelPart* part, uint32_t format, wchar_t* path, uint32_t capacity);

// The save itself, once the repairs and the path are chosen; false when nothing was written.
bool saveModelTo(MainDialogState* state, const wchar_t* path, const RepairChoice& repairs);
