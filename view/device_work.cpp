#include "view/device_work.h"

#include <windows.h>
#include <d3d11.h>

#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "view/frame_render.h"
#include "view/problem_edges.h"
#include "view/view_lookup.h"
#include "view/window_targets.h"

namespace {

// Plain words, so that nothing runs before main.
volatile LONG workForGoneViews = 0;
void* volatile installHold = nullptr;

void postDeviceEvent(const ViewState* state) {
    PostMessageW(static_cast<HWND>(state->window), kViewDeviceMessage, 0, 0);
}

bool madeOn(ID3D11Buffer* buffer, ID3D11Device* device) {
    ID3D11Device* owner = nullptr;
    buffer->GetDevice(&owner);
    if (owner) owner->Release();
    return owner == device;
}

bool needsUpload(const GpuMesh* mesh, ID3D11Device* device) {
    if (mesh->triangleCount == 0 || !mesh->solids) return false;
    return mesh->pieceCount == 0 || !madeOn(mesh->pieces[0].vertices, device);
}

bool isShown(const ViewState* state, const GpuMesh* mesh) {
    for (int slot = 0; slot < kViewMeshSlots; ++slot)
        if (state->meshes[slot] == mesh) return true;
    return false;
}

// One shown part on the device, off the window thread: built apart, then
// swapped in unless the window thread has let the part go meanwhile.
void uploadShownPart(ViewState* state, GpuMesh* mesh, ID3D11Device* device) {
    GpuMesh fresh = *mesh;
    StlMesh triangles = {nullptr, const_cast<StlSolid*>(mesh->solids), mesh->solidCount};
    if (!buildGpuMesh(&fresh, device, &triangles, mesh->vertexOrder, mesh->heap, nullptr, &state->stopUploads))
        return;
    // Without its problem lists a part still shows; the next check brings them.
    if (mesh->problemMarks) buildProblemEdges(&fresh, fresh.pieces, device, mesh->problemMarks, nullptr);
    acquireSpinLock(&state->lock);
    MeshPiece* old = fresh.pieces;
    uint32_t oldCount = fresh.pieceCount;
    if (!state->stopUploads && isShown(state, mesh) && state->pipeline.device == device) {
        old = mesh->pieces;
        oldCount = mesh->pieceCount;
        mesh->pieces = fresh.pieces;
        mesh->pieceCount = fresh.pieceCount;
    }
    releaseSpinLock(&state->lock);
    if (old) releasePieces(old, oldCount, mesh->heap);
}

// The shown parts that are not on the view's device, uploaded again from
// their triangles; the window thread keeps them alive meanwhile
// (haltPartUploads).
void uploadShownParts(ViewState* state) {
    acquireSpinLock(&state->lock);
    ID3D11Device* device = state->pipeline.device;
    if (!device || state->stopUploads) {
        releaseSpinLock(&state->lock);
        return;
    }
    device->AddRef();
    GpuMesh* meshes[kViewMeshSlots];
    for (int slot = 0; slot < kViewMeshSlots; ++slot) meshes[slot] = state->meshes[slot];
    exchange32(&state->uploadingParts, 1);
    releaseSpinLock(&state->lock);
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot] && !state->stopUploads; ++slot)
        if (needsUpload(meshes[slot], device)) uploadShownPart(state, meshes[slot], device);
    exchange32(&state->uploadingParts, 0);
    device->Release();
}

DWORD WINAPI deviceWork(void* window) {
    lockViewLifetimes();
    ViewState* state = viewStateOf(window);
    if (state) {
        // Silent: the first device has no sink yet, and a new one after a
        // loss is told by the window thread, once.
        if (ensureDevice(state, nullptr))
            uploadShownParts(state);
        else
            state->deviceFailed = 1;
        exchange32(&state->deviceWork, 0);
        postDeviceEvent(state);
    } else {
        InterlockedIncrement(&workForGoneViews);
    }
    unlockViewLifetimes();
    return 0;
}

void tellLoss(const ViewState* state, bool rebuilt) {
    if (!state->sink) return;
    const char* words = deviceLossWords(state->lossReason);
    const char* format = rebuilt ? "D3D info: the graphics device was reset (%s); the view was rebuilt"
                                 : "Direct3D 11 error: the graphics device was lost (%s) and no new one could be made";
    char text[200];
    wsprintfA(text, format, words);
    wchar_t line[200];
    int length = 0;
    for (; text[length]; ++length) line[length] = static_cast<wchar_t>(static_cast<unsigned char>(text[length]));
    line[length] = 0;
    report(state->sink, kLine, reinterpret_cast<uintptr_t>(line));
}

void tryAgainSoon(ViewState* state) {
    SetTimer(static_cast<HWND>(state->window), kRetryTimerId, kRetryMs, nullptr);
}

}  // namespace

bool ensureDevice(ViewState* state, const MessageSink* sink) {
    acquireSpinLock(&state->lock);
    bool present = state->pipeline.device != nullptr;
    releaseSpinLock(&state->lock);
    if (present) return true;
    GpuPipeline fresh;
    if (!createPipeline(&fresh, sink)) return false;
    // Its programs built now, before anyone waits for a frame.
    warmPipeline(&fresh);
    if (void* hold = installHold) WaitForSingleObject(hold, INFINITE);
    acquireSpinLock(&state->lock);
    bool installed = !state->pipeline.device;
    if (installed) {
        state->pipeline = fresh;
        state->adapterTold = 0;
        state->deviceFailed = 0;
    }
    releaseSpinLock(&state->lock);
    // Another thread was quicker; its device serves.
    if (!installed) releasePipeline(&fresh);
    // The window's own thread makes the targets at once; any other posts it.
    if (GetWindowThreadProcessId(static_cast<HWND>(state->window), nullptr) == GetCurrentThreadId())
        settleDevice(state);
    else
        postDeviceEvent(state);
    return true;
}

