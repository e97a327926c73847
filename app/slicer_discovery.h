// The slicers Open in slicer can hand a model to: PrusaSlicer, Bambu Studio,
// OrcaSlicer and Cura, found through App Paths, the uninstall entries (the
// user's and the machine's, in both registry views) or their usual folders;
// of several installs of one, the newest by the version in its folder's name.
#pragma once
#include <windows.h>

#include <cstdint>

constexpr int kSlicerKinds = 4;
// A program path that long is taken; longer ones are passed over.
constexpr uint32_t kSlicerPathUnits = 1024;

struct FoundSlicer {
    const wchar_t* name;  // "PrusaSlicer"
    wchar_t program[kSlicerPathUnits];
};

// Fills found with the installed slicers, in the order above; answers how many.
int findSlicers(FoundSlicer* found /* [kSlicerKinds] */);
