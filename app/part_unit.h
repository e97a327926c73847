// The panel's Unit box: the length unit of the part selected in the tree
// (else the first), which the user may correct where the file's own or
// assumed unit is wrong. The part is rescaled at once: its size, area,
// volume, overhangs, section and what Save as writes follow.
#pragma once
#include "app/panel.h"

// The box's items, "mm", "cm", "m", "inch", made once.
void fillUnitBox(const Panel* panel);
// The box for the selected part: its unit, or no choice for a unit it does
// not list (a 3MF file in microns or feet); unusable without a model.
void showPartUnit(const Panel* panel, const ShownModel* model);
// The box's choice applied to that part; false when nothing changed. The
// unit counts as known from then on, so a saved copy says millimetres.
bool applyUnitChoice(const Panel* panel, ShownModel* model);
