// Frames rendered by renderFrame into an offscreen sRGB target and read
// back: shades follow the lit shaders' formulas, modes, visibility and
// triangle colours show as the view promises; the sample models as the
// viewer first shows them.
#include "tests/load_driver.h"
#include "tests/render_test_support.h"
#include "mesh/surface_check.h"
#include "view/offscreen_render.h"
#include "view/problem_edges.h"

#include <array>
#include <fstream>
#include <iterator>

namespace {

using namespace render_test;

constexpr int kSize = 64;
constexpr int kTolerance = 2;  // sRGB bytes

// A rectangle at height z facing +z, as two triangles.
TestSolid square(float x0 = -1, float y0 = -1, float x1 = 1, float y1 = 1, uint16_t attribute = 0) {
    return {{triangle({{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}}, attribute),
             triangle({{x0, y0, 0}, {x1, y1, 0}, {x0, y1, 0}}, attribute)}};
}

void expectNear(Pixel actual, int r, int g, int b, int tolerance, int x, int y) {
    EXPECT_NEAR(actual.r, r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(actual.g, g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(actual.b, b, tolerance) << "blue at " << x << "," << y;
}

bool closeTo(Pixel a, Pixel b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

class RenderFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(pipeline_, nullptr);
        ASSERT_TRUE(target_.ok);
    }

    // The view's way of drawing: box, centre and radius from the meshes.
    void draw(const std::vector<GpuMesh*>& meshes, Camera camera = Camera()) {
        camera.fitTo(meshes);
        camera_ = camera;
        render(pipeline_, &target_, meshes, camera, &sink_.sink);
        EXPECT_TRUE(sink_.received.empty());
    }
    void draw(TestMesh& mesh, Camera camera = Camera()) {
        ASSERT_TRUE(mesh.build(pipeline_->device));
        draw({mesh.gpu}, camera);
    }

    Pixel at(int x, int y) const { return target_.at(x, y); }
    // Within the rounding of the sRGB encoding.
    bool isBackground(int x, int y) const { return closeTo(at(x, y), pixelOf(camera_.background), 1); }
    bool backgroundFrom(int left) const {
        for (int y = 0; y < kSize; ++y)
            for (int x = left; x < kSize; ++x)
                if (!isBackground(x, y)) return false;
        return true;
    }
    // Whether the predicate holds within a pixel of where the point lands.
    template <typename Predicate>
    bool seenNear(Vec3 point, Predicate holds) const {
        double px, py;
        EXPECT_TRUE(pixelOf(camera_, kSize, kSize, point, &px, &py));
        bool seen = false;
        for (int y = int(py) - 1; y <= int(py) + 1; ++y)
            for (int x = int(px) - 1; x <= int(px) + 1; ++x) seen |= holds(x, y);
        return seen;
    }

    // Expected bytes of face a, b, c lit in `colour` at the pixel.
    void expectLit(int x, int y, Vec3 a, Vec3 b, Vec3 c, Vec3 colour) {
        Vec3 V = rayThroughPixel(x, y, kSize, kSize, camera_.frame.zoom);
        Vec3 lit = litColour(V, faceNormalTowards(a, b, c, V), frontLight(), colour);
        expectNear(at(x, y), srgbByte(lit.x), srgbByte(lit.y), srgbByte(lit.z), kTolerance, x, y);
    }
    void expectHeadOn(int x, int y, Vec3 colour) { expectLit(x, y, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, colour); }

    const GpuPipeline* pipeline_ = sharedPipeline();
    Target target_{pipeline_ ? pipeline_->device : nullptr, kSize, kSize};
    RecordingSink sink_;
    Camera camera_;
};

TEST_F(RenderFrame, HeadOnFaceShowsTheShadeOfTheLightingFormulas) {
    TestMesh mesh({square()});
    Camera camera;
    camera.background = 0xFF996633;
    draw(mesh, camera);
    // The table undoes the sRGB encoding of the target: the bytes come back.
    for (int i = 0; i < kSize; i += 7) {
        expectNear(at(i, 1), 0x33, 0x66, 0x99, 1, i, 1);
        expectNear(at(kSize - 1, i), 0x33, 0x66, 0x99, 1, kSize - 1, i);
    }
    EXPECT_EQ(at(0, 0).a, 255);
    // The square spans about 11 to 53 of 64 pixels; these stay off its diagonal.
    const int inside[][2] = {{32, 20}, {24, 40}, {40, 30}, {20, 22}, {44, 45}};
    for (const auto& [x, y] : inside) expectHeadOn(x, y, {1, 1, 1});
    // Worked through once for the centre: D = 0.64·6/7 + 0.16·0.6, about 0.6446;
    // S = (0.07 + 0.56875·6/7)^8, about 0.0093: 0.654 linear, 211 encoded.
    expectNear(at(32, 32), 211, 211, 211, kTolerance, 32, 32);
}

// Both passes of the outline mode skip a hidden solid too.
TEST_F(RenderFrame, HiddenSolidsVanish) {
    for (RenderMode mode : {kRenderSolid, kRenderOutline}) {
        SCOPED_TRACE(int(mode));
        TestMesh mesh({square(-2, -1, -0.2f, 1), square(0.2f, -1, 2, 1)});
        Camera camera;
        camera.mode = mode;
        draw(mesh, camera);
        ASSERT_FALSE(isBackground(16, 32));
        ASSERT_FALSE(isBackground(48, 32));
        mesh.visible[1] = 0;
        draw({mesh.gpu}, camera);
        EXPECT_FALSE(isBackground(16, 32));
        EXPECT_TRUE(backgroundFrom(34));
        mesh.visible[0] = 0;
        draw({mesh.gpu}, camera);
        if (!underWineVulkan()) EXPECT_TRUE(backgroundFrom(0));
    }
}

TEST_F(RenderFrame, WireframeDrawsOnlyTheEdges) {
    if (underWineVulkan()) GTEST_SKIP() << "Wine's Vulkan renderer fills wireframe polygons";
    const Vec3 corners[3] = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
    TestMesh mesh({{{triangle({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}})}}});
    Camera camera;
    camera.mode = kRenderWireframe;
    draw(mesh, camera);
    auto drawn = [&](int x, int y) { return !isBackground(x, y); };
    for (int i = 0; i < 3; ++i) {
        const Vec3 a = corners[i], b = corners[(i + 1) % 3];
        for (double t = 0.2; t < 0.81; t += 0.2) EXPECT_TRUE(seenNear(a + t * (b - a), drawn)) << i << " at " << t;
    }
    // Inside the face and outside it only the background shows.
    EXPECT_FALSE(seenNear((1.0 / 3) * (corners[0] + corners[1] + corners[2]), drawn));
    EXPECT_TRUE(isBackground(2, 2));
    EXPECT_TRUE(isBackground(kSize - 3, 2));
}

// A model by its corners and triangles, with the edges that must show in
// Outline mode and those that lie behind a face.
struct OutlineCase {
    const char* name;
    std::vector<Vec3> corners;
    std::vector<std::array<int, 3>> faces;
    std::vector<std::array<int, 2>> shownEdges;
    std::vector<std::array<int, 2>> hiddenEdges;
    std::vector<int> frontFaces;  // indices into faces: seen, lit in the object colour
};

// Corner i of the cube from -1 to 1: x from bit 0, y from bit 1, z from bit 2.
std::vector<Vec3> cubeCorners() {
    std::vector<Vec3> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0});
    return corners;
}

