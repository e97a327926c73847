#include "core/converting_sink.h"

#include <cstring>

#include "core/code_page.h"
#include "core/memory.h"
#include "core/package_texts.h"

namespace {

// Composed lines hold one file text of up to this many units plus a prefix.
constexpr uint32_t kTextUnits = 65535;
constexpr uint32_t kPrefixUnits = 64;

struct FixedText {
    StatusCode code;
    const char* text;
};

const FixedText kFixedTexts[] = {
    {kWarnArchicadUnit, "STL warning: bad ArchiCAD metadata (unknown unit); scaling may be incorrect"},
    {kWarnArchicadScale, "STL warning: bad ArchiCAD metadata (unknown scale factor); scaling may be incorrect"},
    {kWarnMissingEndsolid, "STL warning: an 'endsolid' line does not repeat the name of its solid"},
    {kWarnEndSpaceSolid, "STL warning: found 'end solid' instead of 'endsolid'"},
    {kWarnUnexpectedEnd, "STL warning: unexpected end of file"},
    {kWarnUnknownUnit, "STL warning: unknown unit; assuming millimeters"},
    {kWarnUnknownSpace, "STL warning: unknown coordinate space; assuming Z up"},
    {kWarnNoTriangles, "STL warning: the file holds no triangles"},
    {kErrSaveNothing, "Save error: no visible triangles to save"},
    {kOutOfMemory, "out of memory"},
    {kOutOfGpuMemory, "out of GPU memory"},
    {kFileNotFound, "file not found"},
    {kErrExpectedSolid, "STL error: expected 'solid' keyword; aborting"},
    {kErrExpectedName, "STL error: expected name of solid; aborting"},
    {kErrExpectedFacetOrEnd, "STL error: expected either 'facet' or 'endsolid' keyword; aborting"},
    {kErrExpectedVertex, "STL error: expected 'vertex' keyword; aborting"},
    {kErrExpectedNumber, "STL error: expected a number; aborting"},
    {kErrExpectedEndloop, "STL error: expected 'endloop' keyword; aborting"},
    {kErrExpectedEndfacet, "STL error: expected 'endfacet' keyword; aborting"},
    {kErrEndInCount, "STL error: unexpected end of file in number of triangles; aborting"},
    {kErrEndInTriangles, "STL error: unexpected end of file in triangles; aborting"},
    {0x80000d00, "Direct3D 11 error: the debug layer is not installed on the system"},
    {0x80000d01, "Direct3D 11 error: call, parameter, or state invalid"},
    {0x80000d02, "Direct3D 11 error: too many states"},
    {0x80000d03, "Direct3D 11 error: too many views"},
    {0x80000d04, "Direct3D 11 error: GPU too old"},
    {0x80000d05, "Direct3D 11 error: no driver support (please update your GPU driver)"},
    {0x80000d06, "Direct3D 11 is not available on this machine"},
    {0x80000d07, "Direct3D 11 error: the graphics device was removed (driver updated, or the adapter removed or switched)"},
    {0x80000d08, "Direct3D 11 error: the GPU stopped responding"},
    {0x80000d09, "Direct3D 11 error: the GPU was reset"},
    {0x80000d0a, "Direct3D 11 error: the graphics driver failed"},
    {0x80000d0b, "Direct3D 11 error: the driver reported a failure without saying why"},
    {0x80000d0c, "Direct3D 11 error: the GPU was still drawing"},
    {0x80000d0d, "Direct3D 11 error: the display output is not available at the moment"},
    {0x80000d0e, "Direct3D 11 error: the driver lacks an interface the viewer needs (please update your GPU driver)"},
    {0x80000d0f, "Direct3D 11 error: the driver does not implement a call the viewer needs"},
    {0x80000d10, "Direct3D 11 error: access denied"},
};

struct FeatureLevelName {
    uint32_t level;
    const char* name;
};

const FeatureLevelName kFeatureLevels[] = {
    {0x9100, "9"},    {0x9200, "9.0b"}, {0x9300, "9.0c"}, {0xA000, "10"},   {0xA100, "10.1"},
    {0xB100, "11.1"}, {0xB200, "11.2"}, {0xB300, "11.3"}, {0xB400, "11.4"}, {0xC000, "12"},
};

const char* fixedText(StatusCode code, uintptr_t argument) {
    if (code == kInfoComputeShaders)
        return argument ? "Direct3D 11 info: GPU supports compute shaders"
                        : "Direct3D 11 info: GPU does not support compute shaders";
    for (const FixedText& entry : kFixedTexts)
        if (entry.code == code) return entry.text;
    return nullptr;
}

const char* featureLevelName(uintptr_t level) {
    for (const FeatureLevelName& entry : kFeatureLevels)
        if (entry.level == level) return entry.name;
    return level <= 0xB100 ? "11" : "12.1";
}

// Each byte becomes the unit of the same value (0x80-0xFF stay below 0x100);
// at most `limit` bytes.
Utf16* widenBytes(Utf16* out, const char* text, uint32_t limit) {
    if (!text) return out;
    for (uint32_t i = 0; i < limit && text[i]; ++i) *out++ = static_cast<Utf16>(static_cast<unsigned char>(text[i]));
    return out;
}

uint32_t textLength(const char* text) {
    uint32_t length = 0;
    while (text[length]) ++length;
    return length;
}

intptr_t deliverLine(const ConvertingSink* sink, const Utf16* line, const Utf16* backTrace) {
    return sink->inner.callback(sink->inner.userData, kLine, reinterpret_cast<uintptr_t>(line), backTrace);
}

// Fixed and free 8-bit texts go through a heap block of exactly their size.
intptr_t deliverHeapLine(const ConvertingSink* sink, const char* text, const Utf16* backTrace) {
    uint32_t length = textLength(text);
    Utf16* line = static_cast<Utf16*>(allocArray(processHeap(), uint64_t{length} + 1, sizeof(Utf16), nullptr));
    if (!line) return 1;
    *widenBytes(line, text, length) = 0;
    intptr_t result = deliverLine(sink, line, backTrace);
    freeBytes(line);
    return result;
}

// A file text, cut to what the line buffer holds.
Utf16* appendCountedText(Utf16* out, const CountedText* text) {
    if (!text) return out;
    CountedText bounded = *text;
    if (bounded.length > kTextUnits) bounded.length = kTextUnits;
    // A NUL inside would end the delivered line there.
    const void* nul = bounded.length ? memchr(bounded.bytes, 0, bounded.length) : nullptr;
    if (nul) bounded.length = static_cast<uint32_t>(static_cast<const char*>(nul) - bounded.bytes);
    return widenCountedText(&bounded, out);
}

Utf16* appendDecimal(Utf16* out, uint64_t number) {
    Utf16 digits[20];
    int count = 0;
    do digits[count++] = static_cast<Utf16>('0' + number % 10); while (number /= 10);
    while (count) *out++ = digits[--count];
    return out;
}

// Exporter names may come from the file: widened as the solid names are.
// Eight upper-case hexadecimal digits.
Utf16* appendHex(Utf16* out, uint32_t number) {
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = static_cast<Utf16>("0123456789ABCDEF"[number >> shift & 15]);
    return out;
}

Utf16* appendExporterName(Utf16* out, const char* name) {
    if (!name) return out;
    CountedText text{name, textLength(name), 0};
    return appendCountedText(out, &text);
}

Utf16* appendSystemErrorText(Utf16* out, uint32_t errorNumber) {
    uint32_t written = systemErrorText(errorNumber, out, kTextUnits);
    if (written) return out + written;
    return appendDecimal(widenBytes(out, "system error ", kPrefixUnits), errorNumber);
}

// "STL error: NAME: " and what is wrong with the file; the name is cut to the line buffer.
Utf16* appendFileFact(Utf16* out, StatusCode code, const FileFact* fact) {
    out = widenBytes(out, code == kErrNot3mf ? "3MF error: " : "STL error: ", kPrefixUnits);
    const Utf16* name = fact->fileName;
    for (uint32_t i = 0; name && name[i] && i < kTextUnits; ++i) *out++ = name[i];
    if (code == kErrNotStl) return widenBytes(out, ": not an STL file", kPrefixUnits);
    if (code == kErrNot3mf) return widenBytes(out, ": not a 3MF file (it is no ZIP package)", kPrefixUnits);
    if (code == kErrEmptyFile) return widenBytes(out, ": the file is empty", kPrefixUnits);
    out = appendDecimal(widenBytes(out, ": binary STL file cut short, ", kPrefixUnits), fact->count);
    return widenBytes(out, fact->count == 1 ? " byte missing; aborting" : " bytes missing; aborting", kPrefixUnits);
}

// "STL error: NAME, line N: " and the parser's own words.
Utf16* appendPlacedError(Utf16* out, const PlacedError* placed) {
    const char* text = fixedText(placed->code, 0);
    constexpr uint32_t kErrorPrefix = 11;
    if (!text || memcmp(text, "STL error: ", kErrorPrefix) != 0) return widenBytes(out, "<unknown>", kPrefixUnits);
    out = widenBytes(out, text, kErrorPrefix);
    const Utf16* name = placed->fileName;
    // The name leaves room for the line number and the words after it.
    for (uint32_t i = 0; name && name[i] && i < kTextUnits - 2 * kPrefixUnits; ++i) *out++ = name[i];
    if (name) out = widenBytes(out, ", ", kPrefixUnits);
    out = appendDecimal(widenBytes(out, "line ", kPrefixUnits), placed->line);
    if (placed->capitals && placed->capitalsLength && placed->capitalsLength < kPrefixUnits) {
        out = widenBytes(out, ": '", kPrefixUnits);
        for (uint32_t i = 0; i < placed->capitalsLength; ++i) *out++ = static_cast<uint8_t>(placed->capitals[i]);
        return widenBytes(out, "' is in capitals; STL keywords are lower case", kPrefixUnits);
    }
    return widenBytes(widenBytes(out, ": ", kPrefixUnits), text + kErrorPrefix, kPrefixUnits);
}

// "Settings error: NAME could not be saved: " and the system's reason.
Utf16* appendSettingFailure(Utf16* out, const SettingFailure* failure) {
    out = widenBytes(out, "Settings error: ", kPrefixUnits);
    for (uint32_t i = 0; failure->name && failure->name[i] && i < kPrefixUnits; ++i) *out++ = failure->name[i];
    return appendSystemErrorText(widenBytes(out, " could not be saved: ", kPrefixUnits), failure->error);
}

// "N stray bytes" and the like, with the singular for one.
Utf16* appendCountedWarning(Utf16* out, uint64_t count, const char* one, const char* many) {
    out = appendDecimal(widenBytes(out, "STL warning: ", kPrefixUnits), count);
    return widenBytes(out, count == 1 ? one : many, kPrefixUnits);
}

// Thousands apart by commas, as the English texts write them: "2,400".
Utf16* appendGroupedDecimal(Utf16* out, uint64_t number) {
    Utf16 digits[20];
    int count = 0;
    do digits[count++] = static_cast<Utf16>('0' + number % 10); while (number /= 10);
    while (count) {
        *out++ = digits[--count];
        if (count && count % 3 == 0) *out++ = ',';
    }
    return out;
}

// At most the longest path the system takes, so that a reason fits beside it.
Utf16* appendPath(Utf16* out, const Utf16* path) {
    for (uint32_t i = 0; path && path[i] && i < kTextUnits / 2; ++i) *out++ = path[i];
    return out;
}

// "12 triangles without area", with the singular for one.
Utf16* appendCount(Utf16* out, uint64_t count, const char* one, const char* many) {
    out = appendGroupedDecimal(out, count);
    return widenBytes(out, count == 1 ? one : many, kPrefixUnits);
}

Utf16* appendSaveNote(Utf16* out, StatusCode code, const SaveNote* note) {
    const char* format = note->format ? "3MF" : "binary STL";
    if (code == kInfoSaved) {
        out = appendPath(widenBytes(out, "Saved ", kPrefixUnits), note->path);
        out = widenBytes(widenBytes(out, " as ", kPrefixUnits), format, kPrefixUnits);
        if (note->format) out = widenBytes(out, " (a stored ZIP, not compressed)", kPrefixUnits);
        return widenBytes(out, note->unitKnown ? " in millimetres" : ", the coordinates as they were (unit unknown)",
                          kPrefixUnits);
    }
    out = appendPath(widenBytes(out, "Save error: ", kPrefixUnits), note->path);
    if (code == kErrSaveFailed) {
        out = widenBytes(out, " could not be written: ", kPrefixUnits);
        uint32_t written = systemErrorText(note->error, out, kTextUnits / 4);
        out = written ? out + written : appendDecimal(widenBytes(out, "system error ", kPrefixUnits), note->error);
        while (out[-1] == ' ') --out;  // Windows ends its texts with a space
    }
    else if (note->format) out = widenBytes(out, ": the model does not fit into a 3MF file of 4 GB", kPrefixUnits);
    else out = widenBytes(out, ": more than 4,294,967,295 triangles do not fit into a binary STL file", kPrefixUnits);
    return widenBytes(out, "; nothing was changed", kPrefixUnits);
}

Utf16* appendSlicerFailure(Utf16* out, const SaveNote* note) {
    out = appendPath(widenBytes(out, "Open in slicer error: ", kPrefixUnits), note->path);
    out = widenBytes(out, " could not be started: ", kPrefixUnits);
    uint32_t written = systemErrorText(note->error, out, kTextUnits / 4);
    out = written ? out + written : appendDecimal(widenBytes(out, "system error ", kPrefixUnits), note->error);
    while (out[-1] == ' ') --out;  // Windows ends its texts with a space
    return out;
}

// "Turned 36 faces outwards; dropped 12 triangles without area; closed 2 holes of 18 edges".
Utf16* appendRepairs(Utf16* out, const RepairCounts* counts) {
    Utf16* start = out;
    auto next = [&]() {
        if (out != start) out = widenBytes(out, "; ", kPrefixUnits);
    };
    if (counts->turnedFaces) out = appendCount(widenBytes(out, "turned ", kPrefixUnits), counts->turnedFaces, " face outwards", " faces outwards");
    if (counts->droppedWithoutArea) {
        next();
        out = appendCount(widenBytes(out, "dropped ", kPrefixUnits), counts->droppedWithoutArea,
                          " triangle without area", " triangles without area");
    }
    if (counts->droppedDuplicates) {
        next();
        out = appendCount(widenBytes(out, "dropped ", kPrefixUnits), counts->droppedDuplicates, " duplicate triangle",
                          " duplicate triangles");
    }
    if (counts->closedHoles) {
        next();
        out = appendCount(widenBytes(out, "closed ", kPrefixUnits), counts->closedHoles, " hole", " holes");
        out = appendCount(widenBytes(out, " of ", kPrefixUnits), counts->closedHoleEdges, " edge", " edges");
    }
    if (out == start) return widenBytes(out, "Nothing needed repair", kPrefixUnits);
    if (*start >= 'a' && *start <= 'z') *start = static_cast<Utf16>(*start - 'a' + 'A');
    return out;
}

// "Still open: 1 hole of 2,400 edges".
Utf16* appendStillOpen(Utf16* out, const RepairCounts* counts) {
    if (!counts->openHoles && !counts->nonManifoldEdges) return widenBytes(out, "Nothing is left open", kPrefixUnits);
    out = widenBytes(out, "Still open: ", kPrefixUnits);
    if (counts->openHoles) {
        out = appendCount(out, counts->openHoles, " hole", " holes");
        out = appendCount(widenBytes(out, " of ", kPrefixUnits), counts->openHoleEdges, " edge", " edges");
    }
    if (counts->openHoles && counts->nonManifoldEdges) out = widenBytes(out, "; ", kPrefixUnits);
    if (counts->nonManifoldEdges)
        out = appendCount(out, counts->nonManifoldEdges, " edge of more than two faces", " edges of more than two faces");
    return out;
}

bool isFreeText(StatusCode code) {
    return code == kInfoText || code == kWarningText || code == kErrorText;
}

// Codes whose argument points to a record; without one there is nothing to say.
bool takesRecord(StatusCode code) {
    switch (code) {
    case kErrNotStl:
    case kErrNot3mf:
    case kErrEmptyFile:
    case kErrTruncatedBinary:
    case kErrAsciiPlaced:
    case kErrSettingNotSaved:
    case kInfoSaved:
    case kErrSaveFailed:
    case kErrSaveTooLarge:
    case kErrSlicerNotStarted:
    case kInfoRepaired:
    case kInfoStillOpen:
        return true;
    default:
        return false;
    }
}

bool isPassThrough(StatusCode code) {
    return code == kProgress || code == kLine || code == 0x40000002 || code == 0x80000004;
}

}  // namespace

