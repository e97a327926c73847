// The panel beside the view: file kind, size, coordinate space, colours and
// the tree of files and solids, filled when a load has finished.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"

// Takes the finished current job's parts into the free slots and shows them.
void showLoadResult(MainDialogState* state, LoadJob* job);
// Applies the colour rules of one part slot to the view and its swatch.
void updatePartSwatch(MainDialogState* state, int slot);
// Applies the chosen coordinate space to the view and writes the size line
// and the facts line under it.
void showModelDimensions(MainDialogState* state);
// Triangles, surface area and volume of the part selected in the tree, or of
// the whole model when none is, in the size line's units.
void showModelFacts(MainDialogState* state);
// The view's picked point, or the distance of its two, in the size line's units.
void showMeasureLine(MainDialogState* state);

// "Section at Z = 12.50 mm" while the view shows a section, else nothing.
void showSectionLine(MainDialogState* state);

// Index 0: the part's model name; i >= 1: the name of solid i - 1. Control
// characters become their pictures. Null when empty; free with freeBytes.
wchar_t* partItemText(const ModelPart* part, uint32_t index);
// The file item says the model name, else the file's name, else "File".
void fillPartTree(HWND tree, const ModelPart* part, const uint8_t* visibleSolids, int slot);
