// A model in many vertex buffers draws exactly as in one: frames in every
// mode, with a section, the problems shown and a solid hidden; pictures and
// Explorer thumbnails. Pieces are lowered far below any adapter's size
// through the upload's seam, to sizes that split solids at odd places.
// Pictures beyond one target's size or budget come in tiles, as whole ones;
// thumbnails share one device; a picture whose device is lost is drawn on a
// new one.
#include "tests/render_test_support.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "app/thumbnail/thumbnail_image.h"
#include "load/load_job.h"
#include "mesh/surface_check.h"
#include "view/offscreen_render.h"
#include "view/problem_edges.h"

namespace {

using namespace render_test;

constexpr int kSide = 96;
constexpr int kRings = 96, kSegments = 48;  // 9,216 triangles

// A torus around the z axis in three binary blocks (solids) of odd sizes,
// with a hole (two faces left out) and a few faces turned over, so that
// every kind of problem shows; coloured triangles, so that a wrong vertex
// would show as a wrong colour as well as a wrong shape.
std::string torusFile() {
    std::vector<TestTriangle> all;
    auto at = [](int ring, int segment) {
        const double kTurn = 6.283185307179586;
        double u = kTurn * ring / kRings, v = kTurn * segment / kSegments;
        return std::array<float, 3>{float((3 + std::cos(v)) * std::cos(u)), float((3 + std::cos(v)) * std::sin(u)),
                                    float(std::sin(v))};
    };
    for (int r = 0; r < kRings; ++r)
        for (int s = 0; s < kSegments; ++s) {
            auto a = at(r, s), b = at(r + 1, s), c = at(r + 1, s + 1), d = at(r, s + 1);
            uint16_t colour = uint16_t(0x8000 | (r % 32) | (s % 32) << 5 | ((r + s) % 32) << 10);
            for (const auto& face : {std::array{a, b, c}, std::array{a, c, d}}) {
                TestTriangle t{{0, 0, 0}, {}, colour};
                for (int k = 0; k < 3; ++k) memcpy(t.vertices[k], face[k].data(), 12);
                all.push_back(t);
            }
        }
    all.erase(all.begin() + 4000, all.begin() + 4002);
    for (size_t i : {100, 2500, 7000}) std::swap(all[i].vertices[1], all[i].vertices[2]);
    const size_t blocks[3] = {3001, 4097, all.size() - 3001 - 4097};
    std::string bytes = binaryHeader(uint32_t(blocks[0]), "COLOR=\xff\xff\xff\xff");
    size_t next = 0;
    for (int b = 0; b < 3; ++b) {
        if (b > 0) appendUint32(&bytes, uint32_t(blocks[b]));
        for (size_t i = 0; i < blocks[b]; ++i) appendTriangle(&bytes, all[next++]);
    }
    return bytes;
}

// Pieces of 64 KiB (1,365 triangles) and of 97 triangles and 5 bytes.
const uint64_t kPieceLimits[] = {64 * 1024, 48 * 97 + 5};

struct PieceLimit {
    explicit PieceLimit(uint64_t bytes) { limitPieceBytes(bytes); }
    ~PieceLimit() { limitPieceBytes(0); }
};

// The file as the load leaves it without a view: parsed, its mesh prepared.
struct Part {
    std::string bytes = torusFile();
    HeapHandle heap = createPrivateHeap();
    ModelPart part{};
    std::vector<uint8_t> marks;
    bool ok = false;

    Part() {
        ok = buildModelPart(&part, 0, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), heap, nullptr,
                            nullptr);
        marks.resize(meshTriangleCount(&part.mesh) + 1);
        SurfaceCheck check;
        ok = ok && checkSurface(&part.mesh, &check, marks.data(), nullptr, nullptr) && check.openEdges > 0 &&
             check.flippedEdges > 0;
    }
    ~Part() {
        releaseGpuMesh(gpu());
        destroyPrivateHeap(heap);
    }
    GpuMesh* gpu() const { return static_cast<GpuMesh*>(part.gpuMesh); }
    // On the device with its problem lists, in pieces of the limit's size.
    bool upload(ID3D11Device* device) {
        releaseGpuMesh(gpu());
        gpu()->problemMarks = nullptr;
        return buildGpuMesh(gpu(), device, &part.mesh, part.metadata.colorOrder, heap, nullptr) &&
               buildProblemEdges(gpu(), gpu()->pieces, device, marks.data(), nullptr);
    }
};

