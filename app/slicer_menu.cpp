#include "app/slicer_menu.h"

#include <cmath>

#include "app/model_saving.h"
#include "app/slicer_discovery.h"
#include "app/slicer_launch.h"
#include "app/window_ids.h"
#include "view/gpu_mesh.h"

namespace {

// The position in the File menu of the item or submenu made for the slicers; -1 if none.
int slicerItemPosition(HMENU file) {
    int count = GetMenuItemCount(file);
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID;
        if (GetMenuItemInfoW(file, position, TRUE, &item) &&
            (item.wID == kCommandOpenInSlicer || item.wID == kCommandFirstSlicer))
            return position;
    }
    return -1;
}

bool partNeedsFixing(const ModelPart* part, const PartCheck* check) {
    if (!part->filePath) return true;
    float scale = part->metadata.unitScale;
    if (!part->metadata.unitAssumed && !std::isnan(scale) && scale != 0.001f) return true;
    const GpuMesh* gpu = static_cast<const GpuMesh*>(part->gpuMesh);
    if (gpu && gpu->placed) return true;
    if (part->visibleSolids)
        for (uint32_t k = 0; k < part->mesh.solidCount; ++k)
            if (!part->visibleSolids[k]) return true;
    // A check not yet done may yet find faults: the copy mends whatever there is.
    if (check->state != kCheckDone) return true;
    const SurfaceCheck& result = check->result;
    return !result.closed || result.flippedEdges || result.degenerateTriangles || result.insideOut;
}

bool shownWithYUp(MainDialogState* state) {
    return SendMessageW(panelItem(&state->panel, kSpaceComboId), CB_GETCURSEL, 0, 0) == 0;
}

}  // namespace

void refreshSlicerMenu(MainDialogState* state) {
    HMENU file = state->menu ? GetSubMenu(state->menu, 0) : nullptr;
    int position = file ? slicerItemPosition(file) : -1;
    if (position < 0) return;
    FoundSlicer found[kSlicerKinds];
    int count = findSlicers(found);
    bool shown = slotInUse(&state->model, 0);
    DeleteMenu(file, position, MF_BYPOSITION);  // a submenu goes with it
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE;
    item.fState = shown && count ? MFS_ENABLED : MFS_GRAYED;
    wchar_t text[64];
    if (count == 0) {
        item.wID = kCommandOpenInSlicer;
        item.dwTypeData = const_cast<wchar_t*>(L"Open &in slicer (no PrusaSlicer, Bambu Studio, OrcaSlicer or Cura found)");
    }
    else if (count == 1) {
        item.wID = kCommandFirstSlicer;
        lstrcatW(lstrcpyW(text, L"Open &in "), found[0].name);
        item.dwTypeData = text;
    }
    else {
        HMENU slicers = CreatePopupMenu();
        for (int k = 0; k < count; ++k) AppendMenuW(slicers, MF_STRING, kCommandFirstSlicer + k, found[k].name);
        item.fMask |= MIIM_SUBMENU;
        item.hSubMenu = slicers;
        item.wID = kCommandOpenInSlicer;
        item.dwTypeData = const_cast<wchar_t*>(L"Open &in slicer");
    }
    InsertMenuItemW(file, position, TRUE, &item);
}

bool needsFixedCopy(const ShownModel* model, bool yUp) {
    if (yUp) return true;
    for (int slot = 0; slotInUse(model, slot); ++slot)
        if (partNeedsFixing(&model->parts[slot], &model->checks[slot])) return true;
    return false;
}

bool fixedCopyPath(const ModelPart* part, wchar_t* path, uint32_t capacity) {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || !part->fileName) return false;
    const wchar_t* name = part->fileName;
    int stem = lstrlenW(name);
    for (int at = stem; at > 0; --at)
        if (name[at - 1] == '.') {
            stem = at - 1;
            break;
        }
    const wchar_t tail[] = L"-fixed.3mf";
    if (length + stem + ARRAYSIZE(tail) > capacity) return false;
    lstrcpyW(path, folder);
    lstrcpynW(path + length, name, stem + 1);
    lstrcatW(path, tail);
    return true;
}

void openInSlicer(MainDialogState* state, int slicer) {
    const ShownModel* model = &state->model;
    FoundSlicer found[kSlicerKinds];
    if (!slotInUse(model, 0) || slicer >= findSlicers(found)) return;
    const MessageSink* sink = &state->sink.self;
    if (!needsFixedCopy(model, shownWithYUp(state))) {
        const wchar_t* files[kMaxParts];
        int count = usedPartCount(model);
        for (int slot = 0; slot < count; ++slot) files[slot] = model->parts[slot].filePath;
        startSlicer(found[slicer].program, files, count, sink);
        return;
    }
    wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), sink));
    if (!path) return;
    // Every repair: the user asked for a file the slicer can print, not for choices.
    if (fixedCopyPath(&model->parts[0], path, kFileListUnits) && saveModelTo(state, path, RepairChoice{1, 1, 1, 1})) {
        const wchar_t* files[] = {path};
        startSlicer(found[slicer].program, files, 1, sink);
    }
    freeBytes(path);
}
