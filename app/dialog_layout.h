// The main window's controls, and where they go in pixels for a client size
// and the window's dots per inch: the same layout at every density, scaled
// from 96. One table says what each control is (for the template) and
// where it stands; the panel's text lines come from the panel lines table.
#pragma once
#include <windows.h>

#include "app/panel_text.h"

struct ControlPlace {
    int id;
    int x, y, width, height;
};

constexpr int kBaseDpi = 96;
constexpr int kMaxControlPlaces = 32;

// Dialog units of the window's 8-point font (6 x 13 pixels a character at
// 96 DPI), across and down, in pixels at dpi.
int dialogUnitsAcross(int units, int dpi);
int dialogUnitsDown(int units, int dpi);

// What the panel holds: the model parts loaded, and how many lines each
// panel line (by its place in the panel lines table) wraps onto, 0 counting
// as 1; only lines of the form kLineWraps use it.
struct PanelContent {
    int partCount;
    uint8_t lines[kMaxPanelLines];
};

// Fills places (room for kMaxControlPlaces) for a client area of width x height
// pixels; returns how many it filled.
int layoutPlaces(int width, int height, int dpi, const PanelContent& content, ControlPlace* places);

// The smallest client area the panel needs, in dialog units.
constexpr int kMinimumClientUnitsAcross = 232;
int minimumClientUnitsDown(const PanelContent& content);

// Where a control of the table goes.
enum ControlSpot : uint8_t {
    kInViewArea,  // the view, the progress bar and the hint share it
    kUnderView,   // the messages box
    kUnderPanel,  // the tree, below the panel's header
    kInHeader,    // a fixed place in the header, among the panel's rows
    kSwatch,      // one of the four colour swatches, placed by the parts shown
};

struct DialogControl {
    WORD id;
    const wchar_t* className;  // null: use atom
    WORD atom;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    ControlSpot spot;
    // kInHeader: x, the distance down from the last line above the rows,
    // width, height, all in dialog units from the panel's left edge.
    short x, down, width, height;
};

// The controls other than the panel lines, in the template's order.
int dialogControls(const DialogControl** controls);
// The style of a panel line's static control.
DWORD panelLineStyle(PanelLineForm form);