const std::vector<Vec3> kTilted = {{-1, -1, -0.4}, {1, -1, 0.3}, {1, 1, 0.5}, {-1, 1, -0.2}};
const OutlineCase kOutlineCases[] = {
    // Neither face square on; in either winding the face is lit as turned to the eye.
    {"tilted square", kTilted, {{0, 1, 2}, {0, 2, 3}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}}, {}, {0, 1}},
    {"tilted square wound back", kTilted, {{0, 2, 1}, {0, 3, 2}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}}, {}, {0, 1}},
    // The front face square on, as in the preset views: its border and its
    // diagonal show (equal depths pass), the back face's border stays behind it.
    {"cube seen from the front",
     cubeCorners(),
     {{4, 5, 7}, {4, 7, 6}, {0, 3, 1}, {0, 2, 3}, {1, 3, 7}, {1, 7, 5}, {0, 4, 6}, {0, 6, 2}, {2, 6, 7}, {2, 7, 3},
      {0, 1, 5}, {0, 5, 4}},
     {{4, 5}, {5, 7}, {7, 6}, {6, 4}, {4, 7}},
     {{0, 1}, {1, 3}, {3, 2}, {2, 0}},
     {0, 1}},
};

TEST_F(RenderFrame, OutlineDrawsTheVisibleEdgesOverTheSolidInTheObjectColour) {
    if (underWineVulkan()) GTEST_SKIP() << "Wine's Vulkan renderer fills wireframe polygons";
    // Unlit and not squared: the sRGB target encodes the colour bytes as linear values.
    const Pixel edge = {srgbByte(1.0), srgbByte(64 / 255.0), srgbByte(0), 255};
    auto isEdgeColour = [&](int x, int y) { return closeTo(at(x, y), edge, kTolerance); };
    for (const OutlineCase& model : kOutlineCases) {
        SCOPED_TRACE(model.name);
        const std::vector<Vec3>& corners = model.corners;
        TestSolid solid;
        for (const auto& face : model.faces) {
            float v[3][3];
            for (int k = 0; k < 3; ++k) {
                const Vec3& p = corners[face[k]];
                v[k][0] = float(p.x), v[k][1] = float(p.y), v[k][2] = float(p.z);
            }
            solid.triangles.push_back(triangle(v));
        }
        TestMesh mesh({solid});
        ASSERT_TRUE(mesh.build(pipeline_->device));
        mesh.gpu->color = 0xFF0040FF;  // red 255, green 64, blue 0
        auto along = [&](const std::array<int, 2>& e, double t) {
            return corners[e[0]] + t * (corners[e[1]] - corners[e[0]]);
        };
        Camera camera;
        // Solid first: nowhere along the edges is the edge colour.
        draw({mesh.gpu}, camera);
        for (const auto& e : model.shownEdges)
            for (double t = 0.15; t < 0.86; t += 0.05) ASSERT_FALSE(seenNear(along(e, t), isEdgeColour));
        camera.mode = kRenderOutline;
        draw({mesh.gpu}, camera);
        // Every seen edge, the diagonals between faces included, shows along its length.
        for (const auto& e : model.shownEdges) {
            int samples = 0, shown = 0;
            for (double t = 0.15; t < 0.86; t += 0.05, ++samples) shown += seenNear(along(e, t), isEdgeColour);
            EXPECT_GE(shown, samples - 1) << "edge " << e[0] << "-" << e[1];
        }
        // Away from where the seen edges cross them, hidden edges leave no mark.
        for (const auto& e : model.hiddenEdges)
            for (double t = 0.25; t < 0.76; t += 0.05)
                EXPECT_FALSE(seenNear(along(e, t), isEdgeColour)) << "edge " << e[0] << "-" << e[1] << " at " << t;
        // Inside each seen face, away from the edges, the face lit in the object colour.
        for (int index : model.frontFaces) {
            const auto& face = model.faces[size_t(index)];
            Vec3 a = corners[face[0]], b = corners[face[1]], c = corners[face[2]];
            double px, py;
            ASSERT_TRUE(pixelOf(camera_, kSize, kSize, (1.0 / 3) * (a + b + c), &px, &py));
            expectLit(int(px), int(py), a, b, c, {1, 64 / 255.0, 0});
            EXPECT_FALSE(isEdgeColour(int(px), int(py)));
        }
    }
}

