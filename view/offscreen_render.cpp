#include "view/offscreen_render.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>
#include <initializer_list>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "stl/format_detection.h"
#include "view/camera.h"
#include "view/com_helpers.h"
#include "view/frame_render.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "view/view_lookup.h"

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

bool allocatePicture(Picture* picture, int32_t width, int32_t height, const MessageSink* sink) {
    picture->pixels = static_cast<uint8_t*>(
        allocArray(processHeap(), static_cast<uint64_t>(width) * static_cast<uint64_t>(height), 4, sink));
    picture->width = width;
    picture->height = height;
    return picture->pixels != nullptr;
}

HRESULT readPixels(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11RenderTargetView* view,
                   Picture* picture) {
    ID3D11Texture2D* resolved = nullptr;
    ID3D11Texture2D* staging = nullptr;
    HRESULT result = createCopyTextures(device, view, &resolved, &staging);
    if (FAILED(result)) return result;
    const void* pixels;
    uint32_t rowPitch;
    result = mapFrameCopy(context, view, resolved, staging, &pixels, &rowPitch);
    if (SUCCEEDED(result)) {
        size_t rowBytes = static_cast<size_t>(picture->width) * 4;
        for (int32_t y = 0; y < picture->height; ++y)
            memcpy(picture->pixels + y * rowBytes, static_cast<const uint8_t*>(pixels) + y * size_t{rowPitch}, rowBytes);
        context->Unmap(staging, 0);
    }
    staging->Release();
    releaseInterface(resolved);
    return result;
}

// One frame of the state into textures of the picture's size, read back.
// The caller holds the state's lock or owns the state alone.
bool drawPicture(const ViewState* state, Picture* picture, const MessageSink* sink) {
    ID3D11Device* device = state->pipeline.device;
    ID3D11DeviceContext* context = state->pipeline.context;
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    if (!createFrameTextures(device, picture->width, picture->height, &renderTargetView, &depthStencilView, sink))
        return false;
    renderViewFrame(state, renderTargetView, depthStencilView, picture->width, picture->height);
    HRESULT result = readPixels(device, context, renderTargetView, picture);
    // Unbound, so that the textures go now rather than with the next frame.
    context->OMSetRenderTargets(0, nullptr, nullptr);
    depthStencilView->Release();
    renderTargetView->Release();
    if (FAILED(result)) reportGpuError(result, sink);
    return SUCCEEDED(result);
}

// A 3MF part has an order only when one of its solids has colours.
bool hasOwnColours(const ModelPart* part) {
    if (part->format == kFormat3mf) return part->metadata.colorOrder != kOrderNone;
    return part->format == kFormatBinary && part->mesh.solidCount && part->mesh.solids[0].hasColours;
}

}  // namespace

