// Will it print: overhang areas of shapes with exact answers, boxes against
// build volumes in all six orientations, and the preset tables.
#include <gtest/gtest.h>

#include <cmath>

#include "mesh/build_fit.h"
#include "mesh/face_placement.h"
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

// Every face wound the other way: a closed part turned inside out.
std::vector<Tri> insideOut(std::vector<Tri> triangles) {
    for (Tri& t : triangles) t = reversed(t);
    return triangles;
}

// A unit cube turned about the x axis by `degrees` (its corners rounded to
// floats), and the way up that sets its first face (z = 0, normal -z before
// the turn) flat on the bed.
struct TurnedCube {
    std::vector<Tri> triangles;
    OverhangFrame frame;
};
TurnedCube turnedCube(double degrees) {
    double angle = degrees * 3.14159265358979323846 / 180, c = std::cos(angle), s = std::sin(angle);
    TurnedCube out{cube(2, 3, 4), {{0, -s, c}, false}};
    for (Tri& t : out.triangles)
        for (Point& p : t) p = Point{p[0], float(c * p[1] - s * p[2]), float(s * p[1] + c * p[2])};
    return out;
}

struct OverhangCase {
    const char* name;
    std::vector<std::vector<Tri>> solids;
    int upAxis;
    double degrees;
    double area;  // square file units
    bool insideOut = false;
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
        {"an inside-out T known as such: the underside of its arms", {insideOut(tShape())}, 2, 45, 2, true},
        {"an inside-out T taken by its windings: its tops", {insideOut(tShape())}, 2, 45, 1 + 2},
    };
    for (const OverhangCase& c : cases) {
        Solids s(c.solids);
        EXPECT_NEAR(overhangArea(&s.mesh, uprightFrame(c.upAxis, c.insideOut), c.degrees, 1.0f), c.area, 1e-6) << c.name;
    }
    Solids millimetres({tShape()});
    EXPECT_NEAR(overhangArea(&millimetres.mesh, uprightFrame(2, false), 45, kMillimetre), 2e-6, 1e-12);
}

// A part turned onto a face is measured along the way up in its file's
// axes: the face on the bed is left out although its corners lie on it only
// to float precision, and the cube has no overhangs; turned the other way
// up, its top is one.
TEST(OverhangArea, TurnedOntoAFace) {
    for (double degrees : {0.0, 30.0, 45.0, 61.0}) {
        TurnedCube turned = turnedCube(degrees);
        Solids s({turned.triangles});
        EXPECT_NEAR(overhangArea(&s.mesh, turned.frame, 45, 1.0f), 0, 1e-6) << degrees;
        OverhangFrame upsideDown = turned.frame;
        for (double& u : upsideDown.up) u = -u;
        EXPECT_NEAR(overhangArea(&s.mesh, upsideDown, 45, 1.0f), 0, 1e-6) << degrees;
        // Lifted off the bed by a lower point, its bottom face is an overhang.
        const double* up = turned.frame.up;
        Point below{float(-100 * up[0]), float(-100 * up[1]), float(-100 * up[2])};
        Solids lifted({turned.triangles, {Tri{below, below, below}}});
        EXPECT_NEAR(overhangArea(&lifted.mesh, turned.frame, 45, 1.0f), 1, 1e-5) << degrees;
    }
}

// A box of 1 x 2 x 3 turned off every axis: each face clicked lands on the
// bed, facing down, and the height becomes its distance to the opposite
// face, with the lowest point kept, whichever axis is up; an inside-out part
// takes the face's inward side as its outside and lands it facing up.
TEST(PlaceOnFace, AFaceClickedLiesOnTheBedAndTheHeightIsItsDistanceToTheOtherSide) {
    std::vector<Tri> turned = box({0, 0, 0}, {1, 2, 3});
    const double a = 0.5, b = 0.9;  // radians about x, then about z
    for (Tri& t : turned)
        for (Point& p : t) {
            double y = std::cos(a) * p[1] - std::sin(a) * p[2], z = std::sin(a) * p[1] + std::cos(a) * p[2];
            double x = std::cos(b) * p[0] - std::sin(b) * y;
            y = std::sin(b) * p[0] + std::cos(b) * y;
            p = Point{float(x + 7), float(y - 3), float(z + 2)};
        }
    Solids s({turned});
    const double extents[6] = {3, 3, 2, 2, 1, 1};  // faces -z, +z, -y, +y, -x, +x in box's order
    for (int upAxis : {1, 2})
        for (bool insideOut : {false, true})
            for (size_t t = 0; t < turned.size(); ++t) {
                SCOPED_TRACE(testing::Message() << upAxis << insideOut << t);
                Placement start = identityPlacement();
                double low[3], high[3];
                ASSERT_TRUE(placedBox(s.solids.data(), 1, start, low, high));
                double centre[3] = {(low[0] + high[0]) / 2, (low[1] + high[1]) / 2, (low[2] + high[2]) / 2};
                float corners[3][3];
                for (int c = 0; c < 3; ++c)
                    for (int i = 0; i < 3; ++i) corners[c][i] = turned[t][c][i];
                Placement placed;
                ASSERT_TRUE(turnFaceDown(start, corners, insideOut, upAxis, centre, &placed));
                double placedLow[3], placedHigh[3];
                ASSERT_TRUE(placedBox(s.solids.data(), 1, placed, placedLow, placedHigh));
                settleAt(&placed, upAxis, low[upAxis], placedLow, placedHigh);
                EXPECT_NEAR(placedHigh[upAxis] - placedLow[upAxis], extents[t / 2], 1e-5);
                EXPECT_NEAR(placedLow[upAxis], low[upAxis], 1e-9);
                // The clicked face's corners all on the bed (or, inside out, on the top).
                for (int c = 0; c < 3; ++c) {
                    double p[3] = {corners[c][0], corners[c][1], corners[c][2]}, q[3];
                    placePoint(placed, p, q);
                    EXPECT_NEAR(q[upAxis], insideOut ? placedHigh[upAxis] : placedLow[upAxis], 1e-5);
                }
                // Measured as placed, the part stands on that face without overhangs.
                OverhangFrame frame{{0, 0, 0}, insideOut};
                fileUpOf(placed, upAxis, frame.up);
                if (insideOut) {
                    Solids flipped({[&] {
                        std::vector<Tri> r = turned;
                        for (Tri& f : r) f = reversed(f);
                        return r;
                    }()});
                    EXPECT_NEAR(overhangArea(&flipped.mesh, frame, 45, 1.0f), 0, 1e-5);
                } else {
                    EXPECT_NEAR(overhangArea(&s.mesh, frame, 45, 1.0f), 0, 1e-5);
                }
            }
    float flat[3][3] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    Placement unused;
    const double origin[3] = {0, 0, 0};
    EXPECT_FALSE(turnFaceDown(identityPlacement(), flat, false, 2, origin, &unused));  // no area
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
