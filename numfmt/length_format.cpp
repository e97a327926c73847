#include "numfmt/length_format.h"

#include <cmath>
#include <cstring>

#include "core/utf16_text.h"
#include "numfmt/decimal_format.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

const LengthUnit kLengthUnits[7] = {
    {0.01f, 1000.0f, "mm"},
    {1.0f, 100.0f, "cm"},
    {1000.0f, 1.0f, "m"},
    {0.0f, 0.001f, "km"},  // last metric row: its threshold is never read
    {0.3048f, 39.37008f, "in"},
    {1609.344f, 3.28084f, "ft"},
    {0.0f, 0.0006213712f, "mi"},  // last US row
};

namespace {

constexpr Utf16 kThinSpace = 0x2009;
// GetNumberFormatW writes at most this many units, terminator included.
constexpr int kNumberCapacity = 64;

Utf16* copyAscii(Utf16* out, const char* text, const char* end) {
    while (text != end) *out++ = static_cast<Utf16>(*text++);
    return out;
}

// How many digits follow the decimal separator.
enum class Decimals {
    kLocale,  // the locale's own count, or the plain number's where it has more
    kPlain,   // exactly those of the plain number, so no digit is padded or dropped
    kNone,
};

#ifdef _WIN32
bool localeNumber(uint32_t locale, LCTYPE type, DWORD* value) {
    return GetLocaleInfoW(locale, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(value),
                          sizeof(DWORD) / sizeof(Utf16)) != 0;
}

// The locale's number layout with `decimals` digits after the separator;
// false when the locale does not give every part of it. Passed explicitly
// because Wine's default layout groups only the last three digits ("1234,567").
bool localeLayout(uint32_t locale, UINT decimals, NUMBERFMTW* layout, Utf16 (&separator)[8], Utf16 (&thousands)[8]) {
    Utf16 grouping[16];
    DWORD leadingZero, negativeOrder;
    if (!localeNumber(locale, LOCALE_ILZERO, &leadingZero) || !localeNumber(locale, LOCALE_INEGNUMBER, &negativeOrder) ||
        !GetLocaleInfoW(locale, LOCALE_SGROUPING, grouping, 16) || !GetLocaleInfoW(locale, LOCALE_SDECIMAL, separator, 8) ||
        !GetLocaleInfoW(locale, LOCALE_STHOUSAND, thousands, 8))
        return false;
    // The locale writes threes repeated as "3;0", which the layout wants as 3;
    // "3;2;0" (three, then twos) as 32; and a single group of three, "3", as 30.
    UINT groups = 0;
    int length = 0;
    for (; grouping[length]; ++length)
        if (grouping[length] >= '0' && grouping[length] <= '9') groups = groups * 10 + (grouping[length] - '0');
    bool repeats = length >= 2 && grouping[length - 1] == '0' && grouping[length - 2] == ';';
    layout->NumDigits = decimals;
    layout->LeadingZero = leadingZero;
    layout->Grouping = repeats ? groups / 10 : groups * 10;
    layout->lpDecimalSep = separator;
    layout->lpThousandSep = thousands;
    layout->NegativeOrder = negativeOrder;
    return true;
}

UINT plainDecimals(const char* plain, const char* plainEnd) {
    // The ".0" of a whole number is the layout's, not a digit.
    if (plainEnd - plain >= 2 && plainEnd[-1] == '0' && plainEnd[-2] == '.') return 0;
    const char* point = plain;
    while (point != plainEnd && *point != '.') ++point;
    return point == plainEnd ? 0 : static_cast<UINT>(plainEnd - point - 1);
}

UINT decimalsIn(uint32_t locale, Decimals rule, const char* plain, const char* plainEnd) {
    if (rule == Decimals::kNone) return 0;
    if (rule == Decimals::kPlain) return plainDecimals(plain, plainEnd);
    DWORD decimals = 2;  // the count most locales use, should the locale not tell
    localeNumber(locale, LOCALE_IDIGITS, &decimals);
    // A small length in a line's larger unit keeps its digits: 3 mm in a
    // line of metres is "0.003 m", never "0.00 m".
    UINT own = plainDecimals(plain, plainEnd);
    return own > decimals ? own : decimals;
}
#endif

// The locale's digit grouping and decimal separator, with the decimals of the rule.
Utf16* localiseNumber(Utf16* out, const char* plain, const char* plainEnd, uint32_t locale, Decimals rule) {
    if (plainEnd - plain > kNumberCapacity - 1) plainEnd = plain + kNumberCapacity - 1;
#ifdef _WIN32
    if (locale != kNoLocale) {
        Utf16 wide[kNumberCapacity];
        *copyAscii(wide, plain, plainEnd) = 0;
        NUMBERFMTW layout;
        Utf16 separator[8], thousands[8];
        if (localeLayout(locale, decimalsIn(locale, rule, plain, plainEnd), &layout, separator, thousands)) {
            int written = GetNumberFormatW(locale, 0, wide, &layout, out, kNumberCapacity);
            // The count includes the terminator, which the caller's text overwrites.
            if (written > 1) return out + written - 1;
        }
        // Shown unlocalised rather than not at all (e.g. a number too long for the locale's layout).
    }
#else
    (void)locale;
    (void)rule;
#endif
    return copyAscii(out, plain, plainEnd);
}

// Lengths take the locale's decimals. Areas and volumes show their four
// significant digits and no more: the locale's decimals would pad 2,244.15 to
// "2,244.00" or cut a small part's 0.0039 to "0.00".
Utf16* appendNumber(Utf16* out, double number, uint32_t locale, Decimals rule) {
    char plain[kMaxFixedDecimalLength];
    char* plainEnd = formatFixedDecimal(number, plain);
    // The ".0" of a whole number is the layout's, not a digit.
    if (rule == Decimals::kPlain && plainEnd - plain >= 2 && plainEnd[-1] == '0' && plainEnd[-2] == '.') plainEnd -= 2;
    return localiseNumber(out, plain, plainEnd, locale, rule);
}

Utf16* appendNumberAndUnit(Utf16* out, double number, const char* suffix, uint32_t locale,
                           Decimals rule = Decimals::kLocale) {
    out = appendNumber(out, number, locale, rule);
    *out++ = kThinSpace;
    for (; *suffix; ++suffix) *out++ = static_cast<Utf16>(*suffix);
    return out;
}

// A square or cube measure in the square or cube of a length unit.
Utf16* formatPowerIn(Utf16* out, double measure, int power, const LengthUnit* unit, uint32_t locale) {
    double factor = unit->factor;
    double scale = power == 2 ? factor * factor : factor * factor * factor;
    out = appendNumberAndUnit(out, measure * scale, unit->suffix, locale, Decimals::kPlain);
    *out++ = power == 2 ? 0x00B2 : 0x00B3;
    return out;
}

// The unit is that of the side's length.
Utf16* formatPowerOfLength(Utf16* out, double measure, int power, bool usUnits, uint32_t locale) {
    double side = power == 2 ? std::sqrt(std::fabs(measure)) : std::cbrt(std::fabs(measure));
    return formatPowerIn(out, measure, power, chooseLengthUnit(static_cast<float>(side), usUnits), locale);
}

// From 10,000 mm³ on, four significant digits no longer reach the units digit
// ("12,340 mm³"), and cubic centimetres read better.
constexpr double kLargestMillimetreVolume = 1e-5;  // cubic metres

}  // namespace

