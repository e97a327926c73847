#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "numfmt/length_format.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using Text = std::basic_string<Utf16>;

Text length(float metres, bool usUnits, uint32_t locale = kNoLocale) {
    Utf16 buffer[kMaxLengthText + 8];
    Utf16* end = formatLength(buffer, metres, usUnits, locale);
    EXPECT_LE(end - buffer, kMaxLengthText);
    return Text(buffer, end);
}

Text dimensions(const float (&low)[3], const float (&high)[3], bool yUp, bool usUnits,
                uint32_t locale = kNoLocale) {
    Utf16 buffer[kDimensionsTextCapacity];
    Utf16* end = formatModelDimensions(buffer, low, high, yUp, usUnits, locale);
    EXPECT_EQ(*end, 0);
    EXPECT_LT(end - buffer, kDimensionsTextCapacity);
    return Text(buffer, end);
}

// A readable failure message: UTF-16 shown as UTF-8.
std::string narrow(const Text& text) {
    std::string out;
    for (Utf16 unit : text) {
        uint32_t code = static_cast<uint16_t>(unit);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

#define EXPECT_TEXT(actual, expected) EXPECT_EQ(narrow(actual), narrow(Text(expected)))

const float kOrigin[3] = {0, 0, 0};
const float kBox[3] = {0.1f, 0.05f, 0.02f};  // 100 × 50 × 20 mm

}  // namespace

// Each unit from its threshold up, and the extremes, which take the last row.
TEST(FormatLength, UnitsAndThresholds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::tuple<float, bool, const Utf16*> rows[] = {
        {0.009f, false, U16("9.0\u2009mm")},
        {std::nextafter(0.01f, 0.0f), false, U16("10.0\u2009mm")},
        {0.01f, false, U16("1.0\u2009cm")},
        {std::nextafter(1.0f, 0.0f), false, U16("100.0\u2009cm")},
        {1.0f, false, U16("1.0\u2009m")},
        {999.5f, false, U16("999.5\u2009m")},
        {1000.0f, false, U16("1.0\u2009km")},
        {12345678.0f, false, U16("12350.0\u2009km")},
        {0.3f, true, U16("11.81\u2009in")},
        {0.3048f, true, U16("1.0\u2009ft")},
        {1609.0f, true, U16("5279.0\u2009ft")},
        {1609.344f, true, U16("1.0\u2009mi")},
        {2000.0f, true, U16("1.243\u2009mi")},
        {nan, false, U16("NaN\u2009km")},
        {nan, true, U16("NaN\u2009mi")},
        {std::numeric_limits<float>::infinity(), false, U16("Infinity\u2009km")},
        {0.0f, false, U16("0.0\u2009mm")},
    };
    for (const auto& [metres, usUnits, expected] : rows) EXPECT_TEXT(length(metres, usUnits), expected) << metres;
    // The longest numbers a float can produce still fit the declared size.
    length(std::numeric_limits<float>::max(), false);
    length(-std::numeric_limits<float>::denorm_min(), true);
}

// Width and depth, then height: z up or y up; extents are differences and
// each length takes its own unit.
TEST(FormatModelDimensions, AxesAndUnits) {
    const float low[3] = {-0.5f, 2.0f, -0.001f};
    const float high[3] = {1.5f, 2.003f, 0.001f};
    EXPECT_TEXT(dimensions(kOrigin, kBox, false, false),
                U16("10.0\u2009cm\u2009\u00D7\u20095.0\u2009cm; 2.0\u2009cm tall"));
    EXPECT_TEXT(dimensions(kOrigin, kBox, true, false),
                U16("10.0\u2009cm\u2009\u00D7\u20092.0\u2009cm; 5.0\u2009cm tall"));
    EXPECT_TEXT(dimensions(low, high, false, false),
                U16("2.0\u2009m\u2009\u00D7\u20093.0\u2009mm; 2.0\u2009mm tall"));
    EXPECT_TEXT(dimensions(low, high, false, true),
                U16("6.562\u2009ft\u2009\u00D7\u20090.1181\u2009in; 0.07874\u2009in tall"));
}

// Areas and volumes take the unit of their side's length, squared or cubed.
TEST(FormatMeasures, UnitOfTheSideSquaredOrCubed) {
    struct Row {
        double measure;
        int power;
        bool usUnits;
        const Utf16* expected;
    };
    const Row rows[] = {
        {0.06, 2, false, U16("600.0\u2009cm\u00B2")},
        {1e-6, 2, false, U16("1.0\u2009mm\u00B2")},
        {2.0, 2, false, U16("2.0\u2009m\u00B2")},
        {1.0, 2, true, U16("10.76\u2009ft\u00B2")},
        {0.001, 3, false, U16("1000.0\u2009cm\u00B3")},
        {-0.001, 3, false, U16("-1000.0\u2009cm\u00B3")},  // inside out
        {0.0, 3, false, U16("0.0\u2009mm\u00B3")},
        {1e-6, 3, true, U16("0.06102\u2009in\u00B3")},
        {std::numeric_limits<double>::quiet_NaN(), 3, false, U16("NaN\u2009km\u00B3")},
    };
    for (const Row& row : rows) {
        Utf16 buffer[kMaxMeasureText + 8];
        Utf16* end = (row.power == 2 ? formatArea : formatVolume)(buffer, row.measure, row.usUnits, kNoLocale);
        EXPECT_LE(end - buffer, kMaxMeasureText);
        EXPECT_TEXT(Text(buffer, end), row.expected) << row.measure;
    }
}

Text count(uint64_t value, uint32_t locale) {
    Utf16 buffer[kMaxCountText];
    return Text(buffer, formatCount(buffer, value, locale));
}

TEST(FormatLength, ThreadsAgreeWithOneThread) {
    std::vector<float> lengths;
    for (int i = 0; i < 3000; ++i) lengths.push_back(std::ldexp(1.0f + i / 3000.0f, i % 40 - 20));
    std::vector<Text> expected;
    for (float metres : lengths) expected.push_back(length(metres, metres > 1, kUserLocale));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < lengths.size(); ++i) {
                if (length(lengths[i], lengths[i] > 1, kUserLocale) != expected[i]) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

#ifdef _WIN32

namespace {
constexpr uint32_t kEnglishUs = 0x0409;
constexpr uint32_t kGerman = 0x0407;
}  // namespace

TEST(FormatLength, LocaleDecimals) {
    EXPECT_TEXT(length(0.125f, false, kEnglishUs), U16("12.50\u2009cm"));
    EXPECT_TEXT(length(12345678.0f, false, kEnglishUs), U16("12,350.00\u2009km"));
    EXPECT_TEXT(length(0.00012345f, false, kEnglishUs), U16("0.12\u2009mm"));
    EXPECT_TEXT(length(12345678.0f, false, kGerman), U16("12.350,00\u2009km"));
    EXPECT_TEXT(dimensions(kOrigin, kBox, true, false, kGerman),
                U16("10,00\u2009cm\u2009\u00D7\u20092,00\u2009cm; 5,00\u2009cm tall"));
    // No such locale: the plain number.
    EXPECT_TEXT(length(0.125f, false, 0x7FFF), U16("12.5\u2009cm"));
    EXPECT_TEXT(length(std::numeric_limits<float>::infinity(), true, kEnglishUs), U16("Infinity\u2009mi"));
}

TEST(FormatCount, GroupedWithoutDecimals) {
    const std::tuple<uint64_t, uint32_t, const Utf16*> rows[] = {
        {0, kEnglishUs, U16("0")},
        {123456, kEnglishUs, U16("123,456")},
        {123456, kGerman, U16("123.456")},
        {1234567, kNoLocale, U16("1234567")},
        {1234567, 0x7FFF, U16("1234567")},  // no such locale
    };
    for (const auto& [value, locale, expected] : rows) EXPECT_TEXT(count(value, locale), expected) << value;
    Text largest = count(UINT64_MAX, kEnglishUs);
    EXPECT_LT(largest.size(), size_t{kMaxCountText});
    EXPECT_EQ(largest.substr(largest.size() - 4), Text(U16(",615")));
}

TEST(FormatLength, UserLocaleIsTheUsersDefault) {
    uint32_t user = GetUserDefaultLCID();
    EXPECT_TEXT(length(0.125f, false, kUserLocale), length(0.125f, false, user));
    EXPECT_TEXT(dimensions(kOrigin, kBox, false, true, kUserLocale), dimensions(kOrigin, kBox, false, true, user));
}

#else

TEST(FormatLength, WithoutWindowsTheNumberStaysPlain) {
    EXPECT_TEXT(count(1234567, kUserLocale), U16("1234567"));
    EXPECT_EQ(length(12345678.0f, false, kUserLocale), length(12345678.0f, false, kNoLocale));
    EXPECT_TEXT(dimensions(kOrigin, kBox, false, false, kUserLocale),
                U16("10.0\u2009cm\u2009\u00D7\u20095.0\u2009cm; 2.0\u2009cm tall"));
}

#endif
