// Lengths as people type them, on the command line and in the window's
// questions: "2.5" (millimetres), "2,5 mm", "1.25cm", "0.1 in", "1 inch",
// "0.5\"". One reader for every typed length, so that each place takes the
// same forms. Builds without Windows.
#pragma once
#include <cstdint>

#include "core/platform.h"

enum class LengthFault : uint8_t {
    kNone,
    kEmpty,        // nothing but spaces
    kNotNumber,    // no number where one must start, or a malformed one
    kUnknownUnit,  // a number followed by something other than a unit read here
    kOutOfRange,   // more than kMostTypedMillimetres, or not finite
};
constexpr int kLengthFaultCount = 5;

// What the user says the length is in. A bare number is millimetres.
enum class TypedUnit : uint8_t { kMillimetre, kCentimetre, kInch, kShare };

// Farther than any model or printer: 1,000 km.
constexpr double kMostTypedMillimetres = 1e9;

struct TypedLength {
    double value;        // in the typed unit (a share in percent)
    double millimetres;  // the value in millimetres; 0 for a share
    TypedUnit unit;
    uint8_t unitTyped;   // a suffix was given (else millimetres)
    // Where the text after the number starts and ends, for a message that
    // names a unit not understood.
    const Utf16* unitStart;
    const Utf16* unitEnd;
};

// Reads all of [begin, end): spaces, a number (an optional sign, digits with
// at most one '.' or ',' as the decimal point, an optional exponent as in
// 1e3), spaces, an optional unit and spaces. Units: mm, cm, in, inch, inches,
// '"' and U+2033 (inches), in any case; with `share` also '%'. Spaces are
// ' ', tab, U+00A0, U+2009 and U+202F (the spaces locales lay numbers out with).
LengthFault readTypedLength(const Utf16* begin, const Utf16* end, bool share, TypedLength* out);

// "W x D x H": three lengths in millimetres separated by 'x', 'X' or U+00D7,
// each read as readTypedLength reads one (so "25cm x 21cm x 22cm" and
// "250 x 210 x 220" are the same). The fault of the first piece that fails;
// kNotNumber when there are not exactly three.
LengthFault readTypedSizes(const Utf16* begin, const Utf16* end, double millimetres[3]);

// The fault as a phrase that follows the typed text and a colon, e.g.
// "not a number"; never null (kNone has "a length").
const Utf16* lengthFaultText(LengthFault fault);
