#include "mesh/print_presets.h"

// Densities at 23 °C as the makers' data sheets give them (the resin: a
// typical standard photopolymer, cured); see the README for the sources.
const PrintMaterial kPrintMaterials[] = {
    {"PLA", 1.24},  {"PETG", 1.27}, {"ABS", 1.04},   {"ASA", 1.07},
    {"TPU", 1.21},  {"Nylon", 1.14}, {"Resin", 1.10},
};

// Build volumes (width × depth × height, mm) from the makers' product pages.
const PrinterPreset kPrinterPresets[] = {
    {"Prusa MK4S", {250, 210, 220}},
    {"Prusa MINI+", {180, 180, 180}},
    {"Prusa XL", {360, 360, 360}},
    {"Bambu Lab X1", {256, 256, 256}},
    {"Bambu Lab P1", {256, 256, 256}},
    {"Bambu Lab A1", {256, 256, 256}},
    {"Bambu Lab A1 mini", {180, 180, 180}},
    {"Creality Ender-3 V3", {220, 220, 250}},
    {"Creality K1", {220, 220, 250}},
    {"Elegoo Saturn 4 Ultra", {218.88, 122.88, 220}},
};

namespace {

bool ignoredInNames(char c) {
    return c == ' ' || c == '-' || c == '_';
}

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const char* a, const char* b) {
    for (;;) {
        while (ignoredInNames(*a)) ++a;
        while (ignoredInNames(*b)) ++b;
        if (folded(*a) != folded(*b)) return false;
        if (!*a) return true;
        ++a;
        ++b;
    }
}

}  // namespace

int32_t findPrintMaterial(const char* name) {
    for (uint32_t i = 0; i < kPrintMaterialCount; ++i)
        if (sameName(name, kPrintMaterials[i].name)) return static_cast<int32_t>(i);
    return -1;
}

int32_t findPrinterPreset(const char* name) {
    for (uint32_t i = 0; i < kPrinterPresetCount; ++i)
        if (sameName(name, kPrinterPresets[i].name)) return static_cast<int32_t>(i);
    return -1;
}
