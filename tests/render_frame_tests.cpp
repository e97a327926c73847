// Frames rendered by renderFrame into an offscreen sRGB target and read
// back: shades follow the lit shaders' formulas, modes, visibility, axes and
// triangle colours show as the view promises.
#include "load/load_job.h"
#include "tests/render_test_support.h"

#include <array>

namespace {

using namespace render_test;

constexpr int kSize = 64;
constexpr int kTolerance = 2;  // sRGB bytes

// The unit square at z = 0, facing +z, as two triangles.
TestSolid square(float x0 = -1, float y0 = -1, float x1 = 1, float y1 = 1, float z = 0, uint16_t attribute = 0) {
    TestSolid solid;
    solid.triangles.push_back({{{x0, y0, z}, {x1, y0, z}, {x1, y1, z}}, attribute});
    solid.triangles.push_back({{{x0, y0, z}, {x1, y1, z}, {x0, y1, z}}, attribute});
    return solid;
}

void expectNear(Pixel actual, int r, int g, int b, int tolerance, const char* where, int x, int y) {
    EXPECT_NEAR(actual.r, r, tolerance) << where << " red at " << x << "," << y;
    EXPECT_NEAR(actual.g, g, tolerance) << where << " green at " << x << "," << y;
    EXPECT_NEAR(actual.b, b, tolerance) << where << " blue at " << x << "," << y;
}

// Within the rounding of the sRGB encoding.
bool sameColour(Pixel a, Pixel b) {
    return std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 && std::abs(a.b - b.b) <= 1;
}

class RenderFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pipeline_.made);
        target_ = std::make_unique<Target>(pipeline_.device(), kSize, kSize);
        ASSERT_TRUE(target_->ok());
    }

    // The view's way of drawing: box, centre and radius from the meshes.
    void draw(const std::vector<GpuMesh*>& meshes, Camera camera = Camera()) {
        camera.fitTo(meshes);
        camera_ = camera;
        render(pipeline_, target_.get(), meshes, camera, &sink_.sink);
    }

    Pixel at(int x, int y) const { return target_->at(x, y); }
    Pixel background() const {
        uint32_t c = camera_.background;
        return Pixel{int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF), int(c >> 24)};
    }
    bool isBackground(int x, int y) const { return sameColour(at(x, y), background()); }

    // Expected bytes of a head-on face (normal +z, front view) at a pixel.
    void expectHeadOnShade(int x, int y, Vec3 colour) {
        Vec3 lit = litColour(rayThroughPixel(x, y, kSize, kSize, camera_.zoom), {0, 0, 1}, frontLight(), colour);
        expectNear(at(x, y), srgbByte(lit.x), srgbByte(lit.y), srgbByte(lit.z), kTolerance, "lit", x, y);
    }

    Pipeline& pipeline_ = sharedPipeline();
    std::unique_ptr<Target> target_;
    RecordingSink sink_;
    Camera camera_;
};

TEST_F(RenderFrame, HeadOnFaceShowsTheShadeOfTheLightingFormulas) {
    TestMesh mesh({square()});
    ASSERT_TRUE(mesh.build(pipeline_.device()));
    Camera camera;
    camera.background = 0xFF996633;
    draw({mesh.gpu()}, camera);
    // The table undoes the sRGB encoding of the target: the bytes come back.
    for (int i = 0; i < kSize; i += 7) {
        expectNear(at(i, 1), 0x33, 0x66, 0x99, 1, "background", i, 1);
        expectNear(at(kSize - 1, i), 0x33, 0x66, 0x99, 1, "background", kSize - 1, i);
    }
    EXPECT_EQ(at(0, 0).a, 255);
    // The square spans about 11 to 53 of 64 pixels; these stay off its diagonal.
    const int inside[][2] = {{32, 20}, {24, 40}, {40, 30}, {20, 22}, {44, 45}};
    for (const auto& [x, y] : inside) expectHeadOnShade(x, y, {1, 1, 1});
    // Worked through once for the centre: D = 0.64·6/7 + 0.16·0.6, about 0.6446;
    // S = (0.07 + 0.56875·6/7)^8, about 0.0093: 0.654 linear, 211 encoded.
    expectNear(at(32, 32), 211, 211, 211, kTolerance, "centre", 32, 32);
    EXPECT_TRUE(sink_.received.empty());
}

