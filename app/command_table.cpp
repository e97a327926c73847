#include "app/command_table.h"

#include "app/window_ids.h"

namespace {

constexpr WORD kEnd = MF_END;
constexpr BYTE kKey = FVIRTKEY;
constexpr BYTE kCtrl = FVIRTKEY | FCONTROL;
constexpr BYTE kShift = FVIRTKEY | FSHIFT;

const CommandRow kRows[] = {
    {MF_POPUP, 0, L"&File", 0, 0},
    {0, kCommandOpen, L"&Open \u2026\tCtrl+O", kCtrl, 'O'},
    {0, kCommandAddParts, L"&Add parts \u2026\tCtrl+A", kCtrl, 'A'},
    {MF_POPUP, 0, L"&Recent files", 0, 0},
    {kEnd, kCommandClearRecentFiles, L"&Clear list", 0, 0},
    {0, kCommandPreviousFile, L"&Previous file\tLeft", kDialogKey, VK_LEFT},
    {0, kCommandNextFile, L"&Next file\tRight", kDialogKey, VK_RIGHT},
    {0, kCommandReloadOnChange, L"Reload when the file changes\t", 0, 0},
    {0, 0, L"", 0, 0},
    {0, kCommandSavePicture, L"&Save picture \u2026\tCtrl+S", kCtrl, 'S'},
    {0, kCommandCopyPicture, L"&Copy picture\tCtrl+C", kCtrl, 'C'},
    {0, kCommandSaveModel, L"Save &as \u2026\tCtrl+Shift+S", kCtrl | FSHIFT, 'S'},
    {0, kCommandOpenInSlicer, L"Open &in slicer", 0, 0},  // made anew as the menu opens (slicer_menu.h)
    {0, 0, L"", 0, 0},
    {kEnd, kCommandExit, L"&Exit\tEsc", kKey, VK_ESCAPE},
    {MF_POPUP, 0, L"&View", 0, 0},
    {0, kCommandFlipZoom, L"Invert mouse wheel &zoom\t", 0, 0},
    {0, 0, L"", 0, 0},
    {0, kCommandTop, L"&Top\tF2", kKey, VK_F2},
    {0, kCommandLeft, L"&Left\tF3", kKey, VK_F3},
    {0, kCommandFront, L"&Front\tF4", kKey, VK_F4},
    {0, kCommandBottom, L"&Bottom\tShift+F2", kShift, VK_F2},
    {0, kCommandRight, L"Ri&ght\tShift+F3", kShift, VK_F3},
    {0, kCommandBack, L"B&ack\tShift+F4", kShift, VK_F4},
    {0, kCommandResetView, L"Reset &view\tHome", kKey, VK_HOME},
    {0, kCommandSetStartView, L"Set start view\t", 0, 0},
    {0, kCommandRotate, L"&Rotate\t", 0, 0},
    {0, kCommandAlwaysRotate, L"Always rotate\t", 0, 0},
    {0, 0, L"", 0, 0},
    {0, kCommandSolid, L"&Solid\tF5", kKey, VK_F5},
    {0, kCommandOutline, L"&Outline\tF6", kKey, VK_F6},
    {0, kCommandWireframe, L"&Wireframe\tF7", kKey, VK_F7},
    {0, kCommandShowProblems, L"Show &problems\tF9", kKey, VK_F9},
    {0, kCommandShowOverhangs, L"Show o&verhangs\tShift+F9", kShift, VK_F9},
    {0, 0, L"", 0, 0},
    {MF_POPUP, 0, L"&Units", 0, 0},
    {0, kCommandAutomaticUnits, L"&Automatic\t", 0, 0},
    {0, kCommandMillimetres, L"&Millimetres\t", 0, 0},
    {kEnd, kCommandInches, L"&Inches\t", 0, 0},
    {0, 0, L"", 0, 0},
    {0, kCommandDefaultMaterial, L"Select default &material \u2026\t", 0, 0},
    {kEnd, kCommandDefaultBackground, L"Select default bac&kground \u2026\t", 0, 0},
    {MF_POPUP, 0, L"&Tools", 0, 0},
    {0, kCommandMeasure, L"&Measure\tCtrl+M", kCtrl, 'M'},
    {0, kCommandPlaceOnFace, L"P&lace on face\tCtrl+L", kCtrl, 'L'},
    {0, kCommandUndoPlacement, L"&Undo placement\tCtrl+Z", kCtrl, 'Z'},
    {0, 0, L"", 0, 0},
    {0, kCommandSection, L"Se&ction\tF8", kKey, VK_F8},
    {0, kCommandSectionAxis, L"Section &axis\tShift+F8", kShift, VK_F8},
    {0, kCommandFlipSection, L"&Flip section\tCtrl+F8", kCtrl, VK_F8},
    {0, kCommandSectionForward, L"Section u&p\tPage Up", kKey, VK_PRIOR},
    {kNotInMenu, kCommandSectionFarForward, L"Tools > Section up, ten steps", kShift, VK_PRIOR},
    {kEnd, kCommandSectionBack, L"Section &down\tPage Down", kKey, VK_NEXT},
    {kNotInMenu, kCommandSectionFarBack, L"Tools > Section down, ten steps", kShift, VK_NEXT},
    {MF_POPUP, 0, L"&Settings", 0, 0},
    {MF_POPUP, 0, L"&Material", 0, 0},  // the presets go in before "Other" (print_menus.h)
    {kEnd, kCommandOtherMaterial, L"&Other \u2026\t", 0, 0},
    {MF_POPUP, 0, L"&Printer", 0, 0},
    {0, kCommandNoPrinter, L"&None\t", 0, 0},
    {kEnd, kCommandOtherPrinter, L"&Other \u2026\t", 0, 0},
    {MF_POPUP, 0, L"Overhang &angle from vertical", 0, 0},
    {0, kCommandFirstOverhangAngle, L"30\u00B0\t", 0, 0},
    {0, kCommandFirstOverhangAngle + 1, L"35\u00B0\t", 0, 0},
    {0, kCommandFirstOverhangAngle + 2, L"40\u00B0\t", 0, 0},
    {0, kCommandFirstOverhangAngle + 3, L"45\u00B0\t", 0, 0},
    {0, kCommandFirstOverhangAngle + 4, L"50\u00B0\t", 0, 0},
    {0, kCommandFirstOverhangAngle + 5, L"55\u00B0\t", 0, 0},
    {kEnd, kCommandFirstOverhangAngle + 6, L"60\u00B0\t", 0, 0},
    {0, kCommandSingleInstance, L"Use only &one window\t", 0, 0},
    {kEnd, kCommandEscapeCloses, L"&Esc closes the viewer\t", 0, 0},
    {MF_POPUP | kEnd, 0, L"&Help", 0, 0},
    {0, kCommandKeysAndMouse, L"&Keys and mouse \u2026\tF1", kKey, VK_F1},
    {kEnd, kCommandAbout, L"&About \u2026\t", 0, 0},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
constexpr int kMaxAccelerators = kRowCount;

bool isAccelerator(const CommandRow& row) {
    return row.key && (row.keyFlags & FVIRTKEY);
}

}  // namespace

int commandRows(const CommandRow** rows) {
    *rows = kRows;
    return kRowCount;
}

HMENU buildMenuBar() {
    alignas(4) WORD buffer[2048];
    WORD* out = buffer;
    *out++ = 0;  // version
    *out++ = 0;  // header size
    for (const CommandRow& row : kRows) {
        if (row.menuFlags & kNotInMenu) continue;
        *out++ = row.menuFlags;
        if (!(row.menuFlags & MF_POPUP)) *out++ = row.command;
        const wchar_t* text = row.text;
        do *out++ = static_cast<WORD>(*text); while (*text++);
    }
    return LoadMenuIndirectW(buffer);
}

HACCEL buildAccelerators() {
    ACCEL table[kMaxAccelerators];
    int count = 0;
    for (const CommandRow& row : kRows)
        if (isAccelerator(row)) table[count++] = ACCEL{row.keyFlags, row.key, row.command};
    return CreateAcceleratorTableW(table, count);
}

int acceleratorCount() {
    int count = 0;
    for (const CommandRow& row : kRows) count += isAccelerator(row);
    return count;
}

WORD commandOfDialogKey(WORD key) {
    for (const CommandRow& row : kRows)
        if (row.keyFlags == kDialogKey && row.key == key) return row.command;
    return 0;
}

const wchar_t* menuTextOf(WORD command, const wchar_t** menu) {
    // Each level of the template ends at an item marked MF_END, and so does
    // the popup that holds it when that popup was the last of its own level.
    bool popupWasLast[8];
    int depth = 0;
    for (const CommandRow& row : kRows) {
        if (row.menuFlags & kNotInMenu) continue;
        if (depth == 0) *menu = row.text;
        if (row.menuFlags & MF_POPUP) {
            if (depth == 8) return nullptr;
            popupWasLast[depth++] = row.menuFlags & MF_END;
            continue;
        }
        if (row.command == command && command) return row.text;
        if (row.menuFlags & MF_END)
            do --depth; while (depth > 0 && popupWasLast[depth]);
    }
    return nullptr;
}