TEST_F(RenderFrame, TriangleColoursAppearAsDecodedTimesTheObjectColour) {
    struct Case {
        uint8_t colorOrder;
        bool hasColours;
        uint32_t objectColour;
        Vec3 expected;
    };
    // Bits 10-14 set: blue in "RGB" order (2), red in "BGR" order (3).
    const Case cases[] = {
        {2, true, 0xFFFFFFFF, {0, 0, 1}},
        {3, true, 0xFFFFFFFF, {1, 0, 0}},
        {3, false, 0xFFFFFFFF, {1, 1, 1}},  // a solid without colours stays white
        {3, true, 0xFF00FFFF, {1, 0, 0}},   // yellow object colour keeps the red
        {3, true, 0xFFFFFF00, {0, 0, 0}},   // cyan leaves none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colorOrder) << c.hasColours << std::hex << c.objectColour);
        TestSolid solid = square(-1, -1, 1, 1, 0x7C00);
        solid.hasColours = c.hasColours;
        TestMesh mesh({solid}, 1.0f, c.colorOrder);
        ASSERT_TRUE(mesh.build(pipeline_->device));
        mesh.gpu->color = c.objectColour;
        draw({mesh.gpu});
        expectHeadOn(32, 20, c.expected);
    }
}

TEST_F(RenderFrame, SeveralMeshesShareTheFrameWithTheirOwnScaleAndColour) {
    // Millimetres and inches side by side: 20 mm and 0.8 in squares.
    TestMesh millimetres({square(-30, -10, -10, 10)}, 0.001f);
    TestMesh inches({square(0.4f, -0.4f, 1.2f, 0.4f)}, 0.0254f);
    ASSERT_TRUE(millimetres.build(pipeline_->device));
    ASSERT_TRUE(inches.build(pipeline_->device));
    millimetres.gpu->color = 0xFF0000FF;
    inches.gpu->color = 0xFFFF0000;
    draw({millimetres.gpu, inches.gpu});
    // Box: x from -0.03 to 0.03048 m, so the two squares sit left and right of the middle.
    expectHeadOn(18, 32, {1, 0, 0});
    expectHeadOn(46, 32, {0, 0, 1});
    EXPECT_TRUE(isBackground(32, 32));
}

