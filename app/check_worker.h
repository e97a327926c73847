// The surface check of the shown parts, on a thread of its own started once
// they are on screen. Like a load job it reads only what it is given and
// posts each result to the window, which takes it over into the model.
#pragma once
#include <windows.h>

#include "app/shown_model.h"
#include "mesh/face_placement.h"

// Posted with kCheckFinishedMessage (lParam) for each part checked; the
// window takes it over with takeCheckOutcome.
struct CheckOutcome {
    uint32_t generation;  // of the model the mesh belonged to
    int32_t slot;
    uint8_t done;  // false: out of memory
    SurfaceCheck result;
    uint8_t* marks;  // process heap; null unless done
    double overhangArea[2];  // as PartCheck has them
    float overhangDegrees;
    SurfaceWelding welding;  // as PartCheck has it
};

struct CheckWorker {
    HANDLE thread;  // null while none runs
    volatile uint8_t keepGoing;
};

// Checks each mesh given (null where there is nothing to check) in slot
// order, measuring the overhangs at `overhangDegrees`. False, reported, when
// the thread could not start.
bool startChecks(CheckWorker* worker, HWND window, const StlMesh* const meshes[kMaxParts], uint32_t generation,
                 float overhangDegrees, const MessageSink* sink);
// Asks the worker to stop and waits for it; a check in flight stays pending.
void stopChecks(CheckWorker* worker);

// The outcome becomes its part's check when it is about the model shown and
// that check is pending; true then. Frees the outcome either way.
bool takeCheckOutcome(ShownModel* model, CheckOutcome* outcome);

// The overhang areas of a checked mesh at an angle, in square file units,
// both ways up; an inside-out part's outward normals are against its windings.
// A part placed on a face (else null) is measured as placed.
void measureOverhangs(const StlMesh* mesh, const SurfaceCheck* result, const Placement* placement, float degrees,
                      double area[2]);
// Each checked part measured again at `degrees` unless it was at that angle
// as it stands: once per part, angle and placement, on the window's thread
// (one pass over the triangles). True when any was.
bool remeasureOverhangs(ShownModel* model, float degrees);
// The overhangs of every part to be measured again, as a part was placed.
void forgetOverhangs(ShownModel* model);
