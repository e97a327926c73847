// Helpers of the Direct3D tests: a pipeline made by the view's own code,
// meshes uploaded from triangles, an offscreen sRGB target to render into and
// read back, and the lighting formulas of the lit shaders for one pixel.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <d3d11.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "core/memory.h"
#include "tests/sink_recorder.h"
#include "view/camera.h"
#include "view/frame_math.h"
#include "view/frame_render.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "tests/view_test_support.h"

namespace render_test {

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

struct Pipeline {
    GpuPipeline pipeline{};
    RecordingSink sink;
    bool made = false;

    Pipeline() { made = createPipeline(&pipeline, &sink.sink); }
    ~Pipeline() {
        if (pipeline.device) releasePipeline(&pipeline);
    }
    ID3D11Device* device() const { return pipeline.device; }
    ID3D11DeviceContext* context() const { return pipeline.context; }
};

// One pipeline for the tests that only need a device: under Wine each
// creation takes most of a second. Never released; the process ends.
inline Pipeline& sharedPipeline() {
    static Pipeline* pipeline = new Pipeline;
    return *pipeline;
}

// Takes an installed mesh out of the view before the mesh's heap goes.
struct Installed {
    HWND view;
    ~Installed() { clearMeshes(view); }
};

struct Triangle {
    float v[3][3];
    uint16_t attribute = 0;
};

struct TestSolid {
    std::vector<Triangle> triangles;
    bool hasColours = false;
};

// A part as the load job leaves it: triangles, solids, visibility bytes and
// the GpuMesh, all in one private heap that goes with the object.
class TestMesh {
public:
    TestMesh(const std::vector<TestSolid>& solids, float unitScale = 1.0f, uint8_t colorOrder = 0) {
        heap_ = createPrivateHeap();
        triangles_.resize(solids.size());
        for (size_t s = 0; s < solids.size(); ++s) {
            for (const Triangle& t : solids[s].triangles) {
                StlTriangle record{};
                memcpy(record.vertices, t.v, sizeof t.v);
                record.attribute = t.attribute;
                triangles_[s].push_back(record);
            }
            StlSolid solid{};
            solid.hasColours = solids[s].hasColours;
            solid.triangleCount = static_cast<uint32_t>(solids[s].triangles.size());
            solid.triangles = triangles_[s].data();
            solids_.push_back(solid);
        }
        mesh_ = StlMesh{nullptr, solids_.data(), static_cast<uint32_t>(solids_.size())};
        metadata_ = StlMetadata{1, unitScale, colorOrder, {0, 0, 0, 0}, {nullptr, 0, 0}};
        visible_ = std::make_unique<uint8_t[]>(solids.size() + 1);
        memset(visible_.get(), 1, solids.size() + 1);
    }
    ~TestMesh() {
        if (gpu_) releaseGpuMesh(gpu_);
        destroyPrivateHeap(heap_);
    }
    TestMesh(const TestMesh&) = delete;
    TestMesh& operator=(const TestMesh&) = delete;

    // Through the Direct3D half of the upload, on a given device.
    bool build(ID3D11Device* device, const MessageSink* sink = nullptr) {
        gpu_ = prepareGpuMesh(&mesh_, &metadata_, visible_.get(), heap_, sink);
        if (!gpu_) return false;
        if (buildGpuMesh(gpu_, device, &mesh_, metadata_.colorOrder, heap_, sink)) return true;
        gpu_ = nullptr;
        return false;
    }
    // Through the whole upload, as the load job does it.
    bool upload(HWND view, const MessageSink* sink = nullptr) {
        gpu_ = uploadMesh(view, &mesh_, &metadata_, visible_.get(), heap_, sink);
        return gpu_ != nullptr;
    }

    GpuMesh* gpu() const { return gpu_; }
    uint8_t* visible() const { return visible_.get(); }
    const StlMesh* mesh() const { return &mesh_; }
    const StlMetadata* metadata() const { return &metadata_; }
    HeapHandle heap() const { return heap_; }

private:
    HeapHandle heap_ = nullptr;
    std::vector<std::vector<StlTriangle>> triangles_;
    std::vector<StlSolid> solids_;
    StlMesh mesh_{};
    StlMetadata metadata_{};
    std::unique_ptr<uint8_t[]> visible_;
    GpuMesh* gpu_ = nullptr;
};

// RGBA bytes, red in the low byte.
struct Pixel {
    int r, g, b, a;
};

inline Pixel pixelOf(uint32_t value) {
    return Pixel{int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF), int(value >> 24)};
}