// The closed cube from -1 to 1, as in the outline cases.
TestSolid cubeSolid() {
    const OutlineCase& cube = kOutlineCases[2];
    TestSolid solid;
    for (const auto& face : cube.faces) {
        float v[3][3];
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c) v[k][c] = float((&cube.corners[face[k]].x)[c]);
        solid.triangles.push_back(triangle(v));
    }
    return solid;
}

// The cap's two stripe shades of a white model: half and a quarter of it, linear.
bool isCapColour(Pixel p) {
    return closeTo(p, {srgbByte(0.5), srgbByte(0.5), srgbByte(0.5), 255}, kTolerance) ||
           closeTo(p, {srgbByte(0.25), srgbByte(0.25), srgbByte(0.25), 255}, kTolerance);
}

// Seen from the removed side, the cut through a closed cube is one filled
// face in the cap's colours, not the inside of the walls behind it.
TEST_F(RenderFrame, SectionCapFillsTheCutOfAClosedSurface) {
    for (RenderMode mode : {kRenderSolid, kRenderOutline}) {
        SCOPED_TRACE(int(mode));
        TestMesh mesh({cubeSolid()});
        Camera camera;
        camera.mode = mode;
        camera.section = {1, 2, 0, 0.5f};  // z <= 0 kept; the eye looks down -z
        draw(mesh, camera);
        int silhouette = 0, cap = 0, stripes[2] = {0, 0};
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                if (isBackground(x, y)) continue;
                ++silhouette;
                cap += isCapColour(at(x, y));
                ++stripes[at(x, y).r > srgbByte(0.375)];
            }
        EXPECT_GT(silhouette, kSize * kSize / 5);
        // Outline mode draws the cut's border over the cap.
        EXPECT_GT(cap, silhouette * 4 / 5);
        EXPECT_GT(stripes[0], silhouette / 4);  // both shades of the hatch show
        EXPECT_GT(stripes[1], silhouette / 4);
    }
}

// A section that keeps everything draws the same bytes as none, and so does
// one on either end of the box, whichever side it keeps. Wireframe
// comes first and last: under Wine, plain lines drawn after sectioned frames
// on one device once came out as strokes across the picture.
TEST_F(RenderFrame, SectionBeyondTheModelChangesNothing) {
    for (RenderMode mode : {kRenderWireframe, kRenderSolid, kRenderOutline, kRenderWireframe}) {
        SCOPED_TRACE(int(mode));
        TestMesh mesh({cubeSolid()});
        Camera camera;
        camera.mode = mode;
        camera.frame.rotation[1][1] = camera.frame.rotation[2][2] = 0.8f;  // from a little above
        camera.frame.rotation[1][2] = 0.6f, camera.frame.rotation[2][1] = -0.6f;
        draw(mesh, camera);
        std::vector<uint32_t> whole = target_.pixels;
        for (SectionPlane section : {SectionPlane{1, 2, 0, 1.5f}, SectionPlane{1, 0, 1, -0.5f}, SectionPlane{1, 2, 0, 1.0f},
                                     SectionPlane{1, 2, 0, 0.0f}, SectionPlane{1, 1, 1, 1.0f}}) {
            camera.section = section;
            draw({mesh.gpu}, camera);
            EXPECT_EQ(target_.pixels, whole) << int(section.axis) << " " << float(section.share);
        }
        // Past the other end everything goes.
        camera.section = {1, 1, 0, -0.5f};
        draw({mesh.gpu}, camera);
        EXPECT_TRUE(backgroundFrom(0));
    }
}