void warmPipeline(ViewState* state) {
    ID3D11Device* device = state->pipeline.device;
    MeshVertex vertices[3] = {{{0, 0, 0}, {255, 255, 255, 255}}, {{1, 0, 0}, {255, 255, 255, 255}},
                              {{0, 1, 0}, {255, 255, 255, 255}}};
    D3D11_BUFFER_DESC description = {sizeof vertices, D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    D3D11_SUBRESOURCE_DATA initial = {vertices, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    if (FAILED(device->CreateBuffer(&description, &initial, &buffer))) return;
    SolidRange range = {0, 1};
    MeshPiece piece = {buffer, 0, 1, 0, 1, nullptr, nullptr};
    GpuMesh mesh;
    memset(&mesh, 0, sizeof mesh);
    mesh.solidCount = 1;
    mesh.color = kOpaqueWhite;
    mesh.ranges = &range;
    mesh.triangleCount = 1;
    mesh.pieces = &piece;
    mesh.pieceCount = 1;
    mesh.boundsMax[0] = mesh.boundsMax[1] = 1;
    mesh.unitScale = 1;
    GpuMesh* meshes[kViewMeshSlots] = {&mesh, nullptr, nullptr, nullptr, nullptr};
    constexpr int32_t kSide = 8;
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    Picture picture;
    if (createFrameTextures(device, kSide, kSide, &renderTargetView, &depthStencilView, nullptr)) {
        const float clear[4] = {0, 0, 0, 1}, centre[3] = {0.5f, 0.5f, 0}, pan[3] = {0, 0, 0};
        const float rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        SectionPlane plane = initialSection();
        plane.on = 1;
        SectionConstants cut;
        const float low[3] = {0, 0, 0}, high[3] = {1, 1, 0};
        computeSectionConstants(&plane, true, low, high, &cut);
        const SectionConstants* sections[] = {nullptr, &cut};
        for (RenderMode mode : {kRenderSolid, kRenderWireframe, kRenderOutline})
            for (const SectionConstants* section : sections)
                renderFrame(&state->pipeline, mode, meshes, renderTargetView, depthStencilView, kSide, kSide, clear,
                            centre, rotation, pan, 0.71f, kInitialZoom, true, section, false, nullptr);
        // Reading the pixels waits until the driver has done all of it.
        if (allocatePicture(&picture, kSide, kSide, nullptr)) {
            readPixels(device, state->pipeline.context, renderTargetView, &picture);
            freePicture(&picture);
        }
        state->pipeline.context->OMSetRenderTargets(0, nullptr, nullptr);
        depthStencilView->Release();
        renderTargetView->Release();
    }
    buffer->Release();
}

void freePicture(Picture* picture) {
    freeBytes(picture->pixels);
    picture->pixels = nullptr;
}

uint32_t loadedPartColor(const ModelPart* parts, uint32_t index, uint32_t defaultColor) {
    const uint8_t* header = parts[0].metadata.headerColor;
    if (parts[0].format == 5 && header[3] && !hasOwnColours(&parts[0]))
        return header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    return hasOwnColours(&parts[index]) ? kOpaqueWhite : defaultColor;
}

bool renderViewPicture(void* viewWindow, Picture* picture, const MessageSink* sink) {
    ViewState* state = viewStateOf(viewWindow);
    picture->pixels = nullptr;
    if (!state) return false;
    acquireSpinLock(&state->lock);
    bool drawn = state->pipeline.device && state->meshes[0] &&
                 allocatePicture(picture, state->clientWidth, state->clientHeight, sink) &&
                 drawPicture(state, picture, sink);
    releaseSpinLock(&state->lock);
    if (!drawn) freePicture(picture);
    return drawn;
}

bool renderPartsPicture(ModelPart* parts, uint32_t count, const PictureLook* look, Picture* picture,
                        const MessageSink* sink) {
    picture->pixels = nullptr;
    if (count == 0 || count > kViewMeshSlots - 1) return false;
    ViewState state;
    initViewState(&state, nullptr, 1);
    if (!createPipeline(&state.pipeline, sink)) return false;
    bool drawn = true;
    for (uint32_t i = 0; i < count && drawn; ++i) {
        GpuMesh* mesh = static_cast<GpuMesh*>(parts[i].gpuMesh);
        mesh->color = loadedPartColor(parts, i, look->objectColor);
        drawn = buildGpuMesh(mesh, state.pipeline.device, &parts[i].mesh, parts[i].metadata.colorOrder,
                             parts[i].heap, sink) &&
                placeMesh(&state, mesh, i == 0);
    }
    state.renderMode = look->mode;
    state.yUp = parts[0].metadata.coordinateSpace != kSpaceZUp;
    state.backgroundColor = look->backgroundColor;
    state.section = look->section;
    const float noPan[3] = {0, 0, 0};
    setAnglesInState(&state, noPan, look->yaw, look->pitch);
    drawn = drawn && allocatePicture(picture, look->width, look->height, sink) && drawPicture(&state, picture, sink);
    for (uint32_t i = 0; i < count; ++i) releaseGpuMesh(static_cast<GpuMesh*>(parts[i].gpuMesh));
    releasePipeline(&state.pipeline);
    if (!drawn) freePicture(picture);
    return drawn;
}