// An sRGB colour target with a depth buffer and a staging copy to read
// back. Single-sampled by default, so that pixel centres are exact; with
// more samples it is resolved first, as the window's swap chain would be.
class Target {
public:
    Target(ID3D11Device* device, int width, int height, UINT samples = 1)
        : width_(width), height_(height) {
        device->GetImmediateContext(&context_);
        D3D11_TEXTURE2D_DESC description{};
        description.Width = width;
        description.Height = height;
        description.MipLevels = description.ArraySize = 1;
        description.Format = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
        description.SampleDesc.Count = samples;
        description.Usage = D3D11_USAGE_DEFAULT;
        description.BindFlags = D3D11_BIND_RENDER_TARGET;
        ok_ = SUCCEEDED(device->CreateTexture2D(&description, nullptr, &colour_)) &&
              SUCCEEDED(device->CreateRenderTargetView(colour_, nullptr, &colourView_));
        D3D11_TEXTURE2D_DESC depth = description;
        depth.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
        depth.BindFlags = D3D11_BIND_DEPTH_STENCIL;
        ok_ = ok_ && SUCCEEDED(device->CreateTexture2D(&depth, nullptr, &depth_)) &&
              SUCCEEDED(device->CreateDepthStencilView(depth_, nullptr, &depthView_));
        description.SampleDesc.Count = 1;
        if (samples > 1) ok_ = ok_ && SUCCEEDED(device->CreateTexture2D(&description, nullptr, &resolved_));
        description.Usage = D3D11_USAGE_STAGING;
        description.BindFlags = 0;
        description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        ok_ = ok_ && SUCCEEDED(device->CreateTexture2D(&description, nullptr, &readBack_));
    }
    ~Target() {
        release(depthView_);
        release(depth_);
        release(readBack_);
        release(resolved_);
        release(colourView_);
        release(colour_);
        release(context_);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    ID3D11RenderTargetView* colourView() const { return colourView_; }
    ID3D11DepthStencilView* depthView() const { return depthView_; }

    bool read() {
        if (resolved_) {
            context_->ResolveSubresource(resolved_, 0, colour_, 0, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
            context_->CopyResource(readBack_, resolved_);
        } else {
            context_->CopyResource(readBack_, colour_);
        }
        D3D11_MAPPED_SUBRESOURCE mapped;
        if (FAILED(context_->Map(readBack_, 0, D3D11_MAP_READ, 0, &mapped))) return false;
        pixels_.resize(size_t(width_) * height_);
        for (int y = 0; y < height_; ++y)
            memcpy(&pixels_[size_t(y) * width_], static_cast<const uint8_t*>(mapped.pData) + size_t(y) * mapped.RowPitch,
                   size_t(width_) * 4);
        context_->Unmap(readBack_, 0);
        return true;
    }

    Pixel at(int x, int y) const { return pixelOf(pixels_[size_t(y) * width_ + x]); }
    const std::vector<uint32_t>& pixels() const { return pixels_; }

private:
    ID3D11DeviceContext* context_ = nullptr;
    int width_, height_;
    bool ok_ = false;
    ID3D11Texture2D* colour_ = nullptr;
    ID3D11RenderTargetView* colourView_ = nullptr;
    ID3D11Texture2D* resolved_ = nullptr;
    ID3D11Texture2D* readBack_ = nullptr;
    ID3D11Texture2D* depth_ = nullptr;
    ID3D11DepthStencilView* depthView_ = nullptr;
    std::vector<uint32_t> pixels_;
};

// What paintView hands to renderFrame, with the view's defaults: front view,
// no pan, zoom 4.75, the box of the meshes.
struct Camera {
    RenderMode mode = kRenderSolid;
    uint32_t background = 0xFF203040;
    float rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    float pan[3] = {0, 0, 0};
    float zoom = 4.75f;
    bool yUp = true;
    float boxMin[3] = {0, 0, 0};
    float boxMax[3] = {0, 0, 0};

    void fitTo(const std::vector<GpuMesh*>& meshes) {
        for (int axis = 0; axis < 3; ++axis) {
            boxMin[axis] = INFINITY;
            boxMax[axis] = -INFINITY;
        }
        for (const GpuMesh* mesh : meshes) {
            float low[3], high[3];
            memcpy(low, reinterpret_cast<const char*>(mesh) + offsetof(GpuMesh, boundsMin), sizeof low);
            memcpy(high, reinterpret_cast<const char*>(mesh) + offsetof(GpuMesh, boundsMax), sizeof high);
            for (int axis = 0; axis < 3; ++axis) {
                boxMin[axis] = std::min(boxMin[axis], low[axis]);
                boxMax[axis] = std::max(boxMax[axis], high[axis]);
            }
        }
    }
    float radius() const { return boxRadius(boxMin, boxMax); }
    void centre(float out[3]) const {
        for (int axis = 0; axis < 3; ++axis) out[axis] = (boxMin[axis] + boxMax[axis]) * 0.5f;
    }
    void clearColour(float out[4]) const {
        out[0] = kClearColourTable[background & 0xFF];
        out[1] = kClearColourTable[background >> 8 & 0xFF];
        out[2] = kClearColourTable[background >> 16 & 0xFF];
        out[3] = float(background >> 24) / 255.0f;
    }
};

inline void render(const Pipeline& pipeline, Target* target, const std::vector<GpuMesh*>& meshList, const Camera& camera,
                   const MessageSink* sink = nullptr) {
    GpuMesh* meshes[kViewMeshSlots] = {};
    for (size_t i = 0; i < meshList.size() && i < kViewMeshSlots; ++i) meshes[i] = meshList[i];
    float clear[4], centre[3];
    camera.clearColour(clear);
    camera.centre(centre);
    renderFrame(&pipeline.pipeline, camera.mode, meshes, target->colourView(), target->depthView(), target->width(),
                target->height(), clear, centre, camera.rotation, camera.pan, camera.radius(), camera.zoom, camera.yUp,
                sink);
    pipeline.context()->ClearState();
    ASSERT_TRUE(target->read());
}

// ---------------------------------------------------------------------------
// The lit shaders' formulas, evaluated in double precision.

struct Vec3 {
    double x, y, z;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 normalize(Vec3 a) { return (1 / std::sqrt(dot(a, a))) * a; }
inline double saturate(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// The light of the front view: (2, 3, 6) / 7.
inline Vec3 frontLight() { return {2.0 / 7, 3.0 / 7, 6.0 / 7}; }

// Linear colour of a lit pixel: V from the eye to the surface, N the normal
// facing the eye, K the vertex colour times the object colour.
inline Vec3 litColour(Vec3 V, Vec3 N, Vec3 L, Vec3 K) {
    V = normalize(V);
    N = normalize(N);
    Vec3 R = V - 2 * dot(V, N) * N;
    double s = 0.13125 * saturate(R.y) + 0.07 * saturate(R.y + 1) + 0.2625 * std::fabs(R.x) + 0.56875 * saturate(dot(R, L));
    double S = std::pow(std::min(s, 1.0), 8);
    double D = 0.64 * saturate(dot(N, L)) + 0.064 * std::fabs(N.x) + 0.16 * (0.3 * N.y + 0.6);
    return {K.x * K.x * D + S, K.y * K.y * D + S, K.z * K.z * D + S};
}

// What an sRGB target stores for a linear value.
inline int srgbByte(double linear) {
    double v = saturate(linear);
    double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return int(std::lround(encoded * 255));
}

// The direction from the eye through the centre of a pixel, in view space
// (and in world space for the front view).
inline Vec3 rayThroughPixel(int x, int y, int width, int height, double zoom) {
    double ndcX = (x + 0.5) / width * 2 - 1, ndcY = 1 - (y + 0.5) / height * 2;
    return {ndcX / (zoom * height / width), ndcY / zoom, -1};
}

inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// The camera renderFrame derives from what the view hands it.
inline FrameCamera frameCameraOf(const Camera& camera, int width, int height) {
    FrameCamera frame{};
    camera.centre(frame.centre);
    memcpy(frame.rotation, camera.rotation, sizeof frame.rotation);
    memcpy(frame.pan, camera.pan, sizeof frame.pan);
    frame.radius = camera.radius();
    frame.zoom = camera.zoom;
    frame.yUp = camera.yUp;
    frame.width = width;
    frame.height = height;
    return frame;
}

inline Vec3 eyeOf(const Camera& camera) {
    FrameCamera frame = frameCameraOf(camera, 1, 1);
    FrameConstants constants;
    computeFrameConstants(&frame, &constants);
    float eye[4];
    memcpy(eye, constants.eye, sizeof eye);
    return {eye[0], eye[1], eye[2]};
}

// Where a world point lands, in pixels (centres at half-integers); false behind the eye.
inline bool pixelOf(const Camera& camera, int width, int height, Vec3 p, double* x, double* y) {
    FrameCamera frame = frameCameraOf(camera, width, height);
    FrameConstants constants;
    computeFrameConstants(&frame, &constants);
    float vp[4][4];
    memcpy(vp, constants.viewProjection, sizeof vp);
    double clip[4];
    for (int k = 0; k < 4; ++k) clip[k] = p.x * vp[0][k] + p.y * vp[1][k] + p.z * vp[2][k] + vp[3][k];
    if (clip[3] <= 0) return false;
    *x = (clip[0] / clip[3] + 1) / 2 * width;
    *y = (1 - clip[1] / clip[3]) / 2 * height;
    return true;
}

// The point of the plane through a, b, c seen through the centre of pixel (x, y).
inline Vec3 surfaceAtPixel(const Camera& camera, int width, int height, int x, int y, Vec3 a, Vec3 b, Vec3 c) {
    Vec3 view = rayThroughPixel(x, y, width, height, camera.zoom);
    const float (*r)[3] = camera.rotation;
    Vec3 direction = {r[0][0] * view.x + r[0][1] * view.y + r[0][2] * view.z,
                      r[1][0] * view.x + r[1][1] * view.y + r[1][2] * view.z,
                      r[2][0] * view.x + r[2][1] * view.y + r[2][2] * view.z};
    Vec3 eye = eyeOf(camera);
    Vec3 n = cross(b - a, c - a);
    double t = dot(a - eye, n) / dot(direction, n);
    return eye + t * direction;
}

// The face normal as the geometry shader turns it: towards the eye.
inline Vec3 faceNormalTowards(Vec3 a, Vec3 b, Vec3 c, Vec3 eye) {
    Vec3 n = normalize(cross(c - a, b - a));
    return dot(a - eye, n) > 0 ? -1 * n : n;
}

}  // namespace render_test
