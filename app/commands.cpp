#include "app/commands.h"

#include <commdlg.h>

#include <initializer_list>

#include "app/folder_listing.h"
#include "app/picture_file.h"
#include "app/info_panel.h"
#include "app/key_help.h"
#include "app/open_files.h"
#include "app/recent_files.h"
#include "app/preferences.h"
#include "core/log_sink.h"
#include "stlv_version.h"
#include "view/view_control.h"

namespace {

// Shared by every Color dialog of the run, never saved.
COLORREF customColors[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                             0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};

// A flag of the settings table: its menu mark, its effect on the view, its value stored.
void toggleSetting(MainDialogState* state, Setting setting) {
    bool on = !flagOn(&state->preferences, setting);
    writeSetting(&state->preferences, setting, on, &state->sink.self);
    const SettingRow& row = settingRow(setting);
    if (row.apply) row.apply(dialogItem(state, kViewId), on);
    CheckMenuItem(state->menu, row.command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void selectRenderMode(MainDialogState* state, RenderMode mode) {
    showRenderMode(state, mode);
    writeSetting(&state->preferences, kSettingRenderMode, mode, &state->sink.self);
}

// The view's angles become the ones Reset view and every new model start from.
void setStartView(MainDialogState* state) {
    const ViewState* view = viewStateOf(dialogItem(state, kViewId));
    if (!view) return;
    writeStartAngles(&state->preferences, CameraAngles{view->yaw, view->pitch}, &state->sink.self);
}

void selectUnits(MainDialogState* state, bool usUnits) {
    CheckMenuRadioItem(state->menu, kCommandMetricUnits, kCommandUsUnits,
                       usUnits ? kCommandUsUnits : kCommandMetricUnits, MF_BYCOMMAND);
    writeSetting(&state->preferences, kSettingUsUnits, usUnits, &state->sink.self);
    if (state->parts[0].view) showModelDimensions(state);
}

void presetView(MainDialogState* state, ViewPreset preset) {
    const float noPan[3] = {0, 0, 0};
    CameraAngles angles = presetAngles(preset);
    setViewAngles(dialogItem(state, kViewId), noPan, angles.yaw, angles.pitch);
}

// The default colours: picked, applied and stored.
void pickDefaultColor(MainDialogState* state, Setting setting) {
    uint32_t color;
    if (!pickColor(state->dialog, state->preferences.values[setting], &color)) return;
    state->preferences.values[setting] = color;
    HWND view = dialogItem(state, kViewId);
    if (setting == kSettingBackgroundColor) {
        setBackgroundColor(view, color);
        InvalidateRect(view, nullptr, FALSE);
    } else if (!(state->overrideColor >> 24)) {
        updatePartSwatch(state, 0);
    }
    writeSetting(&state->preferences, setting, color, &state->sink.self);
}

void pickSwatchColor(MainDialogState* state, int slot) {
    if (!pickColor(state->dialog, state->overrideColor, &state->overrideColor)) return;
    CheckDlgButton(state->dialog, kMaterialCheckId, BST_CHECKED);
    updatePartSwatch(state, slot);
}

void showAbout(HWND dialog) {
    wchar_t text[512];
    wsprintfW(text,
              L"%s %hs\r\n\r\n"
              L"Published 2026 by Veldmark.\r\n\r\n"
              L"Visit the Veldmark web site for updates.",
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
    if (!state->parts[0].view) return;
    wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), &state->sink.self));
    if (!path) return;
    proposePicturePath(&state->parts[0], path, kFileListUnits);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = state->dialog;
    dialog.lpstrFilter = L"PNG picture (*.png)\0*.png\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = kFileListUnits;
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = L"png";
    if (GetSaveFileNameW(&dialog)) savePictureTo(state, path);
    freeBytes(path);
}

// Ctrl+C stays the text copy of the messages box while that has the focus.
void copyPicture(MainDialogState* state) {
    HWND messages = dialogItem(state, kMessagesId);
    if (GetFocus() == messages) {
        SendMessageW(messages, WM_COPY, 0, 0);
        return;
    }
    Picture picture;
    if (!state->parts[0].view || !renderViewPicture(dialogItem(state, kViewId), &picture, &state->sink.self)) return;
    copyPictureToClipboard(state->dialog, &picture, &state->sink.self);
    freePicture(&picture);
}

void setMeasuring(MainDialogState* state, bool on) {
    setMeasureMode(dialogItem(state, kViewId), on);
    CheckMenuItem(state->menu, kCommandMeasure, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    showMeasureLine(state);
}

// Esc while measuring first forgets the points, then leaves measuring; otherwise it exits.
void escape(MainDialogState* state) {
    HWND view = dialogItem(state, kViewId);
    if (!measureMode(view)) {
        PostMessageW(state->dialog, WM_CLOSE, 0, 0);
        return;
    }
    if (clearMeasure(view)) showMeasureLine(state);
    else setMeasuring(state, false);
}

// Axis and Flip turn the section on: asked for, it should show. The moves
// only act on a section that is shown.
void changeSection(MainDialogState* state, WORD id) {
    HWND view = dialogItem(state, kViewId);
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
    CheckMenuItem(state->menu, kCommandSection, MF_BYCOMMAND | (section.on ? MF_CHECKED : MF_UNCHECKED));
    setViewSection(view, &section);
    showSectionLine(state);
}

}  // namespace

void showRenderMode(MainDialogState* state, RenderMode mode) {
    WORD item = mode == kRenderWireframe ? kCommandWireframe : mode == kRenderOutline ? kCommandOutline : kCommandSolid;
    CheckMenuRadioItem(state->menu, kCommandSolid, kCommandWireframe, item, MF_BYCOMMAND);
    HWND view = dialogItem(state, kViewId);
    setRenderMode(view, mode);
    InvalidateRect(view, nullptr, FALSE);
}

void proposePicturePath(const ModelPart* part, wchar_t* path, uint32_t capacity) {
    path[0] = 0;
    const wchar_t* source = part->filePath;
    if (!source) return;
    uint32_t length = static_cast<uint32_t>(lstrlenW(source));
    uint32_t end = length;  // where ".png" goes: over the extension, if the name has one
    for (uint32_t at = length; at > 0 && source[at - 1] != L'\\' && source[at - 1] != L'/'; --at)
        if (source[at - 1] == L'.') {
            end = at - 1;
            break;
        }
    if (end + 5 > capacity) return;
    memcpy(path, source, end * sizeof(wchar_t));
    lstrcpyW(path + end, L".png");
}

bool savePictureTo(MainDialogState* state, const wchar_t* path) {
    Picture picture;
    if (!renderViewPicture(dialogItem(state, kViewId), &picture, &state->sink.self)) return false;
    bool written = writePngFile(path, &picture, &state->sink.self);
    freePicture(&picture);
    if (!written) return false;
    HWND messages = dialogItem(state, kMessagesId);
    appendText(messages, L"Picture saved to ");
    appendText(messages, path);
    appendText(messages, L"\r\n");
    return true;
}

void enablePictureCommands(HMENU menu, bool enabled) {
    for (WORD id : {kCommandSavePicture, kCommandCopyPicture})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool pickColor(HWND owner, uint32_t start, uint32_t* color) {
    CHOOSECOLORW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.rgbResult = start & 0xFFFFFF;
    dialog.lpCustColors = customColors;
    dialog.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    if (!ChooseColorW(&dialog)) return false;
    *color = (dialog.rgbResult & 0xFFFFFF) | 0xFF000000;
    return true;
}

namespace {

// A folder that already ends in a separator (a drive root) takes the names
// without a second one: the folder listing compares paths exactly.
int joinWithoutDoubleSeparator(Utf16* path, int nameStart) {
    if (nameStart < 2 || path[nameStart - 2] != L'\\') return nameStart;
    int end = nameStart;
    while (end + 2 < static_cast<int>(kFileListUnits) && (path[end] || path[end + 1])) ++end;
    memmove(path + nameStart - 1, path + nameStart, (end + 2 - nameStart) * sizeof(Utf16));
    return nameStart - 1;
}

}  // namespace

bool chooseStlFiles(FileNameList* list, HWND owner) {
    OPENFILENAMEW dialog{};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Stereolithography (*.stl)\0*.stl\0All Files\0*.*\0";
    dialog.nFilterIndex = 1;
    list->path[0] = 0;
    dialog.lpstrFile = list->path;
    dialog.nMaxFile = kFileListUnits;
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&dialog)) return false;
    // One file: its full path. Several: the folder, a terminator, then the
    // names, each terminated, and an empty name.
    int nameStart = dialog.nFileOffset;
    if (nameStart <= 0 || nameStart >= static_cast<int>(kFileListUnits)) return false;
    bool several = list->path[nameStart - 1] == 0;
    if (several) nameStart = joinWithoutDoubleSeparator(list->path, nameStart);
    list->path[nameStart - 1] = L'\\';
    int end = nameStart;
    while (end < static_cast<int>(kFileListUnits) - 2 && list->path[end]) ++end;
    list->nameStart = nameStart;
    list->nextName = end + 1;
    if (!several) list->path[end + 1] = 0;
    return true;
}

