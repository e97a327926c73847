#include "app/info_panel.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>

#include "app/commands.h"
#include "app/load_failure.h"
#include "app/open_files.h"
#include "core/code_page.h"
#include "core/log_sink.h"
#include "numfmt/length_format.h"
#include "numfmt/measure_format.h"
#include "app/panel_glyphs.h"
#include "app/preferences.h"
#include "app/surface_checks.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"

namespace {

constexpr uint32_t kWhiteNoOverride = 0x00FFFFFF;
constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

HTREEITEM insertItem(HWND tree, HTREEITEM parent, HTREEITEM after, const wchar_t* text, int stateImage,
                     LPARAM parameter) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<wchar_t*>(text);
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    insert.item.state = INDEXTOSTATEIMAGEMASK(stateImage);
    insert.item.lParam = parameter;
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

bool jobBroughtParts(const LoadJob* job) {
    const ModelPart* parts = static_cast<const ModelPart*>(job->parts.data);
    for (uint64_t i = 0; i < job->parts.used / sizeof(ModelPart); ++i)
        if (parts[i].view) return true;
    return false;
}

// Moves the finished job's parts into the free slots; returns the first slot filled, or -1.
int takeParts(MainDialogState* state, LoadJob* job) {
    int slot = usedPartCount(state);
    int first = -1;
    ModelPart* parts = static_cast<ModelPart*>(job->parts.data);
    uint64_t count = job->parts.used / sizeof(ModelPart);
    for (uint64_t i = 0; i < count; ++i) {
        if (!parts[i].view) continue;
        if (slot < kMaxParts) {
            if (first < 0) first = slot;
            state->parts[slot++] = parts[i];
        } else {
            // No slot left: this part is never shown, so it goes now.
            if (parts[i].gpuMesh) releaseGpuMesh(static_cast<GpuMesh*>(parts[i].gpuMesh));
            destroyPrivateHeap(parts[i].heap);
            unmapFile(parts[i].view, parts[i].viewSize);
        }
        parts[i].view = nullptr;
    }
    return first;
}

void showFileFacts(MainDialogState* state, const ModelPart& part) {
    HWND dialog = state->dialog;
    bool zUp = part.metadata.coordinateSpace == 2;
    SendDlgItemMessageW(dialog, kSpaceComboId, CB_SETCURSEL, zUp ? 1 : 0, 0);
    HWND view = dialogItem(state, kViewId);
    setYUp(view, !zUp);
    InvalidateRect(view, nullptr, FALSE);
    EnableWindow(dialogItem(state, kSpaceComboId), TRUE);
    EnableWindow(dialogItem(state, kSpaceLabelId), TRUE);
    if (part.format == 4) {
        setPanelText(dialogItem(state, kKindLineId), L"ASCII STL");
        CheckDlgButton(dialog, kMaterialCheckId, BST_UNCHECKED);
        return;
    }
    setPanelText(dialogItem(state, kKindLineId), L"Binary STL");
    const uint8_t* header = part.metadata.headerColor;
    bool headerColour = header[0] | header[1] | header[2] | header[3];
    if (headerColour) state->overrideColor = header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    bool triangleColours = part.mesh.solidCount && part.mesh.solids[0].hasColours;
    if (headerColour && !triangleColours) {
        CheckDlgButton(dialog, kMaterialCheckId, BST_CHECKED);
    } else {
        CheckDlgButton(dialog, kMaterialCheckId, BST_UNCHECKED);
        state->overrideColor &= 0x00FFFFFF;
    }
}

bool hasTriangleColours(const ModelPart& part) {
    return part.view && part.format == 5 && part.mesh.solidCount && part.mesh.solids[0].hasColours;
}

// The box's items in order: "RGB", "BGR", "Off".
constexpr uint8_t kOrderOfChoice[3] = {kOrderRgb, kOrderBgr, kOrderNone};

// "Part 4: ", a count, " triangles, ", an area, ", ", a volume or why there
// is none, " (inside out)" and a terminator.
constexpr int kFactsTextCapacity = 9 + kMaxCountText + 12 + kMaxMeasureText + 2 + kMaxMeasureText + 40 + 1;

wchar_t* appendWide(wchar_t* out, const wchar_t* text) {
    while (*text) *out++ = *text++;
    return out;
}

// The part slot of the tree's selected item, or -1 when nothing is selected.
int selectedSlot(const MainDialogState* state) {
    HWND tree = dialogItem(state, kTreeId);
    TVITEMW item{};
    item.mask = TVIF_HANDLE | TVIF_PARAM;
    item.hItem = TreeView_GetSelection(tree);
    if (!item.hItem || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    int slot = static_cast<int>(item.lParam >> 24);
    return slot < usedPartCount(state) ? slot : -1;
}

void installParts(MainDialogState* state, int first) {
    HWND view = dialogItem(state, kViewId);
    if (first == 0) {
        CameraAngles start = readStartAngles(state->preferences.keys);
        resetView(view, start.yaw, start.pitch);
    }
    for (int slot = first; slot < usedPartCount(state); ++slot) {
        installMesh(view, static_cast<GpuMesh*>(state->parts[slot].gpuMesh), slot == 0);
        if (slot == 0) updatePartSwatch(state, 0);
    }
}

void enablePartControls(MainDialogState* state, int first) {
    int used = usedPartCount(state);
    enablePictureCommands(state->menu, true);
    if (used == 1) {
        EnableWindow(dialogItem(state, kMaterialCheckId), TRUE);
        EnableWindow(dialogItem(state, kFirstSwatchId), TRUE);
        EnableMenuItem(state->menu, kCommandAddParts, MF_BYCOMMAND | MF_ENABLED);
        return;
    }
    for (int slot = first; slot < used; ++slot) {
        HWND swatch = dialogItem(state, kFirstSwatchId + slot);
        ShowWindow(swatch, SW_SHOW);
        EnableWindow(swatch, TRUE);
    }
    RECT client;
    GetClientRect(state->dialog, &client);
    layoutDialog(state, client.right, client.bottom);
    EnableMenuItem(state->menu, kCommandAddParts, MF_BYCOMMAND | (used < kMaxParts ? MF_ENABLED : MF_GRAYED));
}

void emptyPanel(MainDialogState* state) {
    HWND dialog = state->dialog;
    clearMeshes(dialogItem(state, kViewId));
    setPanelText(dialogItem(state, kKindLineId), L"");
    setPanelText(dialogItem(state, kSizeLineId), L"");
    setPanelText(dialogItem(state, kFactsLineId), L"");
    setPanelText(dialogItem(state, kSectionLineId), L"");
    setPanelText(dialogItem(state, kCheckLineId), L"");
    setPanelText(dialogItem(state, kMeasureLineId), L"");
    CheckDlgButton(dialog, kMaterialCheckId, BST_UNCHECKED);
    EnableWindow(dialogItem(state, kMaterialCheckId), FALSE);
    EnableWindow(dialogItem(state, kFirstSwatchId), FALSE);
    SendDlgItemMessageW(dialog, kSpaceComboId, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendDlgItemMessageW(dialog, kColorsComboId, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

}  // namespace

wchar_t* partItemText(const ModelPart* part, uint32_t index) {
    const CountedText* name = index == 0 ? &part->metadata.modelName : &part->mesh.solids[index - 1].name;
    if (name->length == 0) return nullptr;
    wchar_t* text = static_cast<wchar_t*>(allocArray(processHeap(), 2 * uint64_t{name->length} + 1, sizeof(wchar_t), nullptr));
    if (!text) return nullptr;
    wchar_t* end = widenCountedText(name, text);
    *end = 0;
    for (wchar_t* unit = text; unit < end; ++unit)
        if (*unit < 0x20) *unit = static_cast<wchar_t>(0x2400 + *unit);
    return text;
}

void fillPartTree(HWND tree, const ModelPart* part, const uint8_t* visibleSolids, int slot) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    if (slot == 0) SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    LPARAM slotBits = static_cast<LPARAM>(slot) << 24;
    wchar_t* fileText = partItemText(part, 0);
    const wchar_t* shownName = fileText ? fileText : part->fileName ? part->fileName : L"File";
    HTREEITEM file = insertItem(tree, TVI_ROOT, TVI_LAST, shownName, 2, slotBits | kTreeFileItem);
    freeBytes(fileText);
    uint32_t listedEnd = firstUnlistedSolid(part);
    uint32_t unlisted = 0;
    bool unlistedVisible = false;
    for (uint32_t solid = listedEnd; solid < part->mesh.solidCount; ++solid) {
        if (part->mesh.solids[solid].triangleCount == 0) continue;
        ++unlisted;
        unlistedVisible |= visibleSolids[solid] != 0;
    }
    if (file && unlisted) {
        wchar_t text[kMaxCountText + 16];
        *appendWide(formatCount(text, unlisted), L" more solids") = 0;
        insertItem(tree, file, TVI_FIRST, text, unlistedVisible ? 2 : 1, slotBits | kTreeMoreItem);
    }
    if (file) {
        for (uint32_t solid = listedEnd; solid-- > 0;) {
            if (part->mesh.solids[solid].triangleCount == 0) continue;  // counted in the messages, nothing to show
            wchar_t* text = partItemText(part, solid + 1);
            insertItem(tree, file, TVI_FIRST, text ? text : L"Object", visibleSolids[solid] ? 2 : 1,
                       slotBits | static_cast<LPARAM>(solid));
            freeBytes(text);
        }
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(file));
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
}

void updatePartSwatch(MainDialogState* state, int slot) {
    if (state->swatchBrushes[slot]) DeleteObject(state->swatchBrushes[slot]);
    state->swatchBrushes[slot] = nullptr;
    HWND view = dialogItem(state, kViewId);
    const ModelPart& part = state->parts[slot];
    if (state->overrideColor >> 24) {
        setMeshColor(view, state->overrideColor, slot);
        state->swatchBrushes[slot] = CreateSolidBrush(state->overrideColor & 0xFFFFFF);
    } else {
        bool ownColours = hasTriangleColours(part) && part.metadata.colorOrder != kOrderNone;
        setMeshColor(view, ownColours ? kOpaqueWhite : state->preferences.values[kSettingObjectColor], slot);
    }
    InvalidateRect(dialogItem(state, kFirstSwatchId + slot), nullptr, TRUE);
}

void showModelDimensions(MainDialogState* state) {
    LRESULT selection = SendDlgItemMessageW(state->dialog, kSpaceComboId, CB_GETCURSEL, 0, 0);
    bool yUp = selection == 0;
    HWND view = dialogItem(state, kViewId);
    setYUp(view, yUp);
    InvalidateRect(view, nullptr, FALSE);
    float boundsMin[3], boundsMax[3];
    for (int axis = 0; axis < 3; ++axis) {
        boundsMin[axis] = INFINITY;
        boundsMax[axis] = -INFINITY;
    }
    for (int slot = 0; slot < usedPartCount(state); ++slot) {
        const GpuMesh* mesh = static_cast<const GpuMesh*>(state->parts[slot].gpuMesh);
        for (int axis = 0; axis < 3; ++axis) {
            if (mesh->boundsMin[axis] < boundsMin[axis]) boundsMin[axis] = mesh->boundsMin[axis];
            if (mesh->boundsMax[axis] > boundsMax[axis]) boundsMax[axis] = mesh->boundsMax[axis];
        }
    }
    wchar_t line[kDimensionsTextCapacity];
    *formatModelDimensions(line, boundsMin, boundsMax, yUp, flagOn(&state->preferences, kSettingUsUnits)) = 0;
    setPanelText(dialogItem(state, kSizeLineId), line);
    showModelFacts(state);
    showMeasureLine(state);
    showSectionLine(state);
}

void showSectionLine(MainDialogState* state) {
    HWND view = dialogItem(state, kViewId);
    const ViewState* viewState = viewStateOf(view);
    SectionPlane section = viewSection(view);
    if (!viewState || !section.on || !state->parts[0].view) {
        setPanelText(dialogItem(state, kSectionLineId), L"");
        return;
    }
    // The view's box is the union of the parts' boxes, in the files' axes.
    float boundsMin[3], boundsMax[3];
    memcpy(boundsMin, viewState->boundsMin, sizeof boundsMin);
    memcpy(boundsMax, viewState->boundsMax, sizeof boundsMax);
    int axis = section.axis % 3;
    wchar_t line[kSectionTextCapacity];
    formatSectionLine(line, axis, sectionPlace(&section, boundsMin, boundsMax), boundsMax[axis] - boundsMin[axis],
                      flagOn(&state->preferences, kSettingUsUnits));
    setPanelText(dialogItem(state, kSectionLineId), line);
}

void showMeasureLine(MainDialogState* state) {
    MeasureMarks marks = measureMarks(dialogItem(state, kViewId));
    wchar_t line[kMeasureTextCapacity] = L"";
    bool us = flagOn(&state->preferences, kSettingUsUnits);
    if (marks.count == 1) formatMeasurePoint(line, marks.points[0], us);
    if (marks.count == 2) formatMeasureDistance(line, marks.points[0], marks.points[1], us);
    setPanelText(dialogItem(state, kMeasureLineId), line);
}

void showModelFacts(MainDialogState* state) {
    int parts = usedPartCount(state);
    int selected = selectedSlot(state);
    MeshFacts total{0, 0, 0};
    // A volume means something only for closed parts whose faces agree.
    const wchar_t* noVolume = nullptr;
    bool insideOut = false;
    for (int slot = 0; slot < parts; ++slot) {
        if (selected >= 0 && slot != selected) continue;
        const MeshFacts& facts = static_cast<const GpuMesh*>(state->parts[slot].gpuMesh)->facts;
        total.triangleCount += facts.triangleCount;
        total.surfaceArea += facts.surfaceArea;
        total.volume += fabs(facts.volume);
        const PartCheck& check = state->checks[slot];
        // Nothing while the check runs (the check line says so): a longer
        // passing text would wrap and move the rows below twice.
        if (check.state == kCheckPending) noVolume = L"";
        else if (noVolume) continue;
        else if (check.state != kCheckDone) noVolume = L"volume: surface not checked";
        else if (!check.result.closed) noVolume = L"volume: surface not closed";
        else if (check.result.flippedEdges) noVolume = L"volume: faces turned the wrong way";
        else insideOut |= check.result.insideOut != 0;
    }
    showCheckLine(state, selected);
    if (parts == 0) {
        setPanelText(dialogItem(state, kFactsLineId), L"");
        fitWrappedTexts(state);
        return;
    }
    wchar_t line[kFactsTextCapacity];
    wchar_t* out = line;
    if (selected >= 0 && parts > 1) out += wsprintfW(out, L"Part %d: ", selected + 1);
    out = formatCount(out, total.triangleCount);
    out = appendWide(out, total.triangleCount == 1 ? L" triangle, " : L" triangles, ");
    out = formatArea(out, total.surfaceArea, flagOn(&state->preferences, kSettingUsUnits));
    if (noVolume) {
        if (*noVolume) out = appendWide(appendWide(out, L", "), noVolume);
    } else {
        out = appendWide(out, L", ");
        out = formatVolume(out, total.volume, flagOn(&state->preferences, kSettingUsUnits));
        if (insideOut) out = appendWide(out, L" (inside out)");
    }
    *out = 0;
    setPanelText(dialogItem(state, kFactsLineId), line);
    fitWrappedTexts(state);
}

namespace {

// The tree leaves solids without triangles out; the messages still count them.
void noteEmptySolids(HWND messages, const ModelPart& part) {
    uint64_t empty = 0;
    for (uint32_t solid = 0; solid < part.mesh.solidCount; ++solid) empty += part.mesh.solids[solid].triangleCount == 0;
    if (!empty) return;
    wchar_t line[kMaxCountText + 64];
    *appendWide(formatCount(line, empty), empty == 1 ? L" solid without triangles, not listed in the tree\r\n"
                                                      : L" solids without triangles, not listed in the tree\r\n") = 0;
    appendText(messages, line);
}

}  // namespace

void showLoadResult(MainDialogState* state, LoadJob* job) {
    HWND dialog = state->dialog;
    HWND messages = dialogItem(state, kMessagesId);
    if (job->state != kLoadStopped && job->messages.used)
        appendText(messages, static_cast<const wchar_t*>(job->messages.data));
    bool replace = state->replaceModel;
    state->replaceModel = 0;
    if (replace && jobBroughtParts(job)) clearModel(state);
    int first = takeParts(state, job);
    state->overrideColor = kWhiteNoOverride;
    if (first >= 0) {
        appendText(messages, L"file loaded successfully\r\n");
        HWND tree = dialogItem(state, kTreeId);
        for (int slot = first; slot < usedPartCount(state); ++slot) {
            fillPartTree(tree, &state->parts[slot], state->parts[slot].visibleSolids, slot);
            noteEmptySolids(messages, state->parts[slot]);
        }
        showFileFacts(state, state->parts[first]);
        showModelDimensions(state);
        installParts(state, first);
        showSectionLine(state);  // the section starts in the middle of the new box
        enablePartControls(state, first);
        for (int slot = first; slot < usedPartCount(state); ++slot) state->checks[slot].state = kCheckPending;
    } else {
        if (usedPartCount(state) == 0) emptyPanel(state);
        if (job->state != kLoadStopped) showLoadFailure(state, fileNameOf(job->fileList.path));
    }
    showTriangleColourChoice(state);
    state->currentJob = nullptr;
    showViewArea(state);
    HWND view = dialogItem(state, kViewId);
    if (state->parts[0].view) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(view), TRUE);
    // The panel and the messages first: a heavy model's first frame may take a while.
    ValidateRect(view, nullptr);
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    InvalidateRect(view, nullptr, FALSE);
    // After the model is on screen, so the first frame does not wait for it.
    if (first >= 0) {
        showModelFacts(state);
        startSurfaceChecks(state);
    }
}

namespace {

// The part the triangle colour box speaks for: the one selected in the tree, else the first.
int triangleColourSlot(const MainDialogState* state) {
    int slot = selectedSlot(state);
    return slot >= 0 ? slot : 0;
}

}  // namespace

void showTriangleColourChoice(MainDialogState* state) {
    const ModelPart& part = state->parts[triangleColourSlot(state)];
    bool colours = hasTriangleColours(part);
    int choice = -1;
    for (int item = 0; colours && item < 3; ++item)
        if (kOrderOfChoice[item] == part.metadata.colorOrder) choice = item;
    if (colours && choice < 0) choice = 0;  // an unstated order reads as RGB
    SendDlgItemMessageW(state->dialog, kColorsComboId, CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
    EnableWindow(dialogItem(state, kColorsComboId), colours);
    EnableWindow(dialogItem(state, kColorsLabelId), colours);
}

void applyTriangleColourChoice(MainDialogState* state) {
    int slot = triangleColourSlot(state);
    ModelPart& part = state->parts[slot];
    LRESULT choice = SendDlgItemMessageW(state->dialog, kColorsComboId, CB_GETCURSEL, 0, 0);
    if (!hasTriangleColours(part) || choice < 0 || choice > 2) return;
    uint8_t order = kOrderOfChoice[choice];
    GpuMesh* mesh = static_cast<GpuMesh*>(part.gpuMesh);
    if (!recolourGpuMesh(dialogItem(state, kViewId), mesh, &part.mesh, order, part.heap, &state->sink.self)) {
        showTriangleColourChoice(state);  // back to what is shown
        return;
    }
    part.metadata.colorOrder = order;
    updatePartSwatch(state, slot);
}

uint32_t firstUnlistedSolid(const ModelPart* part) {
    uint32_t listed = 0, solid = 0;
    for (; solid < part->mesh.solidCount && listed < kMaxTreeSolids; ++solid)
        listed += part->mesh.solids[solid].triangleCount != 0;
    return solid;
}

bool setItemSolidsVisible(MainDialogState* state, LPARAM parameter, bool visible) {
    uint32_t slot = static_cast<uint32_t>(parameter >> 24);
    uint32_t item = static_cast<uint32_t>(parameter & 0xFFFFFF);
    if (slot >= kMaxParts || !state->parts[slot].view) return false;
    ModelPart& part = state->parts[slot];
    uint32_t first = item, end = item + 1;
    if (item == kTreeMoreItem) {
        first = firstUnlistedSolid(&part);
        end = part.mesh.solidCount;
    }
    bool changed = false;
    for (uint32_t solid = first; solid < end && solid < part.mesh.solidCount; ++solid) {
        uint8_t* byte = &part.visibleSolids[solid];
        changed |= *byte != visible;
        *byte = visible;
    }
    return changed;
}
