#include "app/main_dialog.h"

#include <commctrl.h>

#include "app/command_table.h"
#include "app/commands.h"
#include "app/dark_title_bar.h"
#include "core/log_sink.h"
#include "app/dialog_layout.h"
#include "app/dialog_template.h"
#include "app/info_panel.h"
#include "app/open_files.h"
#include "app/recent_files.h"
#include "app/preferences.h"
#include "app/window_dpi.h"
#include "app/surface_checks.h"
#include "view/view_control.h"

const wchar_t kApplicationTitle[] = L"Veldmark STL Viewer";

static_assert(kLoadFinishedMessage == WM_APP, "the load job posts WM_APP");

namespace {

int linesBeyondOne(uint8_t lines) {
    return lines > 1 ? lines - 1 : 0;
}

constexpr int kIconResource = 101;
// A moved control draws itself anew: copied along, a see-through one kept
// pieces of what stood beside it before.
constexpr DWORD kNoMoveFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_NOCOPYBITS;

MainDialogState* stateOf(HWND dialog) {
    return reinterpret_cast<MainDialogState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

INT_PTR setResult(HWND dialog, LONG_PTR result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

void fillCombo(HWND combo, const wchar_t* first, const wchar_t* second) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(first));
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(second));
}

void checkMenuItem(HMENU menu, UINT id, bool checked) {
    CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void useFontForDpi(MainDialogState* state) {
    HFONT font = createDialogFont(state->dialog, state->dpi);
    if (!font) return;
    setControlsFont(state->dialog, font);
    if (state->font) DeleteObject(state->font);
    state->font = font;
}

// A placement stored on a monitor that is gone would leave the window nowhere to be seen.
void keepOnScreen(HWND dialog) {
    RECT window, work;
    GetWindowRect(dialog, &window);
    if (MonitorFromRect(&window, MONITOR_DEFAULTTONULL)) return;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromRect(&window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    work = monitor.rcWork;
    int width = window.right - window.left, height = window.bottom - window.top;
    if (width > work.right - work.left) width = work.right - work.left;
    if (height > work.bottom - work.top) height = work.bottom - work.top;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, kNoMoveFlags);
}

// The window moved to a monitor of another density: it takes the size the
// system proposes (unless a stored placement is being applied, whose size is
// already right for where it lands), and fonts and layout follow.
void onDpiChanged(MainDialogState* state, int dpi, const RECT* proposed) {
    state->dpi = dpi;
    useFontForDpi(state);
    setWindowIcons(state->dialog, kIconResource, dpi);
    setTreeCheckBoxes(dialogItem(state, kTreeId), dpi);
    if (!state->placing)
        SetWindowPos(state->dialog, nullptr, proposed->left, proposed->top, proposed->right - proposed->left,
                     proposed->bottom - proposed->top, kNoMoveFlags);
    RECT client;
    GetClientRect(state->dialog, &client);
    layoutDialog(state, client.right, client.bottom);
}

void initialiseDialog(HWND dialog, MainDialogState* state) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->dialog = dialog;
    state->activeAccelerators = nullptr;
    if (state->menu) SetMenu(dialog, state->menu);
    initConvertingSink(&state->sink, MessageSink{state, appendToLog});
    state->currentJob = nullptr;
    state->folderListing = nullptr;
    state->overrideColor = 0;
    for (HBRUSH& brush : state->swatchBrushes) brush = nullptr;
    for (ModelPart& part : state->parts) part.view = nullptr;
    for (PartCheck& check : state->checks) check = PartCheck{};
    state->checkThread = nullptr;
    followAppsTheme(dialog);
    takeOverDpiScaling(dialog);
    state->dpi = windowDpi(dialog);
    state->font = nullptr;
    useFontForDpi(state);
    setWindowIcons(dialog, kIconResource, state->dpi);
    readPreferences(&state->preferences);
    state->placing = 1;
    applyStoredPlacement(state->preferences.keys, dialog);
    state->placing = 0;
    keepOnScreen(dialog);
    // The edit control's default limit of 30,000 characters would drop the later lines.
    SendDlgItemMessageW(dialog, kMessagesId, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    HWND tree = dialogItem(state, kTreeId);
    SetWindowLongPtrW(tree, GWL_STYLE, GetWindowLongPtrW(tree, GWL_STYLE) | TVS_CHECKBOXES);
    setTreeCheckBoxes(tree, state->dpi);
    fillCombo(dialogItem(state, kSpaceComboId), L"Y up", L"Z up");
    fillCombo(dialogItem(state, kColorsComboId), L"RGB", L"BGR");
    SendDlgItemMessageW(dialog, kColorsComboId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Off"));
    HWND view = dialogItem(state, kViewId);
    setViewSink(view, &state->sink.self);
    const float noPan[3] = {0, 0, 0};
    CameraAngles angles = readStartAngles(state->preferences.keys);
    setViewAngles(view, noPan, angles.yaw, angles.pitch);
    setBackgroundColor(view, state->preferences.values[kSettingBackgroundColor]);
    InvalidateRect(view, nullptr, FALSE);
    for (int k = 0; k < kSettingCount; ++k) {
        const SettingRow& row = settingRow(static_cast<Setting>(k));
        if (row.kind != kSettingFlag || !state->preferences.values[k]) continue;
        if (row.apply) row.apply(view, true);
        if (row.command) checkMenuItem(state->menu, row.command, true);
    }
    showRenderMode(state, static_cast<RenderMode>(state->preferences.values[kSettingRenderMode]));
    UINT units = flagOn(&state->preferences, kSettingUsUnits) ? kCommandUsUnits : kCommandMetricUnits;
    CheckMenuRadioItem(state->menu, kCommandMetricUnits, kCommandUsUnits, units, MF_BYCOMMAND);
    refreshRecentFilesMenu(state);
}

// The tree's check boxes show and hide solids; the file item's box stays.
// Windows asks before a box changes; Wine's tree does not, see applyTreeChecks.
INT_PTR onTreeItemChanging(MainDialogState* state, const NMTVITEMCHANGE* change) {
    if ((change->uStateNew & TVIS_STATEIMAGEMASK) == (change->uStateOld & TVIS_STATEIMAGEMASK)) return FALSE;
    uint32_t slot = static_cast<uint32_t>(change->lParam >> 24);
    uint32_t solid = static_cast<uint32_t>(change->lParam & 0xFFFFFF);
    if (solid == kTreeFileItem) return setResult(state->dialog, 1);
    if (slot >= kMaxParts || !state->parts[slot].view ||
        (solid != kTreeMoreItem && solid >= state->parts[slot].mesh.solidCount))
        return setResult(state->dialog, 1);
    bool checked = (change->uStateNew & TVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    setItemSolidsVisible(state, change->lParam, checked);
    InvalidateRect(dialogItem(state, kViewId), nullptr, FALSE);
    return setResult(state->dialog, 0);
}

INT_PTR onNotify(MainDialogState* state, const NMHDR* header) {
    if (!state || header->idFrom != kTreeId) return FALSE;
    switch (header->code) {
    case TVN_ITEMCHANGINGW:
        if (!state->parts[0].view) return FALSE;
        return onTreeItemChanging(state, reinterpret_cast<const NMTVITEMCHANGE*>(header));
    case NM_CLICK:
        PostMessageW(state->dialog, kApplyTreeChecksMessage, 0, 0);
        return FALSE;
    case TVN_KEYDOWN:
        if (reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey == VK_SPACE)
            PostMessageW(state->dialog, kApplyTreeChecksMessage, 0, 0);
        return FALSE;
    case TVN_SELCHANGEDW:
        showModelFacts(state);
        showTriangleColourChoice(state);
        return FALSE;
    default:
        return FALSE;
    }
}

bool itemChecked(HWND tree, HTREEITEM item, LPARAM* parameter) {
    TVITEMW fields{};
    fields.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
    fields.hItem = item;
    fields.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
    *parameter = fields.lParam;
    return (fields.state & TVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void tickItem(HWND tree, HTREEITEM item) {
    TVITEMW fields{};
    fields.mask = TVIF_HANDLE | TVIF_STATE;
    fields.hItem = item;
    fields.stateMask = TVIS_STATEIMAGEMASK;
    fields.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
}

// Keys the view passes on: Left and Right step through the folder. The
// result is 0 for a key used, as for any window, and -1 for one that is not.
INT_PTR onKeyDown(HWND dialog, MainDialogState* state, WPARAM key) {
    WORD command = key <= 0xFFFF ? commandOfDialogKey(static_cast<WORD>(key)) : 0;
    if (!state || !command) return setResult(dialog, -1);
    runCommand(state, command, 0);
    return setResult(dialog, 0);
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDialogState* state = stateOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        initialiseDialog(dialog, reinterpret_cast<MainDialogState*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (state) runCommand(state, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    case WM_TIMER:
        if (state && lParam == 0) onProgressTimer(state, wParam);
        return FALSE;
    case WM_SIZE:
        if (state && (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED))
            layoutDialog(state, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return FALSE;
    case WM_INITMENUPOPUP:
        // Another window of the program may have opened files since.
        if (state && reinterpret_cast<HMENU>(wParam) == GetSubMenu(state->menu, 0)) refreshRecentFilesMenu(state);
        return FALSE;
    case WM_ACTIVATE:
        if (state) state->activeAccelerators = LOWORD(wParam) ? state->accelerators : nullptr;
        return FALSE;
    case WM_GETMINMAXINFO:
        if (state) {
            MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            // Room for the measure line too, and for the lines the texts wrap onto.
            int wrapped = linesBeyondOne(state->factsLines) + linesBeyondOne(state->checkLines);
            SIZE extra = dialogUnitsToPixels(dialog, 232, 185 + 8 * wrapped);
            limits->ptMinTrackSize.x += extra.cx;
            limits->ptMinTrackSize.y += extra.cy;
        }
        return FALSE;
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT) return FALSE;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return setResult(dialog, 1);
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (state && id >= kFirstSwatchId && id < kFirstSwatchId + kMaxParts)
            return reinterpret_cast<INT_PTR>(state->swatchBrushes[id - kFirstSwatchId]);
        return 0;
    }
    case WM_NOTIFY:
        return onNotify(state, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COPYDATA:
        return setResult(dialog, state && receiveHandOver(state, reinterpret_cast<const COPYDATASTRUCT*>(lParam)));
    case WM_DROPFILES:
        if (state) onDropFiles(state, reinterpret_cast<HDROP>(wParam));
        else DragFinish(reinterpret_cast<HDROP>(wParam));
        return FALSE;
    case WM_KEYDOWN:
        return onKeyDown(dialog, state, wParam);
    case WM_KEYUP:
        return setResult(dialog, -1);
    case WM_SETTINGCHANGE:
        if (isThemeChange(lParam)) followAppsTheme(dialog);
        return FALSE;
    case WM_DPICHANGED:
        if (state) onDpiChanged(state, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return TRUE;
    case WM_CLOSE:
        savePlacementAndExit(state ? state->preferences.keys : nullptr, dialog);
        return TRUE;
    case kLoadFinishedMessage:
        if (state) onLoadFinished(state, reinterpret_cast<LoadJob*>(wParam));
        return FALSE;
    case kCheckFinishedMessage:
        if (!state) return FALSE;
        showModelFacts(state);
        showCheckedProblems(state, static_cast<int>(wParam));
        return FALSE;
    case kApplyTreeChecksMessage:
        if (state) applyTreeChecks(state);
        return FALSE;
    default:
        return FALSE;
    }
}

void deferMove(HDWP* batch, HWND dialog, int id, int x, int y, int width, int height) {
    HWND control = GetDlgItem(dialog, id);
    if (control && *batch) *batch = DeferWindowPos(*batch, control, nullptr, x, y, width, height, kNoMoveFlags);
}

// The lines a static control's text takes at the control's width, from 1 to kMaxWrappedLines.
int wrappedLines(HWND control) {
    wchar_t text[512];
    int length = GetWindowTextW(control, text, 512);
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


}  // namespace

HWND createMainDialog(HINSTANCE instance, MainDialogState* state) {
    alignas(4) WORD dialogTemplate[kDialogTemplateWords];
    buildMainDialogTemplate(dialogTemplate);
    return CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), nullptr,
                                      dialogProcedure, reinterpret_cast<LPARAM>(state));
}

SIZE dialogUnitsToPixels(HWND dialog, int cx, int cy) {
    int dpi = windowDpi(dialog);
    return SIZE{dialogUnitsAcross(cx, dpi), dialogUnitsDown(cy, dpi)};
}

void applyTreeChecks(MainDialogState* state) {
    HWND tree = dialogItem(state, kTreeId);
    bool changed = false;
    LPARAM parameter;
    for (HTREEITEM file = TreeView_GetRoot(tree); file; file = TreeView_GetNextSibling(tree, file)) {
        if (!itemChecked(tree, file, &parameter)) tickItem(tree, file);
        for (HTREEITEM solid = TreeView_GetChild(tree, file); solid; solid = TreeView_GetNextSibling(tree, solid)) {
            bool visible = itemChecked(tree, solid, &parameter);
            changed |= setItemSolidsVisible(state, parameter, visible);
        }
    }
    if (changed) InvalidateRect(dialogItem(state, kViewId), nullptr, FALSE);
}

void showViewArea(MainDialogState* state) {
    bool loading = state->currentJob != nullptr;
    bool model = !loading && state->parts[0].view;
    ShowWindow(dialogItem(state, kProgressId), loading ? SW_SHOW : SW_HIDE);
    ShowWindow(dialogItem(state, kViewId), model ? SW_SHOW : SW_HIDE);
    ShowWindow(dialogItem(state, kHintId), loading || model ? SW_HIDE : SW_SHOW);
}


void fitWrappedTexts(MainDialogState* state) {
    int facts = wrappedLines(dialogItem(state, kFactsLineId)), check = wrappedLines(dialogItem(state, kCheckLineId));
    if (facts - 1 == linesBeyondOne(state->factsLines) && check - 1 == linesBeyondOne(state->checkLines)) return;
    state->factsLines = static_cast<uint8_t>(facts);
    state->checkLines = static_cast<uint8_t>(check);
    RECT client;
    GetClientRect(state->dialog, &client);
    layoutDialog(state, client.right, client.bottom);
}

void layoutDialog(MainDialogState* state, int width, int height) {
    ControlPlace places[kMaxControlPlaces];
    PanelContent content = {usedPartCount(state), state->factsLines, state->checkLines};
    int count = layoutPlaces(width, height, state->dpi, content, places);
    HDWP batch = BeginDeferWindowPos(count);
    if (!batch) return;
    for (int k = 0; k < count; ++k) {
        const ControlPlace& place = places[k];
        deferMove(&batch, state->dialog, place.id, place.x, place.y, place.width, place.height);
    }
    if (!batch) return;
    EndDeferWindowPos(batch);
    // Rows that moved up (a line fewer to wrap) leave pieces of their old
    // place under Wine, and a moved swatch repaints only what was uncovered:
    // the header above the tree is drawn anew, the view is left alone.
    RECT header = {0, 0, width, 0};
    for (int k = 0; k < count; ++k)
        if (places[k].id == kTreeId) header = {places[k].x, 0, width, places[k].y};
    RedrawWindow(state->dialog, &header, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
