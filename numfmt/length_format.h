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
const LengthUnit* const kMillimetreUnit = &kLengthUnits[0];
const LengthUnit* const kInchUnit = &kLengthUnits[4];

// How the lengths of one line are shown: all in the unit that the largest of
// them takes, by size from the metric or the US rows, or all in one unit the
// user chose.
enum class DisplayUnits : uint8_t { kMetric, kUs, kMillimetres, kInches };
inline DisplayUnits unitsBySize(bool usUnits) {
    return usUnits ? DisplayUnits::kUs : DisplayUnits::kMetric;
}
// Ounces and pounds rather than grams and kilograms.
inline bool usCustomary(DisplayUnits units) {
    return units == DisplayUnits::kUs || units == DisplayUnits::kInches;
}
// The one unit of a line whose largest length (in metres, sign ignored) is given.
const LengthUnit* lineUnit(double largestMetres, DisplayUnits units);
// The unit of a model's size line: that of its largest extent.
const LengthUnit* modelUnit(const float boundsMin[3], const float boundsMax[3], DisplayUnits units);

// The row for a length: the first of its group whose threshold exceeds it,
// else (also for NaN) the group's last row.
const LengthUnit* chooseLengthUnit(float metres, bool usUnits);

// Writes the number in the locale's layout, U+2009 and the unit suffix;
// returns the position after the suffix, without writing a terminator. The
// number has the locale's decimals, or more where its four significant
// digits need them ("0.003 m", not "0.00 m", in a line of metres). If the
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
// The same in the square or cube of a line's length unit ("5.657 cm²"),
// except that a volume in millimetres takes cm³ from 10,000 mm³ on, where
// four significant digits no longer reach the units digit.
Utf16* formatAreaIn(Utf16* out, double squareMetres, const LengthUnit* unit, uint32_t locale = kUserLocale);
Utf16* formatVolumeIn(Utf16* out, double cubicMetres, const LengthUnit* unit, uint32_t locale = kUserLocale);

// A weight: grams below a kilogram, else kilograms; with US units ounces
// below a pound, else pounds; four significant digits as for volumes.
Utf16* formatWeight(Utf16* out, double kilograms, bool usUnits, uint32_t locale = kUserLocale);
inline Utf16* formatWeight(Utf16* out, double kilograms, DisplayUnits units, uint32_t locale = kUserLocale) {
    return formatWeight(out, kilograms, usCustomary(units), locale);
}

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
// metres): width × depth; height tall, all three in modelUnit's unit. With Y
// up the depth runs along z and the height along y; with Z up the other way
// round. Writes a terminator and returns its position; `out` needs
// kDimensionsTextCapacity units.
Utf16* formatModelDimensions(Utf16* out, const float boundsMin[3], const float boundsMax[3], bool yUp,
                             DisplayUnits units, uint32_t locale = kUserLocale);
inline Utf16* formatModelDimensions(Utf16* out, const float boundsMin[3], const float boundsMax[3], bool yUp,
                                    bool usUnits, uint32_t locale = kUserLocale) {
    return formatModelDimensions(out, boundsMin, boundsMax, yUp, unitsBySize(usUnits), locale);
}

// "Section at Z = 1.25 cm": a place along the model's axis 0, 1 or 2 (X, Y,
// Z) in `unit` (the size line's, modelUnit). Writes a terminator and returns
// its position.
constexpr int kSectionTextCapacity = 15 + kMaxLengthText + 1;
Utf16* formatSectionLine(Utf16* out, int axis, float place, const LengthUnit* unit, uint32_t locale = kUserLocale);
