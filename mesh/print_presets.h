// The materials and printers users choose from, as data: densities for the
// weight of a solid part and build volumes for the fit.
#pragma once
#include <cstdint>
#include "mesh/build_fit.h"

struct PrintMaterial {
    const char* name;  // ASCII, shown as it stands
    double density;    // g/cm³
};

struct PrinterPreset {
    const char* name;  // ASCII, shown as it stands
    BuildVolume volume;
};

constexpr uint32_t kPrintMaterialCount = 7;
constexpr uint32_t kPrinterPresetCount = 10;
extern const PrintMaterial kPrintMaterials[kPrintMaterialCount];
extern const PrinterPreset kPrinterPresets[kPrinterPresetCount];

// Index of the entry whose name matches, ignoring case, spaces, hyphens and
// underscores ("prusa-mk4s" is the Prusa MK4S); -1 when none does.
int32_t findPrintMaterial(const char* name);
int32_t findPrinterPreset(const char* name);

// Kilograms of a part of `volume` cubic metres, solid, at `density` g/cm³.
inline double solidWeight(double volume, double density) {
    return volume * density * 1000.0;
}
