#include "app/print_choice.h"

#include <cmath>
#include <cstdlib>

#include "numfmt/length_parse.h"

PrintChoice makePrintChoice(const StoredPrintChoice* stored) {
    PrintChoice choice{};
    if (stored->material < kPrintMaterialCount) {
        choice.density = kPrintMaterials[stored->material].density;
        choice.material = kPrintMaterials[stored->material].name;
    } else {
        uint32_t milli = stored->densityMilli ? stored->densityMilli : kDefaultDensityMilli;
        choice.density = milli / 1000.0;
    }
    if (stored->printer == kNoPrinter || stored->printer > kOtherPrinter) return choice;
    choice.hasPrinter = 1;
    if (stored->printer < kOtherPrinter) {
        choice.printer = kPrinterPresets[stored->printer - 1].volume;
        choice.printerName = kPrinterPresets[stored->printer - 1].name;
        return choice;
    }
    const uint32_t* size = stored->printerSize;
    choice.printer = BuildVolume{size[0] / 100.0, size[1] / 100.0, size[2] / 100.0};
    return choice;
}

namespace {

constexpr int kMostTypedUnits = 63;

// The typed text as ASCII with a point for a decimal comma and "x" for a
// multiplication sign; false for anything else outside ASCII or too long.
bool typedAscii(const Utf16* text, char out[kMostTypedUnits + 1]) {
    int length = 0;
    for (; *text; ++text) {
        if (length == kMostTypedUnits) return false;
        Utf16 unit = *text;
        if (unit == 0x00D7) unit = 'x';
        if (unit == ',') unit = '.';
        if (unit >= 0x80) return false;
        out[length++] = static_cast<char>(unit);
    }
    out[length] = 0;
    return true;
}

// One number above zero, rounded to `scale` parts, at most `most`; `at` moves past it and any spaces.
bool readScaled(const char** at, double scale, uint32_t most, uint32_t* value) {
    char* end;
    double number = strtod(*at, &end);
    if (end == *at || !(number > 0) || !(number * scale <= most)) return false;
    double scaled = std::round(number * scale);
    if (scaled < 1) return false;
    *value = static_cast<uint32_t>(scaled);
    for (*at = end; **at == ' '; ++*at) {}
    return true;
}

}  // namespace

bool readDensity(const Utf16* text, uint32_t* milli) {
    char typed[kMostTypedUnits + 1];
    if (!typedAscii(text, typed)) return false;
    const char* at = typed;
    while (*at == ' ') ++at;
    return readScaled(&at, 1000, kMostDensityMilli, milli) && !*at;
}

bool readPrinterSize(const Utf16* text, uint32_t size[3]) {
    const Utf16* end = text;
    while (*end) ++end;
    double millimetres[3];
    if (readTypedSizes(text, end, millimetres) != LengthFault::kNone) return false;
    for (int i = 0; i < 3; ++i) {
        double hundredths = std::round(millimetres[i] * 100);
        if (!(hundredths >= 1 && hundredths <= kMostPrinterSize)) return false;
        size[i] = static_cast<uint32_t>(hundredths);
    }
    return true;
}