// Across X the cut is seen edge-on: one half of the picture stays empty,
// and Flip empties the other, in every mode.
TEST_F(RenderFrame, SectionFlipKeepsTheOtherHalf) {
    for (RenderMode mode : {kRenderSolid, kRenderOutline, kRenderWireframe}) {
        SCOPED_TRACE(int(mode));
        TestMesh mesh({cubeSolid()});
        Camera camera;
        camera.mode = mode;
        auto drawnIn = [&](int left, int right) {
            int count = 0;
            for (int y = 0; y < kSize; ++y)
                for (int x = left; x < right; ++x) count += !isBackground(x, y);
            return count;
        };
        ASSERT_TRUE(mesh.build(pipeline_->device));
        for (uint8_t flip : {0, 1}) {
            camera.section = {1, 0, flip, 0.5f};
            draw({mesh.gpu}, camera);
            int kept = flip ? drawnIn(34, kSize) : drawnIn(0, 30);
            int removed = flip ? drawnIn(0, 30) : drawnIn(34, kSize);
            EXPECT_GT(kept, 40) << int(flip);
            EXPECT_EQ(removed, 0) << int(flip);
        }
    }
}

class RenderProblems : public RenderFrame {
protected:
    // The mesh with the lists its surface check gives.
    void build(TestMesh& mesh) {
        SurfaceCheck check;
        std::vector<uint8_t> marks(mesh.solids[0].triangles.size() + 1);
        ASSERT_TRUE(checkSurface(&mesh.mesh, &check, marks.data(), nullptr, nullptr));
        ASSERT_TRUE(mesh.build(pipeline_->device));
        ASSERT_TRUE(buildProblemEdges(mesh.gpu, mesh.gpu->pieces, pipeline_->device, marks.data(), nullptr));
    }
    int count(bool (*holds)(Pixel)) const {
        int n = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) n += holds(at(x, y));
        return n;
    }
};

bool isOverhangPixel(Pixel p) {
    return p.r > p.g + 60 && p.b > p.g + 50;
}

bool isOpenEdgeColour(Pixel p) {
    return p.r > 200 && p.g < 60 && p.b < 60;
}

bool isNonManifoldColour(Pixel p) {
    return closeTo(p, {0, srgbByte(0x33 / 255.0), 255, 255}, kTolerance);
}

// The cube's front face (z = 1, towards the eye) is triangles 0 (below the
// diagonal from corner 4 to 7) and 1 (above it); its back face 2 and 3.
TestSolid cubeWithout(int triangle) {
    TestSolid solid = cubeSolid();
    solid.triangles.erase(solid.triangles.begin() + triangle);
    return solid;
}

TestSolid cubeWithFrontTurned() {
    TestSolid solid = cubeSolid();
    for (int t : {0, 1}) std::swap(solid.triangles[size_t(t)].vertices[1], solid.triangles[size_t(t)].vertices[2]);
    return solid;
}

// Two faces of the front plane and one behind them on their shared edge.
TestSolid fanOnOneEdge() {
    return {{triangle({{-1, 0, 0}, {1, 0, 0}, {0, 1, 0}}), triangle({{1, 0, 0}, {-1, 0, 0}, {0, -1, 0}}),
             triangle({{-1, 0, 0}, {1, 0, 0}, {0, -0.5f, -1}})}};
}

