// The main window: a modeless dialog holding the view, the progress bar, the
// messages box and the information panel, and the one state record behind it.
#pragma once
#include <windows.h>

#include "core/converting_sink.h"
#include "load/load_job.h"
#include "app/preferences.h"
#include "app/window_ids.h"
#include "mesh/surface_check.h"

constexpr int kMaxParts = 4;

extern const wchar_t kApplicationTitle[];

struct FolderListing;

enum CheckState : uint8_t {
    kCheckNone = 0,  // empty slot
    kCheckPending = 1,
    kCheckDone = 2,
    kCheckFailed = 3,  // out of memory
};

#pragma pack(push, 1)
// One part's surface check; the worker writes it before posting its message.
struct PartCheck {
    SurfaceCheck result;
    volatile uint8_t state;
    uint8_t* marks;  // one byte per triangle, process heap; null unless done
};

struct MainDialogState {
    HWND dialog;  // first: the log sink finds the dialog through it
    HMENU menu;
    HACCEL accelerators;
    HACCEL activeAccelerators;  // set while the dialog is active
    LoadJob* currentJob;
    ConvertingSink sink;
    FolderListing* folderListing;
    Preferences preferences;
    uint32_t overrideColor;  // alpha 255 while the material override is in force
    HBRUSH swatchBrushes[4];
    ModelPart parts[kMaxParts];  // used slots are contiguous from the first
    FileNameList startupFiles;
    HFONT font;     // the controls' font, made for dpi
    int32_t dpi;    // the window's dots per inch, which the layout and the font follow
    uint8_t placing;  // while the stored placement is applied: its size stands as it is
    PartCheck checks[kMaxParts];
    HANDLE checkThread;
    volatile uint8_t checkKeepGoing;
    // The current job opens a new model (rather than adding parts): the shown
    // one gives way only once the job brings a part, and stays if it fails.
    uint8_t replaceModel;
    uint8_t factsLines;    // what the facts and check texts wrap onto; 0 counts as 1
    uint8_t checkLines;
};
#pragma pack(pop)
static_assert(offsetof(MainDialogState, dialog) == 0);

// Creates the dialog from its in-memory template; null on failure.
HWND createMainDialog(HINSTANCE instance, MainDialogState* state);

void layoutDialog(MainDialogState* state, int width, int height);
// After the facts or check text changed: lays the panel out again when the
// lines they wrap onto changed.
void fitWrappedTexts(MainDialogState* state);
// One of the three in the view's place: the progress bar while a load runs,
// else the view while a model is shown, else the hint.
void showViewArea(MainDialogState* state);
// Makes the parts' visibility follow the tree's check boxes; the file items stay ticked.
void applyTreeChecks(MainDialogState* state);
// Dialog units of the window's font in pixels at the window's density.
SIZE dialogUnitsToPixels(HWND dialog, int cx, int cy);

inline HWND dialogItem(const MainDialogState* state, int id) {
    return GetDlgItem(state->dialog, id);
}

inline int usedPartCount(const MainDialogState* state) {
    int count = 0;
    while (count < kMaxParts && state->parts[count].view) ++count;
    return count;
}