class RenderPieces : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(pipeline_, nullptr);
        ASSERT_TRUE(target_.ok);
        ASSERT_TRUE(model_.ok);
    }
    // Every picture the frame code makes of the model in its current pieces.
    std::vector<std::vector<uint32_t>> frames() {
        std::vector<std::vector<uint32_t>> all;
        GpuMesh* mesh = model_.gpu();
        for (RenderMode mode : {kRenderSolid, kRenderWireframe, kRenderOutline})
            for (bool cut : {false, true})
                for (uint8_t hidden : {0, 1}) {
                    model_.part.visibleSolids[1] = !hidden;
                    Camera camera;
                    camera.mode = mode;
                    camera.showProblems = true;
                    camera.section = {cut, 0, 0, 0.4f};
                    setYawPitch(&camera, 0x12345678, 0xE0000000);
                    camera.fitTo({mesh});
                    render(pipeline_, &target_, {mesh}, camera);
                    all.push_back(target_.pixels);
                }
        model_.part.visibleSolids[1] = 1;
        return all;
    }
    static void setYawPitch(Camera* camera, int32_t yaw, int32_t pitch) {
        rotationFromAngles(pitch, yaw, camera->frame.rotation);
    }

    const GpuPipeline* pipeline_ = sharedPipeline();
    Target target_{pipeline_ ? pipeline_->device : nullptr, kSide, kSide};
    Part model_;
};

TEST_F(RenderPieces, FramesFromManyPiecesEqualThoseFromOne) {
    ASSERT_TRUE(model_.upload(pipeline_->device));
    ASSERT_EQ(copyOf(model_.gpu()->pieceCount), 1u);
    std::vector<std::vector<uint32_t>> whole = frames();
    // Not a blank picture: the model, its problems and the section show.
    EXPECT_NE(whole[0], whole[2]);
    EXPECT_NE(whole[0], whole[1]);
    for (uint64_t limit : kPieceLimits) {
        SCOPED_TRACE(limit);
        PieceLimit pieces(limit);
        ASSERT_TRUE(model_.upload(pipeline_->device));
        uint32_t each = uint32_t(limit / 48);
        EXPECT_EQ(copyOf(model_.gpu()->pieceCount), (9214 + each - 1) / each);
        EXPECT_EQ(copyOf(model_.gpu()->pieces[1].triangleCount), each);
        std::vector<std::vector<uint32_t>> split = frames();
        ASSERT_EQ(split.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i) EXPECT_TRUE(split[i] == whole[i]) << "frame " << i;
    }
}

// The command-line picture and the thumbnail take the same path.
TEST_F(RenderPieces, PicturesAndThumbnailsFromManyPiecesEqualThoseFromOne) {
    PictureLook look = {160, 120, kRenderOutline, 0x12345678, int32_t(0xE0000000), 0xFFF0F0F0, 0xFF203040, {1, 2, 1, 0.3f}};
    auto picture = [&] {
        Picture p;
        EXPECT_TRUE(renderPartsPicture(&model_.part, 1, &look, &p, nullptr));
        std::vector<uint8_t> bytes(p.pixels, p.pixels + size_t(p.width) * p.height * 4);
        freePicture(&p);
        return bytes;
    };
    auto thumbnail = [&] {
        std::vector<uint8_t> bytes;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, model_.bytes.size());
        memcpy(GlobalLock(memory), model_.bytes.data(), model_.bytes.size());
        GlobalUnlock(memory);
        IStream* stream = nullptr;
        EXPECT_EQ(CreateStreamOnHGlobal(memory, TRUE, &stream), S_OK);
        HBITMAP bitmap = nullptr;
        EXPECT_EQ(thumbnailFromStream(stream, 128, &bitmap), S_OK);
        stream->Release();
        DIBSECTION section{};
        if (bitmap && GetObjectW(bitmap, sizeof section, &section)) {
            const uint8_t* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
            bytes.assign(bits, bits + 128 * 128 * 4);
        }
        if (bitmap) DeleteObject(bitmap);
        return bytes;
    };
    std::vector<uint8_t> wholePicture = picture(), wholeThumbnail = thumbnail();
    ASSERT_EQ(wholeThumbnail.size(), 128u * 128 * 4);
    EXPECT_GT(std::count(wholeThumbnail.begin(), wholeThumbnail.end(), 0), 0);  // transparent corners
    EXPECT_NE(std::count(wholeThumbnail.begin(), wholeThumbnail.end(), 0), int(wholeThumbnail.size()));
    for (uint64_t limit : kPieceLimits) {
        SCOPED_TRACE(limit);
        PieceLimit pieces(limit);
        EXPECT_TRUE(picture() == wholePicture);
        EXPECT_TRUE(thumbnail() == wholeThumbnail);
    }
}

