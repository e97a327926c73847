// The surface check: small meshes with known answers, the shapes that would
// make a careless method quadratic, hostile values, failures, memory, and
// agreement with a plain map-and-search count on every real file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mesh/surface_check.h"
#include "tests/corpus_manifest.h"
#include "tests/load_driver.h"
#include "tests/mesh_solids.h"
#include "tests/plain_surface_count.h"
#include "tests/sink_recorder.h"

namespace {

SurfaceCheck check(const Solids& s, std::vector<uint8_t>* marks = nullptr) {
    SurfaceCheck result{};
    std::vector<uint8_t> own(meshTriangleCount(&s.mesh));
    EXPECT_TRUE(checkSurface(&s.mesh, &result, marks ? (marks->resize(own.size()), marks->data()) : own.data(), nullptr,
                             nullptr));
    return result;
}

struct Expected {
    uint64_t shells, holes, open, nonManifold, flipped, degenerate;
    bool closed, insideOut;
    uint64_t welded = 0;
};

void expectCheck(const SurfaceCheck& got, const Expected& want) {
    EXPECT_EQ(got.shells, want.shells);
    EXPECT_EQ(got.holes, want.holes);
    EXPECT_EQ(got.openEdges, want.open);
    EXPECT_EQ(got.nonManifoldEdges, want.nonManifold);
    EXPECT_EQ(got.flippedEdges, want.flipped);
    EXPECT_EQ(got.degenerateTriangles, want.degenerate);
    EXPECT_EQ(got.closed != 0, want.closed);
    EXPECT_EQ(got.insideOut != 0, want.insideOut);
    EXPECT_EQ(uint64_t{got.weldedCorners}, want.welded);
}

float nudged(float v) { return std::nextafter(v, 2.0f); }
float nanBits(uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

struct Case {
    const char* name;
    std::vector<std::vector<Tri>> solids;
    Expected want;
};

std::vector<Case> smallMeshes() {
    std::vector<Tri> c = cube();
    std::vector<Tri> open(c.begin() + 2, c.end());
    std::vector<Tri> oneReversed = c;
    oneReversed[5] = reversed(c[5]);
    std::vector<Tri> inside;
    for (const Tri& t : c) inside.push_back(reversed(t));
    std::vector<Tri> withSliver = c;
    withSliver.push_back({Point{0, 0, 0}, Point{0, 0, 0}, Point{5, 5, 5}});
    // Triangles without area on the cube's own corners, each pair of corners meeting once.
    std::vector<Tri> withSlivers = c;
    const Point a{0, 0, 0}, b{1, 0, 0}, g{1, 1, 1}, h{0, 1, 1};
    for (const Tri& sliver : {Tri{a, a, g}, Tri{a, g, g}, Tri{b, h, b}}) withSlivers.push_back(sliver);
    // First in the file, a triangle hanging from one corner of the cube by a corner of its own.
    std::vector<Tri> hanging = join({Tri{Point{-1, -1, -1}, a, Point{-1, -2, -1}}}, c);
    std::vector<Tri> fan;
    for (int i = 0; i < 4; ++i) fan.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5f, std::cos(i * 1.5f), std::sin(i * 1.5f)}});
    std::vector<Tri> minusZero = c;  // the same corner written as -0 in one face
    for (Tri& t : minusZero)
        if (&t - minusZero.data() == 4)
            for (Point& p : t)
                if (p[0] == 0) p[0] = -0.0f;
    std::vector<Tri> nearMiss = c;  // one corner a float step away in two triangles of a face
    nearMiss[0][2][0] = nudged(nearMiss[0][2][0]);
    nearMiss[1][1][0] = nudged(nearMiss[1][1][0]);
    std::vector<Tri> nearNan = c;  // the same corner with a NaN coordinate in the bottom face
    for (int t = 0; t < 2; ++t)
        for (Point& p : nearNan[t])
            if (p == Point{0, 0, 0}) p[0] = nanBits(0x7FC00000);
    std::vector<Tri> withNan = c;  // NaN corners weld when their bits are equal
    for (Tri& t : withNan)
        for (Point& p : t)
            if (p[0] == 1 && p[1] == 1 && p[2] == 1) p = {nanBits(0x7FC00001), INFINITY, -INFINITY};
    std::vector<Tri> identical(6, Tri{Point{0, 0, 0}, Point{1, 0, 0}, Point{0, 1, 0}});
    std::vector<Tri> single = {Tri{Point{0, 0, 0}, Point{1, 0, 0}, Point{0, 1, 0}}};
    std::vector<Tri> twoFaced = {single[0], reversed(single[0])};
    // Thousands of corners that differ in one coordinate only: none may stand in for another.
    std::vector<Tri> ribbon;
    for (int i = 0; i < 3000; ++i) {
        float z = float(i), next = float(i + 1);
        ribbon.push_back({Point{0, 0, z}, Point{1, 0, z}, Point{1, 0, next}});
        ribbon.push_back({Point{0, 0, z}, Point{1, 0, next}, Point{0, 0, next}});
    }
    return {
        {"closed cube", {c}, {1, 0, 0, 0, 0, 0, true, false}},
        {"cube without one face", {open}, {1, 1, 4, 0, 0, 0, false, false}},
        {"one face reversed", {oneReversed}, {1, 0, 0, 0, 3, 0, true, false}},
        {"all faces reversed", {inside}, {1, 0, 0, 0, 0, 0, true, true}},
        {"two separate cubes", {join(c, cube(3, 0, 0))}, {2, 0, 0, 0, 0, 0, true, false}},
        {"two cubes on one edge", {join(c, cube(1, 1, 0))}, {1, 0, 0, 1, 0, 0, false, false}},
        {"degenerate triangle", {withSliver}, {1, 0, 0, 0, 0, 1, true, false}},
        {"degenerate triangles on shared corners", {withSlivers}, {1, 0, 0, 0, 0, 3, true, false}},
        {"a triangle hanging from a corner", {hanging}, {2, 1, 3, 0, 0, 0, false, false}},
        {"fan of four on one edge", {fan}, {1, 1, 8, 1, 0, 0, false, false}},
        {"cube over two solids and an empty one", {std::vector<Tri>(c.begin(), c.begin() + 5), {},
                                                   std::vector<Tri>(c.begin() + 5, c.end())},
         {1, 0, 0, 0, 0, 0, true, false}},
        {"minus zero is zero", {minusZero}, {1, 0, 0, 0, 0, 0, true, false}},
        {"a float step is no gap", {nearMiss}, {1, 0, 0, 0, 0, 0, true, false, 1}},
        {"a NaN is a gap", {nearNan}, {1, 1, 4, 0, 0, 0, false, false}},
        {"NaN and infinite corners by their bits", {withNan}, {1, 0, 0, 0, 0, 0, true, false}},
        {"identical triangles", {identical}, {1, 0, 0, 3, 0, 0, false, false}},
        {"one triangle", {single}, {1, 1, 3, 0, 0, 0, false, false}},
        {"a triangle and its back", {twoFaced}, {1, 0, 0, 0, 0, 0, true, false}},
        {"nothing", {{}}, {0, 0, 0, 0, 0, 0, true, false}},
        {"a long ribbon", {ribbon}, {1, 1, 6002, 0, 0, 0, false, false}},
    };
}

