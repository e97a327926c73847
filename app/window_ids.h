// The main window's identifiers: its controls, the commands of its menu and
// keys, its settings, its timer and the messages it posts itself. Includes
// nothing of the program, so that every module of the window can use it.
#pragma once
#include <cstdint>

// Controls of the dialog.
constexpr int kViewId = 16;
constexpr int kProgressId = 17;
constexpr int kKindLineId = 19;  // "ASCII STL" or "Binary STL"
constexpr int kSizeLineId = 20;
constexpr int kSpaceLabelId = 21;
constexpr int kSpaceComboId = 22;
constexpr int kMaterialCheckId = 23;
constexpr int kFirstSwatchId = 24;  // to 27, one per part slot
constexpr int kColorsLabelId = 28;
constexpr int kColorsComboId = 29;
constexpr int kTreeId = 30;
constexpr int kMessagesId = 31;
constexpr int kFactsLineId = 32;    // triangles, area and volume under the size line
constexpr int kHintId = 33;         // in the view's place while there is neither a model nor a load
constexpr int kCheckLineId = 34;    // the surface check under the facts line
constexpr int kMeasureLineId = 35;  // the picked point or the distance of two
constexpr int kSectionLineId = 36;  // where the section cuts, while there is one
constexpr int kOverhangLineId = 37;  // the area of faces steeper than the overhang angle
constexpr int kFitLineId = 38;       // whether the model fits the chosen printer
constexpr int kUnitLabelId = 39;
constexpr int kUnitComboId = 40;  // the length unit of the part selected in the tree

enum Command : uint16_t {
    kCommandCancel = 2,  // the dialog manager's Esc while no accelerator is active (IDCANCEL)
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
    kCommandReloadOnChange = 16674,
    kCommandShowOverhangs = 16675,
    kCommandPlaceOnFace = 16676,
    kCommandUndoPlacement = 16677,
    kCommandSaveModel = 16678,
    kCommandFirstRecentFile = 16680,  // to 16687, most recent first
    kCommandClearRecentFiles = 16688,
    kCommandKeysAndMouse = 16689,
    kCommandOtherMaterial = 16690,
    kCommandNoPrinter = 16691,
    kCommandOtherPrinter = 16692,
    kCommandEscapeCloses = 16693,
    kCommandBottom = 16694,
    kCommandRight = 16695,
    kCommandBack = 16696,
    kCommandOpenInSlicer = 16697,  // File > Open in slicer: the submenu, or the item when none is found
    kCommandFirstMaterial = 16700,  // to 16715, one per material preset
    kCommandFirstPrinter = 16720,   // to 16751, one per printer preset
    kCommandFirstOverhangAngle = 16760,  // to 16766: 30 to 60 degrees in steps of 5
    kCommandFirstSlicer = 16770,         // to 16773, one per slicer found, in the order findSlicers gives
    kCommandAutomaticUnits = 16780,      // View > Units, in the order of UnitsChoice
    kCommandMillimetres = 16781,
    kCommandInches = 16782,
};

// The dialog's own timer: load progress every kProgressPeriodMs.
constexpr uintptr_t kProgressTimer = 1;
constexpr uint32_t kProgressPeriodMs = 25;

// What a second start sends with its files (WM_COPYDATA's dwData).
constexpr uintptr_t kHandOverTag = 42;

// Messages the window receives from its workers and posts itself.
enum WindowMessage : uint32_t {
    kLoadFinishedMessage = 0x8000,  // WM_APP, from the load job; wParam: the job
    // After a click or the space key in the tree, once the tree has toggled the box it wanted to.
    kApplyTreeChecksMessage = 0x8001,
    kCheckFinishedMessage = 0x8016,  // from the check worker; lParam: its CheckOutcome
    kHandOverMessage = 0x8017,       // posted to itself; wParam: units, lParam: the paths (freed by the window)
    kRecentFileCheckedMessage = 0x8018,  // from a pool thread; lParam: its RecentFileCheck
    kFileChangedMessage = 0x8019,        // from the file watch; wParam: the part slot, lParam: the watch's serial
};

// The settings, one row each in the settings table (preferences.cpp), in this order.
enum Setting : uint8_t {
    kSettingFlipZoom,
    kSettingUnits,  // a UnitsChoice
    kSettingAlwaysRotate,
    kSettingSingleInstance,
    kSettingShowProblems,
    kSettingReloadOnChange,
    kSettingObjectColor,
    kSettingBackgroundColor,
    kSettingStartPitch,
    kSettingStartYaw,
    kSettingRenderMode,
    kSettingPlacement,
    kSettingRecentFiles,
    kSettingMaterial,  // print_choice.h says how these are stored
    kSettingMaterialDensity,
    kSettingPrinter,
    kSettingPrinterWidth,
    kSettingPrinterDepth,
    kSettingPrinterHeight,
    kSettingShowOverhangs,
    kSettingOverhangAngle,  // degrees from vertical
    kSettingEscapeCloses,
    kSettingCount,
};
