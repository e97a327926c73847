// The tree of the shown parts' files and solids, whose check boxes show and
// hide solids.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "app/shown_model.h"

// The file item says the model name, else the file's name, else "File";
// slot 0 empties the tree first.
void fillPartTree(HWND tree, const ModelPart* part, int slot);
void clearPartTree(HWND tree);
// The part slot of the tree's selected item, or -1 when nothing is selected.
int selectedSlot(HWND tree, const ShownModel* model);

// Windows asks before a box changes: the file item's box stays, a solid's
// shows or hides it. The message result: 1 refuses the change, 0 lets it
// be; -1 when the change is not a box's.
LRESULT treeItemChanging(ShownModel* model, const NMTVITEMCHANGE* change);
// Wine's tree does not ask: after a click or the space key the parts'
// visibility follows the boxes, and the file items are ticked again. True
// when a solid's visibility changed.
bool applyTreeChecks(HWND tree, ShownModel* model);