TEST(SurfaceCheck, SmallMeshes) {
    for (const Case& test : smallMeshes()) {
        SCOPED_TRACE(test.name);
        Solids s(test.solids);
        expectCheck(check(s), test.want);
    }
}

// The cube's corner at the origin written differently in the bottom face
// (two triangles, x moved by `gap`): welded within 2^-20 of the extent (1).
std::vector<Tri> cubeWithGap(float gap) {
    std::vector<Tri> c = cube();
    for (int t = 0; t < 2; ++t)
        for (Point& p : c[t])
            if (p == Point{0, 0, 0}) p[0] = gap;
    return c;
}

TEST(SurfaceCheck, NearCornersWeld) {
    const float eps = std::ldexp(1.0f, -20);
    const Expected closedWelded{1, 0, 0, 0, 0, 0, true, false, 1};
    const Expected gap{1, 1, 4, 0, 0, 0, false, false, 0};
    // The origin corner of the cube in each of its six triangles half the distance further along x.
    std::vector<Tri> chain = cube();
    int link = 0;
    for (Tri& t : chain)
        for (Point& p : t)
            if (p == Point{0, 0, 0}) p[0] = link++ * eps / 2;
    // The far corner moved inwards on two axes and on three: a diagonal neighbour cell.
    std::vector<Tri> edgeDiagonal = cube(), cornerDiagonal = cube();
    for (int t = 2; t < 4; ++t)
        for (Point& p : edgeDiagonal[t])
            if (p == Point{1, 1, 1}) p = {1 - eps * 0.75f, 1 - eps * 0.75f, 1};
    for (int t = 2; t < 4; ++t)
        for (Point& p : cornerDiagonal[t])
            if (p == Point{1, 1, 1}) p = {1 - eps * 0.75f, 1 - eps * 0.75f, 1 - eps * 0.75f};
    const struct {
        const char* name;
        std::vector<Tri> mesh;
        Expected want;
    } cases[] = {
        {"a seam of 6e-17 against 0", cubeWithGap(6e-17f), closedWelded},
        {"a gap of exactly the welding distance", cubeWithGap(eps), closedWelded},
        {"a float step beyond it", cubeWithGap(std::nextafter(eps, 1.0f)), gap},
        {"a gap of 1e-3 of the extent", cubeWithGap(1e-3f), gap},
        {"a chain of six corners half the distance apart", chain, {1, 0, 0, 0, 0, 0, true, false, 5}},
        {"a neighbour cell across an edge", edgeDiagonal, closedWelded},
        {"a neighbour cell across a corner", cornerDiagonal, closedWelded},
        {"NaN never welds", cubeWithGap(nanBits(0x7FC00000)), gap},
        {"infinity never welds", cubeWithGap(INFINITY), gap},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Solids s({test.mesh});
        expectCheck(check(s), test.want);
        expectCheck(plainCount(s.mesh), test.want);
    }
}

