// Correctly rounded conversion of doubles to four significant decimal digits,
// laid out as a plain decimal number ("0.001234", "12.34", "12340000.0").
#pragma once
#include <cstdint>

constexpr int kSignificantDigits = 4;
// Longest text formatFixedDecimal writes for any double: "-0." then 323 zeros
// and four digits, for the smallest subnormals.
constexpr int kMaxFixedDecimalLength = 330;

// x must be positive and finite; call between lockBigNums() and
// unlockBigNums(). Writes 1 to 4 digits without trailing zeros to `digits`
// and sets *decimalExponent so that x ≈ 0.d1d2d3d4 × 10^*decimalExponent,
// rounded half to even on the exact binary value. Returns the digit count.
// Should the heap refuse a big integer, the digits come from double
// arithmetic instead and may be one unit off in the last digit.
int generateDigits(double x, char* digits, int* decimalExponent);

// Writes the ASCII text of x (at most kMaxFixedDecimalLength bytes, no
// terminator) and returns the position after it. Infinities and NaN, which
// lengths never produce, come out as "Infinity", "-Infinity" and "NaN".
// Safe to call from any thread.
char* formatFixedDecimal(double x, char* out);
