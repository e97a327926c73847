#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "numfmt/length_format.h"
#include "numfmt/measure_format.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using Text = std::basic_string<Utf16>;

constexpr uint32_t kEnglishUs = 0x0409, kGerman = 0x0407, kFrench = 0x040C, kEnglishIndia = 0x4009,
                   kNoSuchLocale = 0x7FFF;
constexpr DisplayUnits kMetric = DisplayUnits::kMetric, kUs = DisplayUnits::kUs,
                       kMillimetres = DisplayUnits::kMillimetres, kInches = DisplayUnits::kInches;

enum Measure { kLength, kArea, kVolume, kWeight, kCount };

// The text of one measure, checked against the longest its function declares.
Text formatted(Measure measure, double value, bool usUnits, uint32_t locale) {
    Utf16 buffer[kMaxMeasureText + 8];
    Utf16* end = measure == kLength   ? formatLength(buffer, static_cast<float>(value), usUnits, locale)
                 : measure == kArea   ? formatArea(buffer, value, usUnits, locale)
                 : measure == kVolume ? formatVolume(buffer, value, usUnits, locale)
                 : measure == kWeight ? formatWeight(buffer, value, usUnits, locale)
                                      : formatCount(buffer, static_cast<uint64_t>(value), locale);
    EXPECT_LE(end - buffer,
              measure == kLength ? kMaxLengthText : measure == kCount ? kMaxCountText - 1 : kMaxMeasureText);
    return Text(buffer, end);
}

Text dimensions(const float* low, const float* high, bool yUp, DisplayUnits units, uint32_t locale) {
    Utf16 buffer[kDimensionsTextCapacity];
    Utf16* end = formatModelDimensions(buffer, low, high, yUp, units, locale);
    EXPECT_EQ(*end, 0);
    EXPECT_LT(end - buffer, kDimensionsTextCapacity);
    return Text(buffer, end);
}

}  // namespace

// Each length unit from its threshold up, the extremes taking the last row;
// areas and volumes in the unit of their side squared or cubed; counts; each
// in the locale's layout where one is given (without Windows every locale
// lays out the plain number, as a locale that does not exist does).
// A printer's build volume: four significant digits each, in the locale's layout.
TEST(FormatMeasures, MillimetreSizes) {
    const double mk4s[3] = {250, 210, 220}, resin[3] = {218.88, 122.88, 1234.4};
    Utf16 buffer[kMaxVolumeSizesText];
    EXPECT_EQ(Text(buffer, formatMillimetreSizes(buffer, mk4s, kNoLocale)), Text(U16("250\u2009\u00D7\u2009210\u2009\u00D7\u2009220\u2009mm")));
#ifdef _WIN32
    EXPECT_EQ(Text(buffer, formatMillimetreSizes(buffer, resin, kGerman)),
              Text(U16("218,9\u2009\u00D7\u2009122,9\u2009\u00D7\u20091.234\u2009mm")));
    EXPECT_EQ(Text(buffer, formatMillimetreSizes(buffer, resin, kEnglishUs)),
              Text(U16("218.9\u2009\u00D7\u2009122.9\u2009\u00D7\u20091,234\u2009mm")));
#endif
}