// The check that keeps its welding finds what the plain check finds, marks
// included, and keeps the welding the repairs would do themselves: small
// meshes, near welding, and large ones welded on two threads, with and
// without near corners joined there.
TEST(SurfaceCheck, KeptWeldingIsTheRepairsWelding) {
    std::vector<Case> cases = smallMeshes();
    cases.push_back({"a seam within the welding distance", {cubeWithGap(6e-17f)}, {}});
    std::vector<Tri> grid, nudgedGrid;
    for (int i = 0; i < 200; ++i)
        for (int j = 0; j < 180; ++j) {
            Point a{float(i), float(j), 0}, b{float(i + 1), float(j), 0}, c{float(i + 1), float(j + 1), 0},
                d{float(i), float(j + 1), 0};
            grid.push_back({a, b, c});
            grid.push_back({a, c, d});
        }
    nudgedGrid = grid;
    for (size_t t = 0; t < nudgedGrid.size(); t += 997) nudgedGrid[t][1][0] = nudged(nudgedGrid[t][1][0]);
    cases.push_back({"a large grid", {grid}, {}});
    cases.push_back({"a large grid with corners a float step off", {nudgedGrid}, {}});
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Solids s(test.solids);
        uint64_t triangles = meshTriangleCount(&s.mesh);
        std::vector<uint8_t> plainMarks(triangles + 1), keptMarks(triangles + 1);
        SurfaceCheck plain{}, kept{};
        SurfaceWelding welding;
        ASSERT_TRUE(checkSurface(&s.mesh, &plain, plainMarks.data(), nullptr, nullptr));
        ASSERT_TRUE(checkSurfaceKeepingWelding(&s.mesh, &kept, keptMarks.data(), &welding, nullptr, nullptr));
        EXPECT_EQ(memcmp(&plain, &kept, sizeof plain), 0);
        EXPECT_EQ(plainMarks, keptMarks);
        std::vector<uint32_t> ids(3 * triangles + 1);
        uint32_t vertices = 0, joined = 0;
        ASSERT_TRUE(weldMeshCorners(&s.mesh, ids.data(), &vertices, &joined, nullptr, nullptr, nullptr));
        ASSERT_EQ(welding.ids == nullptr, triangles == 0);
        EXPECT_EQ(welding.vertices, vertices);
        EXPECT_EQ(welding.joined, joined);
        EXPECT_EQ(uint64_t{welding.joined}, uint64_t{kept.weldedCorners});
        if (triangles) EXPECT_EQ(std::vector<uint32_t>(welding.ids, welding.ids + 3 * triangles), std::vector<uint32_t>(ids.begin(), ids.end() - 1));
        if (test.name == std::string("a large grid with corners a float step off")) EXPECT_GT(joined, 0u);
        freeSurfaceWelding(&welding);
        EXPECT_EQ(welding.ids, nullptr);
    }
}

