// The main window's layout at the densities of today's screens: the same
// places scaled from 96 DPI, every control inside the window and apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/dialog_layout.h"
#include "app/window_ids.h"

namespace {

struct Expected {
    int dpi, width, height, parts;
    ControlPlace view, tree, messages, line1, firstSwatch;
};

// Worked out by hand from the 96-DPI layout: 6 x 13 pixels a character,
// 4 x 8 dialog units; three parts put the first swatch 105 units in; the
// overhang and fit lines take 29 pixels above the rows, the Unit row 34
// between the coordinate space and the swatches.
const Expected kTable[] = {
    {96, 900, 650, 3, {kViewId, 3, 3, 639, 550}, {kTreeId, 645, 292, 252, 355}, {kMessagesId, 3, 556, 639, 91},
     {kKindLineId, 656, 11, 231, 13}, {kFirstSwatchId, 803, 192, 21, 23}},
    {120, 1125, 813, 3, {kViewId, 4, 4, 798, 687}, {kTreeId, 806, 366, 315, 443}, {kMessagesId, 4, 695, 798, 114},
     {kKindLineId, 819, 14, 289, 16}, {kFirstSwatchId, 1003, 240, 26, 28}},
    {144, 1350, 975, 3, {kViewId, 5, 5, 957, 823}, {kTreeId, 967, 439, 378, 531}, {kMessagesId, 5, 833, 957, 137},
     {kKindLineId, 983, 17, 347, 20}, {kFirstSwatchId, 1203, 288, 32, 34}},
    {192, 1800, 1300, 3, {kViewId, 6, 7, 1278, 1097}, {kTreeId, 1290, 586, 504, 707},
     {kMessagesId, 6, 1111, 1278, 182}, {kKindLineId, 1311, 23, 462, 26}, {kFirstSwatchId, 1605, 384, 42, 46}},
};

std::vector<ControlPlace> placesAt(int width, int height, int dpi, int parts, int wrappedLines = 1) {
    std::vector<ControlPlace> places(kMaxControlPlaces);
    PanelContent content{parts, {}};
    for (uint8_t& lines : content.lines) lines = static_cast<uint8_t>(wrappedLines);
    places.resize(layoutPlaces(width, height, dpi, content, places.data()));
    return places;
}

ControlPlace find(const std::vector<ControlPlace>& places, int id) {
    for (const ControlPlace& place : places)
        if (place.id == id) return place;
    ADD_FAILURE() << "no place for " << id;
    return {};
}

void expectPlace(const ControlPlace& expected, const ControlPlace& actual) {
    EXPECT_EQ(expected.x, actual.x) << expected.id;
    EXPECT_EQ(expected.y, actual.y) << expected.id;
    EXPECT_EQ(expected.width, actual.width) << expected.id;
    EXPECT_EQ(expected.height, actual.height) << expected.id;
}

bool overlap(const ControlPlace& a, const ControlPlace& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

TEST(DialogLayout, PlacesAtEachDensityAreThe96DpiPlacesScaled) {
    for (const Expected& row : kTable) {
        SCOPED_TRACE(testing::Message() << row.dpi << " DPI");
        std::vector<ControlPlace> places = placesAt(row.width, row.height, row.dpi, row.parts);
        for (const ControlPlace& expected : {row.view, row.tree, row.messages, row.line1, row.firstSwatch})
            expectPlace(expected, find(places, expected.id));
        // Every control, not only those in the table, is its 96-DPI self scaled, within rounding.
        std::vector<ControlPlace> base = placesAt(kTable[0].width, kTable[0].height, 96, row.parts);
        ASSERT_EQ(base.size(), places.size());
        for (size_t k = 0; k < places.size(); ++k) {
            const ControlPlace &at96 = base[k], &scaled = places[k];
            ASSERT_EQ(at96.id, scaled.id);
            for (auto [small, large] : {std::pair{at96.x, scaled.x}, {at96.y, scaled.y}, {at96.width, scaled.width},
                                        {at96.height, scaled.height}})
                EXPECT_LE(std::abs(small * row.dpi - large * 96), 2 * row.dpi) << scaled.id;
        }
    }
}

TEST(DialogLayout, ControlsStayInsideAndApartAtEveryDensityPartCountAndWrapping) {
    for (int dpi : {96, 120, 144, 192})
        for (int parts = 0; parts <= 4; ++parts)
            for (int lines : {1, 2, kMaxWrappedLines})
            for (auto [width, height] : {std::pair{0, 0}, {1000, 700}}) {
                // The smallest client the window can be tracked to, with the lines the texts wrap onto.
                PanelContent content{parts, {}};
                for (uint8_t& wrapped : content.lines) wrapped = static_cast<uint8_t>(lines);
                int lowest = dialogUnitsDown(minimumClientUnitsDown(content), dpi);
                if (!width) width = dialogUnitsAcross(kMinimumClientUnitsAcross, dpi);
                if (height < lowest) height = lowest;
                SCOPED_TRACE(testing::Message() << dpi << " DPI, " << parts << " parts, " << lines << " lines, " << width
                                                << "x" << height);
                std::vector<ControlPlace> places = placesAt(width, height, dpi, parts, lines);
                std::vector<ControlPlace> shown;
                for (const ControlPlace& place : places) {
                    // Swatches of empty slots are hidden, wherever they stand.
                    if (place.id > kFirstSwatchId && place.id - kFirstSwatchId >= parts &&
                        place.id < kFirstSwatchId + kMaxParts)
                        continue;
                    EXPECT_TRUE(place.x >= 0 && place.y >= 0 && place.width > 0 && place.height > 0 &&
                                place.x + place.width <= width && place.y + place.height <= height)
                        << place.id;
                    if (place.id == kProgressId || place.id == kHintId) continue;  // they share the view's place
                    for (const ControlPlace& other : shown) EXPECT_FALSE(overlap(place, other)) << place.id << " " << other.id;
                    shown.push_back(place);
                }
            }
}

}  // namespace
