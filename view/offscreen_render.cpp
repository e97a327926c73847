#include "view/offscreen_render.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>
#include <initializer_list>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "stl/format_detection.h"
#include "view/adapter_limits.h"
#include "view/camera.h"
#include "view/device_work.h"
#include "view/com_helpers.h"
#include "view/frame_render.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "view/view_lookup.h"
#include "view/window_targets.h"

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

bool allocatePicture(Picture* picture, int32_t width, int32_t height, const MessageSink* sink) {
    picture->pixels = static_cast<uint8_t*>(
        allocArray(processHeap(), static_cast<uint64_t>(width) * static_cast<uint64_t>(height), 4, sink));
    picture->width = width;
    picture->height = height;
    return picture->pixels != nullptr;
}

// A tile's frame read back into its place in the picture.
HRESULT readTile(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11RenderTargetView* view,
                 const FrameArea& area, int32_t width, int32_t height, Picture* picture) {
    ID3D11Texture2D* resolved = nullptr;
    ID3D11Texture2D* staging = nullptr;
    HRESULT result = createCopyTextures(device, view, &resolved, &staging);
    if (FAILED(result)) return result;
    const void* pixels;
    uint32_t rowPitch;
    result = mapFrameCopy(context, view, resolved, staging, &pixels, &rowPitch);
    if (SUCCEEDED(result)) {
        size_t pictureRow = static_cast<size_t>(picture->width) * 4;
        for (int32_t y = 0; y < height; ++y)
            memcpy(picture->pixels + (area.top + y) * pictureRow + static_cast<size_t>(area.left) * 4,
                   static_cast<const uint8_t*>(pixels) + y * size_t{rowPitch}, static_cast<size_t>(width) * 4);
        context->Unmap(staging, 0);
    }
    staging->Release();
    releaseInterface(resolved);
    return result;
}

// One tile of the picture: targets of its size, the frame, read back.
HRESULT drawTile(const ViewState* state, const FrameArea& area, int32_t width, int32_t height, uint32_t maxSamples,
                 Picture* picture) {
    ID3D11Device* device = state->pipeline.device;
    ID3D11DeviceContext* context = state->pipeline.context;
    uint32_t samples = targetSampleCount(device, width, height);
    if (maxSamples && samples > maxSamples) samples = maxSamples;
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    HRESULT result = createFrameTextures(device, width, height, samples, &renderTargetView, &depthStencilView);
    if (FAILED(result)) return result;
    renderViewFrame(state, renderTargetView, depthStencilView, area);
    result = readTile(device, context, renderTargetView, area, width, height, picture);
    // Unbound, so that the textures go now rather than with the next frame.
    context->OMSetRenderTargets(0, nullptr, nullptr);
    depthStencilView->Release();
    renderTargetView->Release();
    return result;
}

// The state's frame at the picture's size, read back; in tiles where the
// device's textures or its budget are too small for one (adapter_limits.h).
// The caller holds the state's lock or owns the state alone. Failures are
// reported but a device loss, which the caller tells.
HRESULT drawPicture(const ViewState* state, Picture* picture, uint32_t maxSamples, const MessageSink* sink) {
    ID3D11Device* device = state->pipeline.device;
    AdapterFacts facts;
    uint64_t budget = adapterFactsOf(device, &facts) ? facts.resourceBytes : guaranteedResourceBytes(kMicrosoftVendor, 0);
    TilePlan plan = planTiles(picture->width, picture->height, maxTextureSideOf(device), budget);
    HRESULT result = S_OK;
    for (int32_t row = 0; row < plan.rows && SUCCEEDED(result); ++row)
        for (int32_t column = 0; column < plan.columns && SUCCEEDED(result); ++column) {
            FrameArea area = {picture->width, picture->height, column * plan.tileWidth, row * plan.tileHeight};
            int32_t width = picture->width - area.left < plan.tileWidth ? picture->width - area.left : plan.tileWidth;
            int32_t height = picture->height - area.top < plan.tileHeight ? picture->height - area.top : plan.tileHeight;
            result = drawTile(state, area, width, height, maxSamples, picture);
        }
    if (FAILED(result)) reportGpuFailure(result, sink);
    return result;
}