const LengthUnit* lineUnit(double largestMetres, DisplayUnits units) {
    if (units == DisplayUnits::kMillimetres) return kMillimetreUnit;
    if (units == DisplayUnits::kInches) return kInchUnit;
    return chooseLengthUnit(static_cast<float>(std::fabs(largestMetres)), units == DisplayUnits::kUs);
}

const LengthUnit* modelUnit(const float boundsMin[3], const float boundsMax[3], DisplayUnits units) {
    float largest = 0;
    for (int axis = 0; axis < 3; ++axis) largest = std::fmax(largest, boundsMax[axis] - boundsMin[axis]);
    return lineUnit(largest, units);
}

const LengthUnit* chooseLengthUnit(float metres, bool usUnits) {
    const LengthUnit* row = usUnits ? &kLengthUnits[4] : &kLengthUnits[0];
    const LengthUnit* last = usUnits ? &kLengthUnits[6] : &kLengthUnits[3];
    for (; row != last; ++row) {
        if (row->threshold > metres) return row;
    }
    return last;
}

Utf16* formatLength(Utf16* out, float metres, bool usUnits, uint32_t locale) {
    return formatLengthIn(out, metres, chooseLengthUnit(metres, usUnits), locale);
}

Utf16* formatLengthIn(Utf16* out, double metres, const LengthUnit* unit, uint32_t locale) {
    float scaled = static_cast<float>(metres) * unit->factor;  // single precision, as the table is
    return appendNumberAndUnit(out, static_cast<double>(scaled), unit->suffix, locale);
}

