#include "app/dialog_layout.h"

#include <commctrl.h>

#include "app/window_ids.h"

namespace {

// The dialog font's average character at 96 DPI: 4 dialog units across, 8 down.
constexpr int kCharWidth96 = 6;
constexpr int kCharHeight96 = 13;

constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082, kComboAtom = 0x0085;
constexpr DWORD kChild = WS_CHILD;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kSwatchStyle = kShown | SS_SUNKEN | SS_NOTIFY | WS_TABSTOP;
constexpr DWORD kCombo = kShown | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_DISABLED;

const DialogControl kControls[] = {
    {kViewId, L"STLView", 0, L"", kChild | WS_TABSTOP, 0, kInViewArea, 0, 0, 0, 0},
    {kProgressId, L"msctls_progress32", 0, L"", kChild | WS_BORDER, 0, kInViewArea, 0, 0, 0, 0},
    {kSpaceLabelId, nullptr, kStaticAtom, L"Coordinate space:", kShown | WS_DISABLED, 0, kInHeader, 7, 6, 80, 8},
    {kSpaceComboId, nullptr, kComboAtom, L"", kCombo, 0, kInHeader, 111, 3, 50, 14},
    {kUnitLabelId, nullptr, kStaticAtom, L"Unit:", kShown | WS_DISABLED, 0, kInHeader, 7, 27, 80, 8},
    {kUnitComboId, nullptr, kComboAtom, L"", kCombo, 0, kInHeader, 111, 24, 50, 14},
    {kMaterialCheckId, nullptr, kButtonAtom, L"Material:", kShown | BS_AUTOCHECKBOX | WS_TABSTOP | WS_DISABLED, 0,
     kInHeader, 7, 48, 50, 8},
    {kFirstSwatchId, nullptr, kStaticAtom, L"", kSwatchStyle | WS_DISABLED, 0, kSwatch, 0, 45, 0, 14},
    {kFirstSwatchId + 1, nullptr, kStaticAtom, L"", kSwatchStyle, 0, kSwatch, 0, 45, 0, 14},
    {kFirstSwatchId + 2, nullptr, kStaticAtom, L"", kSwatchStyle, 0, kSwatch, 0, 45, 0, 14},
    {kFirstSwatchId + 3, nullptr, kStaticAtom, L"", kSwatchStyle, 0, kSwatch, 0, 45, 0, 14},
    {kColorsLabelId, nullptr, kStaticAtom, L"Triangle colors:", kShown | WS_DISABLED, 0, kInHeader, 7, 69, 80, 8},
    {kColorsComboId, nullptr, kComboAtom, L"", kCombo, 0, kInHeader, 111, 66, 50, 14},
    {kTreeId, L"SysTreeView32", 0, L"",
     kShown | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | WS_BORDER | WS_TABSTOP, WS_EX_NOPARENTNOTIFY,
     kUnderPanel, 0, 0, 0, 0},
    {kMessagesId, nullptr, kEditAtom, L"",
     kShown | ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0, kUnderView, 0, 0, 0, 0},
    {kHintId, nullptr, kStaticAtom, L"Open an STL file with Ctrl+O, or drop one here",
     kShown | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | WS_BORDER, 0, kInViewArea, 0, 0, 0, 0},
};
constexpr int kControlCount = sizeof kControls / sizeof kControls[0];
static_assert(kControlCount + kMaxPanelLines <= kMaxControlPlaces);

// Everything of the header is 154 units wide from 7 units in; the tree
// stands 3 units below it.
constexpr int kLineX = 7, kLineWidth = 154, kLineHeight = 8, kHeaderEnd = 3;

int scaleRounded(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

// With two to four parts the used swatches stand 21 units apart and end at
// the panel's inner right edge; with one or none the first is one wide box
// beside "Material:".
void swatchPlace(int slot, int partCount, int* x, int* width) {
    if (slot == 0 && partCount <= 1) {
        *x = 111;
        *width = 50;
    } else {
        *x = (8 + slot - partCount) * 21;
        *width = 14;
    }
}

int lineHeight(const PanelLine& line, int wrapped) {
    if (line.form == kLineTwo) return 2 * kLineHeight;
    if (line.form != kLineWraps) return kLineHeight;
    int lines = wrapped < 1 ? 1 : wrapped > kMaxWrappedLines ? kMaxWrappedLines : wrapped;
    return lines * kLineHeight;
}

// The header in dialog units: the lines above the rows of controls, the
// rows, the lines below them. Where the rows start and the header ends.
struct HeaderUnits {
    int rowsTop;
    int end;
};

int rowsHeight() {
    int height = 0;
    for (const DialogControl& control : kControls)
        if ((control.spot == kInHeader || control.spot == kSwatch) && control.down + control.height > height)
            height = control.down + control.height;
    return height;
}

HeaderUnits headerUnits(const PanelContent& content) {
    const PanelLine* lines = nullptr;
    int count = panelLines(&lines);
    HeaderUnits units{0, 0};
    for (int k = 0; k < count; ++k)
        if (!lines[k].belowControls) units.rowsTop += lines[k].gapAbove + lineHeight(lines[k], content.lines[k]);
    units.end = units.rowsTop + rowsHeight();
    for (int k = 0; k < count; ++k)
        if (lines[k].belowControls) units.end += lines[k].gapAbove + lineHeight(lines[k], content.lines[k]);
    units.end += kHeaderEnd;
    return units;
}

}  // namespace

int dialogUnitsAcross(int units, int dpi) {
    return scaleRounded(units, kCharWidth96 * dpi, 4 * kBaseDpi);
}

int dialogUnitsDown(int units, int dpi) {
    return scaleRounded(units, kCharHeight96 * dpi, 8 * kBaseDpi);
}

int minimumClientUnitsDown(const PanelContent& content) {
    // The header, and room below it for the tree and beside it for the view and the messages.
    return headerUnits(content).end + 48;
}

int layoutPlaces(int width, int height, int dpi, const PanelContent& content, ControlPlace* places) {
    HeaderUnits header = headerUnits(content);
    int mx = dialogUnitsAcross(2, dpi), my = dialogUnitsDown(2, dpi);
    int pw = dialogUnitsAcross(168, dpi), ph = dialogUnitsDown(56, dpi);
    int headerHeight = dialogUnitsDown(header.end, dpi);
    int panelLeft = width - pw - mx;
    int viewWidth = width - pw - 3 * mx, viewHeight = height - ph - 3 * my;
    // A header place in dialog units, converted with the window's font metrics.
    auto inHeader = [&](int id, int x, int y, int w, int h) {
        return ControlPlace{id, panelLeft + dialogUnitsAcross(x, dpi), dialogUnitsDown(y, dpi), dialogUnitsAcross(w, dpi),
                            dialogUnitsDown(h, dpi)};
    };
    int count = 0;
    for (const DialogControl& control : kControls) {
        ControlPlace& place = places[count++];
        int swatchX, swatchWidth;
        switch (control.spot) {
        case kInViewArea: place = {control.id, mx, my, viewWidth, viewHeight}; break;
        case kUnderView: place = {control.id, mx, height - ph - my, viewWidth, ph}; break;
        case kUnderPanel: place = {control.id, panelLeft, 2 * my + headerHeight, pw, height - 3 * my - headerHeight}; break;
        case kInHeader:
            place = inHeader(control.id, control.x, header.rowsTop + control.down, control.width, control.height);
            break;
        case kSwatch:
            swatchPlace(control.id - kFirstSwatchId, content.partCount, &swatchX, &swatchWidth);
            place = inHeader(control.id, swatchX, header.rowsTop + control.down, swatchWidth, control.height);
            break;
        }
    }
    const PanelLine* lines = nullptr;
    int lineCount = panelLines(&lines);
    int above = 0, below = header.rowsTop + rowsHeight();
    for (int k = 0; k < lineCount; ++k) {
        int* y = lines[k].belowControls ? &below : &above;
        *y += lines[k].gapAbove;
        int lineUnits = lineHeight(lines[k], content.lines[k]);
        places[count++] = inHeader(lines[k].id, kLineX, *y, kLineWidth, lineUnits);
        *y += lineUnits;
    }
    return count;
}

int dialogControls(const DialogControl** controls) {
    *controls = kControls;
    return kControlCount;
}

DWORD panelLineStyle(PanelLineForm form) {
    DWORD style = WS_CHILD | WS_VISIBLE | SS_NOPREFIX;
    return form == kLineCut ? style | SS_ENDELLIPSIS : style;
}
