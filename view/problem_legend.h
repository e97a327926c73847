// The key to "Show problems": a small box in the view's lower left corner
// that names what each colour marks, for the kinds the shown parts have.
// Drawn with GDI into pixels once per set of kinds and DPI and written into
// each finished frame, so that it reads the same over any background and on
// either way to the screen. Windows only.
#pragma once
#include <cstdint>

struct ID3D11DeviceContext;
struct ID3D11Resource;

struct ProblemLegend {
    uint32_t kinds;  // a bit per ProblemKind; 0 while none is made
    uint32_t dpi;
    int32_t width;
    int32_t height;
    uint32_t* pixels;  // width × height, red in the low byte, sRGB
};

// The rows, in ProblemKind order.
extern const wchar_t* const kProblemLegendRows[3];

// Makes the pixels for `kinds` at `dpi` unless they are made already; no
// kinds, or GDI or memory failing, leave no legend.
void prepareProblemLegend(ProblemLegend* legend, uint32_t kinds, uint32_t dpi);
void releaseProblemLegend(ProblemLegend* legend);
// The window's DPI where the system can say per window, else the screen's.
uint32_t windowDpiOf(void* window);
// Writes the legend into a one-sample frame of this size, its lower left
// corner a margin in from the frame's; nothing where it does not fit.
void stampProblemLegend(ID3D11DeviceContext* context, ID3D11Resource* frame, int32_t frameWidth, int32_t frameHeight,
                        const ProblemLegend* legend);
