#include "app/dialog_layout.h"

#include <initializer_list>

#include "app/main_dialog.h"

namespace {

// The dialog font's average character at 96 DPI: 4 dialog units across, 8 down.
constexpr int kCharWidth96 = 6;
constexpr int kCharHeight96 = 13;

int scaleRounded(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

// The panel's header controls: x, y, width, height in dialog units from the panel's left edge.
struct HeaderPlace {
    int id, x, y, width, height;
};

HeaderPlace swatchPlace(int slot, int partCount, int y) {
    if (slot == 0 && partCount <= 1) return {kFirstSwatchId, 111, y, 50, 14};
    return {kFirstSwatchId + slot, (8 + slot - partCount) * 21, y, 14, 14};
}

int clampLines(int lines) {
    return lines < 1 ? 1 : lines > kMaxWrappedLines ? kMaxWrappedLines : lines;
}

}  // namespace

int scaleToDpi(int pixels, int dpi) {
    return scaleRounded(pixels, dpi, kBaseDpi);
}

int dialogUnitsAcross(int units, int dpi) {
    return scaleRounded(units, kCharWidth96 * dpi, 4 * kBaseDpi);
}

int dialogUnitsDown(int units, int dpi) {
    return scaleRounded(units, kCharHeight96 * dpi, 8 * kBaseDpi);
}

int layoutPlaces(int width, int height, int dpi, const PanelContent& content, ControlPlace* places) {
    int factsLines = clampLines(content.factsLines), checkLines = clampLines(content.checkLines);
    int checkY = 47 + 8 * (factsLines - 1), down = 8 * (factsLines - 1 + checkLines - 1);
    int partCount = content.partCount;
    int mx = dialogUnitsAcross(2, dpi), my = dialogUnitsDown(2, dpi);
    int pw = dialogUnitsAcross(168, dpi), ph = dialogUnitsDown(56, dpi);
    int headerHeight = dialogUnitsDown(137 + down, dpi);
    int panelLeft = width - pw - mx;
    int viewWidth = width - pw - 3 * mx, viewHeight = height - ph - 3 * my;
    int count = 0;
    for (int id : {kViewId, kProgressId, kHintId}) places[count++] = {id, mx, my, viewWidth, viewHeight};
    places[count++] = {kTreeId, panelLeft, 2 * my + headerHeight, pw, height - 3 * my - headerHeight};
    places[count++] = {kMessagesId, mx, height - ph - my, viewWidth, ph};
    const HeaderPlace header[] = {
        {kKindLineId, 7, 7, 154, 8},
        {kSectionLineId, 7, 17, 154, 8},
        {kSizeLineId, 7, 28, 154, 8},
        {kFactsLineId, 7, 38, 154, 8 * factsLines},
        {kCheckLineId, 7, checkY, 154, 8 * checkLines},
        {kSpaceLabelId, 7, 61 + down, 80, 8},
        {kSpaceComboId, 111, 58 + down, 50, 14},
        {kMaterialCheckId, 7, 82 + down, 50, 8},
        swatchPlace(0, partCount, 79 + down),
        swatchPlace(1, partCount, 79 + down),
        swatchPlace(2, partCount, 79 + down),
        swatchPlace(3, partCount, 79 + down),
        {kColorsLabelId, 7, 103 + down, 80, 8},
        {kColorsComboId, 111, 100 + down, 50, 14},
        {kMeasureLineId, 7, 118 + down, 154, 16},  // two lines: a distance with its differences wraps
    };
    for (const HeaderPlace& place : header)
        places[count++] = {place.id, panelLeft + dialogUnitsAcross(place.x, dpi), dialogUnitsDown(place.y, dpi),
                           dialogUnitsAcross(place.width, dpi), dialogUnitsDown(place.height, dpi)};
    return count;
}
