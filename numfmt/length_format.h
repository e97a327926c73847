// Lengths in metres as display text with an automatically chosen unit,
// e.g. "12.5 cm", areas, volumes and weights, and the model size line
// built from them.
#pragma once
#include <cstdint>
#include "core/platform.h"

// Locale identifiers as Windows numbers them (LCID). kUserLocale is
// LOCALE_USER_DEFAULT. kNoLocale keeps the number exactly as
// formatFixedDecimal lays it out. Without Windows every locale acts as
// kNoLocale.
constexpr uint32_t kUserLocale = 0x0400;
constexpr uint32_t kNoLocale = 0xFFFFFFFF;

// The number takes at most 63 units, then a thin space and a unit of two.
constexpr int kMaxLengthText = 66;
// An area or a volume: a length's text and a superscript two or three.
constexpr int kMaxMeasureText = kMaxLengthText + 1;
// Digits of a 64-bit count with the locale's grouping, a terminator included.
constexpr int kMaxCountText = 64;
// Three lengths, U+2009 U+00D7 U+2009, "; ", " tall" and a terminator.
constexpr int kDimensionsTextCapacity = 3 * kMaxLengthText + 3 + 2 + 5 + 1;

struct LengthUnit {
    float threshold;  // metres; used while the length is below it
    float factor;     // units per metre
    char suffix[3];
};

// Rows 0 to 3 metric, rows 4 to 6 US customary.
extern const LengthUnit kLengthUnits[7];

// The row for a length: the first of its group whose threshold exceeds it,
// else (also for NaN) the group's last row.
const LengthUnit* chooseLengthUnit(float metres, bool usUnits);

// Writes the number in the locale's layout, U+2009 and the unit suffix;
// returns the position after the suffix, without writing a terminator. If the
// locale cannot lay the number out, the plain number is shown instead.
Utf16* formatLength(Utf16* out, float metres, bool usUnits, uint32_t locale = kUserLocale);
// The same in a given row's unit, the sign kept.
Utf16* formatLengthIn(Utf16* out, double metres, const LengthUnit* unit, uint32_t locale = kUserLocale);

// Square and cubic metres in the square or cubic unit of the row that
// chooseLengthUnit gives the side of a square or cube of that size, with the
// locale's separators and grouping but only the digits that are real: the
// value correctly rounded to four significant digits, no zero padded after
// them ("2,244 cm²", "394.6 cm²", "0.003906 in³"). The sign is kept. Like
// formatLength, without a terminator.
Utf16* formatArea(Utf16* out, double squareMetres, bool usUnits, uint32_t locale = kUserLocale);
Utf16* formatVolume(Utf16* out, double cubicMetres, bool usUnits, uint32_t locale = kUserLocale);

// A weight: grams below a kilogram, else kilograms; with US units ounces
// below a pound, else pounds; four significant digits as for volumes.
Utf16* formatWeight(Utf16* out, double kilograms, bool usUnits, uint32_t locale = kUserLocale);

// A number to four significant digits in the locale's layout, without a
// unit ("1.3", "1,3"), as areas and volumes show theirs.
Utf16* formatPlainNumber(Utf16* out, double number, uint32_t locale = kUserLocale);

// Three sizes in millimetres, as a printer's build volume is given:
// "250 × 210 × 220 mm" (four significant digits each, "218.9").
constexpr int kMaxVolumeSizesText = 3 * kMaxLengthText + 6;
Utf16* formatMillimetreSizes(Utf16* out, const double millimetres[3], uint32_t locale = kUserLocale);

// A whole number with the locale's digit grouping and no decimals, e.g.
// "12,345"; without a terminator.
Utf16* formatCount(Utf16* out, uint64_t count, uint32_t locale = kUserLocale);

// The size line of a model from the union of its parts' bounding boxes (in
// metres): width × depth; height tall. With Y up the depth runs along z and
// the height along y; with Z up the other way round. Writes a terminator and
// returns its position; `out` needs kDimensionsTextCapacity units.
Utf16* formatModelDimensions(Utf16* out, const float boundsMin[3], const float boundsMax[3], bool yUp,
                             bool usUnits, uint32_t locale = kUserLocale);

// "Section at Z = 1.25 cm": a place along the model's axis 0, 1 or 2 (X, Y,
// Z) in the unit the size line gives the model's extent along it. Writes a
// terminator and returns its position.
constexpr int kSectionTextCapacity = 15 + kMaxLengthText + 1;
Utf16* formatSectionLine(Utf16* out, int axis, float place, float extent, bool usUnits,
                         uint32_t locale = kUserLocale);
