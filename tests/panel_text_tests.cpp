// The panel's lines and the window's other texts, from models made here:
// what each line says for each state of the parts and their checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/panel_text.h"
#include "app/shown_model.h"
#include "app/window_ids.h"
#include "core/memory.h"
#include "stl/format_detection.h"
#include "view/gpu_mesh.h"

namespace {

using Text = std::basic_string<Utf16>;

// A part as the panel sees it: its facts, its box and its check.
struct PartSpec {
    uint64_t triangles;
    double area, volume;  // square and cubic metres
    float size;           // the box from 0 to this along every axis, metres
    uint8_t check;        // CheckState
    SurfaceCheck result;
    uint32_t format = kFormatBinary;
    double overhang[2] = {0, 0};  // square file units (millimetres), Z up and Y up
};

// A 10 mm cube, checked and closed.
constexpr SurfaceCheck kClosed{1, 0, 0, 0, 0, 0, 1, 0};
const PartSpec kCube{12, 6e-4, 1e-6, 0.01f, kCheckDone, kClosed};

class PanelText : public testing::Test {
protected:
    void shown(std::vector<PartSpec> parts) {
        model_ = ShownModel{};
        meshes_.assign(parts.size(), GpuMesh{});
        for (size_t slot = 0; slot < parts.size(); ++slot) {
            const PartSpec& spec = parts[slot];
            GpuMesh& mesh = meshes_[slot];
            mesh.facts = MeshFacts{spec.triangles, spec.area, spec.volume};
            mesh.unitScale = kMillimetre;
            for (int axis = 0; axis < 3; ++axis) {
                mesh.boundsMin[axis] = 0;
                mesh.boundsMax[axis] = spec.size;
            }
            ModelPart& part = model_.parts[slot];
            part.heap = &mapped_;
            part.gpuMesh = &mesh;
            part.format = spec.format;
            model_.checks[slot] = PartCheck{spec.result, spec.check, nullptr, {spec.overhang[0], spec.overhang[1]}, 45};
        }
        facts_ = PanelFacts{&model_, -1, DisplayUnits::kMetric, true, {}, false, {}, {}, {}, kNoLocale, {}};
        facts_.print = makePrintChoice(&pla_);
    }

    Text line(int id) const {
        const PanelLine* lines = nullptr;
        int count = panelLines(&lines);
        for (int k = 0; k < count; ++k) {
            if (lines[k].id != id) continue;
            Utf16 text[kPanelTextUnits];
            lines[k].write(&facts_, text);
            return text;
        }
        ADD_FAILURE() << "no line " << id;
        return Text();
    }