// Corners of a grid of closed boxes jittered by up to 1.5 welding distances:
// welds in every direction between cells, the same as the plain search.
TEST(SurfaceCheck, JitteredCornersWeldAsAPlainSearchDoes) {
    std::mt19937 random(41);
    for (int round = 0; round < 20; ++round) {
        std::vector<Tri> boxes;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) boxes = join(boxes, cube(2.0f * i, 2.0f * j, 0));
        float eps = std::ldexp(7.0f, -20);  // the extent is 7
        std::uniform_real_distribution<float> jitter(-1.5f * eps, 1.5f * eps);
        std::bernoulli_distribution moved(0.3);
        for (Tri& t : boxes)
            for (Point& p : t)
                if (moved(random))
                    for (float& v : p) v = v + jitter(random);
        Solids s({boxes});
        SurfaceCheck got = check(s), want = plainCount(s.mesh);
        expectCheck(got, {want.shells, want.holes, want.openEdges, want.nonManifoldEdges, want.flippedEdges,
                          want.degenerateTriangles, want.closed != 0, got.insideOut != 0, want.weldedCorners});
    }
}

// Two touching cells of many positions each (the welding distance is 1 here,
// set by a far triangle), placed on a diagonal line so that a position of one
// is near one of the other only where the case says: whether they join is
// then decided by sorting instead of trying every pair.
TEST(SurfaceCheck, CrowdedTouchingCellsJoinOnlyWhenNear) {
    const int directions[][3] = {{1, 1, 0}, {1, -1, 0}, {1, 1, 1}, {0, 1, -1}};
    for (int count : {5, 20, 40000})
        for (const auto& d : directions)
            for (bool near : {false, true}) {
                SCOPED_TRACE(testing::Message() << count << " positions a cell, direction " << d[0] << d[1] << d[2]
                                                << (near ? ", one pair near" : ""));
                std::vector<Tri> triangles = {{Point{0, 0, 0}, Point{1 << 20, 0, 0}, Point{0, 1 << 20, 0}}};
                // In (u, v), of a cell each: b is near a where b <= a on both; a line of each never is.
                auto place = [&](float u, float v, bool inB) {
                    Point p;
                    float local[3] = {u, v, 0.5f};
                    int used = 0;
                    for (int axis = 0; axis < 3; ++axis) {
                        float w = d[axis] ? local[used++] : 0.5f;
                        if (d[axis] < 0) w = 1 - w;
                        p[axis] = 10 + (inB ? d[axis] : 0) + w;
                    }
                    return p;
                };
                float step = 0.5f / count;
                for (int i = 0; i < count; ++i) {
                    Point a = place(0.25f + step * i, 0.75f - step * i, false);
                    Point b = place(0.25f + step * (i + 0.5f), 0.75f - step * (i - 0.25f), true);
                    if (near && i == count / 2) b = place(0.1f, 0.1f, true);
                    float x = 100.0f + 2 * i;
                    triangles.push_back({a, Point{x, 0, 3}, Point{x, 0, 5}});
                    triangles.push_back({b, Point{x, 0, 7}, Point{x, 0, 9}});
                }
                Solids s({triangles});
                uint64_t inOneCell = 2 * (count - 1);  // every position of a cell joins its first
                EXPECT_EQ(uint64_t{check(s).weldedCorners}, inOneCell + (near ? 1 : 0));
            }
}

// Marks show where: open sides, one face of a non-manifold edge, both faces of a flipped edge.
TEST(SurfaceCheck, MarksPlaceTheProblems) {
    std::vector<Tri> c = cube();
    std::vector<Tri> open(c.begin() + 2, c.end());
    std::vector<uint8_t> marks;
    check(Solids({open}), &marks);
    int openSides = 0;
    for (size_t t = 0; t < marks.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            if (!(marks[t] & kMarkOpenSide << k)) continue;
            ++openSides;
            const Tri& tri = open[t];
            EXPECT_EQ(tri[k][2], 0) << t;  // the missing face was z = 0
            EXPECT_EQ(tri[(k + 1) % 3][2], 0) << t;
        }
        EXPECT_EQ(marks[t] & ~0x07, 0) << t;
    }
    EXPECT_EQ(openSides, 4);

    std::vector<Tri> oneReversed = c;
    oneReversed[5] = reversed(c[5]);
    check(Solids({oneReversed}), &marks);
    EXPECT_EQ(std::count_if(marks.begin(), marks.end(), [](uint8_t m) { return m == kMarkFlipped; }), 1);
    EXPECT_EQ(marks[5], kMarkFlipped);

    check(Solids({join(c, cube(1, 1, 0))}), &marks);
    int nonManifoldSides = 0;
    for (uint8_t m : marks)
        for (int k = 0; k < 3; ++k) nonManifoldSides += (m & kMarkNonManifoldSide << k) != 0;
    EXPECT_EQ(nonManifoldSides, 1);
}

