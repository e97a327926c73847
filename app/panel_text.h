// Every text of the panel and the window, made from the shown model and the
// preferences by pure functions, so that they are tested without a window.
// The panel lines are a table: the dialog's template makes a control for
// each, its layout stacks them, and the panel writes them all anew whenever
// the model, a preference or the view's section or points change. Builds
// without Windows.
#pragma once
#include <cstdint>

#include "app/print_choice.h"
#include "app/shown_model.h"
#include "numfmt/length_format.h"
#include "view/measure_marks.h"
#include "view/section_plane.h"

constexpr Utf16 kApplicationTitle[] = U16("Veldmark STL Viewer");

// What the panel's lines are made from.
struct PanelFacts {
    const ShownModel* model;
    int selectedSlot;  // the part selected in the tree, -1 for none
    DisplayUnits units;
    bool yUp;  // the coordinate space chosen for the model
    SectionPlane section;
    bool viewHasBox;  // the view's box, which the section line places the plane in
    float viewMin[3];
    float viewMax[3];
    MeasureMarks marks;
    uint32_t locale;
    PrintChoice print;
};

enum PanelLineForm : uint8_t {
    kLineOne,    // one line
    kLineCut,    // one line, ending in "…" where it does not fit
    kLineWraps,  // as many lines as it takes, up to kMaxWrappedLines; the rows below make way
    kLineTwo,    // room for two lines
};
constexpr int kMaxWrappedLines = 4;

struct PanelLine {
    int id;
    uint8_t gapAbove;  // dialog units between it and the row above
    PanelLineForm form;
    bool belowControls;  // under the coordinate space, material and colour rows rather than above
    // Writes the line, a terminator included, in at most kPanelTextUnits units.
    void (*write)(const PanelFacts* facts, Utf16* out);
};
constexpr int kMaxPanelLines = 12;
constexpr int kPanelTextUnits = 640;

// The lines in the order they stand, top to bottom in each group; answers their number.
int panelLines(const PanelLine** lines);

// "Veldmark STL Viewer – " and the file name of the path, cut with "…" to 255 units.
constexpr int kTitleUnits = 256;
void makeWindowTitle(const Utf16* path, Utf16 title[kTitleUnits]);

// Index 0: the part's model name; i >= 1: the name of solid i - 1. Control
// characters become their pictures. Null when empty; free with freeBytes.
Utf16* partItemText(const ModelPart* part, uint32_t index);
// "N more solids", terminated; `out` needs kMaxCountText + 16 units.
void writeMoreSolids(Utf16* out, uint64_t count, uint32_t locale);
// The line for the messages box about solids the tree leaves out, CR LF and
// terminator included; `out` needs kMaxCountText + 64 units.
void writeEmptySolids(Utf16* out, uint64_t count, uint32_t locale);

// "Could not open " NAME ": " and the reason; with the terminator it fits this.
constexpr int kFailureTextUnits = 512;
// The reason of a failed load in the messages' own words: the first error
// line without its "STL error: ", the file name after it and its
// "; aborting"; else the first line that is neither information nor a
// warning; else "nothing could be loaded". Writes "Could not open NAME:
// REASON" (cut to fit) and returns where the line chosen starts in
// `messages`, or -1 when none was.
int describeLoadFailure(const Utf16* messages, const Utf16* fileName, Utf16 out[kFailureTextUnits]);
