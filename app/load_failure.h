// A load that brought nothing: said where the model would be, not only in a
// line at the bottom.
#pragma once
#include "app/panel.h"

// Shows the failure of loading `fileName` in the view's place when no model
// is shown (a shown model and its title stay), and scrolls the messages box
// to the line that says why.
void showLoadFailure(const Panel* panel, const ShownModel* model, const wchar_t* fileName);
