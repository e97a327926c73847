// File > Open in slicer: one item per slicer found in a submenu, one item
// naming the slicer when only one is found, a grey item saying why when none
// is. The slicer gets the shown files as they are, or, when the model as
// shown differs from them (a unit to convert, a fault the repairs mend, a
// placement, hidden solids, Y up), a repaired copy saved in the user's
// temporary folder.
#pragma once
#include "app/dialog_state.h"

// Finds the slicers again and makes the menu's item or submenu for them.
void refreshSlicerMenu(MainDialogState* state);

// Hands the shown model to the n-th slicer findSlicers finds.
void openInSlicer(MainDialogState* state, int slicer);

// True when the files as they are would not give the slicer the model as shown, in millimetres and mended.
bool needsFixedCopy(const ShownModel* model, bool yUp);

// %TEMP%\NAME-fixed.3mf for the first part; false when it does not fit.
bool fixedCopyPath(const ModelPart* part, wchar_t* path, uint32_t capacity);
