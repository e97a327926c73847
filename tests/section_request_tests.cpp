// --section AXIS=LENGTH: where a typed plane cuts a model of millimetres and
// one of inches, at the ends, outside, and what is refused.
#include <gtest/gtest.h>

#include <string>

#include "app/section_request.h"
#include "stl/stl_mesh.h"

namespace {

using Text = std::basic_string<Utf16>;

// The box's end in metres as the upload scales a file coordinate.
float metres(float fileCoordinate, float unitScale) {
    return static_cast<float>(fileCoordinate * static_cast<double>(unitScale));
}

}  // namespace

TEST(SectionRequest, PlacesTypedLengthsInTheModelAsShown) {
    constexpr float kMm = 0.001f;
    const struct {
        const Utf16* text;
        float fileLow, fileHigh, unitScale;  // the model along the axis, in file units
        SectionSide side;
        float share;
    } rows[] = {
        // A plate from 0 to 5 mm and a box from 0 to 20 mm: 2.5 is millimetres in both.
        {U16("z=2.5"), 0, 5, kMm, SectionSide::kWithin, 0.5f},
        {U16("z=2.5"), 0, 20, kMm, SectionSide::kWithin, 0.125f},
        {U16("Z=12.5mm"), 0, 20, kMm, SectionSide::kWithin, 0.625f},
        {U16("z=0.5cm"), 0, 20, kMm, SectionSide::kWithin, 0.25f},
        {U16("x=-2.5"), -5, 5, kMm, SectionSide::kWithin, 0.25f},
        {U16("y=50%"), -5, 5, kMm, SectionSide::kWithin, 0.5f},
        {U16("z=20"), 0, 20, kMm, SectionSide::kWithin, 1},  // on the top: cuts nothing
        {U16("z=0"), 0, 20, kMm, SectionSide::kWithin, 0},
        {U16("z=30"), 0, 20, kMm, SectionSide::kAbove, 1},
        {U16("z=-0.1"), 0, 20, kMm, SectionSide::kBelow, 0},
        {U16("z=150%"), 0, 20, kMm, SectionSide::kAbove, 1},
        {U16("z=-50%"), 0, 20, kMm, SectionSide::kBelow, 0},
        // A box of inches from -5 to 5 in: shown as -127 to 127 mm.
        {U16("z=12.7"), -5, 5, kInch, SectionSide::kWithin, 0.55f},
        {U16("z=0.5in"), -5, 5, kInch, SectionSide::kWithin, 0.55f},
        {U16("z=5in"), -5, 5, kInch, SectionSide::kWithin, 1},
        {U16("z=127"), -5, 5, kInch, SectionSide::kWithin, 1},
        {U16("z=-12.7cm"), -5, 5, kInch, SectionSide::kWithin, 0},
        {U16("z=5.1in"), -5, 5, kInch, SectionSide::kAbove, 1},
        {U16("z=-128"), -5, 5, kInch, SectionSide::kBelow, 0},
    };
    for (const auto& row : rows) {
        Text text = row.text;
        SCOPED_TRACE(std::string(text.begin(), text.end()) + " " + std::to_string(row.fileHigh));
        SectionRequest request;
        LengthFault fault;
        ASSERT_TRUE(readSectionRequest(row.text, &request, &fault));
        ASSERT_EQ(fault, LengthFault::kNone);
        float share = -1;
        EXPECT_EQ(placeSectionRequest(&request, metres(row.fileLow, row.unitScale), metres(row.fileHigh, row.unitScale),
                                      &share),
                  row.side);
        EXPECT_NEAR(share, row.share, 1e-6f);
    }
}

TEST(SectionRequest, RefusesWhatIsNoPlane) {
    const struct {
        const Utf16* text;
        bool axisRead;
        LengthFault fault;
    } rows[] = {
        {U16("w=1"), false, LengthFault::kNone},
        {U16("z1"), false, LengthFault::kNone},
        {U16(""), false, LengthFault::kNone},
        {U16("z="), true, LengthFault::kEmpty},
        {U16("z=abc"), true, LengthFault::kNotNumber},
        {U16("z=nan"), true, LengthFault::kNotNumber},
        {U16("z=1.2.3"), true, LengthFault::kNotNumber},
        {U16("z=12.5ft"), true, LengthFault::kUnknownUnit},
        {U16("z=1e400"), true, LengthFault::kOutOfRange},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Text(row.text).size());
        SectionRequest request;
        LengthFault fault = LengthFault::kNone;
        EXPECT_EQ(readSectionRequest(row.text, &request, &fault), row.axisRead);
        if (row.axisRead) EXPECT_EQ(fault, row.fault);
    }
}

// The console's line for a plane outside, in the unit the plane was typed in.
TEST(SectionRequest, SaysWhereAPlaneOutsideLies) {
    const struct {
        const Utf16* text;
        const Utf16* line;
    } rows[] = {
        {U16("z=30"), U16("Section plane Z = 30.0\u2009mm lies above the model (Z from 0.0\u2009mm to 20.0\u2009mm); "
                          "the whole model is shown")},
        {U16("x=-1in"), U16("Section plane X = -1.0\u2009in lies below the model (X from 0.0\u2009in to 0.7874\u2009in); "
                            "the whole model is shown")},
    };
    for (const auto& row : rows) {
        SectionRequest request;
        LengthFault fault;
        ASSERT_TRUE(readSectionRequest(row.text, &request, &fault));
        float share;
        SectionSide side = placeSectionRequest(&request, 0, 0.02f, &share);
        Utf16 line[kSectionOutsideTextCapacity];
        Utf16* end = formatSectionOutside(line, &request, side, 0, 0.02f, kNoLocale);
        EXPECT_EQ(Text(line, end), row.line);
    }
}