Utf16* formatArea(Utf16* out, double squareMetres, bool usUnits, uint32_t locale) {
    return formatPowerOfLength(out, squareMetres, 2, usUnits, locale);
}

Utf16* formatVolume(Utf16* out, double cubicMetres, bool usUnits, uint32_t locale) {
    return formatPowerOfLength(out, cubicMetres, 3, usUnits, locale);
}

Utf16* formatAreaIn(Utf16* out, double squareMetres, const LengthUnit* unit, uint32_t locale) {
    return formatPowerIn(out, squareMetres, 2, unit, locale);
}

Utf16* formatVolumeIn(Utf16* out, double cubicMetres, const LengthUnit* unit, uint32_t locale) {
    if (unit == kMillimetreUnit && std::fabs(cubicMetres) >= kLargestMillimetreVolume) unit = &kLengthUnits[1];
    return formatPowerIn(out, cubicMetres, 3, unit, locale);
}

Utf16* formatWeight(Utf16* out, double kilograms, bool usUnits, uint32_t locale) {
    constexpr double kPound = 0.45359237, kOunce = kPound / 16;
    double size = std::fabs(kilograms);
    if (usUnits) {
        bool pounds = size >= kPound;
        return appendNumberAndUnit(out, kilograms / (pounds ? kPound : kOunce), pounds ? "lb" : "oz", locale,
                                   Decimals::kPlain);
    }
    bool large = size >= 1.0;
    return appendNumberAndUnit(out, large ? kilograms : kilograms * 1000, large ? "kg" : "g", locale, Decimals::kPlain);
}

Utf16* formatPlainNumber(Utf16* out, double number, uint32_t locale) {
    return appendNumber(out, number, locale, Decimals::kPlain);
}

Utf16* formatMillimetreSizes(Utf16* out, const double millimetres[3], uint32_t locale) {
    for (int i = 0; i < 3; ++i) {
        out = appendNumber(out, millimetres[i], locale, Decimals::kPlain);
        out = appendUtf16(out, i < 2 ? U16("\u2009\u00D7\u2009") : U16("\u2009mm"));
    }
    return out;
}

Utf16* formatCount(Utf16* out, uint64_t count, uint32_t locale) {
    char plain[24];
    char* end = plain + sizeof plain;
    do *--end = static_cast<char>('0' + count % 10); while (count /= 10);
    return localiseNumber(out, end, plain + sizeof plain, locale, Decimals::kNone);
}

Utf16* formatModelDimensions(Utf16* out, const float boundsMin[3], const float boundsMax[3], bool yUp,
                             DisplayUnits units, uint32_t locale) {
    const LengthUnit* unit = modelUnit(boundsMin, boundsMax, units);
    float width = boundsMax[0] - boundsMin[0];
    float alongY = boundsMax[1] - boundsMin[1];
    float alongZ = boundsMax[2] - boundsMin[2];
    out = formatLengthIn(out, width, unit, locale);
    out = appendUtf16(out, U16("\u2009\u00D7\u2009"));
    out = formatLengthIn(out, yUp ? alongZ : alongY, unit, locale);
    out = appendUtf16(out, U16("; "));
    out = formatLengthIn(out, yUp ? alongY : alongZ, unit, locale);
    out = appendUtf16(out, U16(" tall"));
    *out = 0;
    return out;
}

Utf16* formatSectionLine(Utf16* out, int axis, float place, const LengthUnit* unit, uint32_t locale) {
    out = appendUtf16(out, U16("Section at "));
    *out++ = static_cast<Utf16>(u'X' + axis % 3);
    out = appendUtf16(out, U16(" = "));
    out = formatLengthIn(out, place, unit, locale);
    *out = 0;
    return out;
}
