// The panel's controls about each part: the coordinate space, the material
// colour and its swatches, the order of the triangle colours. The colour
// rules decide what the view draws each part in.
#pragma once
#include "app/panel.h"

// The coordinate space, material box and override colour a newly loaded part brings.
void showPartFacts(Panel* panel, ShownModel* model, int slot);
// The coordinate space chosen in its box, applied to the view.
void applyCoordinateSpace(const Panel* panel);
// Applies the colour rules of one part slot to the view and its swatch.
void updatePartSwatch(Panel* panel, const ShownModel* model, uint32_t defaultColor, int slot);
// The material colour is in force exactly while its box is ticked.
void followMaterialBox(Panel* panel, ShownModel* model, uint32_t defaultColor);
// After a load brought parts from `first` on: their swatches and the material box usable.
void enablePartControls(Panel* panel, const ShownModel* model, int first);
// Without a model: the boxes empty and unusable, the swatches past the first hidden.
void disablePartControls(Panel* panel);

// The triangle colour box for the part selected in the tree (else the
// first): usable while that part has triangle colours, showing their order
// or "Off".
void showTriangleColorChoice(const Panel* panel, const ShownModel* model);
// The box's choice applied to that part at once: its colours in that order,
// or none, so that the material or default colour shows. Not saved.
void applyTriangleColorChoice(Panel* panel, ShownModel* model, uint32_t defaultColor, const MessageSink* sink);
