// The model the window shows: up to four parts, each with its surface check,
// and the material colour over them. Plain data and operations on it; the
// window's controls are the panel's business. Builds without Windows.
#pragma once
#include <cstdint>

#include "load/load_job.h"
#include "load/model_save.h"
#include "mesh/surface_check.h"

constexpr int kMaxParts = 4;

enum CheckState : uint8_t {
    kCheckNone = 0,  // empty slot
    kCheckPending = 1,
    kCheckDone = 2,
    kCheckFailed = 3,  // out of memory
};

struct PartCheck {
    SurfaceCheck result;
    uint8_t state;
    uint8_t* marks;  // one byte per triangle, process heap; null unless done
    // Square file units of faces steeper than the overhang angle, with Z up
    // (0) and with Y up (1), as the user may choose either.
    double overhangArea[2];
    float overhangDegrees;  // the angle they were measured at
    // The check's welding, kept so that Save as repairs on it; ids null
    // unless done. 4 bytes a corner for as long as the part is shown.
    SurfaceWelding welding;
};

// Frees what the check holds; the check is then none.
void forgetPartCheck(PartCheck* check);

struct ShownModel {
    ModelPart parts[kMaxParts];  // used slots are contiguous from the first
    PartCheck checks[kMaxParts];
    uint32_t overrideColor;  // the material colour; alpha 255 while the override is in force
    // The first part of the latest load: the kind line and the colour rules speak for it.
    int32_t newestSlot;
    // Counts the models cleared, so that a check finished for one since gone is known.
    uint32_t generation;
};

inline bool slotInUse(const ShownModel* model, int slot) {
    return slot >= 0 && slot < kMaxParts && model->parts[slot].heap;
}

int usedPartCount(const ShownModel* model);
// True when a part of the job has its file.
bool jobBroughtParts(const LoadJob* job);
// Moves the finished job's parts into the free slots, their checks pending;
// parts that find no slot are released. Answers the first slot filled, or -1.
int takeParts(ShownModel* model, LoadJob* job);
// Releases every part and forgets the checks. The view must have let go of
// the parts' meshes, and no check may still read them.
void releaseParts(ShownModel* model);

// For a part reloaded in place: each solid of `fresh` hidden that was hidden
// in `old` under the same name (the n-th of a name for the n-th); solids
// that are new stay visible.
void carrySolidVisibility(const ModelPart* old, ModelPart* fresh);

// A part with colours per triangle (binary STL and 3MF files only).
bool hasTriangleColors(const ModelPart* part);

// The low 24 bits of a tree item's parameter (the part slot is above them):
// a solid's index, or one of these.
constexpr uint32_t kTreeFileItem = 0xFFFFFF;
constexpr uint32_t kTreeMoreItem = 0xFFFFFE;  // "N more solids": every solid past the listed ones
// Solids listed per file; a tree of a million items takes the window for many seconds.
constexpr uint32_t kMaxTreeSolids = 2000;

// The solid index at which the listing of a part stops: after its first
// kMaxTreeSolids solids with triangles (empty ones are not listed at all).
uint32_t firstUnlistedSolid(const ModelPart* part);
// Sets the visibility of the solid an item stands for, or of every solid
// the "more" item stands for; true when anything changed.
bool setItemSolidsVisible(ShownModel* model, uint32_t slot, uint32_t item, bool visible);

// Save as (and Open in slicer, with a path of its own): the used parts'
// visible solids as shown (Place on face, Y up turned to Z up when yUp),
// in millimetres, repaired as chosen, to `path` in the format its extension
// names. Reports to sink; false when nothing was written.
bool saveShownModel(const ShownModel* model, const Utf16* path, const RepairChoice& repairs, bool yUp,
                    SaveOutcome* outcome, const MessageSink* sink);

