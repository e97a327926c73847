// formatFixedDecimal against the C library's "%.3e", which rounds the exact
// binary value to four significant digits, ties to even. The first eight
// input bytes are the double (a ninth byte, when odd, empties the big-integer
// free lists first so that the conversion allocates afresh). The typed-length
// reader gets the same input as UTF-16 text (read within its bounds, a length
// finite and within range), and the double written out with each unit reads
// back as itself.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "numfmt/big_num.h"
#include "numfmt/decimal_format.h"
#include "numfmt/length_parse.h"

namespace {

// Digits without trailing zeros and the exponent e with value 0.d1d2d3d4 × 10^e.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal fromReference(double magnitude) {
    char text[64];
    snprintf(text, sizeof text, "%.3e", magnitude);  // d.ddde±XX
    Decimal result;
    result.digits = std::string(1, text[0]) + std::string(text + 2, 3);
    result.exponent = atoi(text + 6) + 1;
    while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
    return result;
}

// Reads back the plain layout: digits, one point, no exponent.
Decimal fromLayout(const std::string& text) {
    size_t point = text.find('.');
    FUZZ_CHECK(point != std::string::npos && point > 0 && point + 1 < text.size());
    FUZZ_CHECK(text.find('.', point + 1) == std::string::npos);
    std::string all = text.substr(0, point) + text.substr(point + 1);
    for (char c : all) FUZZ_CHECK(c >= '0' && c <= '9');
    size_t first = all.find_first_not_of('0');
    FUZZ_CHECK(first != std::string::npos);
    Decimal result;
    result.digits = all.substr(first);
    while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
    result.exponent = static_cast<int>(point) - static_cast<int>(first);
    // The layout writes no needless zeros: one before the point at most, one after it when nothing else is there.
    FUZZ_CHECK(point == 1 || text[0] != '0');
    return result;
}

void checkTypedLengths(const uint8_t* data, size_t size, double x) {
    std::unique_ptr<Utf16[]> text(new Utf16[size / 2 + 1]);  // exactly sized, so reads past it are caught
    memcpy(text.get(), data, size / 2 * 2);
    TypedLength length;
    if (readTypedLength(text.get(), text.get() + size / 2, true, &length) == LengthFault::kNone)
        FUZZ_CHECK(std::fabs(length.value) <= kMostTypedMillimetres && std::fabs(length.millimetres) <= kMostTypedMillimetres);
    double sides[3];
    if (readTypedSizes(text.get(), text.get() + size / 2, sides) == LengthFault::kNone)
        for (double side : sides) FUZZ_CHECK(std::fabs(side) <= kMostTypedMillimetres);
    if (!(std::fabs(x) <= 1e9 / 25.4)) return;
    const struct {
        const char* suffix;
        double factor;
    } units[] = {{"", 1}, {" mm", 1}, {"cm", 10}, {" in", 25.4}};
    for (const auto& unit : units) {
        char written[64];
        int count = snprintf(written, sizeof written, "%.17g%s", x, unit.suffix);
        Utf16 wide[64];
        for (int i = 0; i < count; ++i) wide[i] = static_cast<Utf16>(written[i]);
        FUZZ_CHECK(readTypedLength(wide, wide + count, false, &length) == LengthFault::kNone);
        FUZZ_CHECK(length.millimetres == x * unit.factor);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    double x = 0;
    if (size) memcpy(&x, data, size < 8 ? size : 8);
    checkTypedLengths(data, size, x);
    if (size < 8) return 0;
    if (size > 8 && (data[8] & 1)) {
        lockBigNums();
        releaseBigNumFreeLists();
        unlockBigNums();
    }
    std::unique_ptr<char[]> buffer(new char[kMaxFixedDecimalLength]);
    char* end = formatFixedDecimal(x, buffer.get());
    FUZZ_CHECK(end > buffer.get() && end - buffer.get() <= kMaxFixedDecimalLength);
    std::string text(buffer.get(), end);
    if (std::isnan(x)) {
        FUZZ_CHECK(text == "NaN");
        return 0;
    }
    if (std::isinf(x)) {
        FUZZ_CHECK(text == (x < 0 ? "-Infinity" : "Infinity"));
        return 0;
    }
    bool negative = std::signbit(x);
    FUZZ_CHECK((text[0] == '-') == negative);
    std::string body = negative ? text.substr(1) : text;
    if (x == 0) {
        FUZZ_CHECK(body == "0.0");
        return 0;
    }
    Decimal expected = fromReference(std::fabs(x));
    Decimal written = fromLayout(body);
    if (written.digits != expected.digits || written.exponent != expected.exponent) {
        fprintf(stderr, "%a: wrote %s, reference digits %s exponent %d\n", x, text.c_str(), expected.digits.c_str(),
                expected.exponent);
        abort();
    }
    return 0;
}
