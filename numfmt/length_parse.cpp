#include "numfmt/length_parse.h"

#include <cmath>
#include <cstdlib>

namespace {

// The number's characters as the C library reads them; anything longer is
// no length anyone types.
constexpr int kMostNumberUnits = 63;

bool isSpace(Utf16 unit) {
    return unit == ' ' || unit == '\t' || unit == 0x00A0 || unit == 0x2009 || unit == 0x202F;
}

bool isDigit(Utf16 unit) {
    return unit >= '0' && unit <= '9';
}

const Utf16* skipSpaces(const Utf16* at, const Utf16* end) {
    while (at != end && isSpace(*at)) ++at;
    return at;
}

const Utf16* trimSpaces(const Utf16* begin, const Utf16* end) {
    while (end != begin && isSpace(end[-1])) --end;
    return end;
}

// Copies the number at `at` into `ascii` with a point for the decimal
// comma; the position after it, or null when there is none or it is too long.
const Utf16* copyNumber(const Utf16* at, const Utf16* end, char (&ascii)[kMostNumberUnits + 1]) {
    int length = 0;
    auto take = [&](char c) {
        if (length == kMostNumberUnits) return false;
        ascii[length++] = c;
        return true;
    };
    if (at != end && (*at == '+' || *at == '-') && !take(static_cast<char>(*at++))) return nullptr;
    int digits = 0;
    bool point = false;
    for (; at != end && (isDigit(*at) || ((*at == '.' || *at == ',') && !point)); ++at) {
        point = point || !isDigit(*at);
        digits += isDigit(*at);
        if (!take(isDigit(*at) ? static_cast<char>(*at) : '.')) return nullptr;
    }
    if (digits == 0) return nullptr;
    // An exponent only where digits follow the 'e': "2em" is 2 and a unit "em".
    const Utf16* exponent = at;
    if (exponent != end && (*exponent | 0x20) == 'e') {
        const Utf16* sign = exponent + 1;
        const Utf16* first = sign != end && (*sign == '+' || *sign == '-') ? sign + 1 : sign;
        if (first != end && isDigit(*first)) {
            for (at = exponent; at != end && (at < first || isDigit(*at)); ++at)
                if (!take(static_cast<char>(*at))) return nullptr;
        }
    }
    ascii[length] = 0;
    return at;
}

// Whether [at, end) spells `word` (lower case ASCII), in any case.
bool spells(const Utf16* at, const Utf16* end, const char* word) {
    for (; *word; ++word, ++at)
        if (at == end || (*at < 0x80 ? *at | 0x20 : *at) != *word) return false;
    return at == end;
}

struct UnitName {
    const char* word;
    TypedUnit unit;
};

const UnitName kUnitNames[] = {
    {"mm", TypedUnit::kMillimetre}, {"cm", TypedUnit::kCentimetre}, {"in", TypedUnit::kInch},
    {"inch", TypedUnit::kInch},     {"inches", TypedUnit::kInch},   {"\"", TypedUnit::kInch},
};

bool readUnit(const Utf16* at, const Utf16* end, bool share, TypedUnit* unit) {
    if (end - at == 1 && *at == 0x2033) return *unit = TypedUnit::kInch, true;  // double prime
    if (share && end - at == 1 && *at == '%') return *unit = TypedUnit::kShare, true;
    for (const UnitName& name : kUnitNames)
        if (spells(at, end, name.word)) return *unit = name.unit, true;
    return false;
}

double millimetresPer(TypedUnit unit) {
    return unit == TypedUnit::kCentimetre ? 10.0 : unit == TypedUnit::kInch ? 25.4 : 1.0;
}

}  // namespace

LengthFault readTypedLength(const Utf16* begin, const Utf16* end, bool share, TypedLength* out) {
    const Utf16* at = skipSpaces(begin, end);
    end = trimSpaces(at, end);
    if (at == end) return LengthFault::kEmpty;
    char ascii[kMostNumberUnits + 1];
    const Utf16* afterNumber = copyNumber(at, end, ascii);
    // A second point or comma, or a sign inside, makes no number of it ("1.2.3", "1,000.5").
    if (!afterNumber || (afterNumber != end && (*afterNumber == '.' || *afterNumber == ',' || *afterNumber == '+' ||
                                                *afterNumber == '-')))
        return LengthFault::kNotNumber;
    const Utf16* unitStart = skipSpaces(afterNumber, end);
    TypedLength length{0, 0, TypedUnit::kMillimetre, unitStart != end, unitStart, end};
    if (length.unitTyped && !readUnit(unitStart, end, share, &length.unit)) {
        *out = length;
        return LengthFault::kUnknownUnit;
    }
    length.value = strtod(ascii, nullptr);
    double millimetres = length.value * millimetresPer(length.unit);
    if (!(std::fabs(millimetres) <= kMostTypedMillimetres)) return LengthFault::kOutOfRange;
    length.millimetres = length.unit == TypedUnit::kShare ? 0 : millimetres;
    *out = length;
    return LengthFault::kNone;
}

LengthFault readTypedSizes(const Utf16* begin, const Utf16* end, double millimetres[3]) {
    const Utf16* piece = begin;
    for (int i = 0; i < 3; ++i) {
        const Utf16* next = piece;
        while (next != end && *next != 'x' && *next != 'X' && *next != 0x00D7) ++next;
        if ((next == end) != (i == 2)) return LengthFault::kNotNumber;
        TypedLength length;
        LengthFault fault = readTypedLength(piece, next, false, &length);
        if (fault != LengthFault::kNone) return fault;
        millimetres[i] = length.millimetres;
        piece = next + (next != end);
    }
    return LengthFault::kNone;
}

const Utf16* lengthFaultText(LengthFault fault) {
    static const Utf16* const kTexts[kLengthFaultCount] = {
        U16("a length"),
        U16("no length given"),
        U16("not a number"),
        U16("not a unit of length here; a bare number is millimetres, or add mm, cm or in"),
        U16("too large; a length goes up to 1,000 km"),
    };
    uint32_t index = static_cast<uint32_t>(fault);
    return index < kLengthFaultCount ? kTexts[index] : kTexts[0];
}
