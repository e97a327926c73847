// The material the weight is given in and the printer the fit is tried
// against, made from the settings that store them. Builds without Windows.
#pragma once
#include <cstdint>

#include "core/platform.h"
#include "mesh/print_presets.h"

struct PrintChoice {
    double density;           // g/cm³
    const char* material;     // a preset's name; null for a density the user typed
    uint8_t hasPrinter;
    BuildVolume printer;      // mm
    const char* printerName;  // a preset's name; null for a volume the user typed
};

// How the settings store the choice: the material's index in the presets,
// kPrintMaterialCount for the typed density (milligrams per cm³); the
// printer's index plus one, 0 for none, kPrinterPresetCount + 1 for the
// typed volume (hundredths of a millimetre).
constexpr uint32_t kOtherMaterial = kPrintMaterialCount;
constexpr uint32_t kNoPrinter = 0;
constexpr uint32_t kOtherPrinter = kPrinterPresetCount + 1;
constexpr uint32_t kDefaultDensityMilli = 1240;
constexpr uint32_t kMostDensityMilli = 30000;
constexpr uint32_t kMostPrinterSize = 10000000;  // 100 m

struct StoredPrintChoice {
    uint32_t material, densityMilli, printer;
    uint32_t printerSize[3];  // width, depth, height
};

PrintChoice makePrintChoice(const StoredPrintChoice* stored);

// What the user typed for "Other…": a density in g/cm³ ("1.3", with a point
// or a comma) as milligrams per cm³, or "W x D x H" as hundredths of a
// millimetre (each side a typed length: millimetres, or with mm, cm or in);
// false when it is not one above zero within the limits.
bool readDensity(const Utf16* text, uint32_t* milli);
bool readPrinterSize(const Utf16* text, uint32_t size[3]);