    ShownModel model_{};
    std::vector<GpuMesh> meshes_;
    PanelFacts facts_{};
    StoredPrintChoice pla_{0, 0, kNoPrinter, {}};
    uint8_t mapped_ = 0;  // any heap handle marks a used slot
};

const SurfaceCheck kOpen{1, 1, 4, 0, 0, 0, 0, 0, 0, 0, 4};
const SurfaceCheck kTurned{1, 0, 0, 0, 3, 0, 1, 0, 0, 1, 3};
const SurfaceCheck kInside{1, 0, 0, 0, 0, 0, 1, 1};
const SurfaceCheck kSliver{1, 0, 0, 0, 0, 1, 1, 0};
const SurfaceCheck kEverything{1, 1, 4, 2, 3, 1, 0, 0, 2, 2, 9};
const SurfaceCheck kWelded{1, 0, 0, 0, 0, 0, 1, 0, 28};
const SurfaceCheck kWeldedOne{2, 0, 0, 0, 0, 0, 1, 0, 1};
const SurfaceCheck kOnAnEdge{1, 0, 0, 1, 0, 0, 0, 0};  // two closed boxes sharing an edge
const SurfaceCheck kWall{1, 0, 0, 3, 0, 0, 0, 0, 0, 0, 3};
const SurfaceCheck kEmpty{0, 0, 0, 0, 0, 0, 1, 0};

PartSpec checked(SurfaceCheck result, uint8_t state = kCheckDone) {
    PartSpec part = kCube;
    part.result = result;
    part.check = state;
    return part;
}

// The first line names the newest part's kind, and for a 3MF file the
// program that wrote it when the package says so, cut short when long.
TEST_F(PanelText, TheKindLineNamesTheFormatAndThe3mfWriter) {
    const std::string longName(300, 'x');
    struct Row {
        uint32_t format;
        const char* application;  // null: the part has no package facts
        Text expected;
    } rows[] = {
        {kFormatAscii, nullptr, U16("ASCII STL")},
        {kFormatBinary, nullptr, U16("Binary STL")},
        {kFormat3mf, nullptr, U16("3MF")},
        {kFormat3mf, "", U16("3MF")},
        {kFormat3mf, "PrusaSlicer-2.6.1+win64", U16("3MF by PrusaSlicer-2.6.1+win64")},
        {kFormat3mf, "Caf\xC3\xA9 CAD", U16("3MF by Caf\u00E9 CAD")},
        {kFormat3mf, longName.c_str(), U16("3MF by ") + Text(160, 'x')},
    };
    for (const Row& row : rows) {
        PartSpec part = kCube;
        part.format = row.format;
        shown({part});
        PackageFacts package{1, CountedText{row.application, 0, 65001}};
        if (row.application) {
            package.application.length = static_cast<uint32_t>(strlen(row.application));
            model_.parts[0].package = &package;
        }
        EXPECT_EQ(line(kKindLineId), row.expected) << row.format << " " << (row.application ? row.application : "-");
    }
}

// Binary STL and 3MF parts have triangle colours when any solid carries
// them; ASCII STL parts never do, and an empty slot has none.
TEST(TriangleColors, BinaryAnd3mfPartsWithAColouredSolid) {
    StlSolid solids[2]{};
    uint8_t mapped = 0;
    struct Row {
        uint32_t format;
        bool mapped, firstColoured, secondColoured, expected;
    } rows[] = {
        {kFormatBinary, true, true, false, true},   {kFormatBinary, true, false, false, false},
        {kFormatAscii, true, true, false, false},   {kFormat3mf, true, false, true, true},
        {kFormat3mf, true, true, false, true},      {kFormat3mf, true, false, false, false},
        {kFormat3mf, false, true, true, false},
    };
    for (const Row& row : rows) {
        ModelPart part{};
        part.heap = row.mapped ? &mapped : nullptr;
        part.format = row.format;
        solids[0].hasColours = row.firstColoured;
        solids[1].hasColours = row.secondColoured;
        part.mesh.solids = solids;
        part.mesh.solidCount = 2;
        EXPECT_EQ(hasTriangleColors(&part), row.expected)
            << row.format << row.mapped << row.firstColoured << row.secondColoured;
    }
}

// The check's findings worst first, and the volume only where the surface
// makes it mean something; nothing while a check runs, so the line does not
// grow and shrink again.
TEST_F(PanelText, TheFactsAndCheckLinesFollowEachPartsCheck) {
    const struct Row {
        const char* what;
        std::vector<PartSpec> parts;
        int selected;
        const Utf16* facts;
        const Utf16* check;
    } rows[] = {
        {"closed", {kCube}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"), U16("Closed surface, 1 shell")},
        {"open", {checked(kOpen)}, -1, U16("12 triangles, 6\u2009cm\u00B2, volume: surface not closed"),
         U16("Not closed: 1 hole (4 open edges)")},
        {"turned", {checked(kTurned)}, -1, U16("12 triangles, 6\u2009cm\u00B2, volume: faces turned the wrong way"),
         U16("1 face turned the wrong way")},
        {"boxes on an edge", {checked(kOnAnEdge)}, -1,
         U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("1 edge shared by more than two faces")},
        {"a wall inside", {checked(kWall)}, -1, U16("12 triangles, 6\u2009cm\u00B2, volume: surface not closed"),
         U16("3 edges shared by more than two faces")},
        {"empty", {checked(kEmpty)}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("No triangles")},
        {"inside out", {checked(kInside)}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3 (inside out), 1.24\u2009g of PLA if solid"),
         U16("Inside out: all faces point inwards")},
        {"sliver", {checked(kSliver)}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("Closed surface, 1 shell; 1 triangle without area")},
        {"everything", {checked(kEverything)}, -1, U16("12 triangles, 6\u2009cm\u00B2, volume: surface not closed"),
         U16("Not closed: 1 hole (4 open edges); 2 edges shared by more than two faces; 2 faces turned the wrong way; "
             "1 triangle without area; 2 corners joined across tiny gaps")},
        {"welded", {checked(kWelded)}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("Closed surface, 1 shell; 28 corners joined across tiny gaps")},
        {"welded once", {checked(kWeldedOne)}, -1, U16("12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("Closed surface, 2 shells; 1 corner joined across a tiny gap")},
        {"running", {checked(kClosed, kCheckPending)}, -1, U16("12 triangles, 6\u2009cm\u00B2"),
         U16("Checking the surface\u2026")},
        {"out of memory", {checked(kClosed, kCheckFailed)}, -1,
         U16("12 triangles, 6\u2009cm\u00B2, volume: surface not checked"), U16("Surface not checked: out of memory")},
        {"two closed", {kCube, kCube}, -1, U16("24 triangles, 12\u2009cm\u00B2, 2\u2009cm\u00B3, 2.48\u2009g of PLA if solid"),
         U16("Closed surface, 2 shells")},
        {"one of two running", {kCube, checked(kClosed, kCheckPending)}, -1, U16("24 triangles, 12\u2009cm\u00B2"),
         U16("Checking the surface\u2026")},
        {"the second selected", {checked(kOpen), kCube}, 1, U16("Part 2: 12 triangles, 6\u2009cm\u00B2, 1\u2009cm\u00B3, 1.24\u2009g of PLA if solid"),
         U16("Part 2: Closed surface, 1 shell")},
        {"an open one beside", {checked(kOpen), kCube}, -1,
         U16("24 triangles, 12\u2009cm\u00B2, volume: surface not closed"),
         U16("Not closed: 1 hole (4 open edges)")},
        {"one triangle", {{1, 5e-5, 0, 0.01f, kCheckDone, kOpen}}, -1,
         U16("1 triangle, 0.5\u2009cm\u00B2, volume: surface not closed"), U16("Not closed: 1 hole (4 open edges)")},
        {"no model", {}, -1, U16(""), U16("")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        shown(row.parts);
        facts_.selectedSlot = row.selected;
        EXPECT_EQ(line(kFactsLineId), row.facts);
        EXPECT_EQ(line(kCheckLineId), row.check);
    }
}

// The weight in the chosen material (or at a typed density) in both unit
// systems and three locales' layouts; the overhang area in the chosen up.
TEST_F(PanelText, TheWeightAndOverhangLines) {
    PartSpec part = kCube;
    part.volume = 12.4e-6;
    part.overhang[0] = 320;
    part.overhang[1] = 0;
    const Text facts = U16("12 triangles, 6\u2009cm\u00B2, 12.4\u2009cm\u00B3, ");
    const struct Row {
        StoredPrintChoice stored;
        DisplayUnits units;
        bool yUp;
        uint32_t locale;
        Text weight, overhangs;
    } rows[] = {
        {{0, 0, 0, {}}, DisplayUnits::kMetric, false, kNoLocale, U16("15.38\u2009g of PLA if solid"),
         U16("Overhangs: 3.2\u2009cm\u00B2 steeper than 45\u00B0")},
        {{2, 0, 0, {}}, DisplayUnits::kUs, true, kNoLocale, U16("0.4549\u2009oz of ABS if solid"),
         U16("No overhangs steeper than 45\u00B0")},
        {{kOtherMaterial, 1300, 0, {}}, DisplayUnits::kMetric, false, kNoLocale, U16("16.12\u2009g at 1.3\u2009g/cm\u00B3 if solid"),
         U16("Overhangs: 3.2\u2009cm\u00B2 steeper than 45\u00B0")},
#ifdef _WIN32
        {{kOtherMaterial, 1300, 0, {}}, DisplayUnits::kMetric, false, 0x0407, U16("16,12\u2009g at 1,3\u2009g/cm\u00B3 if solid"),
         U16("Overhangs: 3,2\u2009cm\u00B2 steeper than 45\u00B0")},
        {{0, 0, 0, {}}, DisplayUnits::kInches, false, 0x0409, U16("0.5424\u2009oz of PLA if solid"),
         U16("Overhangs: 0.496\u2009in\u00B2 steeper than 45\u00B0")},
#endif
    };
    for (const Row& row : rows) {
        shown({part});
        facts_.print = makePrintChoice(&row.stored);
        facts_.units = row.units;
        facts_.yUp = row.yUp;
        facts_.locale = row.locale;
        bool metric = row.units == DisplayUnits::kMetric;
        Text wantFacts = row.locale == kNoLocale && metric ? facts + row.weight : row.weight;
        Text got = line(kFactsLineId);
        EXPECT_EQ(row.locale == kNoLocale && metric ? got : got.substr(got.size() - row.weight.size()), wantFacts);
        EXPECT_EQ(line(kOverhangLineId), row.overhangs);
    }
    // Measured at another angle, the line names it.
    shown({part});
    model_.checks[0].overhangDegrees = 60;
    facts_.yUp = false;
    EXPECT_EQ(line(kOverhangLineId), U16("Overhangs: 3.2\u2009cm\u00B2 steeper than 60\u00B0"));
    shown({checked(kClosed, kCheckPending)});
    EXPECT_EQ(line(kOverhangLineId), U16(""));
    shown({checked(kOpen)});
    EXPECT_EQ(line(kFactsLineId), U16("12 triangles, 6\u2009cm\u00B2, volume: surface not closed"));
}

// The model's box against the chosen printer, upright or on its side, in the size line's units.
TEST_F(PanelText, TheFitLine) {
    const struct Row {
        StoredPrintChoice stored;
        float size, height;
        DisplayUnits units;
        Text fit;
    } rows[] = {
        {{0, 0, kNoPrinter, {}}, 0.01f, 0.01f, DisplayUnits::kMetric, U16("")},
        {{0, 0, 1, {}}, 0.21f, 0.22f, DisplayUnits::kMetric, U16("Fits the Prusa MK4S (250\u2009\u00D7\u2009210\u2009\u00D7\u2009220\u2009mm)")},
        {{0, 0, 1, {}}, 0.2101f, 0.2101f, DisplayUnits::kMillimetres,
         U16("Too large for the Prusa MK4S (250\u2009\u00D7\u2009210\u2009\u00D7\u2009220\u2009mm) in every upright "
             "orientation")},
        {{0, 0, kOtherPrinter, {30000, 30000, 22000}}, 0.1f, 0.232f, DisplayUnits::kMetric,
         U16("Too large for the chosen printer (300\u2009\u00D7\u2009300\u2009\u00D7\u2009220\u2009mm) by 12.0\u2009mm "
             "in height; fits lying on its side")},
        {{0, 0, kOtherPrinter, {30000, 30000, 22000}}, 0.1f, 0.232f, DisplayUnits::kUs,
         U16("Too large for the chosen printer (300\u2009\u00D7\u2009300\u2009\u00D7\u2009220\u2009mm) by 0.4724\u2009in "
             "in height; fits lying on its side")},
    };
    for (const Row& row : rows) {
        PartSpec part = kCube;
        part.size = row.size;
        shown({part});
        meshes_[0].boundsMax[facts_.yUp ? 1 : 2] = row.height;
        facts_.print = makePrintChoice(&row.stored);
        facts_.units = row.units;
        EXPECT_EQ(line(kFitLineId), row.fit) << row.size;
    }
    shown({});
    EXPECT_EQ(line(kFitLineId), U16(""));
}

// What the user types for "Other…".
TEST(PrintChoice, TypedDensitiesAndSizes) {
    uint32_t milli = 0, size[3] = {};
    EXPECT_TRUE(readDensity(U16(" 1,25 "), &milli));
    EXPECT_EQ(milli, 1250u);
    for (const Utf16* bad : {U16(""), U16("0"), U16("-1"), U16("1.2 g"), U16("31"), U16("nan"), U16("inf")})
        EXPECT_FALSE(readDensity(bad, &milli)) << Text(bad).size();
    EXPECT_TRUE(readPrinterSize(U16("218.88 x 122,88 \u00D7 220"), size));
    EXPECT_EQ(size[0], 21888u);
    EXPECT_EQ(size[1], 12288u);
    EXPECT_EQ(size[2], 22000u);
    EXPECT_TRUE(readPrinterSize(U16("25cm x 21 cm x 8.5in"), size));
    EXPECT_EQ(size[2], 21590u);
    for (const Utf16* bad : {U16("250x210"), U16("250x210x0"), U16("250x210x220x1"), U16("x210x220"), U16("250 210 220"),
                             U16("250x210x-1"), U16("250x210x22ft"), U16("250x210x100001"), U16("250x210x0.001")})
        EXPECT_FALSE(readPrinterSize(bad, size)) << Text(bad).size();
}

// The kinds of the parts, the size of all parts'
// box in the chosen space and units, and the section within the view's box.
TEST_F(PanelText, TheKindSizeAndSectionLines) {
    PartSpec ascii = kCube, tall = kCube;
    ascii.format = kFormatAscii;
    tall.size = 0.02f;
    shown({ascii, tall, kCube});
    EXPECT_EQ(line(kKindLineId), U16("ASCII STL + binary STL"));  // each kind once
    shown({tall, ascii});
    EXPECT_EQ(line(kKindLineId), U16("Binary STL + ASCII STL"));
    shown({ascii, tall});
    EXPECT_EQ(line(kSizeLineId), U16("2.0\u2009cm\u2009\u00D7\u20092.0\u2009cm; 2.0\u2009cm tall"));
    facts_.units = DisplayUnits::kUs;
    EXPECT_EQ(line(kSizeLineId), U16("0.7874\u2009in\u2009\u00D7\u20090.7874\u2009in; 0.7874\u2009in tall"));
    EXPECT_EQ(line(kSectionLineId), U16(""));  // no section
    facts_.units = DisplayUnits::kMetric;
    facts_.section = SectionPlane{1, 2, 0, 0.25f};
    EXPECT_EQ(line(kSectionLineId), U16(""));  // no view to place it in
    facts_.viewHasBox = true;
    for (int axis = 0; axis < 3; ++axis) facts_.viewMax[axis] = 0.02f;
    // In the unit the size line gives the height in, with the side kept.
    EXPECT_EQ(line(kSectionLineId), U16("Section at Z = 0.5\u2009cm, keeping below"));
    facts_.section.flip = 1;
    EXPECT_EQ(line(kSectionLineId), U16("Section at Z = 0.5\u2009cm, keeping above"));
    facts_.section.share = 1;
    EXPECT_EQ(line(kSectionLineId), U16("Section at Z = 2.0\u2009cm, on the model's end: nothing cut"));
    shown({});
    for (int id : {kKindLineId, kSizeLineId, kSectionLineId}) EXPECT_EQ(line(id), U16("")) << id;
}

// Every line of a plate of 60 × 40 × 5 mm in one unit, for each setting in
// three locales: lengths in the size line's unit, areas and volumes in its
// square and cube (a volume in millimetres as cm³ once large), weights in
// grams or ounces. The measure line reads in the unit of its own largest
// length, which the chosen unit overrides.
TEST_F(PanelText, EveryLineReadsInOneUnit) {
    PartSpec plate{12, 5.657e-3, 12.0e-6, 0.06f, kCheckDone, kClosed};
    plate.overhang[0] = 218.5;
    const struct Row {
        DisplayUnits units;
        uint32_t locale;
        const Utf16 *size, *facts, *overhangs, *section, *point;
    } rows[] = {
        {DisplayUnits::kMetric, kNoLocale, U16("6.0\u2009cm\u2009\u00D7\u20094.0\u2009cm; 0.5\u2009cm tall"),
         U16("12 triangles, 56.57\u2009cm\u00B2, 12\u2009cm\u00B3, 14.88\u2009g of PLA if solid"),
         U16("Overhangs: 2.185\u2009cm\u00B2 steeper than 45\u00B0"), U16("Section at Z = 0.25\u2009cm, keeping below"),
         U16("Point: 1.0\u2009mm, 2.0\u2009mm, 3.0\u2009mm")},
        {DisplayUnits::kMillimetres, kNoLocale, U16("60.0\u2009mm\u2009\u00D7\u200940.0\u2009mm; 5.0\u2009mm tall"),
         U16("12 triangles, 5657\u2009mm\u00B2, 12\u2009cm\u00B3, 14.88\u2009g of PLA if solid"),
         U16("Overhangs: 218.5\u2009mm\u00B2 steeper than 45\u00B0"), U16("Section at Z = 2.5\u2009mm, keeping below"),
         U16("Point: 1.0\u2009mm, 2.0\u2009mm, 3.0\u2009mm")},
#ifdef _WIN32
        {DisplayUnits::kMetric, 0x0409, U16("6.00\u2009cm\u2009\u00D7\u20094.00\u2009cm; 0.50\u2009cm tall"),
         U16("12 triangles, 56.57\u2009cm\u00B2, 12\u2009cm\u00B3, 14.88\u2009g of PLA if solid"),
         U16("Overhangs: 2.185\u2009cm\u00B2 steeper than 45\u00B0"), U16("Section at Z = 0.25\u2009cm, keeping below"),
         U16("Point: 1.00\u2009mm, 2.00\u2009mm, 3.00\u2009mm")},
        {DisplayUnits::kMillimetres, 0x0407, U16("60,00\u2009mm\u2009\u00D7\u200940,00\u2009mm; 5,00\u2009mm tall"),
         U16("12 triangles, 5.657\u2009mm\u00B2, 12\u2009cm\u00B3, 14,88\u2009g of PLA if solid"),
         U16("Overhangs: 218,5\u2009mm\u00B2 steeper than 45\u00B0"), U16("Section at Z = 2,50\u2009mm, keeping below"),
         U16("Point: 1,00\u2009mm, 2,00\u2009mm, 3,00\u2009mm")},
        {DisplayUnits::kInches, 0x040C, U16("2,362\u2009in\u2009\u00D7\u20091,575\u2009in; 0,1969\u2009in tall"),
         U16("12 triangles, 8,768\u2009in\u00B2, 0,7323\u2009in\u00B3, 0,5249\u2009oz of PLA if solid"),
         U16("Overhangs: 0,3387\u2009in\u00B2 steeper than 45\u00B0"), U16("Section at Z = 0,09843\u2009in, keeping below"),
         U16("Point: 0,03937\u2009in, 0,07874\u2009in, 0,1181\u2009in")},
        {DisplayUnits::kInches, 0x0409, U16("2.362\u2009in\u2009\u00D7\u20091.575\u2009in; 0.1969\u2009in tall"),
         U16("12 triangles, 8.768\u2009in\u00B2, 0.7323\u2009in\u00B3, 0.5249\u2009oz of PLA if solid"),
         U16("Overhangs: 0.3387\u2009in\u00B2 steeper than 45\u00B0"), U16("Section at Z = 0.09843\u2009in, keeping below"),
         U16("Point: 0.03937\u2009in, 0.07874\u2009in, 0.1181\u2009in")},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.units) << " locale " << std::hex << row.locale);
        shown({plate});
        meshes_[0].boundsMax[1] = 0.04f;
        meshes_[0].boundsMax[2] = 0.005f;
        facts_.yUp = false;
        facts_.units = row.units;
        facts_.locale = row.locale;
        facts_.section = SectionPlane{1, 2, 0, 0.5f};
        facts_.viewHasBox = true;
        for (int axis = 0; axis < 3; ++axis) facts_.viewMax[axis] = meshes_[0].boundsMax[axis];
        facts_.marks = MeasureMarks{1, {0, 0}, {{0.001, 0.002, 0.003}, {0, 0, 0}}};
        EXPECT_EQ(line(kSizeLineId), row.size);
        EXPECT_EQ(line(kFactsLineId), row.facts);
        EXPECT_EQ(line(kOverhangLineId), row.overhangs);
        EXPECT_EQ(line(kSectionLineId), row.section);
        EXPECT_EQ(line(kMeasureLineId), row.point);
    }
}

TEST_F(PanelText, TheMeasureLineShowsAPointOrADistance) {
    shown({kCube});
    EXPECT_EQ(line(kMeasureLineId), U16(""));
    facts_.marks = MeasureMarks{1, {0, 0}, {{0.001, 0.002, 0.003}, {0, 0, 0}}};
    EXPECT_EQ(line(kMeasureLineId), U16("Point: 1.0\u2009mm, 2.0\u2009mm, 3.0\u2009mm"));
    facts_.marks.count = 2;
    EXPECT_EQ(line(kMeasureLineId).substr(0, 10), U16("Distance: "));
}

// The template makes a control for each line by its id.
TEST(PanelLines, EachHasAnIdOfItsOwn) {
    const PanelLine* lines = nullptr;
    int count = panelLines(&lines);
    ASSERT_LE(count, kMaxPanelLines);
    std::vector<int> ids;
    for (int k = 0; k < count; ++k) {
        EXPECT_EQ(std::count(ids.begin(), ids.end(), lines[k].id), 0) << lines[k].id;
        ids.push_back(lines[k].id);
    }
}

TEST(WindowTitle, NamesTheFileAfterTheLastSeparatorAndCutsLongNamesTo255Units) {
    const Text titleOf = Text(kApplicationTitle) + U16(" \u2013 ");
    for (auto [path, name] : {std::pair<Text, Text>{U16("C:\\models/parts\\gear.stl"), U16("gear.stl")},
                              {Text(231, 'n'), Text(231, 'n')},  // just fits
                              {U16("C:\\") + Text(300, 'n'), Text(232, 'n') + U16("\u2026")}}) {
        Utf16 title[kTitleUnits];
        makeWindowTitle(path.c_str(), title);
        EXPECT_EQ(title, titleOf + name);
    }
}

// Control characters of a name show as their pictures; an empty name is none.
TEST(PartItemText, ShowsControlCharactersAsPictures) {
    StlSolid solid{};
    solid.name = CountedText{"gear\tone", 8, 1252};
    ModelPart part{};
    part.mesh.solids = &solid;
    part.mesh.solidCount = 1;
    Utf16* text = partItemText(&part, 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Text(text), U16("gear\u2409one"));
    freeBytes(text);
    EXPECT_EQ(partItemText(&part, 0), nullptr);
}

// The reason in the messages' own words: the first error, else the first
// line that is not a notice; each cut of what the sentence already says.
TEST(LoadFailure, SaysWhyInTheWordsOfTheMessages) {
    const struct {
        const Utf16* messages;
        const Utf16* text;
        int at;
    } rows[] = {
        {U16("STL error: part.stl: not an STL file\r\n"), U16("Could not open part.stl: not an STL file"), 0},
        {U16("STL info: written by X\r\nSTL warning: odd\r\nSTL error: expected a number; aborting\r\n"),
         U16("Could not open part.stl: expected a number"), 42},
        {U16("The system cannot find the file specified.\r\nSTL error: other.stl: not an STL file\r\n"),
         U16("Could not open part.stl: other.stl: not an STL file"), 44},
        {U16("The system cannot find the file specified.\r\n"),
         U16("Could not open part.stl: The system cannot find the file specified."), 0},
        {U16("D3D info: GPU supports Direct3D 10.1\r\nDirect3D 11 error: GPU too old\r\n"),
         U16("Could not open part.stl: Direct3D 11 error: GPU too old"), 38},
        {U16("STL error: part.stl; aborting\r\n"), U16("Could not open part.stl: part.stl"), 0},
        {U16("STL info: written by X\r\n\r\n"), U16("Could not open part.stl: nothing could be loaded"), -1},
        {U16(""), U16("Could not open part.stl: nothing could be loaded"), -1},
    };
    for (const auto& row : rows) {
        Utf16 out[kFailureTextUnits];
        EXPECT_EQ(describeLoadFailure(row.messages, U16("part.stl"), out), row.at);
        EXPECT_EQ(Text(out), row.text);
    }
    // A long reason is cut to the room there is, terminated.
    Text longLine = U16("STL error: ") + Text(2000, 'x') + U16("; aborting\r\n");
    Utf16 out[kFailureTextUnits];
    describeLoadFailure(longLine.c_str(), U16("part.stl"), out);
    EXPECT_EQ(Text(out).size(), size_t(kFailureTextUnits - 1));
}

}  // namespace
