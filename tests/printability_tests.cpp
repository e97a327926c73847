// Will it print: overhang areas of shapes with exact answers, boxes against
// build volumes in all six orientations, and the preset tables.
#include <gtest/gtest.h>

#include <cmath>

#include "mesh/build_fit.h"
#include "mesh/overhang_area.h"
#include "mesh/print_presets.h"
#include "tests/mesh_solids.h"

namespace {

// A T standing on its stem: the underside of the two arms, 2 square units, overhangs.
std::vector<Tri> tShape() {
    return join(box({0, 0, 0}, {1, 1, 3}), join(box({-1, 0, 2}, {1, 1, 1}), box({1, 0, 2}, {1, 1, 1})));
}

// The same shape in a Y-up file: (x, y, z) turned to (x, z, -y), winding kept.
std::vector<Tri> yUp(std::vector<Tri> triangles) {
    for (Tri& t : triangles)
        for (Point& p : t) p = Point{p[0], p[2], -p[1]};
    return triangles;
}

// One face leaning so that its outward normal is (slope, 0, -1): down more
// steeply than 45 degrees from vertical exactly while slope < 1.
std::vector<Tri> leaning(float slope) {
    return {Tri{Point{0, 0, 0}, Point{0, 1, 0}, Point{1, 0, slope}}};
}

struct OverhangCase {
    const char* name;
    std::vector<std::vector<Tri>> solids;
    int upAxis;
    double degrees;
    double area;  // square file units
};

TEST(OverhangArea, ShapesWithExactAnswers) {
    float nan = std::nanf("");
    const OverhangCase cases[] = {
        {"a cube on the bed", {cube()}, 2, 45, 0},
        {"a T: the underside of its arms", {tShape()}, 2, 45, 2},
        {"a T lying on its bar: all of it on the bed", {yUp(yUp(tShape()))}, 2, 45, 0},
        {"a Y-up T", {yUp(tShape())}, 1, 45, 2},
        {"a Y-up T read as Z up: on its side", {yUp(tShape())}, 2, 45, 0},
        {"a second cube above the bed", {join(cube(), cube(3, 0, 5))}, 2, 45, 1},
        {"the bed found after a face on a higher plane", {cube(0, 0, 5), cube()}, 2, 45, 1},
        {"just steeper than 45 degrees", {leaning(0.99f)}, 2, 45, std::sqrt(1 + 0.99 * 0.99) / 2},
        {"just less steep than 45 degrees", {leaning(1.01f)}, 2, 45, 0},
        {"just steeper than 60 degrees", {leaning(0.57f)}, 2, 60, std::sqrt(1 + 0.57 * 0.57) / 2},
        {"just less steep than 60 degrees", {leaning(0.58f)}, 2, 60, 0},
        {"a non-finite corner: that face left out", {join(tShape(), {Tri{Point{0, 0, -1}, Point{nan, 1, -1}, Point{1, 0, -1}}})}, 2, 45, 2},
        {"no triangles", {{}}, 2, 45, 0},
    };
    for (const OverhangCase& c : cases) {
        Solids s(c.solids);
        EXPECT_NEAR(overhangArea(&s.mesh, c.upAxis, c.degrees, 1.0f), c.area, 1e-6) << c.name;
    }
    Solids millimetres({tShape()});
    EXPECT_NEAR(overhangArea(&millimetres.mesh, 2, 45, kMillimetre), 2e-6, 1e-12);
}

struct FitCase {
    const char* name;
    double size[3];
    bool fits, fitsOnSide;
    double over[3];
};

TEST(BuildFit, BoxesAgainstTheMk4s) {
    const BuildVolume* mk4s = &kPrinterPresets[findPrinterPreset("Prusa MK4S")].volume;
    const FitCase cases[] = {
        {"exactly the volume", {250, 210, 220}, true, false, {0, 0, 0}},
        {"0.1 mm too wide", {250.1, 210, 220}, false, false, {0.1, 0, 0}},
        {"turned about the vertical", {210, 250, 220}, true, false, {0, 0, 0}},
        {"too tall, fits lying down", {100, 100, 240}, false, true, {0, 0, 20}},
        {"too tall by 12 mm, too long on every side", {240, 240, 232}, false, false, {0, 30, 12}},
        {"too large every way", {300, 300, 300}, false, false, {50, 90, 80}},
    };
    for (const FitCase& c : cases) {
        BuildFit fit = fitInVolume(c.size, mk4s);
        EXPECT_EQ(fit.fits != 0, c.fits) << c.name;
        EXPECT_EQ(fit.fitsOnSide != 0, c.fitsOnSide) << c.name;
        for (int axis = 0; axis < 3; ++axis) EXPECT_NEAR(fit.over[axis], c.over[axis], 1e-9) << c.name;
    }
}

TEST(BuildFit, StandingSizeFollowsUp) {
    const float low[3] = {0, 0, 0}, high[3] = {0.01f, 0.02f, 0.03f};
    double zUp[3], yUpSize[3];
    standingSize(low, high, false, zUp);
    standingSize(low, high, true, yUpSize);
    const double wantZ[3] = {10, 20, 30}, wantY[3] = {10, 30, 20};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(zUp[axis], wantZ[axis], 1e-5);
        EXPECT_NEAR(yUpSize[axis], wantY[axis], 1e-5);
    }
}

TEST(PrintPresets, NamesAndWeights) {
    EXPECT_EQ(findPrinterPreset("prusa-mk4s"), findPrinterPreset("Prusa MK4S"));
    EXPECT_GE(findPrinterPreset("bambu_lab_a1_mini"), 0);
    EXPECT_NE(findPrinterPreset("Bambu Lab A1"), findPrinterPreset("Bambu Lab A1 mini"));
    EXPECT_EQ(findPrinterPreset("Prusa"), -1);
    EXPECT_EQ(findPrintMaterial("MK4S"), -1);
    // 12.4 cm³ of PLA weigh 15.376 g; of ABS 12.896 g.
    EXPECT_NEAR(solidWeight(12.4e-6, kPrintMaterials[findPrintMaterial("pla")].density), 0.015376, 1e-12);
    EXPECT_NEAR(solidWeight(12.4e-6, kPrintMaterials[findPrintMaterial("ABS")].density), 0.012896, 1e-12);
}

}  // namespace