TEST(FormatMeasures, UnitsAndLocales) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), infinity = std::numeric_limits<double>::infinity();
    const struct Row {
        Measure measure;
        double value;
        bool usUnits;
        const Utf16* text;
        uint32_t locale = kNoLocale;
    } rows[] = {
        {kLength, 0.009, false, U16("9.0\u2009mm")},
        {kLength, std::nextafter(0.01f, 0.0f), false, U16("10.0\u2009mm")},
        {kLength, 0.01f, false, U16("1.0\u2009cm")},
        {kLength, std::nextafter(1.0f, 0.0f), false, U16("100.0\u2009cm")},
        {kLength, 1.0, false, U16("1.0\u2009m")},             {kLength, 1000.0, false, U16("1.0\u2009km")},
        {kLength, 12345678.0, false, U16("12350.0\u2009km")}, {kLength, 0.3, true, U16("11.81\u2009in")},
        {kLength, 0.3048f, true, U16("1.0\u2009ft")},         {kLength, 1609.0, true, U16("5279.0\u2009ft")},
        {kLength, 1524.1493, true, U16("5000.0\u2009ft")},  // just under a rounding edge: the factor to its sixth digit
        {kLength, 1609.344f, true, U16("1.0\u2009mi")},       {kLength, 2000.0, true, U16("1.243\u2009mi")},
        {kLength, nan, false, U16("NaN\u2009km")},            {kLength, nan, true, U16("NaN\u2009mi")},
        {kLength, infinity, false, U16("Infinity\u2009km")},  {kLength, 0.0, false, U16("0.0\u2009mm")},
        {kLength, 0.125, false, U16("12.50\u2009cm"), kEnglishUs},
        {kLength, 12345678.0, false, U16("12,350.00\u2009km"), kEnglishUs},
        {kLength, 12345678.0, false, U16("12.350,00\u2009km"), kGerman},
        {kLength, 0.00012345f, false, U16("0.1234\u2009mm"), kEnglishUs},  // more decimals than the locale's: four digits
        {kLength, 0.125, false, U16("12.5\u2009cm"), kNoSuchLocale},
        {kLength, infinity, true, U16("Infinity\u2009mi"), kEnglishUs},
        {kArea, 0.06, false, U16("600\u2009cm\u00B2")},       {kArea, 1e-6, false, U16("1\u2009mm\u00B2")},
        {kArea, 2.0, false, U16("2\u2009m\u00B2")},         {kArea, 1.0, true, U16("10.76\u2009ft\u00B2")},
        {kVolume, 0.001, false, U16("1000\u2009cm\u00B3")},
        {kVolume, -0.001, false, U16("-1000\u2009cm\u00B3")},  // inside out
        {kVolume, 0.0, false, U16("0\u2009mm\u00B3")},      {kVolume, 1e-6, true, U16("0.06102\u2009in\u00B3")},
        {kVolume, nan, false, U16("NaN\u2009km\u00B3")},
        {kVolume, 0.001, false, U16("1,000\u2009cm\u00B3"), kEnglishUs},
        // Areas and volumes: four significant digits, rounded from the exact value, nothing padded
        // (not "2,244.00" for 2,244.15); the locale's separators and grouping, Indian too.
        {kArea, 0.224415, false, U16("2,244\u2009cm\u00B2"), kEnglishUs},
        {kArea, 0.224415, false, U16("2.244\u2009cm\u00B2"), kGerman},
        {kArea, 0.039464, false, U16("394.6\u2009cm\u00B2"), kEnglishUs},
        {kArea, 0.039464, false, U16("394,6\u2009cm\u00B2"), kGerman},
        {kArea, 0.039464, false, U16("394.6\u2009cm\u00B2"), kEnglishIndia},
        {kArea, 0.03946499, true, U16("61.17\u2009in\u00B2"), kEnglishUs},
        {kVolume, 7727.32, false, U16("7,727\u2009m\u00B3"), kEnglishUs},
        {kVolume, 7727.32, false, U16("7.727\u2009m\u00B3"), kGerman},
        {kVolume, 7727.6, false, U16("7,728\u2009m\u00B3"), kEnglishIndia},
        {kVolume, 1234567.0, false, U16("12,35,000\u2009m\u00B3"), kEnglishIndia},
        {kVolume, 7727.32, true, U16("272,900\u2009ft\u00B3"), kEnglishUs},
        {kVolume, 64e-9, true, U16("0.003906\u2009in\u00B3"), kEnglishUs},
        {kVolume, -64e-9, true, U16("-0.003906\u2009in\u00B3"), kEnglishUs},
        {kArea, 2e-6, true, U16("0.0031\u2009in\u00B2"), kEnglishUs},
        {kVolume, 1e-6, true, U16("0,06102\u2009in\u00B3"), kGerman},
        // Weights: grams up to a kilogram, ounces up to a pound.
        {kWeight, 0.015376, false, U16("15.38\u2009g")},    {kWeight, 0.015376, false, U16("15,38\u2009g"), kGerman},
        {kWeight, 0.015376, true, U16("0.5424\u2009oz")},   {kWeight, 0.015376, true, U16("0,5424\u2009oz"), kGerman},
        {kWeight, 1234.4, false, U16("1,234\u2009kg"), kEnglishUs}, {kWeight, 1.0, false, U16("1\u2009kg")},
        {kWeight, 0.999, false, U16("999\u2009g")},         {kWeight, 0.45359237, true, U16("1\u2009lb")},
        {kWeight, 1.0, true, U16("2.205\u2009lb"), kEnglishIndia},
        {kVolume, 0.0, true, U16("0\u2009in\u00B3"), kEnglishUs},
        {kCount, 0, false, U16("0"), kEnglishUs},             {kCount, 123456, false, U16("123,456"), kEnglishUs},
        {kCount, 123456, false, U16("123.456"), kGerman},     {kCount, 1234567, false, U16("1234567")},
        // Every group, where Wine's own layout would group only the last three digits; Indian twos after three.
        {kCount, 1234567, false, U16("1,234,567"), kEnglishUs}, {kCount, 1234567, false, U16("1.234.567"), kGerman},
        {kCount, 1234567, false, U16("12,34,567"), kEnglishIndia},
        {kLength, 12345678.0, true, U16("7,671.00\u2009mi"), kEnglishUs},
        {kCount, 1234567, false, U16("1234567"), kNoSuchLocale},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.measure << " " << row.value << " locale " << std::hex << row.locale);
