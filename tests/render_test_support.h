// Helpers of the Direct3D tests: a pipeline made by the view's own code,
// meshes uploaded from triangles, an offscreen sRGB target to render into and
// read back, and the lighting formulas of the lit shaders for one pixel.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <d3d11.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "tests/sink_recorder.h"
#include "tests/view_test_support.h"
#include "view/camera.h"
#include "view/frame_math.h"
#include "view/frame_render.h"
#include "view/device_work.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "view/window_targets.h"

namespace render_test {

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// Wine 8's Vulkan renderer, under which the suite runs these tests a second
// time, fills the polygons of a wireframe rasterizer state (Wireframe and
// Outline draw with one) and leaves the previous picture in a frame that has
// no draw at all, where the clear should show. Tests of either skip there.
inline bool underWineVulkan() {
    const char* config = getenv("WINE_D3D_CONFIG");
    return config && strstr(config, "renderer=vulkan");
}

// One pipeline for the tests that only need a device: under Wine each
// creation takes most of a second. Released when the tests are done, before
// the process ends: a device still alive while Wine takes its Direct3D apart
// at the end of the process is one way to crash a run whose every case passed.
struct SharedPipeline {
    GpuPipeline pipeline{};
    bool made = createPipeline(&pipeline, nullptr);
    ~SharedPipeline() {
        if (made) releasePipeline(&pipeline);
    }
};

inline const GpuPipeline* sharedPipeline() {
    static SharedPipeline shared;
    return shared.made ? &shared.pipeline : nullptr;
}

// Takes an installed mesh out of the view before the mesh's heap goes.
struct Installed {
    HWND view;
    ~Installed() { clearMeshes(view); }
};

inline StlTriangle triangle(const float (&corners)[3][3], uint16_t attribute = 0) {
    StlTriangle t{};
    memcpy(t.vertices, corners, sizeof corners);
    t.attribute = attribute;
    return t;
}

struct TestSolid {
    std::vector<StlTriangle> triangles;
    bool hasColours = false;
};

// A part as the load job leaves it: triangles, solids, visibility bytes and
// the GpuMesh, the last in a private heap that goes with the object.
struct TestMesh {
    HeapHandle heap = createPrivateHeap();
    std::vector<TestSolid> solids;
    std::vector<StlSolid> stlSolids;
    StlMesh mesh{};
    StlMetadata metadata{};
    std::vector<uint8_t> visible;
    GpuMesh* gpu = nullptr;

    TestMesh(std::vector<TestSolid> parts, float unitScale = 1.0f, uint8_t colorOrder = 0)
        : solids(std::move(parts)), visible(solids.size() + 1, 1) {
        for (TestSolid& s : solids) {
            StlSolid solid{};
            solid.hasColours = s.hasColours;
            solid.triangleCount = static_cast<uint32_t>(s.triangles.size());
            solid.triangles = s.triangles.data();
            stlSolids.push_back(solid);
        }
        mesh = StlMesh{nullptr, stlSolids.data(), static_cast<uint32_t>(stlSolids.size())};
        metadata = StlMetadata{1, unitScale, colorOrder, {0, 0, 0, 0}, {nullptr, 0, 0}};
    }
    ~TestMesh() {
        if (gpu) releaseGpuMesh(gpu);
        destroyPrivateHeap(heap);
    }
    TestMesh(const TestMesh&) = delete;
    TestMesh& operator=(const TestMesh&) = delete;

    // Through the Direct3D half of the upload, on a given device.
    bool build(ID3D11Device* device, const MessageSink* sink = nullptr) {
        gpu = prepareGpuMesh(&mesh, &metadata, visible.data(), heap, sink);
        if (gpu && buildGpuMesh(gpu, device, &mesh, metadata.colorOrder, heap, sink)) return true;
        gpu = nullptr;
        return false;
    }
    // Through the whole upload, as the load job does it.
    bool upload(HWND view, const MessageSink* sink = nullptr) {
        gpu = uploadMesh(view, &mesh, &metadata, visible.data(), heap, sink);
        return gpu != nullptr;
    }
};

// RGBA bytes, red in the low byte.
struct Pixel {
    int r, g, b, a;
};

inline Pixel pixelOf(uint32_t value) {
    return Pixel{int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF), int(value >> 24)};
}

// A single-sampled sRGB colour target, so that pixel centres are exact, with
// a depth buffer and a staging copy to read back into `pixels`.
struct Target {
    int width, height;
    ID3D11Texture2D *colour = nullptr, *depth = nullptr, *readBack = nullptr;
    ID3D11RenderTargetView* colourView = nullptr;
    ID3D11DepthStencilView* depthView = nullptr;
    std::vector<uint32_t> pixels;
    bool ok = false;

