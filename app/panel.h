// The dialog's controls as the window shows them: the view area, the panel's
// text lines written from the shown model, the layout for the window's size
// and density, the title.
#pragma once
#include <windows.h>

#include "app/panel_text.h"
#include "app/shown_model.h"

struct Panel {
    HWND dialog;
    HFONT font;     // the controls' font, made for dpi
    int32_t dpi;    // the window's dots per inch, which the layout and the font follow
    uint8_t placing;  // while the stored placement is applied: its size stands as it is
    uint8_t lines[kMaxPanelLines];  // what each panel line wraps onto; 0 counts as 1
    HBRUSH swatchBrushes[kMaxParts];  // fill of the colour swatches, or none
    PrintChoice print;  // the material and printer the weight and fit lines speak of
};

inline HWND panelItem(const Panel* panel, int id) {
    return GetDlgItem(panel->dialog, id);
}

// Places every control for a client area of width x height pixels.
void layoutDialog(Panel* panel, int partCount, int width, int height);
void layoutForClient(Panel* panel, int partCount);
// The smallest client area, in pixels, for the lines as they wrap now.
SIZE minimumClientSize(const Panel* panel, int partCount);
// Dialog units of the window's font in pixels at the window's density.
SIZE dialogUnitsToPixels(HWND dialog, int cx, int cy);
// The controls' font made anew for the panel's density.
void useFontForDpi(Panel* panel);

// One of the three in the view's place: the progress bar while a load runs,
// else the view while a model is shown, else the hint.
void showViewArea(const Panel* panel, bool loading, bool modelShown);

// Writes every panel line from the model, the preferences and the view, and
// lays the panel out again when a line now wraps onto more or fewer lines.
void showPanelTexts(Panel* panel, const ShownModel* model, DisplayUnits units);

// The title of the shown model, or the bare application title without one.
// The application's title with the parts' file names.
void showModelTitle(HWND dialog, const ShownModel* model);
