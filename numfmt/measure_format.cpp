#include "numfmt/measure_format.h"

#include <cmath>

#include "core/utf16_text.h"

namespace {

// Below this share of the line's largest number a value is rounding noise of
// a pick on a flat face, shown as 0 rather than as "-0.00".
constexpr double kNoise = 1e-9;

double quiet(double value, double largest) {
    return std::fabs(value) <= kNoise * largest ? 0.0 : value;
}

}  // namespace

Utf16* formatMeasurePoint(Utf16* out, const double point[3], DisplayUnits units, uint32_t locale) {
    double largest = std::fmax(std::fabs(point[0]), std::fmax(std::fabs(point[1]), std::fabs(point[2])));
    const LengthUnit* unit = lineUnit(largest, units);
    out = appendAscii(out, "Point: ");
    for (int axis = 0; axis < 3; ++axis) {
        if (axis) out = appendAscii(out, ", ");
        out = formatLengthIn(out, quiet(point[axis], largest), unit, locale);
    }
    *out = 0;
    return out;
}

Utf16* formatMeasureDistance(Utf16* out, const double a[3], const double b[3], DisplayUnits units,
                             uint32_t locale) {
    double delta[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double distance = std::sqrt(delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2]);
    const LengthUnit* unit = lineUnit(distance, units);
    out = appendAscii(out, "Distance: ");
    out = formatLengthIn(out, distance, unit, locale);
    for (int axis = 0; axis < 3; ++axis) {
        out = appendAscii(out, axis == 0 ? " (" : ", ");
        *out++ = 0x0394;  // Greek capital delta
        *out++ = static_cast<Utf16>('x' + axis);
        *out++ = ' ';
        out = formatLengthIn(out, quiet(delta[axis], distance), unit, locale);
    }
    *out++ = ')';
    *out = 0;
    return out;
}
