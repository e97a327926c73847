// Where the main window's controls go, in pixels, for a client size and the
// window's dots per inch: the same layout at every density, scaled from 96.
#pragma once

struct ControlPlace {
    int id;
    int x, y, width, height;
};

constexpr int kBaseDpi = 96;
constexpr int kMaxControlPlaces = 32;

// A length in pixels at 96 DPI, in pixels at dpi, rounded to nearest.
int scaleToDpi(int pixels, int dpi);
// Dialog units of the window's 8-point font (6 x 13 pixels a character at
// 96 DPI), across and down, in pixels at dpi.
int dialogUnitsAcross(int units, int dpi);
int dialogUnitsDown(int units, int dpi);

// What the panel holds: the model parts loaded, and how many lines the facts
// and surface-check texts wrap onto (1 to kMaxWrappedLines; the rows below
// move down for each further line).
struct PanelContent {
    int partCount;
    int factsLines;
    int checkLines;
};
constexpr int kMaxWrappedLines = 4;

// Fills places (room for kMaxControlPlaces) for a client area of width x height
// pixels; returns how many it filled.
int layoutPlaces(int width, int height, int dpi, const PanelContent& content, ControlPlace* places);