#ifdef _WIN32
        EXPECT_EQ(formatted(row.measure, row.value, row.usUnits, row.locale), Text(row.text));
#else
        const Text plain = formatted(row.measure, row.value, row.usUnits, kNoLocale);
        EXPECT_EQ(formatted(row.measure, row.value, row.usUnits, row.locale), plain);
        if (row.locale == kNoLocale) EXPECT_EQ(plain, Text(row.text));
#endif
    }
    // The longest numbers a float or a count can produce still fit the declared
    // sizes, and so do the area and volume of a mesh as large as floats go.
    formatted(kLength, std::numeric_limits<float>::max(), false, kEnglishUs);
    formatted(kLength, -std::numeric_limits<float>::denorm_min(), true, kNoLocale);
    formatted(kVolume, -3e116, false, kNoLocale);
    formatted(kArea, 5e77, true, kEnglishUs);
    // The longest number the layout takes is shown whole, none of its 63 digits cut.
    Text widest(1, '1');
    widest.append(62, '0');
    EXPECT_EQ(formatted(kArea, 1e68, false, kNoLocale), widest + U16("\u2009km\u00B2"));
    Utf16 largest[kMaxCountText];
    EXPECT_LT(formatCount(largest, UINT64_MAX, kEnglishUs) - largest, kMaxCountText);
#ifdef _WIN32
    EXPECT_EQ(formatted(kLength, 0.125, false, kUserLocale), formatted(kLength, 0.125, false, GetUserDefaultLCID()));
#endif
}

// Width and depth, then height: z up or y up; extents are differences, and
// all three take the unit of the largest (or the one chosen).
TEST(FormatModelDimensions, AxesAndUnits) {
    const float origin[3] = {0, 0, 0}, box[3] = {0.1f, 0.05f, 0.02f};  // 100 × 50 × 20 mm
    const float low[3] = {-0.5f, 2.0f, -0.001f}, high[3] = {1.5f, 2.003f, 0.001f};
    EXPECT_EQ(dimensions(origin, box, false, kMetric, kNoLocale),
              U16("10.0\u2009cm\u2009\u00D7\u20095.0\u2009cm; 2.0\u2009cm tall"));
    EXPECT_EQ(dimensions(origin, box, true, kMetric, kNoLocale),
              U16("10.0\u2009cm\u2009\u00D7\u20092.0\u2009cm; 5.0\u2009cm tall"));
    EXPECT_EQ(dimensions(low, high, false, kMetric, kNoLocale),
              U16("2.0\u2009m\u2009\u00D7\u20090.003\u2009m; 0.002\u2009m tall"));
    EXPECT_EQ(dimensions(low, high, false, kUs, kNoLocale),
              U16("6.562\u2009ft\u2009\u00D7\u20090.009843\u2009ft; 0.006562\u2009ft tall"));
}

