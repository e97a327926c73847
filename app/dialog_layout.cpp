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

HeaderPlace swatchPlace(int slot, int partCount) {
    if (slot == 0 && partCount <= 1) return {kFirstSwatchId, 111, 79, 50, 14};
    return {kFirstSwatchId + slot, (8 + slot - partCount) * 21, 79, 14, 14};
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

int layoutPlaces(int width, int height, int dpi, int partCount, ControlPlace* places) {
    int mx = dialogUnitsAcross(2, dpi), my = dialogUnitsDown(2, dpi);
    int pw = dialogUnitsAcross(168, dpi), ph = dialogUnitsDown(56, dpi);
    int headerHeight = dialogUnitsDown(137, dpi);
    int panelLeft = width - pw - mx;
    int viewWidth = width - pw - 3 * mx, viewHeight = height - ph - 3 * my;
    int count = 0;
    for (int id : {kViewId, kProgressId, kHintId}) places[count++] = {id, mx, my, viewWidth, viewHeight};
    places[count++] = {kTreeId, panelLeft, 2 * my + headerHeight, pw, height - 3 * my - headerHeight};
    places[count++] = {kMessagesId, mx, height - ph - my, viewWidth, ph};
    const HeaderPlace header[] = {
        {kPanelLine1Id, 7, 7, 154, 8},   {kSectionLineId, 7, 17, 154, 8},    {kPanelLine2Id, 7, 28, 154, 8},     {kFactsId, 7, 38, 154, 8},
        {kCheckLineId, 7, 47, 154, 8},    {kSpaceLabelId, 7, 61, 80, 8},
        {kSpaceComboId, 111, 58, 50, 14}, {kMaterialCheckId, 7, 82, 50, 8},   swatchPlace(0, partCount),
        swatchPlace(1, partCount),        swatchPlace(2, partCount),         swatchPlace(3, partCount),
        {kColorsLabelId, 7, 103, 80, 8},  {kColorsComboId, 111, 100, 50, 14},
        {kMeasureId, 7, 118, 154, 16},  // two lines: a distance with its differences wraps
    };
    for (const HeaderPlace& place : header)
        places[count++] = {place.id, panelLeft + dialogUnitsAcross(place.x, dpi), dialogUnitsDown(place.y, dpi),
                           dialogUnitsAcross(place.width, dpi), dialogUnitsDown(place.height, dpi)};
    return count;
}
