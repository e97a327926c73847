#include "app/part_colors.h"

#include <initializer_list>

#include "app/part_tree.h"
#include "app/window_ids.h"
#include "stl/format_detection.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;  // the triangle colours show unchanged
constexpr uint32_t kOpaque = 0xFF000000;

// The box's items in order: "RGB", "BGR", "Off".
constexpr uint8_t kOrderOfChoice[3] = {kOrderRgb, kOrderBgr, kOrderNone};

// The part the triangle colour box speaks for: the one selected in the tree, else the first.
int triangleColorSlot(const Panel* panel, const ShownModel* model) {
    int slot = selectedSlot(panelItem(panel, kTreeId), model);
    return slot >= 0 ? slot : 0;
}

void setItemChoice(const Panel* panel, int id, LRESULT choice) {
    SendMessageW(panelItem(panel, id), CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
}

}  // namespace

void showPartFacts(Panel* panel, ShownModel* model, int slot) {
    const ModelPart& part = model->parts[slot];
    setItemChoice(panel, kSpaceComboId, part.metadata.coordinateSpace == kSpaceZUp ? 1 : 0);
    applyCoordinateSpace(panel);
    EnableWindow(panelItem(panel, kSpaceComboId), TRUE);
    EnableWindow(panelItem(panel, kSpaceLabelId), TRUE);
    if (part.format == kFormatAscii) {
        CheckDlgButton(panel->dialog, kMaterialCheckId, BST_UNCHECKED);
        return;
    }
    const uint8_t* header = part.metadata.headerColor;
    bool headerColor = header[0] | header[1] | header[2] | header[3];
    if (headerColor) model->overrideColor = header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    bool triangleColors = hasTriangleColors(&part);
    if (headerColor && !triangleColors) {
        CheckDlgButton(panel->dialog, kMaterialCheckId, BST_CHECKED);
    } else {
        CheckDlgButton(panel->dialog, kMaterialCheckId, BST_UNCHECKED);
        model->overrideColor &= ~kOpaque;
    }
}

void applyCoordinateSpace(const Panel* panel) {
    HWND view = panelItem(panel, kViewId);
    setYUp(view, SendMessageW(panelItem(panel, kSpaceComboId), CB_GETCURSEL, 0, 0) == 0);
    InvalidateRect(view, nullptr, FALSE);
}

void updatePartSwatch(Panel* panel, const ShownModel* model, uint32_t defaultColor, int slot) {
    if (panel->swatchBrushes[slot]) DeleteObject(panel->swatchBrushes[slot]);
    panel->swatchBrushes[slot] = nullptr;
    HWND view = panelItem(panel, kViewId);
    const ModelPart& part = model->parts[slot];
    if (model->overrideColor & kOpaque) {
        setMeshColor(view, model->overrideColor, slot);
        panel->swatchBrushes[slot] = CreateSolidBrush(model->overrideColor & 0xFFFFFF);
    } else {
        bool ownColors = hasTriangleColors(&part) && part.metadata.colorOrder != kOrderNone;
        setMeshColor(view, ownColors ? kOpaqueWhite : defaultColor, slot);
    }
    InvalidateRect(panelItem(panel, kFirstSwatchId + slot), nullptr, TRUE);
}

void followMaterialBox(Panel* panel, ShownModel* model, uint32_t defaultColor) {
    bool ticked = IsDlgButtonChecked(panel->dialog, kMaterialCheckId) == BST_CHECKED;
    model->overrideColor = (model->overrideColor & ~kOpaque) | (ticked ? kOpaque : 0);
    updatePartSwatch(panel, model, defaultColor, 0);
}

void enablePartControls(Panel* panel, const ShownModel* model, int first) {
    int used = usedPartCount(model);
    if (used == 1) {
        EnableWindow(panelItem(panel, kMaterialCheckId), TRUE);
        EnableWindow(panelItem(panel, kFirstSwatchId), TRUE);
        return;
    }
    for (int slot = first; slot < used; ++slot) {
        HWND swatch = panelItem(panel, kFirstSwatchId + slot);
        ShowWindow(swatch, SW_SHOW);
        EnableWindow(swatch, TRUE);
    }
    layoutForClient(panel, used);
}

void disablePartControls(Panel* panel) {
    for (int combo : {kSpaceComboId, kColorsComboId, kUnitComboId}) {
        setItemChoice(panel, combo, -1);
        EnableWindow(panelItem(panel, combo), FALSE);
    }
    for (int id : {kSpaceLabelId, kColorsLabelId, kUnitLabelId, kMaterialCheckId, kFirstSwatchId})
        EnableWindow(panelItem(panel, id), FALSE);
    CheckDlgButton(panel->dialog, kMaterialCheckId, BST_UNCHECKED);
    for (int slot = 1; slot < kMaxParts; ++slot) ShowWindow(panelItem(panel, kFirstSwatchId + slot), SW_HIDE);
}

void showTriangleColorChoice(const Panel* panel, const ShownModel* model) {
    const ModelPart& part = model->parts[triangleColorSlot(panel, model)];
    bool colors = hasTriangleColors(&part);
    int choice = -1;
    for (int item = 0; colors && item < 3; ++item)
        if (kOrderOfChoice[item] == part.metadata.colorOrder) choice = item;
    if (colors && choice < 0) choice = 0;  // an unstated order reads as RGB
    setItemChoice(panel, kColorsComboId, choice);
    EnableWindow(panelItem(panel, kColorsComboId), colors);
    EnableWindow(panelItem(panel, kColorsLabelId), colors);
}

void applyTriangleColorChoice(Panel* panel, ShownModel* model, uint32_t defaultColor, const MessageSink* sink) {
    int slot = triangleColorSlot(panel, model);
    ModelPart& part = model->parts[slot];
    LRESULT choice = SendMessageW(panelItem(panel, kColorsComboId), CB_GETCURSEL, 0, 0);
    if (!hasTriangleColors(&part) || choice < 0 || choice > 2) return;
    uint8_t order = kOrderOfChoice[choice];
    GpuMesh* mesh = static_cast<GpuMesh*>(part.gpuMesh);
    if (!recolourGpuMesh(panelItem(panel, kViewId), mesh, &part.mesh, order, part.heap, sink)) {
        showTriangleColorChoice(panel, model);  // back to what is shown
        return;
    }
    part.metadata.colorOrder = order;
    updatePartSwatch(panel, model, defaultColor, slot);
}