// One unit for the whole line in every setting and locale: the issue's
// plate of 60 × 40 × 5 mm ("6.00 cm × 4.00 cm; 5.00 mm tall" before), a
// 1.2 m table with a 4 mm top, and a 2 mm pin whose line stays in millimetres.
TEST(FormatModelDimensions, OneUnitPerLine) {
    const float origin[3] = {0, 0, 0}, plate[3] = {0.06f, 0.04f, 0.005f}, table[3] = {1.2f, 0.3f, 0.004f},
                pin[3] = {0.002f, 0.002f, 0.0005f};
    const struct Row {
        const float* high;
        DisplayUnits units;
        uint32_t locale;
        const Utf16* text;
    } rows[] = {
        {plate, kMetric, kNoLocale, U16("6.0\u2009cm\u2009\u00D7\u20094.0\u2009cm; 0.5\u2009cm tall")},
        {plate, kMetric, kEnglishUs, U16("6.00\u2009cm\u2009\u00D7\u20094.00\u2009cm; 0.50\u2009cm tall")},
        {plate, kMetric, kGerman, U16("6,00\u2009cm\u2009\u00D7\u20094,00\u2009cm; 0,50\u2009cm tall")},
        {plate, kMetric, kFrench, U16("6,00\u2009cm\u2009\u00D7\u20094,00\u2009cm; 0,50\u2009cm tall")},
        {plate, kMillimetres, kNoLocale, U16("60.0\u2009mm\u2009\u00D7\u200940.0\u2009mm; 5.0\u2009mm tall")},
        {plate, kMillimetres, kEnglishUs, U16("60.00\u2009mm\u2009\u00D7\u200940.00\u2009mm; 5.00\u2009mm tall")},
        {plate, kMillimetres, kGerman, U16("60,00\u2009mm\u2009\u00D7\u200940,00\u2009mm; 5,00\u2009mm tall")},
        {plate, kInches, kNoLocale, U16("2.362\u2009in\u2009\u00D7\u20091.575\u2009in; 0.1969\u2009in tall")},
        {plate, kInches, kGerman, U16("2,362\u2009in\u2009\u00D7\u20091,575\u2009in; 0,1969\u2009in tall")},
        {plate, kUs, kEnglishUs, U16("2.362\u2009in\u2009\u00D7\u20091.575\u2009in; 0.1969\u2009in tall")},
        {table, kMetric, kEnglishUs, U16("1.20\u2009m\u2009\u00D7\u20090.30\u2009m; 0.004\u2009m tall")},
        {table, kMillimetres, kEnglishUs,
         U16("1,200.00\u2009mm\u2009\u00D7\u2009300.00\u2009mm; 4.00\u2009mm tall")},
        {table, kMillimetres, kGerman, U16("1.200,00\u2009mm\u2009\u00D7\u2009300,00\u2009mm; 4,00\u2009mm tall")},
        {table, kInches, kFrench, U16("47,24\u2009in\u2009\u00D7\u200911,81\u2009in; 0,1575\u2009in tall")},
        {table, kUs, kNoLocale, U16("3.937\u2009ft\u2009\u00D7\u20090.9843\u2009ft; 0.01312\u2009ft tall")},
        {pin, kMetric, kFrench, U16("2,00\u2009mm\u2009\u00D7\u20092,00\u2009mm; 0,50\u2009mm tall")},
        {pin, kInches, kEnglishUs, U16("0.07874\u2009in\u2009\u00D7\u20090.07874\u2009in; 0.01969\u2009in tall")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.units) << " locale " << std::hex << row.locale);
#ifndef _WIN32
        if (row.locale != kNoLocale) continue;
#endif
        EXPECT_EQ(dimensions(origin, row.high, false, row.units, row.locale), Text(row.text));
    }
}