// The picture of the torus at a size, with every sample count refused but
// one, so that tiles and whole pictures are drawn alike.
std::vector<uint8_t> pictureOf(ModelPart* part, int32_t width, int32_t height, const MessageSink* sink = nullptr) {
    PictureLook look = {width, height, kRenderOutline, 0x12345678, int32_t(0xE0000000), 0xFFF0F0F0, 0xFF203040,
                        {1, 2, 1, 0.3f}};
    Picture p;
    EXPECT_TRUE(renderPartsPicture(part, 1, &look, &p, sink));
    std::vector<uint8_t> bytes;
    if (p.pixels) bytes.assign(p.pixels, p.pixels + size_t(p.width) * p.height * 4);
    freePicture(&p);
    return bytes;
}

struct OneSample {
    OneSample() { failTargetsAbove(1); }
    ~OneSample() {
        failTargetsAbove(0);
        pretendAdapter(0, 0);
    }
};

// On an adapter of 1 MB (targets of 43,690 pixels at most) and one whose
// textures stop at 8,192 (feature level 10_x), pictures come in tiles
// that make up the picture drawn whole.
TEST_F(RenderPieces, TiledPicturesEqualWholeOnes) {
    OneSample oneSample;
    for (auto [width, height, budget, side] : {std::array<int64_t, 4>{900, 700, 1 << 20, 0},
                                               std::array<int64_t, 4>{9000, 48, 0, 8192}}) {
        SCOPED_TRACE(width);
        std::vector<uint8_t> whole = pictureOf(&model_.part, int32_t(width), int32_t(height));
        ASSERT_EQ(whole.size(), size_t(width * height * 4));
        EXPECT_NE(std::count(whole.begin(), whole.end(), whole[0]), std::ptrdiff_t(whole.size()));
        pretendAdapter(uint64_t(budget), int32_t(side));
        RecordingSink sink;
        std::vector<uint8_t> tiled = pictureOf(&model_.part, int32_t(width), int32_t(height), &sink.sink);
        ASSERT_EQ(tiled.size(), whole.size());
        // Every edge and line where it is whole; a shade may round the other
        // way in a few pixels, as the rasterizer interpolates from its own
        // tile's corner.
        int differing = 0, most = 0;
        for (size_t i = 0; i < whole.size(); i += 4) {
            int d = 0;
            for (int c = 0; c < 4; ++c) d = std::max(d, std::abs(whole[i + c] - tiled[i + c]));
            differing += d != 0;
            most = std::max(most, d);
        }
        EXPECT_LE(most, 1);
        EXPECT_LE(differing, width * height / 10000);
        EXPECT_TRUE(sink.received.empty());
        pretendAdapter(0, 0);
    }
}

// An Explorer host draws many thumbnails: one device serves them all, and
// one lost meanwhile is made anew for the next without a word.
TEST_F(RenderPieces, ThumbnailsShareOneDeviceAndALostOneIsMadeAnew) {
    std::vector<uint8_t> first = pictureOf(&model_.part, 128, 128);
    uint32_t made = pictureDevicesMade();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pictureOf(&model_.part, 128, 128) == first);
    EXPECT_EQ(pictureDevicesMade(), made);
    RecordingSink sink;
    injectGpuFailure(kCallCreateBuffer, int32_t(0x887A0005));
    EXPECT_TRUE(pictureOf(&model_.part, 128, 128, &sink.sink) == first);
    EXPECT_EQ(pictureDevicesMade(), made + 1);
    EXPECT_TRUE(sink.received.empty());
    releasePictureDevice();
    EXPECT_TRUE(pictureOf(&model_.part, 128, 128) == first);
    EXPECT_EQ(pictureDevicesMade(), made + 2);
}

}  // namespace
