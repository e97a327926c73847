// The measure line: a picked point or the distance between two, in the
// size line's units and number layout.
#pragma once
#include <cstdint>
#include "numfmt/length_format.h"

// "Distance: " and four lengths with their separators and a terminator.
constexpr int kMeasureTextCapacity = 4 * kMaxLengthText + 32;

// "Point: x, y, z" (metres in, all three in the line unit of the largest),
// with a terminator; returns its position.
Utf16* formatMeasurePoint(Utf16* out, const double point[3], DisplayUnits units, uint32_t locale = kUserLocale);
// "Distance: d (Δx a, Δy b, Δz c)" from a to b, d computed in double and
// every number in d's line unit, so that d reads as the size line would
// write that length. With a terminator; returns its position.
Utf16* formatMeasureDistance(Utf16* out, const double a[3], const double b[3], DisplayUnits units,
                             uint32_t locale = kUserLocale);