// Areas and volumes in the square and cube of the line's unit; a volume in
// millimetres turns to cm³ from 10,000 mm³ on.
TEST(FormatMeasures, AreaAndVolumeInTheLineUnit) {
    const LengthUnit* centimetres = &kLengthUnits[1];
    const struct Row {
        bool volume;
        double value;
        const LengthUnit* unit;
        uint32_t locale;
        const Utf16* text;
    } rows[] = {
        {false, 5.657e-4, centimetres, kNoLocale, U16("5.657\u2009cm\u00B2")},
        {false, 5.657e-4, kMillimetreUnit, kNoLocale, U16("565.7\u2009mm\u00B2")},
        {false, 5.657e-4, kInchUnit, kNoLocale, U16("0.8768\u2009in\u00B2")},
        {false, 0.0123456, kMillimetreUnit, kEnglishUs, U16("12,350\u2009mm\u00B2")},
        {false, 0.0123456, kMillimetreUnit, kGerman, U16("12.350\u2009mm\u00B2")},
        {true, 218.5e-9, centimetres, kNoLocale, U16("0.2185\u2009cm\u00B3")},
        {true, 218.5e-9, kMillimetreUnit, kNoLocale, U16("218.5\u2009mm\u00B3")},
        {true, 218.5e-9, kInchUnit, kFrench, U16("0,01333\u2009in\u00B3")},
        {true, 9999e-9, kMillimetreUnit, kEnglishUs, U16("9,999\u2009mm\u00B3")},
        {true, 1e-5, kMillimetreUnit, kEnglishUs, U16("10\u2009cm\u00B3")},
        {true, -1.2346e-5, kMillimetreUnit, kGerman, U16("-12,35\u2009cm\u00B3")},
        {true, 1e-5, kInchUnit, kNoLocale, U16("0.6102\u2009in\u00B3")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.value << " in " << row.unit->suffix << " locale " << std::hex << row.locale);
#ifndef _WIN32
        if (row.locale != kNoLocale) continue;
#endif
        Utf16 buffer[kMaxMeasureText];
        Utf16* end = row.volume ? formatVolumeIn(buffer, row.value, row.unit, row.locale)
                                : formatAreaIn(buffer, row.value, row.unit, row.locale);
        EXPECT_EQ(Text(buffer, end), Text(row.text));
    }
}

// The measure line: a point in the unit of its largest coordinate, a distance
// with its differences in the distance's unit; the sign kept, noise of a pick
// on a flat face shown as zero, and the distance written as the size line
// writes that length.
TEST(FormatMeasureLine, PointAndDistance) {
    const double origin[3] = {0, 0, 0};
    const double edgeLow[3] = {-0.01, 0.005, 0}, edgeHigh[3] = {0.01, 0.005, 0};
    const double noisy[3] = {0.01, 1e-15, -1e-15}, justAboveNoise[3] = {0.01, 1.5e-11, -1.5e-11};
    const double corner[3] = {0.02, -0.0035, 0};
    const double farBelow[3] = {0.004, 0.0025, -1.5};  // its unit is that of 1.5 m, not of 4 mm
    const double farAside[3] = {0.004, -2.5, 0.001}, minusZero[3] = {-0.0, 0.0, -0.0};
    const double low[3] = {0, 0, 0.01}, high[3] = {0.03, -0.04, 0.13};  // 3, 4, 12: 13 cm
    const double raised[3] = {0, 0, 0.0254}, threeFourInches[3] = {3 * 0.0254, -4 * 0.0254, 0.0254};
    const struct Row {
        const double* a;  // null: a point
        const double* b;
        DisplayUnits units;
        const Utf16* text;
        uint32_t locale = kNoLocale;
    } rows[] = {
        {nullptr, corner, kMetric, U16("Point: 2.0\u2009cm, -0.35\u2009cm, 0.0\u2009cm")},
        {nullptr, noisy, kMetric, U16("Point: 1.0\u2009cm, 0.0\u2009cm, 0.0\u2009cm")},
        {nullptr, justAboveNoise, kMetric,
         U16("Point: 1.0\u2009cm, 0.0000000015\u2009cm, -0.0000000015\u2009cm")},
        {nullptr, farBelow, kMetric, U16("Point: 0.004\u2009m, 0.0025\u2009m, -1.5\u2009m")},
        {nullptr, farAside, kMetric, U16("Point: 0.004\u2009m, -2.5\u2009m, 0.001\u2009m")},
        {nullptr, minusZero, kMetric, U16("Point: 0.0\u2009mm, 0.0\u2009mm, 0.0\u2009mm")},
        {low, high, kMetric,
         U16("Distance: 13.0\u2009cm (\u0394x 3.0\u2009cm, \u0394y -4.0\u2009cm, \u0394z 12.0\u2009cm)")},
        {nullptr, origin, kUs, U16("Point: 0.0\u2009in, 0.0\u2009in, 0.0\u2009in")},
        {edgeLow, edgeHigh, kMetric, U16("Distance: 2.0\u2009cm (\u0394x 2.0\u2009cm, \u0394y 0.0\u2009cm, \u0394z 0.0\u2009cm)")},
        {edgeHigh, edgeLow, kMetric,
         U16("Distance: 2.0\u2009cm (\u0394x -2.0\u2009cm, \u0394y 0.0\u2009cm, \u0394z 0.0\u2009cm)")},
        {raised, threeFourInches, kUs,
         U16("Distance: 5.0\u2009in (\u0394x 3.0\u2009in, \u0394y -4.0\u2009in, \u0394z 0.0\u2009in)")},
        {origin, noisy, kMetric, U16("Distance: 1.0\u2009cm (\u0394x 1.0\u2009cm, \u0394y 0.0\u2009cm, \u0394z 0.0\u2009cm)")},
        {edgeLow, edgeHigh, kMetric,
         U16("Distance: 2.00\u2009cm (\u0394x 2.00\u2009cm, \u0394y 0.00\u2009cm, \u0394z 0.00\u2009cm)"), kEnglishUs},
        {nullptr, corner, kMetric, U16("Point: 2,00\u2009cm, -0,35\u2009cm, 0,00\u2009cm"), kGerman},
        // A chosen unit for every number of the line, the locale's decimals or more.
        {nullptr, corner, kMillimetres, U16("Point: 20.00\u2009mm, -3.50\u2009mm, 0.00\u2009mm"), kEnglishUs},
        {nullptr, farBelow, kMillimetres, U16("Point: 4,00\u2009mm, 2,50\u2009mm, -1.500,00\u2009mm"), kGerman},
        {low, high, kInches,
         U16("Distance: 5,118\u2009in (\u0394x 1,181\u2009in, \u0394y -1,575\u2009in, \u0394z 4,724\u2009in)"), kFrench},
        {raised, threeFourInches, kMillimetres,
         U16("Distance: 127.0\u2009mm (\u0394x 76.2\u2009mm, \u0394y -101.6\u2009mm, \u0394z 0.0\u2009mm)")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.a ? "distance " : "point ") << std::hex << row.locale);
        Utf16 buffer[kMeasureTextCapacity];
        Utf16* end = row.a ? formatMeasureDistance(buffer, row.a, row.b, row.units, row.locale)
                           : formatMeasurePoint(buffer, row.b, row.units, row.locale);
        EXPECT_EQ(*end, 0);
#ifndef _WIN32
        if (row.locale != kNoLocale) continue;
#endif
        EXPECT_EQ(Text(buffer, end), Text(row.text));
    }
    // The size line's own text for the edge of 20 mm.
    Utf16 size[kMaxLengthText];
    EXPECT_EQ(Text(size, formatLength(size, 0.02f, false, kNoLocale)), U16("2.0\u2009cm"));
    // The longest numbers still fit.
    const double huge[3] = {-3e38, -3e38, -3e38};
    Utf16 longest[kMeasureTextCapacity];
    EXPECT_LT(formatMeasureDistance(longest, origin, huge, kUs, kEnglishUs) - longest, kMeasureTextCapacity);
}