TEST_F(RenderFrame, EitherWindingShadesAlike) {
    // A tilted triangle: the geometry shader flips the normal of one winding.
    TestSolid forward, backward;
    forward.triangles.push_back({{{-1, -1, 0}, {1, -0.8f, 0.6f}, {0, 1, -0.5f}}});
    backward.triangles.push_back({{{-1, -1, 0}, {0, 1, -0.5f}, {1, -0.8f, 0.6f}}});
    TestMesh first({forward}), second({backward});
    ASSERT_TRUE(first.build(pipeline_.device()));
    ASSERT_TRUE(second.build(pipeline_.device()));
    draw({first.gpu()});
    std::vector<uint32_t> forwardPixels = target_->pixels();
    draw({second.gpu()});
    int covered = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            Pixel a = pixelOf(forwardPixels[size_t(y) * kSize + x]), b = at(x, y);
            ASSERT_NEAR(a.r, b.r, 1) << x << "," << y;
            ASSERT_NEAR(a.g, b.g, 1) << x << "," << y;
            ASSERT_NEAR(a.b, b.b, 1) << x << "," << y;
            if (!isBackground(x, y)) ++covered;
        }
    }
    EXPECT_GT(covered, kSize * kSize / 6);
    // And the shade is the formulas' for the normal turned to the eye.
    const Vec3 a = {-1, -1, 0}, b = {1, -0.8f, 0.6f}, c = {0, 1, -0.5f};
    double px, py;
    ASSERT_TRUE(pixelOf(camera_, kSize, kSize, (1.0 / 3) * (a + b + c), &px, &py));
    int x = int(px), y = int(py);
    Vec3 eye = eyeOf(camera_);
    Vec3 surface = surfaceAtPixel(camera_, kSize, kSize, x, y, a, b, c);
    Vec3 lit = litColour(surface - eye, faceNormalTowards(a, b, c, eye), frontLight(), {1, 1, 1});
    expectNear(at(x, y), srgbByte(lit.x), srgbByte(lit.y), srgbByte(lit.z), kTolerance, "tilted", x, y);
}

// Both passes of the outline mode skip a hidden solid too.
TEST_F(RenderFrame, HiddenSolidsVanish) {
    for (RenderMode mode : {kRenderSolid, kRenderOutline}) {
        SCOPED_TRACE(int(mode));
        TestMesh mesh({square(-2, -1, -0.2f, 1), square(0.2f, -1, 2, 1)});
        ASSERT_TRUE(mesh.build(pipeline_.device()));
        Camera camera;
        camera.mode = mode;
        draw({mesh.gpu()}, camera);
        const int leftX = 16, rightX = 48, y = 32;
        ASSERT_FALSE(isBackground(leftX, y));
        ASSERT_FALSE(isBackground(rightX, y));
        mesh.visible()[1] = 0;
        draw({mesh.gpu()}, camera);
        EXPECT_FALSE(isBackground(leftX, y));
        for (int x = 34; x < kSize; ++x)
            for (int row = 0; row < kSize; ++row) ASSERT_TRUE(isBackground(x, row)) << x << "," << row;
        mesh.visible()[0] = 0;
        draw({mesh.gpu()}, camera);
        for (int x = 0; x < kSize; ++x)
            for (int row = 0; row < kSize; ++row) ASSERT_TRUE(isBackground(x, row)) << x << "," << row;
    }
}

