#include "app/section_request.h"

#include <cmath>

#include "core/utf16_text.h"

bool readSectionRequest(const Utf16* text, SectionRequest* request, LengthFault* fault) {
    Utf16 axis = text[0] | 0x20;
    if (axis < 'x' || axis > 'z' || text[1] != '=') return false;
    const Utf16* end = text + 2;
    while (*end) ++end;
    request->axis = static_cast<uint8_t>(axis - 'x');
    *fault = readTypedLength(text + 2, end, true, &request->length);
    return true;
}

namespace {

// Metres along the axis of the box [low, high].
double placeOf(const SectionRequest* request, float low, float high) {
    const TypedLength& length = request->length;
    if (length.unit == TypedUnit::kShare) return low + length.value / 100 * (static_cast<double>(high) - low);
    return length.millimetres / 1000;
}

const LengthUnit* typedUnitRow(TypedUnit unit) {
    return unit == TypedUnit::kCentimetre ? &kLengthUnits[1] : unit == TypedUnit::kInch ? &kLengthUnits[4]
                                                                                          : &kLengthUnits[0];
}

}  // namespace

SectionSide placeSectionRequest(const SectionRequest* request, float low, float high, float* share) {
    double place = placeOf(request, low, high);
    double extent = static_cast<double>(high) - low;
    double nearEnd = std::ldexp(extent, -20);
    if (place < low - nearEnd) return *share = 0, SectionSide::kBelow;
    if (place > high + nearEnd) return *share = 1, SectionSide::kAbove;
    if (place <= low + nearEnd) return *share = 0, SectionSide::kWithin;
    if (place >= high - nearEnd) return *share = 1, SectionSide::kWithin;
    *share = static_cast<float>((place - low) / extent);
    return SectionSide::kWithin;
}

Utf16* formatSectionOutside(Utf16* out, const SectionRequest* request, SectionSide side, float low, float high,
                            uint32_t locale) {
    const LengthUnit* unit = typedUnitRow(request->length.unit);
    Utf16 axis = static_cast<Utf16>(u'X' + request->axis % 3);
    out = appendUtf16(out, U16("Section plane "));
    *out++ = axis;
    out = appendUtf16(out, U16(" = "));
    out = formatLengthIn(out, placeOf(request, low, high), unit, locale);
    out = appendUtf16(out, side == SectionSide::kBelow ? U16(" lies below the model (") : U16(" lies above the model ("));
    *out++ = axis;
    out = appendUtf16(out, U16(" from "));
    out = formatLengthIn(out, low, unit, locale);
    out = appendUtf16(out, U16(" to "));
    out = formatLengthIn(out, high, unit, locale);
    out = appendUtf16(out, U16("); the whole model is shown"));
    *out = 0;
    return out;
}