// The place in the line unit it is given (the size line's), however far it
// is from the origin, negative places too.
TEST(FormatSectionLine, PlaceInTheSizeLineUnit) {
    const LengthUnit *centimetres = &kLengthUnits[1], *metres = &kLengthUnits[2];
    const struct {
        int axis;
        float place;
        const LengthUnit* unit;
        uint32_t locale;
        const Utf16* expected;
    } cases[] = {
        {2, 0.0125f, centimetres, kNoLocale, U16("Section at Z = 1.25\u2009cm")},
        {0, 0.0125f, kMillimetreUnit, kNoLocale, U16("Section at X = 12.5\u2009mm")},
        {1, -1.5f, centimetres, kNoLocale, U16("Section at Y = -150.0\u2009cm")},
        {1, 2.5f, metres, kNoLocale, U16("Section at Y = 2.5\u2009m")},
        {2, 0.0254f, kInchUnit, kNoLocale, U16("Section at Z = 1.0\u2009in")},
        {2, 0.0025f, kMillimetreUnit, kEnglishUs, U16("Section at Z = 2.50\u2009mm")},
        {2, 0.0025f, metres, kGerman, U16("Section at Z = 0,0025\u2009m")},
    };
    for (const auto& c : cases) {
#ifndef _WIN32
        if (c.locale != kNoLocale) continue;
#endif
        Utf16 buffer[kSectionTextCapacity];
        Utf16* end = formatSectionLine(buffer, c.axis, c.place, c.unit, c.locale);
        EXPECT_EQ(*end, 0);
        EXPECT_LT(end - buffer, kSectionTextCapacity);
        EXPECT_EQ(Text(buffer, end), Text(c.expected)) << c.axis << " " << c.place;
    }
}
