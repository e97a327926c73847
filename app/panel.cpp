#include "app/panel.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/dialog_layout.h"
#include "app/panel_glyphs.h"
#include "app/part_tree.h"
#include "app/window_dpi.h"
#include "app/window_ids.h"
#include "view/view_control.h"

namespace {

// A moved control draws itself anew: copied along, a see-through one kept
// pieces of what stood beside it before.
constexpr DWORD kNoMoveFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_NOCOPYBITS;

PanelContent contentOf(const Panel* panel, int partCount) {
    PanelContent content{partCount, {}};
    for (int k = 0; k < kMaxPanelLines; ++k) content.lines[k] = panel->lines[k];
    return content;
}

void deferMove(HDWP* batch, HWND dialog, const ControlPlace& place) {
    HWND control = GetDlgItem(dialog, place.id);
    if (control && *batch)
        *batch = DeferWindowPos(*batch, control, nullptr, place.x, place.y, place.width, place.height, kNoMoveFlags);
}

// The lines a static control's text takes at the control's width, from 1 to kMaxWrappedLines.
int wrappedLines(HWND control) {
    wchar_t text[kPanelTextUnits];
    int length = GetWindowTextW(control, text, kPanelTextUnits);
    RECT inside;
    HDC dc = GetDC(control);
    if (!dc || !GetClientRect(control, &inside)) {
        if (dc) ReleaseDC(control, dc);
        return 1;
    }
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    RECT extent = {0, 0, inside.right, 0};
    DrawTextW(dc, text, length, &extent, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    int lines = metrics.tmHeight > 0 ? (extent.bottom + metrics.tmHeight - 1) / metrics.tmHeight : 1;
    return lines < 1 ? 1 : lines > kMaxWrappedLines ? kMaxWrappedLines : lines;
}

// After the texts changed: lays the panel out again when a line wraps onto
// more or fewer lines than before.
void fitWrappedTexts(Panel* panel, int partCount) {
    const PanelLine* lines = nullptr;
    int count = panelLines(&lines);
    bool changed = false;
    for (int k = 0; k < count; ++k) {
        if (lines[k].form != kLineWraps) continue;
        int now = wrappedLines(panelItem(panel, lines[k].id));
        int before = panel->lines[k] < 1 ? 1 : panel->lines[k];
        changed |= now != before;
        panel->lines[k] = static_cast<uint8_t>(now);
    }
    if (changed) layoutForClient(panel, partCount);
}

// Unchanged lines are left alone, so that they do not flicker as the section moves.
void setLineText(HWND control, const wchar_t* text) {
    wchar_t shown[kPanelTextUnits];
    if (GetWindowTextW(control, shown, kPanelTextUnits) < kPanelTextUnits - 1 && lstrcmpW(shown, text) == 0) return;
    setPanelText(control, text);
}

PanelFacts factsFor(const Panel* panel, const ShownModel* model, DisplayUnits units) {
    HWND view = panelItem(panel, kViewId);
    PanelFacts facts{};
    facts.model = model;
    facts.selectedSlot = selectedSlot(panelItem(panel, kTreeId), model);
    facts.units = units;
    facts.yUp = SendMessageW(panelItem(panel, kSpaceComboId), CB_GETCURSEL, 0, 0) == 0;
    facts.section = viewSection(view);
    facts.viewHasBox = viewBox(view, facts.viewMin, facts.viewMax);
    facts.marks = measureMarks(view);
    facts.locale = kUserLocale;
    facts.print = panel->print;
    return facts;
}

}  // namespace

SIZE dialogUnitsToPixels(HWND dialog, int cx, int cy) {
    int dpi = windowDpi(dialog);
    return SIZE{dialogUnitsAcross(cx, dpi), dialogUnitsDown(cy, dpi)};
}

void useFontForDpi(Panel* panel) {
    HFONT font = createDialogFont(panel->dialog, panel->dpi);
    if (!font) return;
    setControlsFont(panel->dialog, font);
    if (panel->font) DeleteObject(panel->font);
    panel->font = font;
}

void layoutDialog(Panel* panel, int partCount, int width, int height) {
    ControlPlace places[kMaxControlPlaces];
    int count = layoutPlaces(width, height, panel->dpi, contentOf(panel, partCount), places);
    HDWP batch = BeginDeferWindowPos(count);
    if (!batch) return;
    for (int k = 0; k < count; ++k) deferMove(&batch, panel->dialog, places[k]);
    if (!batch) return;
    EndDeferWindowPos(batch);
    // Rows that moved up (a line fewer to wrap) leave pieces of their old
    // place under Wine, and a moved swatch repaints only what was uncovered:
    // the header above the tree is drawn anew, the view is left alone.
    RECT header = {0, 0, width, 0};
    for (int k = 0; k < count; ++k)
        if (places[k].id == kTreeId) header = {places[k].x, 0, width, places[k].y};
    RedrawWindow(panel->dialog, &header, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void layoutForClient(Panel* panel, int partCount) {
    RECT client;
    GetClientRect(panel->dialog, &client);
    layoutDialog(panel, partCount, client.right, client.bottom);
}

SIZE minimumClientSize(const Panel* panel, int partCount) {
    return dialogUnitsToPixels(panel->dialog, kMinimumClientUnitsAcross,
                               minimumClientUnitsDown(contentOf(panel, partCount)));
}

void showViewArea(const Panel* panel, bool loading, bool modelShown) {
    bool model = !loading && modelShown;
    ShowWindow(panelItem(panel, kProgressId), loading ? SW_SHOW : SW_HIDE);
    ShowWindow(panelItem(panel, kViewId), model ? SW_SHOW : SW_HIDE);
    ShowWindow(panelItem(panel, kHintId), loading || model ? SW_HIDE : SW_SHOW);
}

void showPanelTexts(Panel* panel, const ShownModel* model, DisplayUnits units) {
    PanelFacts facts = factsFor(panel, model, units);
    const PanelLine* lines = nullptr;
    int count = panelLines(&lines);
    for (int k = 0; k < count; ++k) {
        wchar_t text[kPanelTextUnits];
        lines[k].write(&facts, text);
        setLineText(panelItem(panel, lines[k].id), text);
    }
    fitWrappedTexts(panel, usedPartCount(model));
}

void showModelTitle(HWND dialog, const ShownModel* model) {
    // The parts' names, "desk_lamp.stl + box.stl"; past the title's room the
    // title ends in an ellipsis.
    wchar_t names[2 * kTitleUnits];
    int length = 0;
    for (int slot = 0; slot < usedPartCount(model); ++slot) {
        const wchar_t* name = model->parts[slot].fileName;
        if (!name) continue;
        for (const wchar_t* piece : {length ? L" + " : L"", name})
            for (; *piece && length < 2 * kTitleUnits - 1; ++piece) names[length++] = *piece;
    }
    names[length] = 0;
    wchar_t title[kTitleUnits];
    if (length) makeWindowTitle(names, title);
    SetWindowTextW(dialog, length ? title : kApplicationTitle);
}