// In every mode: red along the hole's diagonal, none on a closed cube, the
// turned face shaded in the tint, blue on an edge of three faces; the
// problems of a hidden solid and of a closed part add nothing.
TEST_F(RenderProblems, ProblemsShowWhereTheyAreInEveryMode) {
    const Vec3 diagonal[2] = {{-1, -1, 1}, {1, 1, 1}};
    const Vec3 aboveDiagonal = {-0.6, 0.2, 1};
    const Vec3 tint = {1, 0x50 / 255.0, 0};
    // The background 0x203040 in linear light.
    const Vec3 background = {kClearColourTable[0x40], kClearColourTable[0x30], kClearColourTable[0x20]};
    auto red = [&](int x, int y) { return isOpenEdgeColour(at(x, y)); };
    auto blue = [&](int x, int y) { return isNonManifoldColour(at(x, y)); };
    for (RenderMode mode : {kRenderSolid, kRenderOutline, kRenderWireframe}) {
        SCOPED_TRACE(int(mode));
        if (underWineVulkan() && mode != kRenderSolid) continue;  // wireframe polygons come out filled
        Camera camera;
        camera.mode = mode;
        camera.showProblems = true;

        TestMesh closed({cubeSolid()});
        build(closed);
        EXPECT_EQ(copyOf(closed.gpu->pieces[0].problemIndices), nullptr);
        draw({closed.gpu}, camera);
        EXPECT_EQ(count(isOpenEdgeColour), 0);

        TestMesh holed({cubeWithout(0)});
        build(holed);
        draw({holed.gpu}, camera);
        for (double t = 0.25; t < 0.76; t += 0.125)
            EXPECT_TRUE(seenNear(diagonal[0] + t * (diagonal[1] - diagonal[0]), red)) << t;
        EXPECT_EQ(count(isNonManifoldColour), 0);
        camera.showProblems = false;
        draw({holed.gpu}, camera);
        EXPECT_EQ(count(isOpenEdgeColour), 0);
        camera.showProblems = true;
        holed.visible[0] = 0;
        draw({holed.gpu}, camera);
        EXPECT_EQ(count(isOpenEdgeColour), 0);
        // A hole at the back shows only where the faces in front let it.
        TestMesh holedBehind({cubeWithout(2)});
        build(holedBehind);
        draw({holedBehind.gpu}, camera);
        if (mode == kRenderWireframe) EXPECT_GT(count(isOpenEdgeColour), 20);
        else EXPECT_EQ(count(isOpenEdgeColour), 0);

        TestMesh turned({cubeWithFrontTurned()});
        build(turned);
        draw({turned.gpu}, camera);
        // The lit white face shows through the tint's share of the linear light.
        double px, py;
        ASSERT_TRUE(pixelOf(camera_, kSize, kSize, aboveDiagonal, &px, &py));
        Vec3 V = rayThroughPixel(int(px), int(py), kSize, kSize, camera_.frame.zoom);
        Vec3 face = litColour(V, {0, 0, 1}, frontLight(), {1, 1, 1});
        Vec3 mixed = kProblemTintShare * tint + (1 - kProblemTintShare) * face;
        if (mode == kRenderWireframe) mixed = kProblemTintShare * tint + (1 - kProblemTintShare) * background;
        expectNear(at(int(px), int(py)), srgbByte(mixed.x), srgbByte(mixed.y), srgbByte(mixed.z), kTolerance, int(px),
                   int(py));
        EXPECT_EQ(count(isOpenEdgeColour), 0);

        TestMesh fan({fanOnOneEdge()});
        build(fan);
        draw({fan.gpu}, camera);
        for (double x = -0.5; x < 0.51; x += 0.25) EXPECT_TRUE(seenNear({x, 0, 0}, blue)) << x;

        EXPECT_TRUE(seenNear({-0.5, 0.5, 0}, red));
    }
}

// Problems on the side the section removes go with it.
TEST_F(RenderProblems, TheSectionCutsProblemsAway) {
    for (RenderMode mode : {kRenderSolid, kRenderOutline, kRenderWireframe}) {
        SCOPED_TRACE(int(mode));
        TestMesh holed({cubeWithout(0)});
        build(holed);
        Camera camera;
        camera.mode = mode;
        camera.showProblems = true;
        camera.section = {1, 2, 0, 0.5f};  // z <= 0 kept: the hole goes
        draw({holed.gpu}, camera);
        EXPECT_EQ(count(isOpenEdgeColour), 0);
        camera.section.flip = 1;
        draw({holed.gpu}, camera);
        EXPECT_GT(count(isOpenEdgeColour), 20);
    }
}