TEST_F(RenderFrame, WireframeDrawsOnlyTheEdges) {
    TestSolid solid;
    solid.triangles.push_back({{{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}});
    TestMesh mesh({solid});
    ASSERT_TRUE(mesh.build(pipeline_.device()));
    draw({mesh.gpu()});
    const int rows[] = {28, 34, 40};
    int spans[3][2];
    for (int i = 0; i < 3; ++i) {
        int first = -1, last = -1;
        for (int x = 0; x < kSize; ++x)
            if (!isBackground(x, rows[i])) {
                if (first < 0) first = x;
                last = x;
            }
        ASSERT_GE(first, 0);
        ASSERT_GT(last - first, 8) << "row " << rows[i];
        spans[i][0] = first;
        spans[i][1] = last;
    }
    Camera camera;
    camera.mode = kRenderWireframe;
    draw({mesh.gpu()}, camera);
    for (int i = 0; i < 3; ++i) {
        int y = rows[i], first = spans[i][0], last = spans[i][1];
        // Inside the face only the background shows...
        for (int x = first + 3; x <= last - 3; ++x) EXPECT_TRUE(isBackground(x, y)) << x << "," << y;
        // ...and each slanted edge leaves a mark where the face began and ended.
        bool leftEdge = false, rightEdge = false;
        for (int x = first - 2; x <= first + 2; ++x) leftEdge |= !isBackground(x, y);
        for (int x = last - 2; x <= last + 2; ++x) rightEdge |= !isBackground(x, y);
        EXPECT_TRUE(leftEdge) << "row " << y;
        EXPECT_TRUE(rightEdge) << "row " << y;
    }
    // Outside the triangle nothing.
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

const OutlineCase kOutlineCases[] = {
    // Neither face square on.
    {"tilted square",
     {{-1, -1, -0.4}, {1, -1, 0.3}, {1, 1, 0.5}, {-1, 1, -0.2}},
     {{0, 1, 2}, {0, 2, 3}},
     {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}},
     {},
     {0, 1}},
    // The front face square on, as in the preset views: its border and its
    // diagonal show, the back face's border stays behind it.
    {"cube seen from the front",
     cubeCorners(),
     {{4, 5, 7}, {4, 7, 6}, {0, 3, 1}, {0, 2, 3}, {1, 3, 7}, {1, 7, 5}, {0, 4, 6}, {0, 6, 2}, {2, 6, 7}, {2, 7, 3},
      {0, 1, 5}, {0, 5, 4}},
     {{4, 5}, {5, 7}, {7, 6}, {6, 4}, {4, 7}},
     {{0, 1}, {1, 3}, {3, 2}, {2, 0}},
     {0, 1}},
};

TEST_F(RenderFrame, OutlineDrawsTheVisibleEdgesOverTheSolidInTheObjectColour) {
    // Unlit and not squared: the sRGB target encodes the colour bytes as linear values.
    const int edgeR = srgbByte(1.0), edgeG = srgbByte(64 / 255.0), edgeB = srgbByte(0);
    auto isEdgeColour = [&](int x, int y) {
        Pixel p = at(x, y);
        return std::abs(p.r - edgeR) <= kTolerance && std::abs(p.g - edgeG) <= kTolerance &&
               std::abs(p.b - edgeB) <= kTolerance;
    };
    // Whether the edge colour shows within a pixel of the point.
    auto edgeColourNear = [&](Vec3 point) {
        double px, py;
        EXPECT_TRUE(pixelOf(camera_, kSize, kSize, point, &px, &py));
        bool seen = false;
        for (int y = int(py) - 1; y <= int(py) + 1; ++y)
            for (int x = int(px) - 1; x <= int(px) + 1; ++x) seen |= isEdgeColour(x, y);
        return seen;
    };
    for (const OutlineCase& model : kOutlineCases) {
        SCOPED_TRACE(model.name);
        const std::vector<Vec3>& corners = model.corners;
        TestSolid solid;
        for (const auto& face : model.faces) {
            Triangle t;
            for (int k = 0; k < 3; ++k)
                for (int axis = 0; axis < 3; ++axis)
                    t.v[k][axis] = float(axis == 0 ? corners[face[k]].x : axis == 1 ? corners[face[k]].y : corners[face[k]].z);
            solid.triangles.push_back(t);
        }
        TestMesh mesh({solid});
        ASSERT_TRUE(mesh.build(pipeline_.device()));
        mesh.gpu()->color = 0xFF0040FF;  // red 255, green 64, blue 0
        auto along = [&](const std::array<int, 2>& edge, double t) {
            return corners[edge[0]] + t * (corners[edge[1]] - corners[edge[0]]);
        };
        Camera camera;
        // Solid first: nowhere along the edges is the edge colour.
        draw({mesh.gpu()}, camera);
        for (const auto& edge : model.shownEdges)
            for (double t = 0.15; t < 0.86; t += 0.05) ASSERT_FALSE(edgeColourNear(along(edge, t)));
        camera.mode = kRenderOutline;
        draw({mesh.gpu()}, camera);
        // Every seen edge, the diagonals between faces included, shows along its length.
        for (const auto& edge : model.shownEdges) {
            int samples = 0, shown = 0;
            for (double t = 0.15; t < 0.86; t += 0.05, ++samples) shown += edgeColourNear(along(edge, t));
            EXPECT_GE(shown, samples - 1) << "edge " << edge[0] << "-" << edge[1];
        }
        // Away from where the seen edges cross them, hidden edges leave no mark.
        for (const auto& edge : model.hiddenEdges)
            for (double t = 0.25; t < 0.76; t += 0.05)
                EXPECT_FALSE(edgeColourNear(along(edge, t))) << "edge " << edge[0] << "-" << edge[1] << " at " << t;
        // Inside each seen face, away from the edges, the face lit in the object colour.
        for (int index : model.frontFaces) {
            const auto& face = model.faces[size_t(index)];
            Vec3 a = corners[face[0]], b = corners[face[1]], c = corners[face[2]];
            double px, py;
            ASSERT_TRUE(pixelOf(camera_, kSize, kSize, (1.0 / 3) * (a + b + c), &px, &py));
            int x = int(px), y = int(py);
            Vec3 eye = eyeOf(camera_);
            Vec3 surface = surfaceAtPixel(camera_, kSize, kSize, x, y, a, b, c);
            Vec3 lit = litColour(surface - eye, faceNormalTowards(a, b, c, eye), frontLight(), {1, 64 / 255.0, 0});
            expectNear(at(x, y), srgbByte(lit.x), srgbByte(lit.y), srgbByte(lit.z), kTolerance, "face", x, y);
            EXPECT_FALSE(isEdgeColour(x, y));
        }
    }
}

TEST_F(RenderFrame, ZUpModelStandsUpright) {
    // A triangle standing in the file's XZ plane, apex at z = 4.
    TestSolid solid;
    solid.triangles.push_back({{{-1, 0, 0}, {1, 0, 0}, {0, 0, 4}}});
    TestMesh mesh({solid});
    ASSERT_TRUE(mesh.build(pipeline_.device()));
    Camera camera;
    camera.yUp = false;
    draw({mesh.gpu()}, camera);
    int top = kSize, bottom = -1, left = kSize, right = -1;
    std::vector<int> widths(kSize, 0);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            if (isBackground(x, y)) continue;
            top = std::min(top, y), bottom = std::max(bottom, y);
            left = std::min(left, x), right = std::max(right, x);
            ++widths[y];
        }
    }
    ASSERT_GE(bottom, 0);
    EXPECT_GT(bottom - top, 2 * (right - left));  // four units tall, two wide
    // The apex is up: rows near the top are narrow, rows near the bottom wide.
    EXPECT_LT(widths[top + 2], widths[bottom - 2]);
    EXPECT_NEAR((left + right) / 2.0, kSize / 2.0, 1.5);
    // Drawn as stored (Y up) the same triangle lies along the line of sight.
    camera.yUp = true;
    draw({mesh.gpu()}, camera);
    int covered = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) covered += !isBackground(x, y);
    EXPECT_LT(covered, 2 * kSize);
}

