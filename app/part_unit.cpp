#include "app/part_unit.h"

#include "app/part_tree.h"
#include "app/window_ids.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"

namespace {

struct UnitItem {
    const wchar_t* text;
    float metres;
};
constexpr UnitItem kUnitItems[] = {{L"mm", kMillimetre}, {L"cm", kCentimetre}, {L"m", kMetre}, {L"inch", kInch}};
constexpr int kUnitItemCount = sizeof kUnitItems / sizeof kUnitItems[0];

int unitSlot(const Panel* panel, const ShownModel* model) {
    int slot = selectedSlot(panelItem(panel, kTreeId), model);
    return slot >= 0 ? slot : 0;
}

}  // namespace

void fillUnitBox(const Panel* panel) {
    HWND box = panelItem(panel, kUnitComboId);
    for (const UnitItem& item : kUnitItems) SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text));
}

void showPartUnit(const Panel* panel, const ShownModel* model) {
    int slot = unitSlot(panel, model);
    bool shown = slotInUse(model, slot) && model->parts[slot].gpuMesh;
    int choice = -1;
    for (int item = 0; shown && item < kUnitItemCount; ++item)
        if (model->parts[slot].metadata.unitScale == kUnitItems[item].metres) choice = item;
    SendMessageW(panelItem(panel, kUnitComboId), CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
    EnableWindow(panelItem(panel, kUnitComboId), shown);
    EnableWindow(panelItem(panel, kUnitLabelId), shown);
}

bool applyUnitChoice(const Panel* panel, ShownModel* model) {
    int slot = unitSlot(panel, model);
    LRESULT choice = SendMessageW(panelItem(panel, kUnitComboId), CB_GETCURSEL, 0, 0);
    if (!slotInUse(model, slot) || !model->parts[slot].gpuMesh || choice < 0 || choice >= kUnitItemCount) return false;
    StlMetadata& metadata = model->parts[slot].metadata;
    float metres = kUnitItems[choice].metres;
    if (metadata.unitScale == metres && !metadata.unitAssumed) return false;
    metadata.unitScale = metres;
    metadata.unitAssumed = 0;
    setMeshUnit(panelItem(panel, kViewId), static_cast<GpuMesh*>(model->parts[slot].gpuMesh), metres);
    return true;
}
