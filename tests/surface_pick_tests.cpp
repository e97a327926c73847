#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mesh/surface_pick.h"
#include "tests/sink_recorder.h"
#include "tests/test_files.h"

namespace {

// The cube of test_files.h (side 10 around the origin) scaled and moved.
std::vector<StlTriangle> cube(double side, double x, double y, double z) {
    std::vector<StlTriangle> out;
    for (const TestTriangle& t : cubeTriangles()) {
        StlTriangle s{};
        for (int v = 0; v < 3; ++v) {
            s.vertices[v][0] = static_cast<float>(t.vertices[v][0] * side / 10 + x);
            s.vertices[v][1] = static_cast<float>(t.vertices[v][1] * side / 10 + y);
            s.vertices[v][2] = static_cast<float>(t.vertices[v][2] * side / 10 + z);
        }
        out.push_back(s);
    }
    return out;
}

struct TestPart {
    std::vector<std::vector<StlTriangle>> solids;
    std::vector<uint8_t> visible;
    double unitScale;
};

// 400 x 300 pixels at the view's first zoom, the eye on the world Z axis
// looking towards -Z, or turned about Y by `turn` radians around the origin.
PickCamera camera(double distance, double turn, bool yUp) {
    PickCamera c{};
    double s = std::sin(turn), k = std::cos(turn);
    double axes[3][3] = {{k, 0, -s}, {0, 1, 0}, {s, 0, k}};
    memcpy(c.axes, axes, sizeof axes);
    for (int i = 0; i < 3; ++i) c.eye[i] = distance * axes[2][i];
    c.zoom = 4.75;
    c.nearDepth = 0.001;
    c.farDepth = 10;
    c.width = 400;
    c.height = 300;
    c.yUp = yUp;
    return c;
}

// The camera with a section that keeps world points p where p·n + w >= 0.
PickCamera cut(PickCamera c, double nx, double ny, double nz, double w) {
    double keep[4] = {nx, ny, nz, w};
    memcpy(c.keep, keep, sizeof keep);
    return c;
}

struct Picked {
    bool hit;
    SurfacePick pick;
};

Picked pickAt(const PickCamera& cam, std::vector<TestPart>& parts, const double target[3], double dx, double dy,
              bool indexed) {
    std::vector<std::vector<StlSolid>> solids(parts.size());
    std::vector<PickPart> pickParts;
    std::vector<PickIndex*> indexes;
    for (size_t p = 0; p < parts.size(); ++p) {
        for (auto& triangles : parts[p].solids) {
            StlSolid solid{};
            solid.triangleCount = static_cast<uint32_t>(triangles.size());
            solid.triangles = triangles.empty() ? nullptr : triangles.data();
            solids[p].push_back(solid);
        }
        PickIndex* index = indexed ? buildPickIndex(solids[p].data(), static_cast<uint32_t>(solids[p].size()),
                                                    processHeap(), nullptr)
                                   : nullptr;
        indexes.push_back(index);
        pickParts.push_back(PickPart{solids[p].data(), static_cast<uint32_t>(solids[p].size()),
                                     parts[p].visible.empty() ? nullptr : parts[p].visible.data(), index,
                                     parts[p].unitScale});
    }
    double x = 0, y = 0;
    EXPECT_TRUE(projectToScreen(&cam, target, &x, &y));
    Picked result{};
    result.hit = pickSurface(&cam, pickParts.data(), static_cast<uint32_t>(pickParts.size()), x + dx, y + dy,
                             &result.pick);
    for (PickIndex* index : indexes) freePickIndex(index, processHeap());
    return result;
}

constexpr double mm = 0.001;

// Picks against known geometry: faces, corners and the snap boundary, edges,
// the background, hidden solids, several parts in different units, Z-up files,
// the near plane, faces seen from behind, and the side a section removes.
// Each with and without the index.
TEST(SurfacePick, NearestVisiblePointAndSnap) {
    auto single = [] { return std::vector<TestPart>{{{cube(10, 0, 0, 0)}, {}, mm}}; };
    auto frontSolid = [](uint8_t shown) {
        return std::vector<TestPart>{{{cube(10, 0, 0, 0), cube(4, 1, 1, 20)}, {1, shown}, mm}};
    };
    // Millimetres at the origin; inches (a cube of one inch) two inches along x and in front.
    auto twoParts = [] {
        return std::vector<TestPart>{{{cube(10, 0, 0, 0)}, {}, mm}, {{cube(1, 2, 0, 0.5)}, {}, 0.0254}};
    };
    const double none = NAN;
    struct {
        const char* what;
        std::vector<TestPart> parts;
        PickCamera cam;
        double target[3];  // world
        double dx, dy;     // pixels from the target's position on the screen
        bool hit;
        uint32_t part, solid;
        double point[3];  // metres, file axes
        bool snapped;
    } cases[] = {
        {"front face", single(), camera(0.1, 0, true), {2 * mm, -3 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {2 * mm, -3 * mm, 5 * mm}, false},
        {"face from a turned eye", single(), camera(0.1, 0.5, true), {3.5 * mm, 1 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {3.5 * mm, 1 * mm, 5 * mm}, false},
        {"corner: exactly the file's numbers", single(), camera(0.1, 0, true), {5 * mm, 5 * mm, 5 * mm}, -3, 2, true,
         0, 0, {5 * mm, 5 * mm, 5 * mm}, true},
        {"snap just inside 10 pixels", single(), camera(0.1, 0, true), {5 * mm, 5 * mm, 5 * mm}, -8, 5.999, true, 0,
         0, {5 * mm, 5 * mm, 5 * mm}, true},
        // 7.5 pixels a millimetre at the face's depth of 95 mm.
        {"no snap just outside 10 pixels", single(), camera(0.1, 0, true), {5 * mm, 5 * mm, 5 * mm}, -8, 6.001, true,
         0, 0, {(5 - 8 / 7.5) * mm, (5 - 6.001 / 7.5) * mm, 5 * mm}, false},
        {"edge between two faces", single(), camera(0.1, 0.7, true), {1 * mm, 5 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {1 * mm, 5 * mm, 5 * mm}, false},
        {"background beside the cube", single(), camera(0.1, 0, true), {6 * mm, 0, 5 * mm}, 0, 0, false, 0, 0,
         {none, none, none}, false},
        {"visible solid in front wins", frontSolid(1), camera(0.1, 0, true), {2 * mm, 2 * mm, 22 * mm}, 0, 0, true,
         0, 1, {2 * mm, 2 * mm, 22 * mm}, false},
        {"hidden solid skipped", frontSolid(0), camera(0.1, 0, true), {2 * mm, 2 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {2 * mm, 2 * mm, 5 * mm}, false},
        {"second part in inches", twoParts(), camera(0.3, 0, true), {50 * mm, 3 * mm, 25.4 * mm}, 0, 0, true, 1, 0,
         {50 * mm, 3 * mm, 25.4 * mm}, false},
        {"first part beside it", twoParts(), camera(0.3, 0, true), {1 * mm, -1 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {1 * mm, -1 * mm, 5 * mm}, false},
        {"Z-up file: world -Z is file Y", single(), camera(0.1, 0, false), {2 * mm, 1 * mm, 5 * mm}, 0, 0, true, 0, 0,
         {2 * mm, -5 * mm, 1 * mm}, false},
        {"inside the cube: a face seen from behind", single(), camera(0.001, 0, true), {2 * mm, 1 * mm, -5 * mm}, 0,
         0, true, 0, 0, {2 * mm, 1 * mm, -5 * mm}, false},
        // The front face lies at z = 5 mm, the back face at -5 mm.
        {"section removes the front face: the back face behind it", single(), cut(camera(0.1, 0, true), 0, 0, -1, 0),
         {2 * mm, -3 * mm, -5 * mm}, 0, 0, true, 0, 0, {2 * mm, -3 * mm, -5 * mm}, false},
        {"section past the front face keeps it", single(), cut(camera(0.1, 0, true), 0, 0, -1, 6 * mm),
         {2 * mm, -3 * mm, 5 * mm}, 0, 0, true, 0, 0, {2 * mm, -3 * mm, 5 * mm}, false},
        {"section removes the whole cube", single(), cut(camera(0.1, 0, true), 0, 0, -1, -6 * mm),
         {2 * mm, -3 * mm, 5 * mm}, 0, 0, false, 0, 0, {none, none, none}, false},
        {"flipped section keeps the front face", single(), cut(camera(0.1, 0, true), 0, 0, 1, 0),
         {2 * mm, -3 * mm, 5 * mm}, 0, 0, true, 0, 0, {2 * mm, -3 * mm, 5 * mm}, false},
        {"section of a Z-up file: the back face", single(), cut(camera(0.1, 0, false), 0, 0, -1, 0),
         {2 * mm, 1 * mm, -5 * mm}, 0, 0, true, 0, 0, {2 * mm, 5 * mm, 1 * mm}, false},
        {"section of a Z-up file past the front face", single(), cut(camera(0.1, 0, false), 0, 0, -1, 6 * mm),
         {2 * mm, 1 * mm, 5 * mm}, 0, 0, true, 0, 0, {2 * mm, -5 * mm, 1 * mm}, false},
        {"section across parts in other units", twoParts(), cut(camera(0.3, 0, true), 0, 0, -1, 10 * mm),
         {50 * mm, 3 * mm, 0}, 0, 0, true, 1, 0, {50 * mm, 3 * mm, 0}, false},
    };
    for (auto& c : cases) {
        for (bool indexed : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (indexed ? " (indexed)" : ""));
            Picked got = pickAt(c.cam, c.parts, c.target, c.dx, c.dy, indexed);
            ASSERT_EQ(got.hit, c.hit);
            if (!c.hit) continue;
            // The record is packed: fields are copied before they are compared.
            uint32_t part = got.pick.part, solid = got.pick.solid;
            int32_t corner = got.pick.corner;
            double point[3];
            memcpy(point, got.pick.point, sizeof point);
            EXPECT_EQ(part, c.part);
            EXPECT_EQ(solid, c.solid);
            EXPECT_EQ(corner >= 0, c.snapped);
            for (int axis = 0; axis < 3; ++axis) {
                if (c.snapped) EXPECT_EQ(point[axis], c.point[axis]) << axis;  // the float times the scale
                else EXPECT_NEAR(point[axis], c.point[axis], 1e-9) << axis;
            }
        }
    }
}

TEST(SurfacePick, NearPlaneAndNonFiniteCorners) {
    std::vector<TestPart> parts{{{cube(10, 0, 0, 0)}, {}, mm}};
    PickCamera cam = camera(0.1, 0, true);
    const double face[3] = {2 * mm, 1 * mm, 5 * mm};
    cam.nearDepth = 0.096;  // beyond the front face: the back face is what shows
    Picked got = pickAt(cam, parts, face, 0, 0, true);
    ASSERT_TRUE(got.hit);
    double z = got.pick.point[2], depth = got.pick.depth;
    EXPECT_NEAR(z, -5 * mm, 1e-12);
    EXPECT_NEAR(depth, 0.105, 1e-12);
    // A NaN corner takes its triangle (the lower right half of the front
    // face) out, and the ray goes on to the back; its neighbour stays.
    parts[0].solids[0][2].vertices[0][1] = NAN;
    const double neighbour[3] = {1 * mm, 2 * mm, 5 * mm};
    for (bool indexed : {false, true}) {
        got = pickAt(camera(0.1, 0, true), parts, face, 0, 0, indexed);
        ASSERT_TRUE(got.hit);
        double back = got.pick.point[2];
        EXPECT_NEAR(back, -5 * mm, 1e-12);
        got = pickAt(camera(0.1, 0, true), parts, neighbour, 0, 0, indexed);
        ASSERT_TRUE(got.hit);
        double front = got.pick.point[2];
        EXPECT_NEAR(front, 5 * mm, 1e-12);
    }
}

TEST(PickIndex, RunBoxesPerSolid) {
    std::vector<StlTriangle> many;
    for (int i = 0; i < 40; ++i) {
        auto one = cube(1, i * 10.0, 0, 0);
        many.push_back(one[0]);
    }
    std::vector<StlSolid> solids(3);
    solids[0] = StlSolid{0, 0, 40, many.data(), {}};
    solids[1] = StlSolid{0, 0, 0, nullptr, {}};
    solids[2] = StlSolid{0, 0, 16, many.data(), {}};
    PickIndex* index = buildPickIndex(solids.data(), 3, processHeap(), nullptr);
    ASSERT_NE(index, nullptr);
    const uint64_t firstRun[] = {0, 3, 3, 4};
    uint64_t* starts = index->firstRun;
    for (int s = 0; s < 4; ++s) EXPECT_EQ(starts[s], firstRun[s]) << s;
    // Run 2 holds triangles 32 to 39, whose x runs from 320 - 0.5 to 390 + 0.5.
    PickBox box;
    memcpy(&box, &index->boxes[2], sizeof box);
    EXPECT_EQ(box.low[0], 319.5f);
    EXPECT_EQ(box.high[0], 390.5f);
    freePickIndex(index, processHeap());

    // Every failing allocation is reported and leaves nothing behind.
    for (int allowed = 0; allowed < 3; ++allowed) {
        RecordingSink recorder;
        uint64_t before = heapBytesInUse();
        {
            HeapFailureGuard guard(allowed);
            EXPECT_EQ(buildPickIndex(solids.data(), 3, processHeap(), &recorder.sink), nullptr);
        }
        EXPECT_EQ(heapBytesInUse(), before);
        EXPECT_EQ(recorder.codes(), std::vector<StatusCode>{0x80000005}) << allowed;
    }
}

}  // namespace
