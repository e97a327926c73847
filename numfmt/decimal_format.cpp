#include "numfmt/decimal_format.h"

#include <bit>
#include <cmath>

#include "numfmt/big_num.h"

namespace {

// Every one of these is exact in a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kLargestExactPower = 22;
// Integers below 10^(kFastPathLimit + 1) are converted in double arithmetic.
constexpr int kFastPathLimit = 14;

constexpr uint64_t kFractionMask = (uint64_t{1} << 52) - 1;

// Used only when the heap refuses a big integer. The display cannot report a
// failure, so rather than showing nothing it gets digits from double
// arithmetic: they may miss the correctly rounded value by one unit in the
// last digit when x lies within a few ulps of a decimal tie, never more.
// k is the decimal exponent estimate, exact or one too large.
int approximateDigits(double x, int k, char* digits, int* decimalExponent) {
    // Scale to [1000, 10000) in steps that neither overflow nor underflow.
    int scale = kSignificantDigits - 1 - k;
    double y = x;
    while (scale > 300) {
        y *= 1e300;
        scale -= 300;
    }
    while (scale < -300) {
        y /= 1e300;
        scale += 300;
    }
    y = scale >= 0 ? y * std::pow(10.0, scale) : y / std::pow(10.0, -scale);
    if (y < 1000) {
        y *= 10;
        --k;
    }
    double rounded = std::nearbyint(y);  // the default mode: ties to even
    if (rounded >= 10000) {
        rounded = 1000;
        ++k;
    }
    uint32_t value = static_cast<uint32_t>(rounded);
    for (int i = kSignificantDigits - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    int count = kSignificantDigits;
    while (count > 1 && digits[count - 1] == '0') --count;
    *decimalExponent = k + 1;
    return count;
}

}  // namespace

int generateDigits(double x, char* digits, int* decimalExponent) {
    // x = mantissa × 2^binaryExponent with an odd mantissa of mantissaBits bits.
    uint64_t bits = std::bit_cast<uint64_t>(x);
    int exponentField = static_cast<int>(bits >> 52);
    uint64_t mantissa = bits & kFractionMask;
    int binaryExponent;
    if (exponentField) {
        mantissa |= uint64_t{1} << 52;
        binaryExponent = exponentField - 1075;
    } else {
        binaryExponent = -1074;
    }
    int trailingZeros = std::countr_zero(mantissa);
    mantissa >>= trailingZeros;
    binaryExponent += trailingZeros;
    int mantissaBits = 64 - std::countl_zero(mantissa);

    // k = ⌊log10 x⌋ from x = m × 2^i, 1 <= m < 2, by a first-order series;
    // the estimate is exact or one too large.
    int i = mantissaBits + binaryExponent - 1;
    double m = std::bit_cast<double>(((mantissa << (53 - mantissaBits)) & kFractionMask) |
                                     (uint64_t{1023} << 52));
    double estimate = (m - 1.5) * 0.289529654602168 + 0.1760912590558 + i * 0.301029995663981;
    int k = static_cast<int>(estimate);
    if (estimate < 0 && estimate != k) --k;
    bool kUnchecked = true;
    if (k >= 0 && k <= kLargestExactPower) {
        if (x < kPowersOfTen[k]) --k;
        kUnchecked = false;
    }

    int count = 0;
    bool roundUp = false;
    if (binaryExponent >= 0 && k <= kFastPathLimit) {
        // x is an integer below 10^15: every step below is exact in doubles.
        double divisor = kPowersOfTen[k];
        double rest = x;
        for (;;) {
            int digit = static_cast<int>(rest / divisor);
            rest -= digit * divisor;
            if (rest < 0) {
                --digit;
                rest += divisor;
            } else if (rest >= divisor) {
                ++digit;
                rest -= divisor;
            }
            digits[count++] = static_cast<char>('0' + digit);
            if (rest == 0) break;
            if (count == kSignificantDigits) {
                rest += rest;
                roundUp = rest > divisor || (rest == divisor && (digit & 1));
                break;
            }
            rest *= 10;
        }
    } else {
        // x / 10^k = (mantissa × 2^b2 × 5^b5) / (2^s2 × 5^s5).
        int b2, s2;
        if (binaryExponent > 0) {
            b2 = binaryExponent;
            s2 = 0;
        } else {
            b2 = 0;
            s2 = -binaryExponent;
        }
        int b5 = 0, s5 = 0;
        if (k >= 0) {
            s5 = k;
            s2 += k;
        } else {
            b5 = -k;
            b2 -= k;
        }
        int common = b2 < s2 ? b2 : s2;
        b2 -= common;
        s2 -= common;
        BigNum* b = multiplyPow5(bigNumFromU64(mantissa), b5);
        BigNum* s = multiplyPow5(bigNumFromU64(1), s5);
        if (s) {
            // Leave exactly 28 bits in the divisor's top word, so that the
            // quotient-digit estimate from the top words is off by at most one.
            int topBits = 32 - std::countl_zero(s->words[s->wordCount - 1]);
            int extra = (28 - topBits - s2) & 31;
            b = shiftLeft(b, b2 + extra);
            s = shiftLeft(s, s2 + extra);
        }
        if (b && s && kUnchecked && compareBigNum(b, s) < 0) {
            b = multiplySmall(b, 10);
            --k;
        }
        while (b && s) {
            uint32_t digit = quotientDigit(b, s);
            digits[count++] = static_cast<char>('0' + digit);
            if (isZeroBigNum(b)) break;
            if (count == kSignificantDigits) {
                b = shiftLeft(b, 1);
                if (b) {
                    int order = compareBigNum(b, s);
                    roundUp = order > 0 || (order == 0 && (digit & 1));
                }
                break;
            }
            b = multiplySmall(b, 10);
        }
        bool exhausted = !b || !s;
        releaseBigNum(b);
        releaseBigNum(s);
        if (exhausted) return approximateDigits(x, k, digits, decimalExponent);
    }

    if (roundUp) {
        while (count > 0 && digits[count - 1] == '9') --count;
        if (count == 0) {
            digits[count++] = '1';
            ++k;
        } else {
            ++digits[count - 1];
        }
    }
    while (count > 1 && digits[count - 1] == '0') --count;
    *decimalExponent = k + 1;
    return count;
}

char* formatFixedDecimal(double x, char* out) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    uint64_t magnitudeBits = bits & ~(uint64_t{1} << 63);
    if (magnitudeBits > (uint64_t{0x7ff} << 52)) {
        for (const char* text = "NaN"; *text; ++text) *out++ = *text;
        return out;
    }
    if (bits >> 63) *out++ = '-';
    if (magnitudeBits == 0) {
        *out++ = '0';
        *out++ = '.';
        *out++ = '0';
        return out;
    }
    if (magnitudeBits == (uint64_t{0x7ff} << 52)) {
        for (const char* text = "Infinity"; *text; ++text) *out++ = *text;
        return out;
    }

    char digits[kSignificantDigits];
    int exponent;
    lockBigNums();
    int count = generateDigits(std::bit_cast<double>(magnitudeBits), digits, &exponent);
    unlockBigNums();

    if (exponent <= 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -exponent; ++i) *out++ = '0';
        for (int i = 0; i < count; ++i) *out++ = digits[i];
    } else if (exponent < count) {
        for (int i = 0; i < exponent; ++i) *out++ = digits[i];
        *out++ = '.';
        for (int i = exponent; i < count; ++i) *out++ = digits[i];
    } else {
        for (int i = 0; i < count; ++i) *out++ = digits[i];
        for (int i = count; i < exponent; ++i) *out++ = '0';
        *out++ = '.';
        *out++ = '0';
    }
    return out;
}
