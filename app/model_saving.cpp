#include "app/model_saving.h"

#include <commdlg.h>

#include "app/dialog_template.h"
#include "app/view_picture.h"
#include "app/window_ids.h"

namespace {

constexpr WORD kFirstRepairBoxId = 300;
const wchar_t* const kRepairLabels[kRepairOptions] = {
    L"Turn faces outwards, one way within each shell",
    L"Drop triangles without area",
    L"Drop duplicate triangles",
    L"Close holes of up to 400 edges",
};

INT_PTR CALLBACK repairOptionsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const uint8_t* choice = reinterpret_cast<const uint8_t*>(lParam);
        for (int k = 0; k < kRepairOptions; ++k)
            CheckDlgButton(dialog, kFirstRepairBoxId + k, choice[k] ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    case WM_COMMAND: {
        WORD id = LOWORD(wParam);
        if (id == IDOK) {
            uint8_t* choice = reinterpret_cast<uint8_t*>(GetWindowLongPtrW(dialog, DWLP_USER));
            for (int k = 0; k < kRepairOptions; ++k)
                choice[k] = IsDlgButtonChecked(dialog, kFirstRepairBoxId + k) == BST_CHECKED;
        }
        if (id == IDOK || id == IDCANCEL) EndDialog(dialog, id);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// Every repair is on by default: each only mends what the check finds wrong.
bool chooseRepairs(HWND owner, RepairChoice* choice) {
    static_assert(sizeof(RepairChoice) == kRepairOptions);
    *choice = RepairChoice{1, 1, 1, 1};
    alignas(4) WORD dialogTemplate[kRepairOptionsTemplateWords];
    buildRepairOptionsTemplate(dialogTemplate, kFirstRepairBoxId, kRepairLabels);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner,
                                   repairOptionsProcedure, reinterpret_cast<LPARAM>(choice)) == IDOK;
}

bool endsWithCaseless(const wchar_t* text, const wchar_t* end) {
    int length = lstrlenW(text), endLength = lstrlenW(end);
    return length >= endLength && lstrcmpiW(text + length - endLength, end) == 0;
}

// The file type chooses the format of a name typed without .stl or .3mf; a
// name typed with one of them is taken as it is.
bool chooseModelPath(HWND owner, wchar_t* path, uint32_t capacity) {
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Binary STL (*.stl)\0*.stl\0" L"3D Manufacturing Format (*.3mf)\0*.3mf\0";
    dialog.nFilterIndex = endsWithCaseless(path, L".3mf") ? 2 : 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = capacity - 5;
    dialog.lpstrTitle = L"Save as";
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
    // The chosen file type's extension is added where none is typed, before the overwrite question.
    dialog.lpstrDefExt = L"stl";
    if (!GetSaveFileNameW(&dialog)) return false;
    if (!endsWithCaseless(path, L".stl") && !endsWithCaseless(path, L".3mf"))
        lstrcatW(path, dialog.nFilterIndex == 2 ? L".3mf" : L".stl");
    return true;
}

}  // namespace

void proposeSavePath(const ModelPart* part, uint32_t format, wchar_t* path, uint32_t capacity) {
    proposeBeside(part, format == kSave3mf ? L"-fixed.3mf" : L"-fixed.stl", path, capacity);
}

bool saveModelTo(MainDialogState* state, const wchar_t* path, const RepairChoice& repairs) {
    bool yUp = SendMessageW(panelItem(&state->panel, kSpaceComboId), CB_GETCURSEL, 0, 0) == 0;
    HCURSOR before = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SaveOutcome outcome;
    bool saved = saveShownModel(&state->model, path, repairs, yUp, &outcome, &state->sink.self);
    SetCursor(before);
    return saved;
}

void saveModelAs(MainDialogState* state) {
    if (!slotInUse(&state->model, 0)) return;
    RepairChoice repairs;
    if (!chooseRepairs(state->dialog, &repairs)) return;
    wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), &state->sink.self));
    if (!path) return;
    proposeSavePath(&state->model.parts[0], kSaveBinaryStl, path, kFileListUnits - 5);
    if (chooseModelPath(state->dialog, path, kFileListUnits)) saveModelTo(state, path, repairs);
    freeBytes(path);
}
