#include "app/commands.h"

#include "app/escape_rule.h"
#include "app/file_dialogs.h"
#include "app/key_help.h"
#include "app/load_progress.h"
#include "app/menu_state.h"
#include "app/model_saving.h"
#include "app/open_files.h"
#include "app/part_colors.h"
#include "app/part_unit.h"
#include "app/print_menus.h"
#include "app/slicer_discovery.h"
#include "app/slicer_menu.h"
#include "app/recent_files.h"
#include "app/view_picture.h"
#include "app/window_ids.h"
#include "stlv_version.h"
#include "view/view_control.h"

namespace {

HWND viewOf(const MainDialogState* state) {
    return GetDlgItem(state->dialog, kViewId);
}

void showTexts(MainDialogState* state) {
    showPanelTexts(&state->panel, &state->model, shownUnits(&state->preferences));
}

// A flag of the settings table: its effect on the view, its value stored.
void toggleSetting(MainDialogState* state, Setting setting) {
    bool on = !flagOn(&state->preferences, setting);
    writeSetting(&state->preferences, setting, on, &state->sink.self);
    const SettingRow& row = settingRow(setting);
    if (row.apply) row.apply(viewOf(state), on);
    if (setting == kSettingReloadOnChange) followShownFiles(state);
}

void selectRenderMode(MainDialogState* state, RenderMode mode) {
    HWND view = viewOf(state);
    setRenderMode(view, mode);
    InvalidateRect(view, nullptr, FALSE);
    writeSetting(&state->preferences, kSettingRenderMode, mode, &state->sink.self);
}

// The view's angles become the ones Reset view and every new model start from.
void setStartView(MainDialogState* state) {
    CameraAngles camera;
    if (!viewAngles(viewOf(state), &camera)) return;
    writeStartAngles(&state->preferences, camera, &state->sink.self);
}

void selectUnits(MainDialogState* state, UnitsChoice choice) {
    writeSetting(&state->preferences, kSettingUnits, choice, &state->sink.self);
    showTexts(state);
}

void presetView(MainDialogState* state, ViewPreset preset) {
    const float noPan[3] = {0, 0, 0};
    CameraAngles angles = presetAngles(preset);
    setViewAngles(viewOf(state), noPan, angles.yaw, angles.pitch);
}

// The default colours: picked, applied and stored.
void pickDefaultColor(MainDialogState* state, Setting setting) {
    uint32_t color;
    if (!pickColor(state->dialog, state->preferences.values[setting], &color)) return;
    state->preferences.values[setting] = color;
    HWND view = viewOf(state);
    if (setting == kSettingBackgroundColor) {
        setBackgroundColor(view, color);
        InvalidateRect(view, nullptr, FALSE);
    } else if (!(state->model.overrideColor >> 24)) {
        updatePartSwatch(&state->panel, &state->model, color, 0);
    }
    writeSetting(&state->preferences, setting, color, &state->sink.self);
}

void pickSwatchColor(MainDialogState* state, int slot) {
    ShownModel* model = &state->model;
    if (!pickColor(state->dialog, model->overrideColor, &model->overrideColor)) return;
    CheckDlgButton(state->dialog, kMaterialCheckId, BST_CHECKED);
    updatePartSwatch(&state->panel, model, state->preferences.values[kSettingObjectColor], slot);
}

void showAbout(HWND dialog) {
    wchar_t text[512];
    wsprintfW(text,
              L"%s %hs\r\n\r\n"
              L"A viewer of STL and 3MF files for 3D printing.\r\n\r\n"
              L"Published 2026 by Veldmark.",
              kApplicationTitle, STLV_VERSION_TEXT);
    MessageBoxW(dialog, text, L"About", MB_OK | MB_SETFOREGROUND);
}

void openChosenFiles(MainDialogState* state, bool addParts) {
    FileNameList* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), &state->sink.self));
    if (!list) return;
    if (chooseStlFiles(list, state->dialog)) {
        if (addParts) addPartFiles(state, list);
        else openFiles(state, list, true, nullptr);
    }
    freeBytes(list);
}