// The process's one device for pictures, made when first needed. Guarded
// by the lock, which a picture holds from start to end: the immediate
// context serves one thread at a time.
SRWLOCK pictureLock = SRWLOCK_INIT;
GpuPipeline pictureDevice = {};  // constant-initialised: nothing runs before main
volatile LONG devicesMade = 0;

// The parts on the device, drawn, and their buffers gone again. The result
// of the first failure, or S_OK.
HRESULT drawParts(ModelPart* parts, uint32_t count, const PictureLook* look, Picture* picture,
                  const MessageSink* sink) {
    ViewState state;
    initViewState(&state, nullptr, 1);
    state.pipeline = pictureDevice;
    int32_t result = S_OK;
    for (uint32_t i = 0; i < count && SUCCEEDED(result); ++i) {
        GpuMesh* mesh = static_cast<GpuMesh*>(parts[i].gpuMesh);
        mesh->color = loadedPartColor(parts, i, look->objectColor);
        if (!buildGpuMesh(mesh, state.pipeline.device, &parts[i].mesh, parts[i].metadata.colorOrder, parts[i].heap,
                          sink, nullptr, &result))
            break;
        placeMesh(&state, mesh, i == 0);
    }
    state.renderMode = look->mode;
    state.yUp = parts[0].metadata.coordinateSpace != kSpaceZUp;
    state.backgroundColor = look->backgroundColor;
    state.section = look->section;
    if (look->overhangs.on) state.overhangs = look->overhangs;
    const float noPan[3] = {0, 0, 0};
    setAnglesInState(&state, noPan, look->yaw, look->pitch);
    if (look->zoom > 0) state.zoom = look->zoom;
    if (SUCCEEDED(result)) result = drawPicture(&state, picture, look->maxSamples, sink);
    for (uint32_t i = 0; i < count; ++i) releaseGpuMesh(static_cast<GpuMesh*>(parts[i].gpuMesh));
    return result;
}

// A 3MF part has an order only when one of its solids has colours.
bool hasOwnColours(const ModelPart* part) {
    if (part->format == kFormat3mf) return part->metadata.colorOrder != kOrderNone;
    return part->format == kFormatBinary && part->mesh.solidCount && part->mesh.solids[0].hasColours;
}

}  // namespace

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
    ID3D11Device* device = state->pipeline.device;
    bool drawn = device && state->meshes[0] && allocatePicture(picture, state->clientWidth, state->clientHeight, sink);
    if (drawn) {
        HRESULT result = drawPicture(state, picture, 0, sink);
        drawn = SUCCEEDED(result);
        HRESULT removed = deviceRemovedReason(device);
        // The view makes a new device; the picture is not drawn this time.
        if (isDeviceLoss(result) || FAILED(removed)) loseDevice(state, FAILED(removed) ? removed : result);
    }
    releaseSpinLock(&state->lock);
    if (!drawn) freePicture(picture);
    return drawn;
}

bool renderPartsPicture(ModelPart* parts, uint32_t count, const PictureLook* look, Picture* picture,
                        const MessageSink* sink) {
    picture->pixels = nullptr;
    if (count == 0 || count > kViewMeshSlots - 1) return false;
    if (!allocatePicture(picture, look->width, look->height, sink)) return false;
    AcquireSRWLockExclusive(&pictureLock);
    HRESULT result = E_FAIL;
    // A device lost since the last picture, or during this one, is made anew once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!pictureDevice.device) {
            if (!createPipeline(&pictureDevice, attempt == 0 ? sink : nullptr)) break;
            InterlockedIncrement(&devicesMade);
        }
        result = drawParts(parts, count, look, picture, sink);
        HRESULT removed = deviceRemovedReason(pictureDevice.device);
        if (!isDeviceLoss(result) && SUCCEEDED(removed)) break;
        if (FAILED(removed)) result = removed;
        releasePipeline(&pictureDevice);
    }
    ReleaseSRWLockExclusive(&pictureLock);
    // A loss that came back on the new device is told here; other failures were.
    if (isDeviceLoss(result)) reportGpuError(result, sink);
    if (FAILED(result)) freePicture(picture);
    return SUCCEEDED(result);
}

void releasePictureDevice() {
    AcquireSRWLockExclusive(&pictureLock);
    if (pictureDevice.device) releasePipeline(&pictureDevice);
    ReleaseSRWLockExclusive(&pictureLock);
}

uint32_t pictureDevicesMade() {
    return static_cast<uint32_t>(devicesMade);
}