// A box from low to high, its faces wound outward, each quad's diagonal
// from its first corner to its third.
void addBox(TestSolid* solid, Vec3 low, Vec3 high) {
    static const int quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    auto corner = [&](int i, float out[3]) {
        out[0] = float(i & 1 ? high.x : low.x);
        out[1] = float(i & 2 ? high.y : low.y);
        out[2] = float(i & 4 ? high.z : low.z);
    };
    for (const auto& q : quads)
        for (int half = 0; half < 2; ++half) {
            float v[3][3];
            corner(q[0], v[0]);
            corner(q[1 + half], v[1]);
            corner(q[2 + half], v[2]);
            solid->triangles.push_back(triangle(v));
        }
}

// A T standing on its stem, Y up: a stem 1 wide and 2 high, arms of 1 on
// either side at the top. Only the arms' undersides overhang.
TestSolid tSolid() {
    TestSolid solid;
    addBox(&solid, {-0.5, 0, -0.5}, {0.5, 3, 0.5});
    addBox(&solid, {-1.5, 2, -0.5}, {-0.5, 3, 0.5});
    addBox(&solid, {0.5, 2, -0.5}, {1.5, 3, 0.5});
    return solid;
}

// The camera looking at the model from direction `towardsEye`, world Y up on the screen.
Camera cameraFrom(Vec3 towardsEye) {
    Vec3 back = normalize(towardsEye);
    Vec3 right = normalize(cross({0, 1, 0}, back));
    Vec3 up = cross(back, right);
    Camera camera;
    const Vec3 columns[3] = {right, up, back};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) camera.frame.rotation[i][j] = float((&columns[j].x)[i]);
    return camera;
}

// Show overhangs: from below, the arms' undersides in the tint and the
// stem's foot (on the bed) not; from above none on the tops; the lines of
// Wireframe tinted for the undersides and not for the tops; an inside-out
// part told so is tinted the same; nothing while off.
TEST_F(RenderProblems, OverhangsTintTheUndersideOfATInEveryMode) {
    // The middles of the right arm's underside and top lie on their
    // diagonals, which Outline draws over; the inside points lie off them.
    const Vec3 undersideMiddle = {1, 2, 0}, topMiddle = {1, 3, 0}, foot = {0, 0, 0};
    const Vec3 underside = {1.25, 2, -0.25}, top = {1.25, 3, -0.25};
    auto tinted = [&](int x, int y) { return isOverhangPixel(at(x, y)); };
    auto plainLine = [&](int x, int y) { return !isBackground(x, y) && !isOverhangPixel(at(x, y)); };
    auto tintAt = [&](Vec3 point) {
        double px, py;
        EXPECT_TRUE(pixelOf(camera_, kSize, kSize, point, &px, &py));
        return isOverhangPixel(at(int(px), int(py)));
    };
    for (RenderMode mode : {kRenderSolid, kRenderOutline, kRenderWireframe}) {
        SCOPED_TRACE(int(mode));
        if (underWineVulkan() && mode != kRenderSolid) continue;  // wireframe polygons come out filled
        for (bool insideOut : {false, true}) {
            SCOPED_TRACE(insideOut);
            TestSolid solid = tSolid();
            if (insideOut)
                for (StlTriangle& t : solid.triangles) std::swap(t.vertices[1], t.vertices[2]);
            TestMesh mesh({solid});
            ASSERT_TRUE(mesh.build(pipeline_->device));
            mesh.gpu->insideOut = insideOut;
            Camera below = cameraFrom({0.4, -0.8, 1}), above = cameraFrom({0.4, 0.8, 1});
            below.mode = above.mode = mode;
            draw({mesh.gpu}, below);
            EXPECT_EQ(count(isOverhangPixel), 0);
            below.overhangs.on = above.overhangs.on = 1;
            draw({mesh.gpu}, below);
            if (mode == kRenderWireframe) {
                EXPECT_TRUE(seenNear(undersideMiddle, tinted));
                EXPECT_GT(count(isOverhangPixel), 10);
            } else {
                EXPECT_TRUE(tintAt(underside));
                EXPECT_FALSE(tintAt(foot));
                EXPECT_GT(count(isOverhangPixel), 100);
            }
            draw({mesh.gpu}, above);
            if (mode == kRenderWireframe) {
                EXPECT_TRUE(seenNear(topMiddle, plainLine));
                EXPECT_FALSE(seenNear(topMiddle, tinted));
            } else {
                // At most the rim where an underside meets a wall may show a pixel.
                EXPECT_FALSE(tintAt(top));
                EXPECT_LT(count(isOverhangPixel), 20);
            }
        }
    }
}

