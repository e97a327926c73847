// The surface check of the shown parts, on a thread of its own started once
// they are on screen. Like a load job it reads only what it is given and
// posts each result to the window, which takes it over into the model.
#pragma once
#include <windows.h>

#include "app/shown_model.h"

// Posted with kCheckFinishedMessage (lParam) for each part checked; the
// window takes it over with takeCheckOutcome.
struct CheckOutcome {
    uint32_t generation;  // of the model the mesh belonged to
    int32_t slot;
    uint8_t done;  // false: out of memory
    SurfaceCheck result;
    uint8_t* marks;  // process heap; null unless done
    double overhangArea[2];  // as PartCheck has them
};

struct CheckWorker {
    HANDLE thread;  // null while none runs
    volatile uint8_t keepGoing;
};

// Checks each mesh given (null where there is nothing to check) in slot
// order. False, reported, when the thread could not start.
bool startChecks(CheckWorker* worker, HWND window, const StlMesh* const meshes[kMaxParts], uint32_t generation,
                 const MessageSink* sink);
// Asks the worker to stop and waits for it; a check in flight stays pending.
void stopChecks(CheckWorker* worker);

// The outcome becomes its part's check when it is about the model shown and
// that check is pending; true then. Frees the outcome either way.
bool takeCheckOutcome(ShownModel* model, CheckOutcome* outcome);