TEST_F(RenderFrame, TriangleColoursAppearAsDecoded) {
    // Bits 10-14 set: blue in "RGB" order, red in "BGR" order.
    const uint16_t attribute = 0x7C00;
    TestSolid coloured = square(-1, -1, 1, 1, 0, attribute);
    coloured.hasColours = true;
    TestMesh rgb({coloured}, 1.0f, 2);
    TestMesh bgr({coloured}, 1.0f, 3);
    // A solid without colours stays white whatever the order.
    TestMesh uncoloured({square(-1, -1, 1, 1, 0, attribute)}, 1.0f, 3);
    ASSERT_TRUE(rgb.build(pipeline_.device()));
    ASSERT_TRUE(bgr.build(pipeline_.device()));
    ASSERT_TRUE(uncoloured.build(pipeline_.device()));
    draw({rgb.gpu()});
    expectHeadOnShade(32, 20, {0, 0, 1});
    EXPECT_GT(at(32, 20).b, at(32, 20).r + 100);
    draw({bgr.gpu()});
    expectHeadOnShade(32, 20, {1, 0, 0});
    EXPECT_GT(at(32, 20).r, at(32, 20).b + 100);
    draw({uncoloured.gpu()});
    expectHeadOnShade(32, 20, {1, 1, 1});
    // The object colour multiplies the vertex colour.
    bgr.gpu()->color = 0xFF00FFFF;  // yellow: red and green
    draw({bgr.gpu()});
    expectHeadOnShade(32, 20, {1, 0, 0});
    bgr.gpu()->color = 0xFFFFFF00;  // cyan: no red left
    draw({bgr.gpu()});
    expectHeadOnShade(32, 20, {0, 0, 0});
}

TEST_F(RenderFrame, SeveralMeshesShareTheFrameWithTheirOwnScaleAndColour) {
    // Millimetres and inches side by side: 20 mm and 0.8 in squares.
    TestMesh millimetres({square(-30, -10, -10, 10)}, 0.001f);
    TestMesh inches({square(0.4f, -0.4f, 1.2f, 0.4f)}, 0.0254f);
    ASSERT_TRUE(millimetres.build(pipeline_.device()));
    ASSERT_TRUE(inches.build(pipeline_.device()));
    millimetres.gpu()->color = 0xFF0000FF;
    inches.gpu()->color = 0xFFFF0000;
    draw({millimetres.gpu(), inches.gpu()});
    // Box: x from -0.03 to 0.03048 m, so the two squares sit left and right of the middle.
    Pixel left = at(18, 32), right = at(46, 32);
    EXPECT_GT(left.r, left.b + 100);
    EXPECT_GT(right.b, right.r + 100);
    EXPECT_TRUE(isBackground(32, 32));
}