// The view's picture at its current size, as a PNG file chosen in the Save
// dialog, which proposes the model's name beside its file.
void savePicture(MainDialogState* state) {
    if (!slotInUse(&state->model, 0)) return;
    wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), &state->sink.self));
    if (!path) return;
    proposePicturePath(&state->model.parts[0], path, kFileListUnits);
    if (choosePicturePath(state->dialog, path, kFileListUnits)) savePictureTo(state->dialog, path, &state->sink.self);
    freeBytes(path);
}

void setMeasuring(MainDialogState* state, bool on) {
    setMeasureMode(viewOf(state), on);
    showTexts(state);
}

// The overhang line and the tint follow a part placed on a face; the size
// and fit lines follow its box.
void followPlacement(MainDialogState* state) {
    forgetOverhangs(&state->model);
    remeasureOverhangs(&state->model, static_cast<float>(state->preferences.values[kSettingOverhangAngle]));
    showTexts(state);
}

// The Esc key (escape_rule.h). An Esc held back in the grace after a tool
// starts the grace again, so that a run of presses never closes the window.
void escape(MainDialogState* state) {
    HWND view = viewOf(state);
    uint32_t now = GetTickCount();
    EscapeScene scene{placeMode(view), measureMode(view), measureMarks(view).count > 0,
                      flagOn(&state->preferences, kSettingEscapeCloses),
                      state->toolEscapeSeen ? now - state->toolEscapeTick : kNoToolEscape};
    EscapeAction action = escapeAction(scene);
    if (action == EscapeAction::kCloseViewer) {
        PostMessageW(state->dialog, WM_CLOSE, 0, 0);
        return;
    }
    if (action != EscapeAction::kNothing || scene.msSinceToolEscape < kEscapeGraceMs) {
        state->toolEscapeTick = now;
        state->toolEscapeSeen = true;
    }
    switch (action) {
    case EscapeAction::kEndPlacing: setPlaceMode(view, false); break;
    case EscapeAction::kForgetPoints:
        clearMeasure(view);
        showTexts(state);
        break;
    case EscapeAction::kEndMeasuring: setMeasuring(state, false); break;
    default: break;
    }
}

// Axis and Flip turn the section on: asked for, it should show. The moves
// only act on a section that is shown.
void changeSection(MainDialogState* state, WORD id) {
    HWND view = viewOf(state);
    SectionPlane section = viewSection(view);
    switch (id) {
    case kCommandSection: section.on = !section.on; break;
    case kCommandSectionAxis:
        section.axis = static_cast<uint8_t>((section.axis + 1) % 3);
        section.on = 1;
        break;
    case kCommandFlipSection:
        section.flip = !section.flip;
        section.on = 1;
        break;
    default: {
        if (!section.on) return;
        bool forward = id == kCommandSectionForward || id == kCommandSectionFarForward;
        bool large = id == kCommandSectionFarForward || id == kCommandSectionFarBack;
        section.share = movedSectionShare(section.share, forward ? 1.0f : -1.0f, large ? kSectionLargeStep : kSectionStep);
        break;
    }
    }
    setViewSection(view, &section);
    showTexts(state);
}