// The tint goes through the section: cut down the middle, the kept arm's
// underside is tinted and the removed one's is gone, either way round.
TEST_F(RenderProblems, OverhangsShowThroughTheSection) {
    TestMesh mesh({tSolid()});
    ASSERT_TRUE(mesh.build(pipeline_->device));
    Camera below = cameraFrom({0.4, -0.8, 1});
    below.overhangs.on = 1;
    below.section = {1, 0, 0, 0.5f};  // x <= 0 kept
    auto tintAt = [&](Vec3 point) {
        double px, py;
        EXPECT_TRUE(pixelOf(camera_, kSize, kSize, point, &px, &py));
        return isOverhangPixel(at(int(px), int(py)));
    };
    for (RenderMode mode : {kRenderSolid, kRenderOutline}) {
        if (underWineVulkan() && mode != kRenderSolid) continue;  // wireframe polygons come out filled
        below.mode = mode;
        below.section.flip = 0;
        draw({mesh.gpu}, below);
        // Off the undersides' diagonals, which Outline draws over.
        const Vec3 left = {-1.25, 2, 0.25}, right = {1.25, 2, -0.25};
        EXPECT_TRUE(tintAt(left));
        EXPECT_FALSE(tintAt(right));
        below.section.flip = 1;
        draw({mesh.gpu}, below);
        EXPECT_FALSE(tintAt(left));
        EXPECT_TRUE(tintAt(right));
    }
}

// The sample models as the viewer first shows them: the settings' start
// angles, the default material, the system's workspace colour, about the
// size of the view in the dialog.
class DefaultView : public testing::TestWithParam<const char*> {};

TEST_P(DefaultView, FillsTheViewUprightAndLit) {
    std::ifstream file(std::string(STLV_SAMPLES_DIR) + "/" + GetParam(), std::ios::binary);
    Loaded loaded(std::string(std::istreambuf_iterator<char>(file), {}));
    ASSERT_TRUE(loaded.loaded());
    loaded.part.gpuMesh = loaded.gpu;
    loaded.part.heap = loaded.heap;
    const uint32_t background = GetSysColor(COLOR_APPWORKSPACE) | 0xFF000000;
    const PictureLook look{690, 535, kRenderSolid, degreesToAngle(331), degreesToAngle(28), 0xFFF0F0F0, background};
    Picture picture;
    RecordingSink sink;
    ASSERT_TRUE(renderPartsPicture(&loaded.part, 1, &look, &picture, &sink.sink));
    for (const Received& report : sink.received) EXPECT_LT(report.code, kErrorClass);
    int left = look.width, right = -1, top = look.height, bottom = -1, covered = 0;
    for (int y = 0; y < look.height; ++y)
        for (int x = 0; x < look.width; ++x) {
            if (closeTo(pixelOf(reinterpret_cast<const uint32_t*>(picture.pixels)[y * look.width + x]), pixelOf(background), 1))
                continue;
            ++covered;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    freePicture(&picture);
    // Whole and in the middle: the bounding sphere fits the view's height.
    ASSERT_GT(covered, look.width * look.height / 20);
    EXPECT_GT(left, 0);
    EXPECT_LT(right, look.width - 1);
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, look.height - 1);
    EXPECT_GT(bottom - top, look.height / 3);
    EXPECT_NEAR((left + right) / 2.0, look.width / 2.0, look.width / 8.0);
}

INSTANTIATE_TEST_SUITE_P(Samples, DefaultView, testing::Values("desk_lamp.stl", "rainbow_torus.stl"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

}  // namespace
