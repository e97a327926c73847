// Save as: the shown model (visible solids of every part, placed as shown)
// written as binary STL or 3MF in millimetres, repaired first if asked, to
// a temporary file beside the destination that then replaces it. The
// window, the command line and Open in slicer all save through here.
#pragma once
#include <cstdint>
#include "core/status.h"
#include "mesh/face_placement.h"
#include "mesh/mesh_repair.h"
#include "stl/stl_mesh.h"

constexpr uint32_t kSaveBinaryStl = 0;
constexpr uint32_t kSave3mf = 1;

struct SaveRequest {
    const ModelPart* parts;
    uint32_t partCount;
    const Placement* placements;  // per part as Place on face left it; null: as loaded
    uint8_t yUp;                  // shown with Y up: turned so that Z is up in the file
    uint32_t format;
    RepairChoice repairs;  // all 0: written as loaded
    const Utf16* path;
    // Per part (or null): its surface check done before with the welding it
    // kept (a null welding where none is kept), which the repairs start from
    // where every solid of the part is saved.
    const CheckedBefore* checked;
};

struct SaveOutcome {
    RepairReport report;  // filled when any repair was chosen
    uint8_t repaired;
    uint8_t written;
};

// The format the name's extension asks for: ".3mf" (any case) 3MF, else binary STL.
uint32_t saveFormatFor(const Utf16* path);

// Reports what it did to sink (the unit, the repairs, what is still open,
// the file saved or why not). False when nothing was written; the
// destination is then as it was.
bool saveModel(const SaveRequest* request, SaveOutcome* outcome, const volatile uint8_t* keepGoing,
               const MessageSink* sink);
