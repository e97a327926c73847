#include <gtest/gtest.h>

#include <string>

#include "numfmt/length_parse.h"

namespace {

using Text = std::basic_string<Utf16>;

LengthFault read(const Text& text, bool share, TypedLength* length) {
    return readTypedLength(text.data(), text.data() + text.size(), share, length);
}

}  // namespace

// Each form a length is typed in, the edges of the number grammar and of the
// range, and what is refused with which fault.
TEST(TypedLengths, FormsUnitsAndFaults) {
    using F = LengthFault;
    using U = TypedUnit;
    const struct {
        const Utf16* text;
        F fault;
        double millimetres;
        U unit = U::kMillimetre;
        bool share = false;
    } rows[] = {
        {U16("2.5"), F::kNone, 2.5},
        {U16("  2,5 mm "), F::kNone, 2.5},
        {U16("-2.54"), F::kNone, -2.54},
        {U16("+.5"), F::kNone, 0.5},
        {U16("5."), F::kNone, 5},
        {U16("0"), F::kNone, 0},
        {U16("12.5mm"), F::kNone, 12.5},
        {U16("1.25cm"), F::kNone, 12.5, U::kCentimetre},
        {U16("1.25 CM"), F::kNone, 12.5, U::kCentimetre},
        {U16("0.5in"), F::kNone, 12.7, U::kInch},
        {U16("1 inch"), F::kNone, 25.4, U::kInch},
        {U16("2 Inches"), F::kNone, 50.8, U::kInch},
        {U16("1\""), F::kNone, 25.4, U::kInch},
        {U16("1\u2033"), F::kNone, 25.4, U::kInch},
        {U16("1e3"), F::kNone, 1000},
        {U16("2.5E-1 cm"), F::kNone, 2.5, U::kCentimetre},
        {U16("1\u00A0234,5\u202Fmm"), F::kUnknownUnit, 0},  // a grouping space is not read as one
        {U16("2\u2009mm"), F::kNone, 2},
        {U16("1e9"), F::kNone, 1e9},
        {U16("-100000 cm"), F::kNone, -1e6, U::kCentimetre},
        {U16("1e-400"), F::kNone, 0},
        {U16("50%"), F::kNone, 0, U::kShare, true},
        {U16(""), F::kEmpty, 0},
        {U16("   "), F::kEmpty, 0},
        {U16("abc"), F::kNotNumber, 0},
        {U16("nan"), F::kNotNumber, 0},
        {U16("inf"), F::kNotNumber, 0},
        {U16("-"), F::kNotNumber, 0},
        {U16("."), F::kNotNumber, 0},
        {U16("1.2.3"), F::kNotNumber, 0},
        {U16("1,000.5"), F::kNotNumber, 0},
        {U16("1-2"), F::kNotNumber, 0},
        {U16("mm"), F::kNotNumber, 0},
        {U16("12.5ft"), F::kUnknownUnit, 0},
        {U16("12.5 m"), F::kUnknownUnit, 0},
        {U16("2em"), F::kUnknownUnit, 0},
        {U16("1 mm mm"), F::kUnknownUnit, 0},
        {U16("50%"), F::kUnknownUnit, 0},  // a share only where one is asked for
        {U16("1e400"), F::kOutOfRange, 0},
        {U16("1.0000001e9"), F::kOutOfRange, 0},
        {U16("39371 in"), F::kNone, 39371 * 25.4, U::kInch},
        {U16("39371000 in"), F::kOutOfRange, 0},
        {U16("000000000000000000000000000000000000000000000000000000000000001"), F::kNone, 1},
        {U16("0000000000000000000000000000000000000000000000000000000000000001"), F::kNotNumber, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Text(row.text).size());
        TypedLength length{};
        ASSERT_EQ(read(row.text, row.share, &length), row.fault);
        if (row.fault == F::kUnknownUnit) EXPECT_NE(length.unitStart, length.unitEnd);
        if (row.fault != F::kNone) continue;
        EXPECT_EQ(length.millimetres, row.millimetres);
        EXPECT_EQ(length.unit, row.unit);
    }
    TypedLength length{};
    Text feet = U16("12.5 ft ");
    ASSERT_EQ(read(feet, false, &length), F::kUnknownUnit);
    EXPECT_EQ(Text(length.unitStart, length.unitEnd), U16("ft"));
    ASSERT_EQ(read(U16("2"), false, &length), F::kNone);
    EXPECT_FALSE(length.unitTyped);
    ASSERT_EQ(read(U16("2 mm"), false, &length), F::kNone);
    EXPECT_TRUE(length.unitTyped);
    for (int fault = 0; fault < kLengthFaultCount; ++fault)
        EXPECT_GT(Text(lengthFaultText(static_cast<LengthFault>(fault))).size(), 3u) << fault;
}

// A build volume as "W x D x H", each side with or without its unit.
TEST(TypedLengths, Sizes) {
    const struct {
        const Utf16* text;
        LengthFault fault;
        double sides[3];
    } rows[] = {
        {U16("250x210x220"), LengthFault::kNone, {250, 210, 220}},
        {U16("25cm X 21 cm \u00D7 8.5in"), LengthFault::kNone, {250, 210, 215.9}},
        {U16("218.88 x 122,88 x 220"), LengthFault::kNone, {218.88, 122.88, 220}},
        {U16("250x210"), LengthFault::kNotNumber, {}},
        {U16("250x210x220x1"), LengthFault::kNotNumber, {}},
        {U16("x210x220"), LengthFault::kEmpty, {}},
        {U16("250 210 220"), LengthFault::kNotNumber, {}},
        {U16("250x210x22 ft"), LengthFault::kUnknownUnit, {}},
    };
    for (const auto& row : rows) {
        Text text = row.text;
        SCOPED_TRACE(text.size());
        double sides[3] = {};
        ASSERT_EQ(readTypedSizes(text.data(), text.data() + text.size(), sides), row.fault);
        if (row.fault != LengthFault::kNone) continue;
        for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(sides[i], row.sides[i]) << i;
    }
}
