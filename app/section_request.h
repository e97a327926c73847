// A section asked for by text, `--section z=2.5`: an axis and a length in
// millimetres of the model as shown (after its file's unit), another unit
// when one is typed (cm, in), or a share of the model's extent ("50%"). A
// plane outside the model cuts nothing; the caller says so. Builds without
// Windows.
#pragma once
#include <cstdint>

#include "core/platform.h"
#include "numfmt/length_format.h"
#include "numfmt/length_parse.h"

struct SectionRequest {
    uint8_t axis;  // 0 X, 1 Y, 2 Z of the model's file
    TypedLength length;
};

// "x", "y" or "z" in either case, '=', and a length or share. False when the
// axis part is wrong; else `fault` is the length's (kNone when it reads).
bool readSectionRequest(const Utf16* text, SectionRequest* request, LengthFault* fault);

enum class SectionSide : uint8_t { kWithin, kBelow, kAbove };

// The share of the box [low, high] (metres along the axis) where the plane
// lies. A plane within 2^-20 of the extent of an end lies on it (a length
// typed in another unit than the file's may miss the end by a rounding);
// outside the box the share is that end's, which cuts nothing.
SectionSide placeSectionRequest(const SectionRequest* request, float low, float high, float* share);

// "Section plane Z = 30 mm lies above the model (Z from 0 mm to 20 mm); the
// whole model is shown", in the unit the length was typed in (millimetres
// for a bare number or a share). With a terminator; returns its position.
constexpr int kSectionOutsideTextCapacity = 3 * kMaxLengthText + 80;
Utf16* formatSectionOutside(Utf16* out, const SectionRequest* request, SectionSide side, float low, float high,
                            uint32_t locale);
