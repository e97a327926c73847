// Everything the user asks of the main window arrives here as a command.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"
#include "view/view_control.h"

enum Command : WORD {
    kCommandOpen = 16640,
    kCommandAddParts = 16641,
    kCommandResetView = 16642,
    kCommandExit = 16643,
    kCommandPreviousFile = 16644,
    kCommandNextFile = 16645,
    kCommandFlipZoom = 16646,
    kCommandTop = 16647,
    kCommandLeft = 16648,
    kCommandFront = 16649,
    kCommandRotate = 16650,
    kCommandAlwaysRotate = 16651,
    kCommandSolid = 16652,
    kCommandOutline = 16653,
    kCommandWireframe = 16654,
    kCommandMetricUnits = 16655,
    kCommandUsUnits = 16656,
    kCommandDefaultMaterial = 16657,
    kCommandDefaultBackground = 16658,
    kCommandAbout = 16659,
    kCommandSingleInstance = 16660,
    kCommandSavePicture = 16661,
    kCommandCopyPicture = 16662,
    kCommandShowProblems = 16663,
    kCommandMeasure = 16664,
    kCommandSection = 16665,
    kCommandSectionAxis = 16666,
    kCommandFlipSection = 16667,
    kCommandSectionForward = 16668,
    kCommandSectionBack = 16669,
    kCommandSectionFarForward = 16670,
    kCommandSectionFarBack = 16671,
    kCommandSetStartView = 16673,
    kCommandFirstRecentFile = 16680,  // to 16687, most recent first
    kCommandClearRecentFiles = 16688,
    kCommandKeysAndMouse = 16689,
};

HMENU buildMenuBar();
HACCEL buildAccelerators();
// The table behind buildAccelerators, for the keys-and-mouse help.
const ACCEL* acceleratorTable(int* count);
// The menu item's text for the command ("&Open …\tCtrl+O") and the name of
// the menu that holds it ("&File"); null when no item runs the command.
const wchar_t* menuTextOf(WORD command, const wchar_t** menu);

// Save picture and Copy picture are available exactly while a model is shown.
void enablePictureCommands(HMENU menu, bool enabled);

// The view draws in `mode` and the menu marks it; nothing is saved.
void showRenderMode(MainDialogState* state, RenderMode mode);

void runCommand(MainDialogState* state, WORD id, WORD notification);

// Where Save picture proposes to write: the first part's folder and name, with ".png".
void proposePicturePath(const ModelPart* part, wchar_t* path, uint32_t capacity);
// Writes the view's picture to the path and says so in the messages box; false
// (reported to the dialog's sink) when it could not.
bool savePictureTo(MainDialogState* state, const wchar_t* path);

// The system Color dialog; on OK the colour gets alpha 255.
bool pickColor(HWND owner, uint32_t start, uint32_t* color);
// The system Open dialog with multiple selection, into a file list.
bool chooseStlFiles(FileNameList* list, HWND owner);