// Faces turned the wrong way are those on the smaller side of the flipped
// edges, counted and marked; their good neighbours are not.
TEST(SurfaceCheck, FlippedFacesAreTheSmallerSide) {
    std::vector<Tri> c = cube();
    auto reversing = [&](std::vector<Tri> mesh, std::vector<int> faces) {
        for (int f : faces) mesh[f] = reversed(mesh[f]);
        return mesh;
    };
    // A strip of four faces turned round a corner, one half of it turned back: three regions.
    const struct {
        const char* name;
        std::vector<Tri> mesh;
        uint64_t flippedEdges;
        std::vector<int> wrong;  // the faces marked
    } cases[] = {
        {"one triangle", reversing(c, {5}), 3, {5}},
        {"one side of the cube", reversing(c, {4, 5}), 4, {4, 5}},
        {"all but one side", reversing(c, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 4, {10, 11}},
        {"two sides apart", reversing(c, {0, 1, 2, 3}), 8, {0, 1, 2, 3}},
        {"a second cube turned whole", join(c, reversing(cube(3, 0, 0), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})), 0,
         {}},
        {"a cube and a flipped triangle in the second", join(c, reversing(cube(3, 0, 0), {7})), 3, {19}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<uint8_t> marks;
        SurfaceCheck got = check(Solids({test.mesh}), &marks);
        EXPECT_EQ(got.flippedEdges, test.flippedEdges);
        EXPECT_EQ(uint64_t{got.flippedFaces}, test.wrong.size());
        std::vector<int> marked;
        for (size_t t = 0; t < marks.size(); ++t)
            if (marks[t] & kMarkFlipped) marked.push_back(static_cast<int>(t));
        EXPECT_EQ(marked, test.wrong);
    }
}

// The volume is defined where every edge is run as often one way as the
// other: a closed surface, or closed surfaces meeting on an edge.
TEST(SurfaceCheck, TheVolumeNeedsEdgesRunEvenly) {
    std::vector<Tri> c = cube(), inside;
    for (const Tri& t : c) inside.push_back(reversed(t));
    std::vector<Tri> oneReversed = c;
    oneReversed[5] = reversed(c[5]);
    const struct {
        const char* name;
        std::vector<Tri> mesh;
        uint64_t uneven;
        bool insideOut;
    } cases[] = {
        {"closed cube", c, 0, false},
        {"two cubes on one edge", join(c, cube(1, 1, 0)), 0, false},
        {"two inside-out cubes on one edge", join(inside, [&] {
             std::vector<Tri> other;
             for (const Tri& t : cube(1, 1, 0)) other.push_back(reversed(t));
             return other;
         }()), 0, true},
        {"cube without one face", std::vector<Tri>(c.begin() + 2, c.end()), 4, false},
        {"one face reversed", oneReversed, 3, false},
        {"six identical triangles", std::vector<Tri>(6, c[0]), 3, false},
        {"a triangle inside on the cube's corners", join(c, {Tri{Point{0, 0, 0}, Point{1, 1, 0}, Point{1, 1, 1}}}), 3,
         false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Solids s({test.mesh});
        SurfaceCheck got = check(s);
        EXPECT_EQ(uint64_t{got.unevenEdges}, test.uneven);
        EXPECT_EQ(got.insideOut != 0, test.insideOut);
        EXPECT_EQ(uint64_t{plainCount(s.mesh).unevenEdges}, test.uneven);
    }
}

// Shapes where a search per side or per vertex would take quadratic time;
// at this size a quadratic method would not finish within the test's time.
TEST(SurfaceCheck, CrowdedShapesStayLinear) {
    const uint32_t n = 100000;
    std::vector<Tri> edgeFan, pointFan, onePoint, soup;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-1, 1);
    for (uint32_t i = 0; i < n; ++i) {
        float a = static_cast<float>(i);
        edgeFan.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5f, a, 1}});
        pointFan.push_back({Point{0, 0, 0}, Point{a, 1, 0}, Point{a + 1, 1, 0}});
        onePoint.push_back({Point{2, 2, 2}, Point{2, 2, 2}, Point{2, 2, 2}});
        Tri t;
        for (Point& p : t) p = {coordinate(random), coordinate(random), coordinate(random)};
        soup.push_back(t);
    }
    expectCheck(check(Solids({edgeFan})), {1, 1, 2 * n, 1, 0, 0, false, false});
    // A strip fanned around one point: every rim edge open, the spokes shared.
    expectCheck(check(Solids({pointFan})), {1, 1, n + 2, 0, 0, 0, false, false});
    expectCheck(check(Solids({onePoint})), {0, 0, 0, 0, 0, n, true, false});
    expectCheck(check(Solids({soup})), {n, n, 3 * n, 0, 0, 0, false, false});
}

