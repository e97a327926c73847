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

// The triangle colour box for the part selected in the tree (else the
// first): usable while that part has triangle colours, showing their order
// or "Off".
void showTriangleColourChoice(MainDialogState* state);
// The box's choice applied to that part at once: its colours in that order,
// or none, so that the material or default colour shows. Not saved.
void applyTriangleColourChoice(MainDialogState* state);

// The low 24 bits of a tree item's parameter (the part slot is above them):
// a solid's index, or one of these.
constexpr uint32_t kTreeFileItem = 0xFFFFFF;
constexpr uint32_t kTreeMoreItem = 0xFFFFFE;  // "N more solids": every solid past the listed ones
// Solids listed per file; a tree of a million items takes the window for many seconds.
constexpr uint32_t kMaxTreeSolids = 2000;

// The solid index at which the listing of a part stops: after its first
// kMaxTreeSolids solids with triangles (empty ones are not listed at all).
uint32_t firstUnlistedSolid(const ModelPart* part);
// Sets the visibility of the solid an item stands for, or of every solid
// the "more" item stands for; true when anything changed.
bool setItemSolidsVisible(MainDialogState* state, LPARAM parameter, bool visible);

// Index 0: the part's model name; i >= 1: the name of solid i - 1. Control
// characters become their pictures. Null when empty; free with freeBytes.
wchar_t* partItemText(const ModelPart* part, uint32_t index);
// The file item says the model name, else the file's name, else "File".
void fillPartTree(HWND tree, const ModelPart* part, const uint8_t* visibleSolids, int slot);