// ---------------------------------------------------------------------------
// The sample models as the viewer first shows them, rendered offscreen.

struct LoadedPart {
    ModelPart part{};
    HeapHandle heap = nullptr;
    std::unique_ptr<uint8_t[]> visible;
    GpuMesh* gpu = nullptr;

    ~LoadedPart() {
        if (gpu) releaseGpuMesh(gpu);
        if (heap) destroyPrivateHeap(heap);
        if (part.view) unmapFile(part.view, part.viewSize);
    }
};

bool loadSample(const std::string& name, ID3D11Device* device, LoadedPart* loaded) {
    std::string path = std::string(STLV_SAMPLES_DIR) + "/" + name;
    std::vector<Utf16> wide(path.begin(), path.end());
    wide.push_back(0);
    if (!mapModelFile(wide.data(), nullptr, &loaded->part.view, &loaded->part.viewSize)) return false;
    loaded->heap = createPrivateHeap();
    const uint8_t* begin = loaded->part.view;
    if (!parseModel(&loaded->part, 0, begin, begin + loaded->part.viewSize, loaded->heap, nullptr)) return false;
    applyLoadDefaults(&loaded->part.metadata, nullptr);
    uint32_t solids = loaded->part.mesh.solidCount;
    loaded->visible = std::make_unique<uint8_t[]>(solids + 1);
    memset(loaded->visible.get(), 1, solids + 1);
    loaded->gpu = prepareGpuMesh(&loaded->part.mesh, &loaded->part.metadata, loaded->visible.get(), loaded->heap, nullptr);
    return loaded->gpu && buildGpuMesh(loaded->gpu, device, &loaded->part.mesh, loaded->part.metadata.colorOrder,
                                       loaded->heap, nullptr);
}

class DefaultView : public testing::TestWithParam<const char*> {};

TEST_P(DefaultView, FillsTheViewUprightAndLit) {
    Pipeline& pipeline = sharedPipeline();
    ASSERT_TRUE(pipeline.made);
    LoadedPart loaded;
    ASSERT_TRUE(loadSample(GetParam(), pipeline.device(), &loaded));
    // What the dialog does with a fresh model: its colour rule, the start
    // angles of the settings' defaults, the system's workspace colour.
    const ModelPart& part = loaded.part;
    bool ownColours = part.format == 5 && part.mesh.solidCount && part.mesh.solids[0].hasColours;
    loaded.gpu->color = ownColours ? 0xFFFFFFFF : 0xFFF0F0F0;
    Camera camera;
    camera.background = GetSysColor(COLOR_APPWORKSPACE) | 0xFF000000;
    camera.yUp = part.metadata.coordinateSpace == 1;
    rotationFromAngles(degreesToAngle(331), degreesToAngle(28), camera.rotation);
    camera.fitTo({loaded.gpu});
    // About the size of the view in the dialog, multisampled as the swap chain is.
    const int width = 690, height = 535;
    Target target(pipeline.device(), width, height, pickSampleCount(pipeline.device()));
    ASSERT_TRUE(target.ok());
    RecordingSink sink;
    render(pipeline, &target, {loaded.gpu}, camera, &sink.sink);
    EXPECT_TRUE(sink.received.empty());

    Pixel background = pixelOf(camera.background);
    int left = width, right = -1, top = height, bottom = -1, covered = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel p = target.at(x, y);
            if (std::abs(p.r - background.r) <= 1 && std::abs(p.g - background.g) <= 1 &&
                std::abs(p.b - background.b) <= 1)
                continue;
            ++covered;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    // Whole and in the middle: the bounding sphere fits the view's height.
    ASSERT_GT(covered, width * height / 20);
    EXPECT_GT(left, 0);
    EXPECT_LT(right, width - 1);
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, height - 1);
    EXPECT_GT(bottom - top, height / 3);
    EXPECT_NEAR((left + right) / 2.0, width / 2.0, width / 8.0);
}

INSTANTIATE_TEST_SUITE_P(Samples, DefaultView, testing::Values("desk_lamp.stl", "rainbow_torus.stl"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

}  // namespace