void initConvertingSink(ConvertingSink* record, const MessageSink& inner) {
    record->self.userData = record;
    record->self.callback = convertStatus;
    record->inner = inner;
}

intptr_t convertStatus(void* record, StatusCode code, uintptr_t argument, const Utf16* backTrace) {
    const ConvertingSink* sink = static_cast<const ConvertingSink*>(record);
    if (isPassThrough(code)) return sink->inner.callback(sink->inner.userData, code, argument, backTrace);
    if (const char* text = fixedText(code, argument)) return deliverHeapLine(sink, text, backTrace);
    if (isFreeText(code) && argument) return deliverHeapLine(sink, reinterpret_cast<const char*>(argument), backTrace);
    if (takesRecord(code) && !argument) return deliverHeapLine(sink, "<unknown>", backTrace);

    Utf16 line[kPrefixUnits + kTextUnits + 2];
    Utf16* out = line;
    const CountedText* counted = reinterpret_cast<const CountedText*>(argument);
    switch (code) {
    case kInfoWrittenBy:
        out = appendExporterName(widenBytes(out, "STL info: written by ", kPrefixUnits),
                                 reinterpret_cast<const char*>(argument));
        break;
    case kInfoWritten:
        out = appendCountedText(widenBytes(out, "STL info: written ", kPrefixUnits), counted);
        break;
    case kInfoWrittenTo:
        out = appendCountedText(widenBytes(out, "STL info: written to \"", kPrefixUnits), counted);
        *out++ = '"';
        break;
    case kInfoFeatureLevel:
        out = widenBytes(widenBytes(out, "D3D info: GPU supports Direct3D ", kPrefixUnits),
                         featureLevelName(argument), kPrefixUnits);
        break;
    case kSystemError:
        out = appendSystemErrorText(out, static_cast<uint32_t>(argument));
        break;
    case kGpuFailureCode:
        out = appendHex(widenBytes(out, "Direct3D 11 error: failed with code 0x", kPrefixUnits),
                        static_cast<uint32_t>(argument));
        break;
    case kErrNotStl:
    case kErrNot3mf:
    case kErrEmptyFile:
    case kErrTruncatedBinary:
        out = appendFileFact(out, code, reinterpret_cast<const FileFact*>(argument));
        break;
    case kErrAsciiPlaced:
        out = appendPlacedError(out, reinterpret_cast<const PlacedError*>(argument));
        break;
    case kErrSettingNotSaved:
        out = appendSettingFailure(out, reinterpret_cast<const SettingFailure*>(argument));
        break;
    case kInfoSaved:
    case kErrSaveFailed:
    case kErrSaveTooLarge:
        out = appendSaveNote(out, code, reinterpret_cast<const SaveNote*>(argument));
        break;
    case kErrSlicerNotStarted:
        out = appendSlicerFailure(out, reinterpret_cast<const SaveNote*>(argument));
        break;
    case kInfoRepaired:
    case kInfoStillOpen:
        out = code == kInfoRepaired ? appendRepairs(out, reinterpret_cast<const RepairCounts*>(argument))
                                    : appendStillOpen(out, reinterpret_cast<const RepairCounts*>(argument));
        break;
    case kWarnSaveUnitUnknown:
        out = appendPath(widenBytes(out, "Save warning: the unit of ", kPrefixUnits), reinterpret_cast<const Utf16*>(argument));
        out = widenBytes(out, " is unknown; its coordinates were written as they are", kPrefixUnits);
        break;
    case kWarnStrayBytes:
        out = appendCountedWarning(out, argument, " stray byte after the last triangle block; ignored",
                                   " stray bytes after the last triangle block; ignored");
        break;
    case kWarnMessagesLeftOut:
        out = appendCountedWarning(out, argument, " more message like those above left out",
                                   " more messages like those above left out");
        break;
    default:
        if (isPackageCode(code) && argument) {
            out = appendPackageNote(out, code, reinterpret_cast<const PackageNote*>(argument));
            break;
        }
        out = widenBytes(out, "<unknown>", kPrefixUnits);
        break;
    }
    *out = 0;
    return deliverLine(sink, line, backTrace);
}