// Temporary memory stays within 48 bytes per triangle where corners share
// positions, as in every closed mesh, and is all given back. Separate
// triangles have three positions each for the sort of near positions.
TEST(SurfaceCheck, MemoryPerTriangle) {
    std::vector<Tri> grid, soup;
    const int side = 150;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            Point a{float(i), float(j), 0}, b{float(i + 1), float(j), 0}, c{float(i + 1), float(j + 1), 0},
                d{float(i), float(j + 1), 0};
            grid.push_back({a, b, c});
            grid.push_back({a, c, d});
            for (int k = 0; k < 2; ++k)
                soup.push_back({Point{float(i), float(j), float(k)}, Point{float(i), float(j), k + 0.5f},
                                Point{float(i), j + 0.5f, float(k)}});
        }
    const struct {
        const std::vector<Tri>* mesh;
        uint64_t bytesPerTriangle;
    } cases[] = {{&grid, 48}, {&soup, 100}};
    for (const auto& test : cases) {
        Solids s({*test.mesh});
        std::vector<uint8_t> marks(test.mesh->size());
        uint64_t before = heapBytesInUse();
        resetHeapBytesPeak();
        SurfaceCheck result;
        ASSERT_TRUE(checkSurface(&s.mesh, &result, marks.data(), nullptr, nullptr));
        EXPECT_LE(heapBytesPeak() - before, test.bytesPerTriangle * test.mesh->size());
        EXPECT_EQ(heapBytesInUse(), before);
    }
}

TEST(SurfaceCheck, StopsAndRunsOutOfMemoryCleanly) {
    Solids s({join(cube(), cube(0, 0, 5))});
    std::vector<uint8_t> marks(24);
    SurfaceCheck result{};
    volatile uint8_t stop = 0;
    uint64_t before = heapBytesInUse();
    EXPECT_FALSE(checkSurface(&s.mesh, &result, marks.data(), &stop, nullptr));
    EXPECT_EQ(heapBytesInUse(), before);
    for (int64_t allowed = 0;; ++allowed) {
        RecordingSink sink;
        bool done;
        {
            HeapFailureGuard guard(allowed);
            done = checkSurface(&s.mesh, &result, marks.data(), nullptr, &sink.sink);
        }
        EXPECT_EQ(heapBytesInUse(), before);
        if (done) {
            expectCheck(result, {2, 0, 0, 0, 0, 0, true, false});
            EXPECT_GT(allowed, 3);
            break;
        }
        EXPECT_EQ(sink.codes(), std::vector<StatusCode>{kOutOfMemory}) << allowed;
    }
}

TEST(SurfaceCheck, AgreesWithAPlainCountOnRealFiles) {
    std::vector<CorpusEntry> corpus = readCorpusManifest();
    if (corpus.empty()) GTEST_SKIP() << "no corpus at " << STLV_CORPUS_DIR;
    int closedFiles = 0, openFiles = 0;
    for (const CorpusEntry& entry : corpus) {
        SCOPED_TRACE(entry.file);
        Loaded file(readCorpusFile(entry.file));
        if (!file.loaded()) continue;
        SurfaceCheck got{};
        ASSERT_TRUE(checkSurface(&file.part.mesh, &got, nullptr, nullptr, nullptr));
        SurfaceCheck want = plainCount(file.part.mesh);
        expectCheck(got, {want.shells, want.holes, want.openEdges, want.nonManifoldEdges, want.flippedEdges,
                          want.degenerateTriangles, want.closed != 0, got.insideOut != 0, want.weldedCorners});
        EXPECT_EQ(uint64_t{got.unevenEdges}, uint64_t{want.unevenEdges});
        // Inside out agrees with the sign of the volume the load computed.
        if (!got.unevenEdges && file.gpu->facts.volume != 0)
            EXPECT_EQ(got.insideOut != 0, file.gpu->facts.volume < 0);
        (got.closed ? closedFiles : openFiles) += 1;
    }
    EXPECT_GT(closedFiles, 0);
    EXPECT_GT(openFiles, 0);
}

}  // namespace
