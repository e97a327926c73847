#include "app/menu_state.h"

#include <initializer_list>

#include "app/print_menus.h"
#include "app/window_ids.h"
#include "view/view_control.h"

namespace {

void enable(HMENU menu, UINT command, bool enabled) {
    EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void check(HMENU menu, UINT command, bool checked) {
    CheckMenuItem(menu, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

UINT renderModeCommand(uint32_t mode) {
    return mode == kRenderWireframe ? kCommandWireframe : mode == kRenderOutline ? kCommandOutline : kCommandSolid;
}

}  // namespace

void updateMenu(const MainDialogState* state) {
    HMENU menu = state->menu;
    if (!menu) return;
    const Preferences* preferences = &state->preferences;
    int parts = usedPartCount(&state->model);
    enable(menu, kCommandAddParts, parts > 0 && parts < kMaxParts);
    for (UINT command : {kCommandSavePicture, kCommandCopyPicture, kCommandSaveModel}) enable(menu, command, parts > 0);
    for (UINT command : {kCommandPreviousFile, kCommandNextFile})
        enable(menu, command, state->navigation.folderListing != nullptr);
    // The submenu holds a first entry exactly while there are recent files.
    enable(menu, kCommandClearRecentFiles,
           GetMenuState(menu, kCommandFirstRecentFile, MF_BYCOMMAND) != static_cast<UINT>(-1));
    for (int k = 0; k < kSettingCount; ++k) {
        const SettingRow& row = settingRow(static_cast<Setting>(k));
        if (row.kind == kSettingFlag && row.command) check(menu, row.command, preferences->values[k] != 0);
    }
    CheckMenuRadioItem(menu, kCommandSolid, kCommandWireframe,
                       renderModeCommand(preferences->values[kSettingRenderMode]), MF_BYCOMMAND);
    CheckMenuRadioItem(menu, kCommandAutomaticUnits, kCommandInches,
                       kCommandAutomaticUnits + preferences->values[kSettingUnits], MF_BYCOMMAND);
    HWND view = GetDlgItem(state->dialog, kViewId);
    check(menu, kCommandMeasure, measureMode(view));
    enable(menu, kCommandPlaceOnFace, parts > 0);
    check(menu, kCommandPlaceOnFace, placeMode(view));
    enable(menu, kCommandUndoPlacement, canUndoPlacement(view));
    check(menu, kCommandSection, viewSection(view).on != 0);
    check(menu, kCommandRotate, viewRotating(view));
    // The key is named only while it exits.
    ModifyMenuW(menu, kCommandExit, MF_BYCOMMAND | MF_STRING, kCommandExit,
                flagOn(preferences, kSettingEscapeCloses) ? L"&Exit\tEsc" : L"&Exit");
    checkPrintMenus(menu, preferences);
}