ID3D11Device* ensureDeviceReference(ViewState* state, const MessageSink* sink) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ensureDevice(state, attempt == 0 ? sink : nullptr)) return nullptr;
        acquireSpinLock(&state->lock);
        ID3D11Device* device = state->pipeline.device;
        if (device) device->AddRef();
        releaseSpinLock(&state->lock);
        if (device) return device;  // else lost between the two holds of the lock
    }
    return nullptr;
}

void loseDevice(ViewState* state, int32_t reason) {
    if (!state->pipeline.device) return;
    if (!state->lossPending) {
        state->lossReason = reason;
        state->lossPending = 1;
    }
    releaseSizedTargets(state);
    if (state->frameDone) state->frameDone->Release();
    state->frameDone = nullptr;
    // Releasing a swap chain is a swap chain call: the window thread's.
    if (state->swapChain && !state->retiredSwapChain) state->retiredSwapChain = state->swapChain;
    else if (state->swapChain) state->swapChain->Release();
    state->swapChain = nullptr;
    releasePipeline(&state->pipeline);
    state->adapterTold = 0;
    state->deviceFailed = 0;
    postDeviceEvent(state);
}

void loseDeviceIfCurrent(ViewState* state, ID3D11Device* device, int32_t reason) {
    acquireSpinLock(&state->lock);
    if (state->pipeline.device == device) loseDevice(state, reason);
    releaseSpinLock(&state->lock);
}

bool queueDeviceWork(void* window) {
    ViewState* state = viewStateOf(window);
    if (state && !compareExchange32(&state->deviceWork, 0, 1)) return true;  // one is on its way
    if (QueueUserWorkItem(deviceWork, window, 0)) return true;
    if (state) exchange32(&state->deviceWork, 0);
    return false;
}

bool partsNeedUpload(const ViewState* state) {
    ID3D11Device* device = state->pipeline.device;
    if (!device) return false;
    for (int slot = 0; slot < kViewMeshSlots && state->meshes[slot]; ++slot)
        if (needsUpload(state->meshes[slot], device)) return true;
    return false;
}

void settleDevice(ViewState* state) {
    state->settlePending = 0;
    if (!compareExchange32(&state->lock, 0, 1)) {
        state->settlePending = 1;
        tryAgainSoon(state);
        return;
    }
    if (state->retiredSwapChain) releaseSwapChain(state->retiredSwapChain);
    state->retiredSwapChain = nullptr;
    ID3D11Device* device = state->pipeline.device;
    if (device && !state->renderTargetView) {
        HRESULT result = makeWindowTargets(state, state->sink);
        if (FAILED(result) && (isDeviceLoss(result) || FAILED(deviceRemovedReason(device))))
            loseDevice(state, isDeviceLoss(result) ? result : deviceRemovedReason(device));
        else if (FAILED(result))
            dropDevice(state);  // reported; the next upload tries again
        device = state->pipeline.device;
    }
    bool work = partsNeedUpload(state) || (!device && state->lossPending && !state->deviceFailed);
    ID3D11Device* toTell = device && !state->adapterTold ? device : nullptr;
    if (toTell) {
        toTell->AddRef();
        state->adapterTold = 1;
    }
    bool tell = state->lossPending && !work && !state->deviceWork;
    if (tell) state->lossPending = 0;
    releaseSpinLock(&state->lock);
    if (toTell) {
        reportAdapter(toTell, state->sink);
        toTell->Release();
    }
    if (work) queueDeviceWork(state->window);
    if (tell) tellLoss(state, device != nullptr);
    InvalidateRect(static_cast<HWND>(state->window), nullptr, FALSE);
}

void applyClientSizeLocked(ViewState* state) {
    state->resizePending = 0;
    ID3D11Device* device = state->pipeline.device;
    // Targets still to be made take the client size then.
    if (!device || !state->renderTargetView) return;
    HRESULT result = resizeTargets(state, state->sink);
    if (SUCCEEDED(result)) return;
    HRESULT removed = deviceRemovedReason(device);
    if (isDeviceLoss(result) || FAILED(removed))
        loseDevice(state, FAILED(removed) ? removed : result);
    else
        dropDevice(state);  // reported; the view shows the GDI picture until an upload makes a new device
}

void applyClientSize(ViewState* state) {
    if (!compareExchange32(&state->lock, 0, 1)) {
        tryAgainSoon(state);
        return;
    }
    applyClientSizeLocked(state);
    releaseSpinLock(&state->lock);
}

void haltPartUploads(ViewState* state) {
    acquireSpinLock(&state->lock);
    exchange32(&state->stopUploads, 1);
    releaseSpinLock(&state->lock);
    while (state->uploadingParts) Sleep(1);
}

void resumePartUploads(ViewState* state) {
    exchange32(&state->stopUploads, 0);
}

uint32_t deviceWorkForGoneViews() {
    return static_cast<uint32_t>(workForGoneViews);
}

void holdDeviceInstall(void* event) {
    installHold = event;
}