// The commands of the menu and the keys; false for an id that is none.
// File > Exit chosen in the menu exits; its key, Esc, and the dialog
// manager's Esc (IDCANCEL) follow the Esc rule.
bool runMenuCommand(MainDialogState* state, WORD id, bool byKey) {
    HWND view = viewOf(state);
    switch (id) {
    case kCommandOpen: openChosenFiles(state, false); break;
    case kCommandAddParts: openChosenFiles(state, true); break;
    case kCommandExit:
        if (byKey) escape(state);
        else PostMessageW(state->dialog, WM_CLOSE, 0, 0);
        break;
    case kCommandCancel: escape(state); break;
    case kCommandMeasure: setMeasuring(state, !measureMode(view)); break;
    case kCommandPlaceOnFace: setPlaceMode(view, slotInUse(&state->model, 0) && !placeMode(view)); break;
    case kCommandUndoPlacement: undoPlacement(view); break;
    case kCommandSavePicture: savePicture(state); break;
    case kCommandSaveModel: saveModelAs(state); break;
    case kCommandCopyPicture: copyViewPicture(state->dialog, slotInUse(&state->model, 0), &state->sink.self); break;
    case kCommandPreviousFile: stepFile(state, false); break;
    case kCommandNextFile: stepFile(state, true); break;
    case kCommandTop: presetView(state, kViewTop); break;
    case kCommandLeft: presetView(state, kViewLeft); break;
    case kCommandFront: presetView(state, kViewFront); break;
    case kCommandBottom: presetView(state, kViewBottom); break;
    case kCommandRight: presetView(state, kViewRight); break;
    case kCommandBack: presetView(state, kViewBack); break;
    case kCommandResetView: {
        CameraAngles start = readStartAngles(state->preferences.keys);
        resetView(view, start.yaw, start.pitch);
        break;
    }
    case kCommandRotate:
        if (viewRotating(view)) stopRotation(view);
        else if (slotInUse(&state->model, 0)) startRotation(view);
        break;
    case kCommandSetStartView: setStartView(state); break;
    case kCommandSolid: selectRenderMode(state, kRenderSolid); break;
    case kCommandOutline: selectRenderMode(state, kRenderOutline); break;
    case kCommandWireframe: selectRenderMode(state, kRenderWireframe); break;
    case kCommandAutomaticUnits: selectUnits(state, kUnitsAutomatic); break;
    case kCommandMillimetres: selectUnits(state, kUnitsMillimetres); break;
    case kCommandInches: selectUnits(state, kUnitsInches); break;
    case kCommandDefaultMaterial: pickDefaultColor(state, kSettingObjectColor); break;
    case kCommandDefaultBackground: pickDefaultColor(state, kSettingBackgroundColor); break;
    case kCommandAbout: showAbout(state->dialog); break;
    case kCommandKeysAndMouse: showKeyHelp(state->dialog); break;
    case kCommandClearRecentFiles: forgetRecentFiles(state->preferences.keys, state->menu, &state->sink.self); break;
    case kCommandSection:
    case kCommandSectionAxis:
    case kCommandFlipSection:
    case kCommandSectionForward:
    case kCommandSectionBack:
    case kCommandSectionFarForward:
    case kCommandSectionFarBack: changeSection(state, id); break;
    default:
        if (runPrintCommand(state, id)) break;
        if (Setting setting; settingToggledBy(id, &setting)) toggleSetting(state, setting);
        else if (id >= kCommandFirstRecentFile && id < kCommandFirstRecentFile + kMaxRecentFiles)
            openRecentFile(state, id - kCommandFirstRecentFile);
        else if (id >= kCommandFirstSlicer && id < kCommandFirstSlicer + kSlicerKinds)
            openInSlicer(state, id - kCommandFirstSlicer);
        else return false;
    }
    return true;
}

// What the view and the panel's controls tell; false for anything else.
bool runControlNotification(MainDialogState* state, WORD id, WORD notification) {
    uint32_t defaultColor = state->preferences.values[kSettingObjectColor];
    if (id == kViewId && (notification == kMeasureChanged || notification == kViewSectionMoved)) {
        showTexts(state);
    } else if (id == kViewId && notification == kPlacementChanged) {
        followPlacement(state);
    } else if (id == kSpaceComboId && notification == CBN_SELCHANGE) {
        applyCoordinateSpace(&state->panel);
        showTexts(state);
    } else if (id == kUnitComboId && notification == CBN_SELCHANGE) {
        if (applyUnitChoice(&state->panel, &state->model)) showTexts(state);
    } else if (id == kColorsComboId && notification == CBN_SELCHANGE) {
        applyTriangleColorChoice(&state->panel, &state->model, defaultColor, &state->sink.self);
    } else if (id == kMaterialCheckId) {
        followMaterialBox(&state->panel, &state->model, defaultColor);
    } else if (id >= kFirstSwatchId && id < kFirstSwatchId + kMaxParts && notification == STN_CLICKED) {
        pickSwatchColor(state, id - kFirstSwatchId);
    } else {
        return false;
    }
    return true;
}

}  // namespace

void runCommand(MainDialogState* state, WORD id, WORD notification) {
    if (runControlNotification(state, id, notification) || runMenuCommand(state, id, notification == 1)) updateMenu(state);
}
