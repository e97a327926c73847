#include "app/part_tree.h"

#include "app/panel_text.h"
#include "core/memory.h"

namespace {

constexpr int kUnchecked = 1, kChecked = 2;  // the state images of the check boxes

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

uint32_t slotOf(LPARAM parameter) {
    return static_cast<uint32_t>(parameter >> 24);
}

uint32_t itemOf(LPARAM parameter) {
    return static_cast<uint32_t>(parameter & 0xFFFFFF);
}

bool itemChecked(HWND tree, HTREEITEM item, LPARAM* parameter) {
    TVITEMW fields{};
    fields.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
    fields.hItem = item;
    fields.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
    *parameter = fields.lParam;
    return (fields.state & TVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(kChecked);
}

void tickItem(HWND tree, HTREEITEM item) {
    TVITEMW fields{};
    fields.mask = TVIF_HANDLE | TVIF_STATE;
    fields.hItem = item;
    fields.stateMask = TVIS_STATEIMAGEMASK;
    fields.state = INDEXTOSTATEIMAGEMASK(kChecked);
    SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
}

}  // namespace

void fillPartTree(HWND tree, const ModelPart* part, int slot) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    if (slot == 0) SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    LPARAM slotBits = static_cast<LPARAM>(slot) << 24;
    const uint8_t* visibleSolids = part->visibleSolids;
    wchar_t* fileText = partItemText(part, 0);
    const wchar_t* shownName = fileText ? fileText : part->fileName ? part->fileName : L"File";
    HTREEITEM file = insertItem(tree, TVI_ROOT, TVI_LAST, shownName, kChecked, slotBits | kTreeFileItem);
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
        writeMoreSolids(text, unlisted, kUserLocale);
        insertItem(tree, file, TVI_FIRST, text, unlistedVisible ? kChecked : kUnchecked, slotBits | kTreeMoreItem);
    }
    if (file) {
        for (uint32_t solid = listedEnd; solid-- > 0;) {
            if (part->mesh.solids[solid].triangleCount == 0) continue;  // counted in the messages, nothing to show
            wchar_t* text = partItemText(part, solid + 1);
            insertItem(tree, file, TVI_FIRST, text ? text : L"Object", visibleSolids[solid] ? kChecked : kUnchecked,
                       slotBits | static_cast<LPARAM>(solid));
            freeBytes(text);
        }
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(file));
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
}

void clearPartTree(HWND tree) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
}

int selectedSlot(HWND tree, const ShownModel* model) {
    TVITEMW item{};
    item.mask = TVIF_HANDLE | TVIF_PARAM;
    item.hItem = TreeView_GetSelection(tree);
    if (!item.hItem || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    int slot = static_cast<int>(slotOf(item.lParam));
    return slot < usedPartCount(model) ? slot : -1;
}

LRESULT treeItemChanging(ShownModel* model, const NMTVITEMCHANGE* change) {
    if ((change->uStateNew & TVIS_STATEIMAGEMASK) == (change->uStateOld & TVIS_STATEIMAGEMASK)) return -1;
    uint32_t slot = slotOf(change->lParam), item = itemOf(change->lParam);
    if (item == kTreeFileItem) return 1;
    if (!slotInUse(model, static_cast<int>(slot)) ||
        (item != kTreeMoreItem && item >= model->parts[slot].mesh.solidCount))
        return 1;
    bool checked = (change->uStateNew & TVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(kChecked);
    setItemSolidsVisible(model, slot, item, checked);
    return 0;
}

bool applyTreeChecks(HWND tree, ShownModel* model) {
    bool changed = false;
    LPARAM parameter;
    for (HTREEITEM file = TreeView_GetRoot(tree); file; file = TreeView_GetNextSibling(tree, file)) {
        if (!itemChecked(tree, file, &parameter)) tickItem(tree, file);
        for (HTREEITEM solid = TreeView_GetChild(tree, file); solid; solid = TreeView_GetNextSibling(tree, solid)) {
            bool visible = itemChecked(tree, solid, &parameter);
            changed |= setItemSolidsVisible(model, slotOf(parameter), itemOf(parameter), visible);
        }
    }
    return changed;
}
