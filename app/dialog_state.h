// The main window's state: a plain record of the pieces its modules own,
// each function taking the piece it needs. One exists for the process; the
// start-up routine owns it and it outlives the dialog at a fixed address.
#pragma once
#include <windows.h>

#include "app/check_worker.h"
#include "app/panel.h"
#include "app/preferences.h"
#include "app/shown_model.h"
#include "core/converting_sink.h"
#include "load/load_job.h"

struct FolderListing;
struct FileWatch;

// The files being opened and the folder around the shown one.
struct Navigation {
    LoadJob* currentJob;  // the load whose progress is shown
    // The current job opens a new model (rather than adding parts): the shown
    // one gives way only once the job brings a part, and stays if it fails.
    uint8_t replaceModel;
    // 1 + the slot of the part the current job reloads because its file
    // changed; 0 when the job opens files.
    uint8_t reloadingPart;
    uint8_t reloadsWaiting;  // a bit per slot whose file changed while another load ran
    FileWatch* fileWatch;    // the shown files' folders, while "Reload when the file changes" is on
    uint32_t watchSerial;    // the current watch's; changes from an earlier one are old news
    FolderListing* folderListing;  // behind Previous file and Next file
    FileNameList startupFiles;     // the command-line files
};

struct MainDialogState {
    HWND dialog;
    HMENU menu;
    HACCEL accelerators;
    HACCEL activeAccelerators;  // set while the dialog is active
    ConvertingSink sink;        // every diagnostic as a line in the messages box
    Preferences preferences;
    ShownModel model;
    CheckWorker checkWorker;
    Panel panel;
    Navigation navigation;
    // When a tool last took an Esc (or one was held back after it), by GetTickCount.
    uint32_t toolEscapeTick;
    bool toolEscapeSeen;
};