    Target(ID3D11Device* device, int width, int height) : width(width), height(height) {
        D3D11_TEXTURE2D_DESC description{UINT(width), UINT(height), 1, 1, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, {1, 0},
                                         D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET, 0, 0};
        D3D11_TEXTURE2D_DESC depthDescription = description, staging = description;
        depthDescription.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
        depthDescription.BindFlags = D3D11_BIND_DEPTH_STENCIL;
        staging.Usage = D3D11_USAGE_STAGING;
        staging.BindFlags = 0;
        staging.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        ok = device && SUCCEEDED(device->CreateTexture2D(&description, nullptr, &colour)) &&
             SUCCEEDED(device->CreateRenderTargetView(colour, nullptr, &colourView)) &&
             SUCCEEDED(device->CreateTexture2D(&depthDescription, nullptr, &depth)) &&
             SUCCEEDED(device->CreateDepthStencilView(depth, nullptr, &depthView)) &&
             SUCCEEDED(device->CreateTexture2D(&staging, nullptr, &readBack));
    }
    ~Target() {
        release(depthView);
        release(depth);
        release(readBack);
        release(colourView);
        release(colour);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    bool read(ID3D11DeviceContext* context) {
        context->CopyResource(readBack, colour);
        D3D11_MAPPED_SUBRESOURCE mapped;
        if (FAILED(context->Map(readBack, 0, D3D11_MAP_READ, 0, &mapped))) return false;
        pixels.resize(size_t(width) * height);
        for (int y = 0; y < height; ++y)
            memcpy(&pixels[size_t(y) * width], static_cast<const uint8_t*>(mapped.pData) + size_t(y) * mapped.RowPitch,
                   size_t(width) * 4);
        context->Unmap(readBack, 0);
        return true;
    }
    Pixel at(int x, int y) const { return pixelOf(pixels[size_t(y) * width + x]); }
};

// What paintView hands to renderFrame, with the view's defaults: front view,
// no pan, zoom 4.75, centre and radius from the box of the meshes.
struct Camera {
    RenderMode mode = kRenderSolid;
    uint32_t background = 0xFF203040;
    SectionPlane section{};  // off
    bool showProblems = false;
    OverhangTint overhangs{0, 45.0f};
    float boundsMin[3] = {}, boundsMax[3] = {};  // of the meshes, set by fitTo
    FrameCamera frame{{0, 0, 0}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}, 0, 4.75f, true, 0, 0};

    void fitTo(const std::vector<GpuMesh*>& meshes) {
        float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
        for (const GpuMesh* mesh : meshes)
            for (int axis = 0; axis < 3; ++axis) {
                const char* record = reinterpret_cast<const char*>(mesh);
                low[axis] = std::min(low[axis], packedFloat(record + offsetof(GpuMesh, boundsMin), axis));
                high[axis] = std::max(high[axis], packedFloat(record + offsetof(GpuMesh, boundsMax), axis));
            }
        for (int axis = 0; axis < 3; ++axis) frame.centre[axis] = (low[axis] + high[axis]) * 0.5f;
        std::copy_n(low, 3, boundsMin);
        std::copy_n(high, 3, boundsMax);
        frame.radius = boxRadius(low, high);
    }
};

inline void render(const GpuPipeline* pipeline, Target* target, const std::vector<GpuMesh*>& meshList, const Camera& camera,
                   const MessageSink* sink = nullptr) {
    GpuMesh* meshes[kViewMeshSlots] = {};
    std::copy_n(meshList.begin(), std::min(meshList.size(), size_t(kViewMeshSlots)), meshes);
    Pixel b = pixelOf(camera.background);
    const float clear[4] = {kClearColourTable[b.r], kClearColourTable[b.g], kClearColourTable[b.b], b.a / 255.0f};
    const FrameCamera& f = camera.frame;
    SectionConstants section;
    computeSectionConstants(&camera.section, f.yUp, camera.boundsMin, camera.boundsMax, &section);
    renderFrame(pipeline, camera.mode, meshes, target->colourView, target->depthView,
                FrameArea{target->width, target->height, 0, 0}, clear,
                f.centre, f.rotation, f.pan, f.radius, f.zoom, f.yUp, sectionCuts(&camera.section) ? &section : nullptr,
                camera.showProblems, camera.overhangs, sink);
    pipeline->context->ClearState();
    ASSERT_TRUE(target->read(pipeline->context));
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
inline Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
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

// Where a world point lands, in pixels (centres at half-integers); false behind the eye.
inline bool pixelOf(const Camera& camera, int width, int height, Vec3 p, double* x, double* y) {
    FrameCamera frame = camera.frame;
    frame.width = width;
    frame.height = height;
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

// The normal of face a, b, c as the geometry shader turns it: against the
// view direction V.
inline Vec3 faceNormalTowards(Vec3 a, Vec3 b, Vec3 c, Vec3 V) {
    Vec3 n = normalize(cross(c - a, b - a));
    return dot(V, n) > 0 ? -1 * n : n;
}

}  // namespace render_test