void runCommand(MainDialogState* state, WORD id, WORD notification) {
    HWND view = dialogItem(state, kViewId);
    switch (id) {
    case kCommandOpen: openChosenFiles(state, false); break;
    case kCommandAddParts: openChosenFiles(state, true); break;
    case kCommandExit: escape(state); break;
    case kCommandCancel: PostMessageW(state->dialog, WM_CLOSE, 0, 0); break;
    case kCommandMeasure: setMeasuring(state, !measureMode(view)); break;
    case kViewId:
        if (notification == kMeasureChanged) showMeasureLine(state);
        if (notification == kViewSectionMoved) showSectionLine(state);
        break;
    case kCommandSavePicture: savePicture(state); break;
    case kCommandCopyPicture: copyPicture(state); break;
    case kCommandPreviousFile: stepFile(state, false); break;
    case kCommandNextFile: stepFile(state, true); break;
    case kCommandTop: presetView(state, kViewTop); break;
    case kCommandLeft: presetView(state, kViewLeft); break;
    case kCommandFront: presetView(state, kViewFront); break;
    case kCommandResetView: {
        CameraAngles start = readStartAngles(state->preferences.keys);
        resetView(view, start.yaw, start.pitch);
        break;
    }
    case kCommandRotate:
        if (state->parts[0].view) startRotation(view);
        break;
    case kCommandSetStartView: setStartView(state); break;
    case kCommandSolid: selectRenderMode(state, kRenderSolid); break;
    case kCommandOutline: selectRenderMode(state, kRenderOutline); break;
    case kCommandWireframe: selectRenderMode(state, kRenderWireframe); break;
    case kCommandMetricUnits: selectUnits(state, false); break;
    case kCommandUsUnits: selectUnits(state, true); break;
    case kCommandDefaultMaterial: pickDefaultColor(state, kSettingObjectColor); break;
    case kCommandDefaultBackground: pickDefaultColor(state, kSettingBackgroundColor); break;
    case kCommandAbout: showAbout(state->dialog); break;
    case kCommandKeysAndMouse: showKeyHelp(state->dialog); break;
    case kCommandClearRecentFiles: forgetRecentFiles(state); break;
    case kSpaceComboId:
        if (notification == CBN_SELCHANGE) showModelDimensions(state);
        break;
    case kColorsComboId:
        if (notification == CBN_SELCHANGE) applyTriangleColourChoice(state);
        break;
    case kCommandSection:
    case kCommandSectionAxis:
    case kCommandFlipSection:
    case kCommandSectionForward:
    case kCommandSectionBack:
    case kCommandSectionFarForward:
    case kCommandSectionFarBack: changeSection(state, id); break;
    case kMaterialCheckId:
        state->overrideColor = (state->overrideColor & 0xFFFFFF) |
                               (IsDlgButtonChecked(state->dialog, kMaterialCheckId) == BST_CHECKED ? 0xFF000000 : 0);
        updatePartSwatch(state, 0);
        break;
    default:
        if (Setting setting; settingToggledBy(id, &setting)) toggleSetting(state, setting);
        else if (id >= kFirstSwatchId && id < kFirstSwatchId + kMaxParts && notification == STN_CLICKED)
            pickSwatchColor(state, id - kFirstSwatchId);
        else if (id >= kCommandFirstRecentFile && id < kCommandFirstRecentFile + kMaxRecentFiles)
            openRecentFile(state, id - kCommandFirstRecentFile);
        break;
    }
}
