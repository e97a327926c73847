#include "app/file_dialogs.h"

#include <commdlg.h>

namespace {

// Shared by every Color dialog of the run, never saved.
COLORREF customColors[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                             0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};

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
    dialog.lpstrFilter = L"Mesh files (*.stl;*.3mf)\0*.stl;*.3mf\0Stereolithography (*.stl)\0*.stl\0"
                         L"3D Manufacturing Format (*.3mf)\0*.3mf\0All Files\0*.*\0";
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

bool choosePicturePath(HWND owner, wchar_t* path, uint32_t capacity) {
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"PNG picture (*.png)\0*.png\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = capacity;
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = L"png";
    return GetSaveFileNameW(&dialog);
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
