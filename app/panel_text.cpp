#include "app/panel_text.h"

#include <cmath>
#include <initializer_list>

#include "app/window_ids.h"
#include "core/code_page.h"
#include "core/memory.h"
#include "core/utf16_text.h"
#include "mesh/build_fit.h"
#include "mesh/overhang_area.h"
#include "numfmt/measure_format.h"
#include "stl/format_detection.h"
#include "view/gpu_mesh.h"

namespace {

const GpuMesh* meshOf(const ModelPart& part) {
    return static_cast<const GpuMesh*>(part.gpuMesh);
}

// The count and the words for one or for many.
Utf16* appendCount(Utf16* out, uint64_t count, const Utf16* one, const Utf16* many, uint32_t locale) {
    return appendUtf16(formatCount(out, count, locale), count == 1 ? one : many);
}

// "Part 2: " when one part of several is selected.
Utf16* appendPartPrefix(Utf16* out, const PanelFacts* facts) {
    if (facts->selectedSlot < 0 || usedPartCount(facts->model) < 2) return out;
    out = appendUtf16(out, U16("Part "));
    *out++ = static_cast<Utf16>('1' + facts->selectedSlot);
    return appendUtf16(out, U16(": "));
}

bool counts(const PanelFacts* facts, int slot) {
    return facts->selectedSlot < 0 || slot == facts->selectedSlot;
}

// A program's name on one line: the line has room for a long one, not for any length.
constexpr uint32_t kMostProgramBytes = 160;

// "3MF", and which program wrote the package when it says so.
Utf16* appendPackageKind(Utf16* out, const PackageFacts* package) {
    out = appendUtf16(out, U16("3MF"));
    if (!package || !package->application.length) return out;
    CountedText program = package->application;
    if (program.length > kMostProgramBytes) {
        program.length = kMostProgramBytes;
        while (program.length && (static_cast<uint8_t>(program.bytes[program.length]) & 0xC0) == 0x80) --program.length;
    }
    return widenCountedText(&program, appendUtf16(out, U16(" by ")));
}

// Each kind of the parts once, in the parts' order ("ASCII STL + binary
// STL"); 3MF with the program of its first package.
void writeKindLine(const PanelFacts* facts, Utf16* out) {
    const ShownModel* model = facts->model;
    *out = 0;
    const Utf16* start = out;
    uint32_t written = 0;  // a bit per format
    for (int slot = 0; slot < usedPartCount(model); ++slot) {
        const ModelPart& part = model->parts[slot];
        uint32_t bit = 1u << (part.format & 31);
        if (written & bit) continue;
        written |= bit;
        if (out != start) out = appendUtf16(out, U16(" + "));
        if (part.format == kFormat3mf) out = appendPackageKind(out, part.package);
        else if (part.format == kFormatAscii) out = appendUtf16(out, U16("ASCII STL"));
        else out = appendUtf16(out, out == start ? U16("Binary STL") : U16("binary STL"));
    }
    *out = 0;
}

// The union of the parts' boxes.
void modelBox(const ShownModel* model, float boundsMin[3], float boundsMax[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        boundsMin[axis] = INFINITY;
        boundsMax[axis] = -INFINITY;
    }
    for (int slot = 0; slot < usedPartCount(model); ++slot) {
        const GpuMesh* mesh = meshOf(model->parts[slot]);
        for (int axis = 0; axis < 3; ++axis) {
            boundsMin[axis] = fminf(boundsMin[axis], mesh->boundsMin[axis]);
            boundsMax[axis] = fmaxf(boundsMax[axis], mesh->boundsMax[axis]);
        }
    }
}

// The size line's unit, which every length, area and volume of the panel
// takes, so that the lines read in one unit.
const LengthUnit* shownModelUnit(const PanelFacts* facts) {
    float boundsMin[3], boundsMax[3];
    modelBox(facts->model, boundsMin, boundsMax);
    return modelUnit(boundsMin, boundsMax, facts->units);
}

// Where the section cuts, in the files' axes (the view's box is the union
// of the parts' boxes), and which side it keeps.
void writeSectionLine(const PanelFacts* facts, Utf16* out) {
    *out = 0;
    if (!facts->section.on || !facts->viewHasBox || !slotInUse(facts->model, 0)) return;
    int axis = facts->section.axis % 3;
    out = formatSectionLine(out, axis, sectionPlace(&facts->section, facts->viewMin, facts->viewMax),
                            shownModelUnit(facts), facts->locale);
    const Utf16* side = !sectionCuts(&facts->section) ? U16(", on the model's end: nothing cut")
                        : facts->section.flip          ? U16(", keeping above")
                                                       : U16(", keeping below");
    out = appendUtf16(out, side);
    *out = 0;
}

void writeSizeLine(const PanelFacts* facts, Utf16* out) {
    *out = 0;
    if (!usedPartCount(facts->model)) return;
    float boundsMin[3], boundsMax[3];
    modelBox(facts->model, boundsMin, boundsMax);
    formatModelDimensions(out, boundsMin, boundsMax, facts->yUp, facts->units, facts->locale);
}

// "15.4 g of PLA if solid": at 100 % infill, so the most the part can weigh.
Utf16* appendSolidWeight(Utf16* out, double cubicMetres, const PanelFacts* facts) {
    const PrintChoice& print = facts->print;
    out = formatWeight(out, solidWeight(cubicMetres, print.density), facts->units, facts->locale);
    if (print.material) out = appendAscii(appendUtf16(out, U16(" of ")), print.material);
    else out = appendUtf16(formatPlainNumber(appendUtf16(out, U16(" at ")), print.density, facts->locale), U16("\u2009g/cm\u00B3"));
    return appendUtf16(out, U16(" if solid"));
}

// "Prusa MK4S (250 × 210 × 220 mm)", or "chosen printer (…)" for a typed volume.
Utf16* appendPrinter(Utf16* out, const PanelFacts* facts) {
    const PrintChoice& print = facts->print;
    out = print.printerName ? appendAscii(out, print.printerName) : appendUtf16(out, U16("chosen printer"));
    const double sizes[3] = {print.printer.width, print.printer.depth, print.printer.height};
    return appendUtf16(formatMillimetreSizes(appendUtf16(out, U16(" (")), sizes, facts->locale), U16(")"));
}

// " by 12.0 mm in height" and the other sides that are over.
Utf16* appendExcess(Utf16* out, const BuildFit& fit, const PanelFacts* facts) {
    static const Utf16* const kSides[3] = {U16(" in width"), U16(" in depth"), U16(" in height")};
    bool first = true;
    for (int axis = 0; axis < 3; ++axis) {
        if (!(fit.over[axis] > 0)) continue;
        out = appendUtf16(out, first ? U16(" by ") : U16(" and "));
        // Millimetres or inches, as build volumes are given.
        const LengthUnit* unit = usCustomary(facts->units) ? kInchUnit : kMillimetreUnit;
        out = formatLengthIn(out, fit.over[axis] / 1000, unit, facts->locale);
        out = appendUtf16(out, kSides[axis]);
        first = false;
    }
    return out;
}

// Triangles, surface area and volume of the selected part, or of the whole
// model. A volume means something only for closed parts whose faces agree;
// while a check runs there is none (the check line says so), so that a
// longer text does not wrap and move the rows below twice.
void writeFactsLine(const PanelFacts* facts, Utf16* out) {
    const ShownModel* model = facts->model;
    int parts = usedPartCount(model);
    *out = 0;
    if (!parts) return;
    MeshFacts total{0, 0, 0};
    const Utf16* noVolume = nullptr;
    bool insideOut = false;
    for (int slot = 0; slot < parts; ++slot) {
        if (!counts(facts, slot)) continue;
        const MeshFacts& part = meshOf(model->parts[slot])->facts;
        total.triangleCount += part.triangleCount;
        total.surfaceArea += part.surfaceArea;
        total.volume += fabs(part.volume);
        const PartCheck& check = model->checks[slot];
        if (check.state == kCheckPending) noVolume = U16("");
        else if (noVolume) continue;
        else if (check.state != kCheckDone) noVolume = U16("volume: surface not checked");
        else if (check.result.openEdges) noVolume = U16("volume: surface not closed");
        else if (check.result.flippedEdges) noVolume = U16("volume: faces turned the wrong way");
        else if (check.result.unevenEdges) noVolume = U16("volume: surface not closed");
        else insideOut |= check.result.insideOut != 0;
    }
    out = appendPartPrefix(out, facts);
    out = appendCount(out, total.triangleCount, U16(" triangle, "), U16(" triangles, "), facts->locale);
    const LengthUnit* unit = shownModelUnit(facts);
    out = formatAreaIn(out, total.surfaceArea, unit, facts->locale);
    if (noVolume) {
        if (*noVolume) out = appendUtf16(appendUtf16(out, U16(", ")), noVolume);
    } else {
        out = formatVolumeIn(appendUtf16(out, U16(", ")), total.volume, unit, facts->locale);
        if (insideOut) out = appendUtf16(out, U16(" (inside out)"));
        out = appendSolidWeight(appendUtf16(out, U16(", ")), total.volume, facts);
    }
    *out = 0;
}

// The box of all parts as they stand on the bed, against the chosen printer.
void writeFitLine(const PanelFacts* facts, Utf16* out) {
    *out = 0;
    const PrintChoice& print = facts->print;
    if (!print.hasPrinter || !usedPartCount(facts->model)) return;
    float boundsMin[3], boundsMax[3];
    modelBox(facts->model, boundsMin, boundsMax);
    double size[3];
    standingSize(boundsMin, boundsMax, facts->yUp, size);
    BuildFit fit = fitInVolume(size, &print.printer);
    out = appendUtf16(out, fit.fits ? U16("Fits the ") : U16("Too large for the "));
    out = appendPrinter(out, facts);
    if (!fit.fits && !fit.fitsOnSide) out = appendUtf16(out, U16(" in every upright orientation"));
    if (fit.fitsOnSide) out = appendUtf16(appendExcess(out, fit, facts), U16("; fits lying on its side"));
    *out = 0;
}

// The overhangs of the selected part or of all, once their checks are done.
void writeOverhangLine(const PanelFacts* facts, Utf16* out) {
    *out = 0;
    const ShownModel* model = facts->model;
    int parts = usedPartCount(model);
    double area = 0;
    float degrees = 0;
    for (int slot = 0; slot < parts; ++slot) {
        if (!counts(facts, slot)) continue;
        if (model->checks[slot].state != kCheckDone) return;
        double scale = meshOf(model->parts[slot])->unitScale;
        area += model->checks[slot].overhangArea[facts->yUp ? 1 : 0] * scale * scale;
        degrees = model->checks[slot].overhangDegrees;
    }
    if (!parts) return;
    out = appendPartPrefix(out, facts);
    if (area > 0) out = formatAreaIn(appendUtf16(out, U16("Overhangs: ")), area, shownModelUnit(facts), facts->locale);
    else out = appendUtf16(out, U16("No overhangs"));
    out = appendUtf16(out, U16(" steeper than "));
    *appendUtf16(formatCount(out, static_cast<uint32_t>(degrees + 0.5f), facts->locale), U16("\u00B0")) = 0;
}

// "; " between the findings of one line.
Utf16* appendFinding(Utf16* out, bool* first, uint64_t count, const Utf16* one, const Utf16* many, uint32_t locale) {
    if (!*first) out = appendUtf16(out, U16("; "));
    *first = false;
    return appendCount(out, count, one, many, locale);
}

// The findings of the whole model's check, or the selected part's, worst first.
void writeCheckLine(const PanelFacts* facts, Utf16* out) {
    const ShownModel* model = facts->model;
    int parts = usedPartCount(model);
    SurfaceCheck total{};
    bool pending = false, failed = false, closed = true, insideOut = true;
    for (int slot = 0; slot < parts; ++slot) {
        if (!counts(facts, slot)) continue;
        const PartCheck& check = model->checks[slot];
        pending |= check.state == kCheckPending;
        failed |= check.state != kCheckDone;
        if (check.state != kCheckDone) continue;
        const SurfaceCheck& r = check.result;
        total.shells += r.shells;
        total.holes += r.holes;
        total.openEdges += r.openEdges;
        total.nonManifoldEdges += r.nonManifoldEdges;
        total.flippedEdges += r.flippedEdges;
        total.flippedFaces += r.flippedFaces;
        total.degenerateTriangles += r.degenerateTriangles;
        total.weldedCorners += r.weldedCorners;
        closed &= r.closed != 0;
        insideOut &= r.insideOut != 0;
    }
    uint32_t locale = facts->locale;
    *out = 0;
    if (parts == 0) return;
    if (pending) {
        *appendUtf16(out, U16("Checking the surface\u2026")) = 0;
        return;
    }
    if (failed) {
        *appendUtf16(out, U16("Surface not checked: out of memory")) = 0;
        return;
    }
    out = appendPartPrefix(out, facts);
    bool first = true;
    if (total.openEdges) {
        out = appendUtf16(out, U16("Not closed: "));
        out = appendCount(out, total.holes, U16(" hole ("), U16(" holes ("), locale);
        out = appendCount(out, total.openEdges, U16(" open edge)"), U16(" open edges)"), locale);
        first = false;
    }
    if (total.nonManifoldEdges)
        out = appendFinding(out, &first, total.nonManifoldEdges, U16(" edge shared by more than two faces"),
                            U16(" edges shared by more than two faces"), locale);
    if (total.flippedEdges)
        out = appendFinding(out, &first, total.flippedFaces, U16(" face turned the wrong way"),
                            U16(" faces turned the wrong way"), locale);
    if (closed && !total.shells && !total.degenerateTriangles) {
        out = appendUtf16(out, U16("No triangles"));
        first = false;
    } else if (closed && insideOut && total.shells) {
        if (!first) out = appendUtf16(out, U16("; "));
        out = appendUtf16(out, U16("Inside out: all faces point inwards"));
        first = false;
    } else if (closed && !total.flippedEdges) {
        out = appendUtf16(out, U16("Closed surface, "));
        out = appendCount(out, total.shells, U16(" shell"), U16(" shells"), locale);
        first = false;
    }
    if (total.degenerateTriangles)
        out = appendFinding(out, &first, total.degenerateTriangles, U16(" triangle without area"),
                            U16(" triangles without area"), locale);
    // Last: what the check forgave, not a fault.
    if (total.weldedCorners)
        out = appendFinding(out, &first, total.weldedCorners, U16(" corner joined across a tiny gap"),
                            U16(" corners joined across tiny gaps"), locale);
    *out = 0;
}

// The view's picked point, or the distance of its two, in the size line's units.
void writeMeasureLine(const PanelFacts* facts, Utf16* out) {
    *out = 0;
    double a[3], b[3];
    for (int axis = 0; axis < 3; ++axis) {
        a[axis] = facts->marks.points[0][axis];
        b[axis] = facts->marks.points[1][axis];
    }
    if (facts->marks.count == 1) formatMeasurePoint(out, a, facts->units, facts->locale);
    if (facts->marks.count == 2) formatMeasureDistance(out, a, b, facts->units, facts->locale);
}

// The panel lines, top to bottom. "Part 4: ", a count, " triangles, ", an
// area, ", ", a volume or why there is none and " (inside out)" fit
// kPanelTextUnits, as do five findings of the check line.
const PanelLine kPanelLines[] = {
    {kKindLineId, 7, kLineOne, false, writeKindLine},
    {kSectionLineId, 2, kLineCut, false, writeSectionLine},
    {kSizeLineId, 3, kLineOne, false, writeSizeLine},
    {kFactsLineId, 2, kLineWraps, false, writeFactsLine},
    {kCheckLineId, 1, kLineWraps, false, writeCheckLine},
    {kOverhangLineId, 1, kLineOne, false, writeOverhangLine},
    {kFitLineId, 1, kLineWraps, false, writeFitLine},
    {kMeasureLineId, 4, kLineTwo, true, writeMeasureLine},  // a distance with its differences wraps
};
constexpr int kPanelLineCount = sizeof kPanelLines / sizeof kPanelLines[0];
static_assert(kPanelLineCount <= kMaxPanelLines);
// The facts line with a weight at a typed density, the fit line with a
// preset's name of up to 40 and all three sides over.
static_assert(kPanelTextUnits >= 9 + kMaxCountText + 12 + 3 * kMaxMeasureText + 2 + 40 + 6 + kMaxLengthText + 20 + 1);
static_assert(kPanelTextUnits >= 18 + 40 + 3 + kMaxVolumeSizesText + 3 * (10 + kMaxLengthText) + 24 + 1);
static_assert(kPanelTextUnits >= 9 + 5 * (kMaxCountText + 48));
static_assert(kPanelTextUnits >= kMeasureTextCapacity && kPanelTextUnits >= kDimensionsTextCapacity);

bool startsWith(const Utf16* text, const Utf16* end, const Utf16* prefix) {
    for (; *prefix; ++prefix, ++text)
        if (text == end || *text != *prefix) return false;
    return true;
}

// Lines that tell what was found, not what went wrong.
bool isNotice(const Utf16* line, const Utf16* end) {
    for (const Utf16* prefix : {U16("STL info:"), U16("STL warning:"), U16("D3D info:"), U16("Direct3D 11 info:")})
        if (startsWith(line, end, prefix)) return true;
    return false;
}

struct FailureWriter {
    Utf16* out;
    int used;
    void add(const Utf16* text, const Utf16* end = nullptr) {
        for (; text != end && *text && used < kFailureTextUnits - 1; ++text) out[used++] = *text;
        out[used] = 0;
    }
};

size_t lengthOf(const Utf16* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

}  // namespace

int panelLines(const PanelLine** lines) {
    *lines = kPanelLines;
    return kPanelLineCount;
}

void makeWindowTitle(const Utf16* path, Utf16 title[kTitleUnits]) {
    Utf16* end = appendUtf16(appendUtf16(title, kApplicationTitle), U16(" \u2013 "));
    int length = static_cast<int>(end - title);
    const Utf16* name = fileNameOf(path);
    constexpr int kRoom = kTitleUnits - 2;  // 254 units before the ellipsis
    while (*name && length < kRoom) title[length++] = *name++;
    if (*name) title[length++] = 0x2026;
    title[length] = 0;
}

Utf16* partItemText(const ModelPart* part, uint32_t index) {
    const CountedText* name = index == 0 ? &part->metadata.modelName : &part->mesh.solids[index - 1].name;
    if (name->length == 0) return nullptr;
    auto* text = static_cast<Utf16*>(allocArray(processHeap(), 2 * uint64_t{name->length} + 1, sizeof(Utf16), nullptr));
    if (!text) return nullptr;
    Utf16* end = widenCountedText(name, text);
    *end = 0;
    for (Utf16* unit = text; unit < end; ++unit)
        if (*unit < 0x20) *unit = static_cast<Utf16>(0x2400 + *unit);
    return text;
}

void writeMoreSolids(Utf16* out, uint64_t count, uint32_t locale) {
    *appendUtf16(formatCount(out, count, locale), U16(" more solids")) = 0;
}

void writeEmptySolids(Utf16* out, uint64_t count, uint32_t locale) {
    *appendCount(out, count, U16(" solid without triangles, not listed in the tree\r\n"),
                 U16(" solids without triangles, not listed in the tree\r\n"), locale) = 0;
}

int describeLoadFailure(const Utf16* messages, const Utf16* fileName, Utf16 out[kFailureTextUnits]) {
    const Utf16* chosen = nullptr;
    const Utf16* chosenEnd = nullptr;
    bool chosenIsError = false;
    for (const Utf16* line = messages; *line;) {
        const Utf16* end = line;
        while (*end && *end != '\r' && *end != '\n') ++end;
        bool error = startsWith(line, end, U16("STL error: "));
        if (end != line && (error || (!chosen && !isNotice(line, end)))) {
            chosen = line;
            chosenEnd = end;
            chosenIsError = error;
            if (error) break;
        }
        line = end;
        while (*line == '\r' || *line == '\n') ++line;
    }
    FailureWriter writer{out, 0};
    writer.add(U16("Could not open "));
    writer.add(fileName);
    writer.add(U16(": "));
    if (!chosen) {
        writer.add(U16("nothing could be loaded"));
        return -1;
    }
    const Utf16* reason = chosen;
    if (chosenIsError) {
        reason += 11;
        // The error names the file, which the text already does.
        size_t nameLength = lengthOf(fileName);
        if (startsWith(reason, chosenEnd, fileName) && startsWith(reason + nameLength, chosenEnd, U16(": ")))
            reason += nameLength + 2;
        static const Utf16 kAborting[] = U16("; aborting");
        const int abortingLength = 10;
        if (chosenEnd - reason >= abortingLength && startsWith(chosenEnd - abortingLength, chosenEnd, kAborting))
            chosenEnd -= abortingLength;
    }
    writer.add(reason, chosenEnd);
    return static_cast<int>(chosen - messages);
}
