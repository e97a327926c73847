#include "app/main_dialog.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/command_table.h"
#include "app/commands.h"
#include "app/dark_title_bar.h"
#include "app/dialog_template.h"
#include "app/load_progress.h"
#include "app/menu_state.h"
#include "app/open_files.h"
#include "app/part_colors.h"
#include "app/part_unit.h"
#include "app/part_tree.h"
#include "app/print_menus.h"
#include "app/recent_files.h"
#include "app/slicer_menu.h"
#include "app/window_dpi.h"
#include "app/window_ids.h"
#include "core/log_sink.h"
#include "view/view_control.h"

static_assert(kLoadFinishedMessage == WM_APP, "the load job posts WM_APP");

namespace {

constexpr int kIconResource = 101;
constexpr DWORD kNoMoveFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_NOCOPYBITS;

MainDialogState* stateOf(HWND dialog) {
    return reinterpret_cast<MainDialogState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

INT_PTR setResult(HWND dialog, LONG_PTR result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

void fillCombo(HWND combo, std::initializer_list<const wchar_t*> items) {
    for (const wchar_t* item : items) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
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
    Panel* panel = &state->panel;
    panel->dpi = dpi;
    useFontForDpi(panel);
    setWindowIcons(state->dialog, kIconResource, dpi);
    setTreeCheckBoxes(panelItem(panel, kTreeId), dpi);
    if (!panel->placing)
        SetWindowPos(state->dialog, nullptr, proposed->left, proposed->top, proposed->right - proposed->left,
                     proposed->bottom - proposed->top, kNoMoveFlags);
    layoutForClient(panel, usedPartCount(&state->model));
}

// The view as the settings have it: start angles, background, the flags that act on it, the mode.
void configureView(MainDialogState* state, HWND view) {
    const Preferences* preferences = &state->preferences;
    setViewSink(view, &state->sink.self);
    const float noPan[3] = {0, 0, 0};
    CameraAngles angles = readStartAngles(preferences->keys);
    setViewAngles(view, noPan, angles.yaw, angles.pitch);
    setBackgroundColor(view, preferences->values[kSettingBackgroundColor]);
    for (int k = 0; k < kSettingCount; ++k) {
        const SettingRow& row = settingRow(static_cast<Setting>(k));
        if (row.kind == kSettingFlag && row.apply && preferences->values[k]) row.apply(view, true);
    }
    setRenderMode(view, static_cast<RenderMode>(preferences->values[kSettingRenderMode]));
    setOverhangAngle(view, static_cast<float>(preferences->values[kSettingOverhangAngle]));
    InvalidateRect(view, nullptr, FALSE);
}

void initialiseDialog(HWND dialog, MainDialogState* state) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->dialog = dialog;
    state->activeAccelerators = nullptr;
    if (state->menu) SetMenu(dialog, state->menu);
    initConvertingSink(&state->sink, MessageSink{GetDlgItem(dialog, kMessagesId), appendToLog});
    state->navigation.currentJob = nullptr;
    state->navigation.folderListing = nullptr;
    state->model = ShownModel{};
    state->checkWorker = CheckWorker{};
    Panel* panel = &state->panel;
    *panel = Panel{};
    panel->dialog = dialog;
    followAppsTheme(dialog);
    takeOverDpiScaling(dialog);
    panel->dpi = windowDpi(dialog);
    useFontForDpi(panel);
    setWindowIcons(dialog, kIconResource, panel->dpi);
    readPreferences(&state->preferences);
    panel->print = storedPrintChoice(&state->preferences);
    panel->placing = 1;
    applyStoredPlacement(state->preferences.keys, dialog);
    panel->placing = 0;
    keepOnScreen(dialog);
    // The edit control's default limit of 30,000 characters would drop the later lines.
    SendDlgItemMessageW(dialog, kMessagesId, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    HWND tree = panelItem(panel, kTreeId);
    SetWindowLongPtrW(tree, GWL_STYLE, GetWindowLongPtrW(tree, GWL_STYLE) | TVS_CHECKBOXES);
    setTreeCheckBoxes(tree, panel->dpi);
    fillCombo(panelItem(panel, kSpaceComboId), {L"Y up", L"Z up"});
    fillCombo(panelItem(panel, kColorsComboId), {L"RGB", L"BGR", L"Off"});
    fillUnitBox(panel);
    configureView(state, panelItem(panel, kViewId));
    refreshRecentFilesMenu(state->preferences.keys, state->menu, &state->sink.self);
    fillPrintMenus(state->menu);
    updateMenu(state);
}

INT_PTR onNotify(MainDialogState* state, const NMHDR* header) {
    if (!state || header->idFrom != kTreeId) return FALSE;
    HWND view = panelItem(&state->panel, kViewId);
    DisplayUnits units = shownUnits(&state->preferences);
    switch (header->code) {
    case TVN_ITEMCHANGINGW: {
        if (!slotInUse(&state->model, 0)) return FALSE;
        LRESULT result = treeItemChanging(&state->model, reinterpret_cast<const NMTVITEMCHANGE*>(header));
        if (result < 0) return FALSE;
        if (result == 0) InvalidateRect(view, nullptr, FALSE);
        return setResult(state->dialog, result);
    }
    case NM_CLICK:
        PostMessageW(state->dialog, kApplyTreeChecksMessage, 0, 0);
        return FALSE;
    case TVN_KEYDOWN:
        if (reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey == VK_SPACE)
            PostMessageW(state->dialog, kApplyTreeChecksMessage, 0, 0);
        return FALSE;
    case TVN_SELCHANGEDW:
        showPanelTexts(&state->panel, &state->model, units);
        showTriangleColorChoice(&state->panel, &state->model);
        showPartUnit(&state->panel, &state->model);
        return FALSE;
    default:
        return FALSE;
    }
}

// Keys the view passes on: Left and Right step through the folder. The
// result is 0 for a key used, as for any window, and -1 for one that is not.
INT_PTR onKeyDown(HWND dialog, MainDialogState* state, WPARAM key) {
    WORD command = key <= 0xFFFF ? commandOfDialogKey(static_cast<WORD>(key)) : 0;
    if (!state || !command) return setResult(dialog, -1);
    runCommand(state, command, 0);
    return setResult(dialog, 0);
}

// High Contrast and theme changes: the common controls are told, as a
// top-level window must pass WM_SYSCOLORCHANGE on to them; the tree's boxes,
// drawn in system colours, are drawn again, and the view repaints.
void onColoursChanged(MainDialogState* state, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND tree = panelItem(&state->panel, kTreeId);
    if (message == WM_SYSCOLORCHANGE)
        for (HWND child = GetWindow(state->dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            SendMessageW(child, message, wParam, lParam);
    setTreeCheckBoxes(tree, state->panel.dpi);
    RedrawWindow(state->dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

INT_PTR onMinMaxInfo(MainDialogState* state, MINMAXINFO* limits) {
    // Room for the measure line too, and for the lines the texts wrap onto.
    SIZE extra = minimumClientSize(&state->panel, usedPartCount(&state->model));
    limits->ptMinTrackSize.x += extra.cx;
    limits->ptMinTrackSize.y += extra.cy;
    return FALSE;
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
            layoutDialog(&state->panel, usedPartCount(&state->model), static_cast<short>(LOWORD(lParam)),
                         static_cast<short>(HIWORD(lParam)));
        return FALSE;
    case WM_INITMENUPOPUP:
        // Another window of the program may have opened files since; a
        // click in the view may have stopped the rotation.
        if (!state) return FALSE;
        if (reinterpret_cast<HMENU>(wParam) == GetSubMenu(state->menu, 0)) {
            refreshRecentFilesMenu(state->preferences.keys, state->menu, &state->sink.self);
            refreshSlicerMenu(state);  // a slicer may have been installed or removed since
        }
        updateMenu(state);
        return FALSE;
    case WM_ACTIVATE:
        if (state) state->activeAccelerators = LOWORD(wParam) ? state->accelerators : nullptr;
        return FALSE;
    case WM_GETMINMAXINFO:
        return state ? onMinMaxInfo(state, reinterpret_cast<MINMAXINFO*>(lParam)) : FALSE;
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT) return FALSE;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return setResult(dialog, 1);
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (state && id >= kFirstSwatchId && id < kFirstSwatchId + kMaxParts)
            return reinterpret_cast<INT_PTR>(state->panel.swatchBrushes[id - kFirstSwatchId]);
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
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        if (state) onColoursChanged(state, message, wParam, lParam);
        return FALSE;
    case kHandOverMessage:
        if (state) openHandedOver(state, reinterpret_cast<wchar_t*>(lParam), wParam);
        else freeBytes(reinterpret_cast<void*>(lParam));
        return FALSE;
    case kFileChangedMessage:
        if (state) onShownFileChanged(state, static_cast<int>(wParam), static_cast<uint32_t>(lParam));
        return FALSE;
    case kRecentFileCheckedMessage:
        if (state) onRecentFileChecked(state, reinterpret_cast<RecentFileCheck*>(lParam));
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
        if (state) onCheckFinished(state, reinterpret_cast<CheckOutcome*>(lParam));
        return FALSE;
    case kApplyTreeChecksMessage:
        if (state && applyTreeChecks(panelItem(&state->panel, kTreeId), &state->model))
            InvalidateRect(panelItem(&state->panel, kViewId), nullptr, FALSE);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

HWND createMainDialog(HINSTANCE instance, MainDialogState* state) {
    alignas(4) WORD dialogTemplate[kDialogTemplateWords];
    buildMainDialogTemplate(dialogTemplate);
    return CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), nullptr,
                                      dialogProcedure, reinterpret_cast<LPARAM>(state));
}
